#pragma once
// A settings store in memory: values of any type and size, keys that can be
// made to refuse opening, and a count of keys left open.

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "settings/settings_store.h"

namespace kv20x::test {

class MemoryStore final : public SettingsStore {
public:
    struct Value {
        std::uint32_t type;
        std::vector<std::uint8_t> bytes;
    };
    using Key = std::map<std::string, Value>;

    std::unique_ptr<SettingsKey> OpenKey(const char* path) override
    {
        if (refused.count(path))
            return nullptr;
        keys[path];  // created empty when missing
        return std::make_unique<OpenedKey>(*this, keys[path]);
    }
    std::unique_ptr<SettingsKey> OpenKeyToRead(const char* path) override
    {
        if (refused.count(path) || !keys.count(path))
            return nullptr;
        return std::make_unique<OpenedKey>(*this, keys[path]);
    }

    void PutDword(const std::string& path, const std::string& name, std::uint32_t v)
    {
        Put(path, name, kValueTypeDword, {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)});
    }
    void Put(const std::string& path, const std::string& name, std::uint32_t type, std::vector<std::uint8_t> bytes)
    {
        keys[path][name] = {type, std::move(bytes)};
    }
    // The DWORD stored under `name`, or -1 when there is none.
    long long Dword(const std::string& path, const std::string& name) const
    {
        const auto key = keys.find(path);
        if (key == keys.end())
            return -1;
        const auto value = key->second.find(name);
        if (value == key->second.end() || value->second.type != kValueTypeDword || value->second.bytes.size() != 4)
            return -1;
        std::uint32_t v;
        std::memcpy(&v, value->second.bytes.data(), 4);
        return v;
    }

    std::map<std::string, Key> keys;
    std::set<std::string> refused;
    int openKeys = 0;
    std::vector<std::string> writes;  // value names in the order written

private:
    class OpenedKey final : public SettingsKey {
    public:
        OpenedKey(MemoryStore& store, Key& key) : m_store(store), m_key(key) { ++m_store.openKeys; }
        ~OpenedKey() override { --m_store.openKeys; }

        bool QueryValue(const char* name, std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) override
        {
            const auto value = m_key.find(name);
            if (value == m_key.end() || value->second.bytes.size() > *size)
                return false;
            *type = value->second.type;
            *size = static_cast<std::uint32_t>(value->second.bytes.size());
            if (!value->second.bytes.empty())
                std::memcpy(data, value->second.bytes.data(), value->second.bytes.size());
            return true;
        }
        bool SetDword(const char* name, std::uint32_t v) override
        {
            m_store.writes.push_back(name);
            m_key[name] = {kValueTypeDword, {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                             static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)}};
            return true;
        }

    private:
        MemoryStore& m_store;
        Key& m_key;
    };
};

}  // namespace kv20x::test
