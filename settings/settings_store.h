#pragma once
// Where the settings are kept: keys of named values, as the registry holds
// them. The module uses the user's registry; tests use an in-memory store
// that can hold values of any type and size and refuse to open a key.

#include <cstdint>
#include <memory>

namespace kv20x {

inline constexpr std::uint32_t kValueTypeDword = 4;  // REG_DWORD: 4 bytes, little-endian

class SettingsKey {
public:
    virtual ~SettingsKey() = default;

    // Reads the value `name` into `data` of *size bytes. On success *type is
    // the value's type and *size the bytes it holds. Fails when the value is
    // missing or larger than the buffer.
    virtual bool QueryValue(const char* name, std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) = 0;

    // Writes `value` as a 32-bit DWORD value.
    virtual bool SetDword(const char* name, std::uint32_t value) = 0;
};

class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // Opens the key at `path` with full access, creating it empty when it is
    // missing; null when it can neither be opened nor created. The key is
    // closed when the returned object goes.
    virtual std::unique_ptr<SettingsKey> OpenKey(const char* path) = 0;

    // Opens an existing key for reading only; null when it is missing or
    // cannot be read. Creates nothing: a filter that is only listed or
    // inspected leaves the store as it found it.
    virtual std::unique_ptr<SettingsKey> OpenKeyToRead(const char* path) = 0;
};

}  // namespace kv20x
