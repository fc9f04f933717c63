// Loading the settings from a store whose values the input decides: any
// type, any size, missing keys and values. Checked: every loaded field is
// within its load range, and a value never overruns the reader's buffer
// (the store honours the buffer size as the registry does).

#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz_input.h"
#include "settings/persistence.h"

namespace {

class ScriptedKey final : public kv20x::SettingsKey {
public:
    explicit ScriptedKey(kv20x::fuzz::Input& input) : m_input(input) {}
    bool QueryValue(const char*, std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) override
    {
        const std::uint8_t kind = m_input.Byte();
        if (kind < 32)
            return false;  // missing
        const std::uint32_t length = kind < 160 ? 4 : m_input.Below(64);
        if (length > *size)
            return false;  // larger than the buffer, as the registry says
        *type = kind < 200 ? kv20x::kValueTypeDword : m_input.Below(12);
        for (std::uint32_t i = 0; i < length; ++i)
            data[i] = m_input.Byte();
        *size = length;
        return true;
    }
    bool SetDword(const char*, std::uint32_t) override { return true; }

private:
    kv20x::fuzz::Input& m_input;
};

class ScriptedStore final : public kv20x::SettingsStore {
public:
    explicit ScriptedStore(kv20x::fuzz::Input& input) : m_input(input) {}
    std::unique_ptr<kv20x::SettingsKey> OpenKey(const char*) override
    {
        if (m_input.Byte() < 16)
            return nullptr;
        return std::make_unique<ScriptedKey>(m_input);
    }
    std::unique_ptr<kv20x::SettingsKey> OpenKeyToRead(const char* path) override { return OpenKey(path); }

private:
    kv20x::fuzz::Input& m_input;
};

template <typename T>
void InRange(T value, long long low, long long high)
{
    const long long v = static_cast<long long>(value);
    if (v < low || v > high)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kv20x::fuzz::Input input(data, size);
    ScriptedStore store(input);
    kv20x::CameraSettings s;
    kv20x::ReadParameterGroupSelection(store, s);
    kv20x::LoadParameterGroup(store, s);
    InRange(s.ParaTeam.Get(), 0, 3);
    InRange(s.eKV20XSize.Get(), 0, 2);
    InRange(s.bAutoWB.Get(), 0, 1);
    InRange(s.AutoExposure.Get(), 0, 1);
    InRange(s.ExposureTime.Get(), 1, 4000);
    InRange(s.AnalogGain.Get(), 0, 80);
    InRange(s.AETarget.Get(), 40, 200);
    InRange(s.Gamma.Get(), 10, 250);
    InRange(s.Contrast.Get(), 0, 100);
    InRange(s.EnableSaturation.Get(), 0, 1);
    InRange(s.WhiteBlack.Get(), 0, 1);
    InRange(s.VFlip.Get(), 0, 1);
    InRange(s.HFlip.Get(), 0, 1);
    InRange(s.Speed.Get(), 0, 1);
    InRange(s.HZ.Get(), 0, 1);
    return 0;
}
