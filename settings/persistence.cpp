#include "settings/persistence.h"

namespace kv20x {

namespace {

constexpr const char* kGroupKeyPaths[4] = {
    "Software\\ORBILUX \\KV20X\\dshow",
    "Software\\ORBILUX \\KV20X\\dshowB",
    "Software\\ORBILUX \\KV20X\\dshowC",
    "Software\\ORBILUX \\KV20X\\dshowD",
};

template <typename Field>
void Load(SettingsKey& key, const char* name, std::uint32_t minimum, std::uint32_t maximum, Field& field)
{
    using T = decltype(field.Get());
    const std::uint32_t current = static_cast<std::uint32_t>(field.Get());
    field = static_cast<T>(ReadClampedValue(key, name, minimum, maximum, current));
}

template <typename Field>
void Save(SettingsKey& key, const char* name, const Field& field)
{
    key.SetDword(name, static_cast<std::uint32_t>(field.Get()));
}

}  // namespace

const char* ParameterGroupKeyPath(std::uint8_t paraTeam)
{
    return paraTeam >= 1 && paraTeam <= 3 ? kGroupKeyPaths[paraTeam] : kGroupKeyPaths[0];
}

std::uint32_t ReadClampedValue(SettingsKey& key, const char* name, std::uint32_t minimum, std::uint32_t maximum,
                               std::uint32_t current)
{
    std::uint8_t data[4] = {0, 0, 0, 0};
    std::uint32_t type = 0;
    std::uint32_t size = sizeof data;
    if (!key.QueryValue(name, &type, data, &size) || type != kValueTypeDword || size != sizeof data)
        return current;
    const std::uint32_t value = data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24;
    if (value > maximum)
        return maximum;
    if (value < minimum)
        return minimum;
    return value;
}

void ReadParameterGroupSelection(SettingsStore& store, CameraSettings& settings)
{
    const auto key = store.OpenKeyToRead(kBaseKeyPath);
    if (key)
        Load(*key, "ParaTeam", 0, 3, settings.ParaTeam);
}

void SaveParameterGroup(SettingsStore& store, const CameraSettings& s)
{
    if (const auto base = store.OpenKey(kBaseKeyPath))
        Save(*base, "ParaTeam", s.ParaTeam);
    const auto key = store.OpenKey(ParameterGroupKeyPath(s.ParaTeam));
    if (!key)
        return;
    SettingsKey& k = *key;
    Save(k, "eKV20XSize", s.eKV20XSize);
    Save(k, "bAutoWB", s.bAutoWB);
    Save(k, "r", s.r);
    Save(k, "g", s.g);
    Save(k, "b", s.b);
    Save(k, "AutoExposure", s.AutoExposure);
    Save(k, "AETarget", s.AETarget);
    Save(k, "ExposureTime", s.ExposureTime);
    Save(k, "AnalogGain", s.AnalogGain);
    Save(k, "Gamma", s.Gamma);
    Save(k, "Contrast", s.Contrast);
    Save(k, "EnableSaturation", s.EnableSaturation);
    Save(k, "Saturation", s.Saturation);
    Save(k, "WhiteBlack", s.WhiteBlack);
    Save(k, "VFlip", s.VFlip);
    Save(k, "HFlip", s.HFlip);
    Save(k, "Gain", s.AnalogGain);  // a second copy, written for older readers and never read back
    Save(k, "Speed", s.Speed);
    Save(k, "HZ", s.HZ);
}

bool StoredValuesDiffer(const CameraSettings& a, const CameraSettings& b)
{
    return a.ParaTeam != b.ParaTeam || a.eKV20XSize != b.eKV20XSize || a.bAutoWB != b.bAutoWB || a.r != b.r ||
           a.g != b.g || a.b != b.b || a.AutoExposure != b.AutoExposure || a.AETarget != b.AETarget ||
           a.ExposureTime != b.ExposureTime || a.AnalogGain != b.AnalogGain || a.Gamma != b.Gamma ||
           a.Contrast != b.Contrast || a.EnableSaturation != b.EnableSaturation || a.Saturation != b.Saturation ||
           a.WhiteBlack != b.WhiteBlack || a.VFlip != b.VFlip || a.HFlip != b.HFlip || a.Speed != b.Speed ||
           a.HZ != b.HZ;
}

void LoadParameterGroup(SettingsStore& store, CameraSettings& s)
{
    const auto key = store.OpenKeyToRead(ParameterGroupKeyPath(s.ParaTeam));
    if (!key)
        return;
    SettingsKey& k = *key;
    Load(k, "eKV20XSize", 0, 2, s.eKV20XSize);
    Load(k, "bAutoWB", 0, 1, s.bAutoWB);
    Load(k, "r", 0, 255, s.r);
    Load(k, "g", 0, 255, s.g);
    Load(k, "b", 0, 255, s.b);
    Load(k, "AutoExposure", 0, 1, s.AutoExposure);
    Load(k, "ExposureTime", 1, 4000, s.ExposureTime);
    // From 0: the sensor's lowest gain, where the auto exposure may leave it.
    Load(k, "AnalogGain", 0, 80, s.AnalogGain);
    Load(k, "AETarget", 40, 200, s.AETarget);
    Load(k, "Gamma", 10, 250, s.Gamma);
    Load(k, "Contrast", 0, 100, s.Contrast);
    Load(k, "EnableSaturation", 0, 1, s.EnableSaturation);
    Load(k, "Saturation", 0, 255, s.Saturation);
    Load(k, "WhiteBlack", 0, 1, s.WhiteBlack);
    Load(k, "VFlip", 0, 1, s.VFlip);
    Load(k, "HFlip", 0, 1, s.HFlip);
    Load(k, "Speed", 0, 1, s.Speed);
    Load(k, "HZ", 0, 1, s.HZ);
}

}  // namespace kv20x
