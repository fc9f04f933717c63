#pragma once
// The settings store in the registry, under HKEY_CURRENT_USER.

#include <windows.h>

#include "settings/settings_store.h"

namespace kv20x {

class RegistryStore final : public SettingsStore {
public:
    // Keys are opened below `root`: the current user's hive in the module.
    explicit RegistryStore(HKEY root = HKEY_CURRENT_USER) : m_root(root) {}

    std::unique_ptr<SettingsKey> OpenKey(const char* path) override;
    std::unique_ptr<SettingsKey> OpenKeyToRead(const char* path) override;

private:
    HKEY m_root;
};

}  // namespace kv20x
