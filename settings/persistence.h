#pragma once
// The camera settings in the user's store: four parameter groups A to D, the
// selection kept in the base key (group A's key) as "ParaTeam". Nothing here
// reports an error: a key that cannot be opened, a value that is missing or
// of the wrong type or size, changes nothing; a value out of range is clamped.

#include <cstdint>

#include "settings/camera_settings.h"
#include "settings/settings_store.h"

namespace kv20x {

inline constexpr char kBaseKeyPath[] = "Software\\ORBILUX \\KV20X\\dshow";
inline constexpr std::uint8_t kParameterGroupCount = 4;  // A to D, selected as 0 to 3

// The key of a group: 1 selects B, 2 C, 3 D, anything else A.
const char* ParameterGroupKeyPath(std::uint8_t paraTeam);

// A DWORD value clamped to [minimum, maximum]; `current` when the value is
// missing, not a DWORD, or not exactly 4 bytes.
std::uint32_t ReadClampedValue(SettingsKey& key, const char* name, std::uint32_t minimum, std::uint32_t maximum,
                               std::uint32_t current);

// ParaTeam from the base key, clamped to 0..3; unchanged without the key.
void ReadParameterGroupSelection(SettingsStore& store, CameraSettings& settings);

// The selection into the base key, then every setting into the selected group.
void SaveParameterGroup(SettingsStore& store, const CameraSettings& settings);

// Whether two records differ in anything SaveParameterGroup would store
// (the selection included).
bool StoredValuesDiffer(const CameraSettings& a, const CameraSettings& b);

// The selected group's stored values over the current settings. Neither
// ParaTeam nor "Gain" is read, and the derived tables are not rebuilt.
void LoadParameterGroup(SettingsStore& store, CameraSettings& settings);

}  // namespace kv20x
