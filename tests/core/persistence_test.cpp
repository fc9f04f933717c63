#include "support/memory_store.h"
#include "support/persistence_cases.h"

namespace kv20x::test {
namespace {

// The store shares its contents with the fixture, which fills and inspects it.
class MemoryFixture {
public:
    std::unique_ptr<SettingsStore> Store() { return std::make_unique<Shared>(m_store); }
    void PutDword(const std::string& path, const char* name, std::uint32_t v) { m_store.PutDword(path, name, v); }
    void PutRaw(const std::string& path, const char* name, std::uint32_t type, std::vector<std::uint8_t> bytes)
    {
        m_store.Put(path, name, type, std::move(bytes));
    }
    long long Dword(const std::string& path, const char* name) const { return m_store.Dword(path, name); }
    bool KeyExists(const std::string& path) const { return m_store.keys.count(path) != 0; }
    MemoryStore& store() { return m_store; }

private:
    class Shared final : public SettingsStore {
    public:
        explicit Shared(MemoryStore& store) : m_target(store) {}
        std::unique_ptr<SettingsKey> OpenKey(const char* path) override { return m_target.OpenKey(path); }
        std::unique_ptr<SettingsKey> OpenKeyToRead(const char* path) override { return m_target.OpenKeyToRead(path); }

    private:
        MemoryStore& m_target;
    };
    MemoryStore m_store;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Memory, PersistenceTest, MemoryFixture);

TEST(MemoryPersistence, ValuesAreWrittenInTheFixedOrderAndKeysClosed)
{
    MemoryStore store;
    CameraSettings s;
    SaveParameterGroup(store, s);
    const std::vector<std::string> order = {"ParaTeam", "eKV20XSize", "bAutoWB", "r", "g", "b", "AutoExposure",
                                            "AETarget", "ExposureTime", "AnalogGain", "Gamma", "Contrast",
                                            "EnableSaturation", "Saturation", "WhiteBlack", "VFlip", "HFlip", "Gain",
                                            "Speed", "HZ"};
    EXPECT_EQ(store.writes, order);
    EXPECT_EQ(store.openKeys, 0);
}

TEST(MemoryPersistence, KeysThatCannotBeOpenedChangeNothing)
{
    MemoryStore store;
    store.PutDword(kGroupA, "ParaTeam", 2);
    store.PutDword(kGroupA, "Gamma", 50);
    store.refused = {kGroupA};
    CameraSettings s;
    ReadParameterGroupSelection(store, s);
    LoadParameterGroup(store, s);
    EXPECT_EQ(s.ParaTeam, 0);
    EXPECT_EQ(s.Gamma, 100);

    // The base key refused: the selection is skipped, the group still saved.
    s.ParaTeam = 1;
    SaveParameterGroup(store, s);
    EXPECT_EQ(store.Dword(kGroupB, "Gamma"), 100);
    EXPECT_EQ(store.Dword(kGroupA, "ParaTeam"), 2);

    // The group key refused: nothing but the selection is written.
    store.refused = {kGroupB};
    store.writes.clear();
    SaveParameterGroup(store, s);
    EXPECT_EQ(store.writes, std::vector<std::string>{"ParaTeam"});
    EXPECT_EQ(store.openKeys, 0);
}

}  // namespace
}  // namespace kv20x::test
