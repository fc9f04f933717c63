#include <windows.h>

#include <atomic>
#include <string>

#include "settings/registry_store.h"
#include "support/persistence_cases.h"

namespace kv20x::test {
namespace {

// Every test gets a key tree of its own under HKEY_CURRENT_USER, used as the
// root in place of the user's hive and removed afterwards.
class RegistryFixture {
public:
    RegistryFixture()
    {
        static std::atomic<int> counter{0};
        m_rootPath = "Software\\KV20X tests\\" + std::to_string(::GetCurrentProcessId()) + "-" +
                     std::to_string(counter++);
        ::RegDeleteTreeA(HKEY_CURRENT_USER, m_rootPath.c_str());
        ::RegCreateKeyExA(HKEY_CURRENT_USER, m_rootPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_root,
                          nullptr);
    }
    ~RegistryFixture()
    {
        ::RegCloseKey(m_root);
        ::RegDeleteTreeA(HKEY_CURRENT_USER, m_rootPath.c_str());
    }

    std::unique_ptr<SettingsStore> Store() { return std::make_unique<RegistryStore>(m_root); }
    void PutDword(const std::string& path, const char* name, std::uint32_t v)
    {
        const DWORD data = v;
        Put(path, name, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
    }
    void PutRaw(const std::string& path, const char* name, std::uint32_t type, std::vector<std::uint8_t> bytes)
    {
        Put(path, name, type, bytes.data(), static_cast<DWORD>(bytes.size()));
    }
    long long Dword(const std::string& path, const char* name) const
    {
        DWORD type = 0, data = 0, size = sizeof data;
        if (::RegGetValueA(m_root, path.c_str(), name, RRF_RT_ANY, &type, &data, &size) != ERROR_SUCCESS ||
            type != REG_DWORD || size != 4)
            return -1;
        return data;
    }
    bool KeyExists(const std::string& path) const
    {
        HKEY key = nullptr;
        if (::RegOpenKeyExA(m_root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        ::RegCloseKey(key);
        return true;
    }

private:
    void Put(const std::string& path, const char* name, DWORD type, const BYTE* data, DWORD size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExA(m_root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ::RegSetValueExA(key, name, 0, type, data, size);
        ::RegCloseKey(key);
    }

    std::string m_rootPath;
    HKEY m_root = nullptr;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Registry, PersistenceTest, RegistryFixture);

TEST(RegistryPersistence, TheUsersKeysCarryTheBlankAfterTheMakersName)
{
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ORBILUX ");
    RegistryStore store;
    CameraSettings s;
    s.ParaTeam = 1;
    s.Contrast = 77;
    SaveParameterGroup(store, s);
    DWORD contrast = 0, size = sizeof contrast;
    EXPECT_EQ(::RegGetValueA(HKEY_CURRENT_USER, "Software\\ORBILUX \\KV20X\\dshowB", "Contrast", RRF_RT_REG_DWORD,
                             nullptr, &contrast, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(contrast, 77u);
    DWORD group = 0;
    size = sizeof group;
    EXPECT_EQ(::RegGetValueA(HKEY_CURRENT_USER, "Software\\ORBILUX \\KV20X\\dshow", "ParaTeam", RRF_RT_REG_DWORD,
                             nullptr, &group, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(group, 1u);
    HKEY unblanked = nullptr;
    EXPECT_NE(::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\ORBILUX\\KV20X", 0, KEY_READ, &unblanked), ERROR_SUCCESS);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ORBILUX ");
}

}  // namespace
}  // namespace kv20x::test
