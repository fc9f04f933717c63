#include "settings/registry_store.h"

#include <new>

#include "base/handles.h"

namespace kv20x {

namespace {

class RegistryKey final : public SettingsKey {
public:
    explicit RegistryKey(UniqueHKey key) : m_key(std::move(key)) {}

    bool QueryValue(const char* name, std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) override
    {
        DWORD valueType = 0;
        DWORD bytes = *size;
        if (::RegQueryValueExA(m_key.get(), name, nullptr, &valueType, data, &bytes) != ERROR_SUCCESS)
            return false;
        *type = valueType;
        *size = bytes;
        return true;
    }

    bool SetDword(const char* name, std::uint32_t value) override
    {
        const DWORD data = value;
        return ::RegSetValueExA(m_key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                                sizeof data) == ERROR_SUCCESS;
    }

private:
    UniqueHKey m_key;
};

}  // namespace

std::unique_ptr<SettingsKey> RegistryStore::OpenKey(const char* path)
{
    UniqueHKey key;
    if (::RegCreateKeyExA(m_root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.put(),
                          nullptr) != ERROR_SUCCESS)
        return nullptr;
    return std::unique_ptr<SettingsKey>(new (std::nothrow) RegistryKey(std::move(key)));
}

std::unique_ptr<SettingsKey> RegistryStore::OpenKeyToRead(const char* path)
{
    UniqueHKey key;
    if (::RegOpenKeyExA(m_root, path, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return nullptr;
    return std::unique_ptr<SettingsKey>(new (std::nothrow) RegistryKey(std::move(key)));
}

}  // namespace kv20x
