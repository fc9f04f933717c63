#pragma once
// The persistence cases, run against every store. A fixture type supplies:
//   std::unique_ptr<SettingsStore> Store();
//   void PutDword(path, name, value); void PutRaw(path, name, type, bytes);
//   long long Dword(path, name)  (-1 when missing or not a 4-byte DWORD);
//   bool KeyExists(path).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/persistence.h"

namespace kv20x::test {

inline const std::string kGroupA = "Software\\ORBILUX \\KV20X\\dshow";
inline const std::string kGroupB = "Software\\ORBILUX \\KV20X\\dshowB";
inline const std::string kGroupD = "Software\\ORBILUX \\KV20X\\dshowD";

template <typename Fixture>
class PersistenceTest : public ::testing::Test {
protected:
    Fixture fixture;
};

TYPED_TEST_SUITE_P(PersistenceTest);

// Reading writes nothing: a filter that is only listed leaves no key behind.
TYPED_TEST_P(PersistenceTest, FirstRunCreatesNothingAndKeepsEveryDefault)
{
    auto store = this->fixture.Store();
    CameraSettings s;
    ReadParameterGroupSelection(*store, s);
    LoadParameterGroup(*store, s);
    EXPECT_FALSE(this->fixture.KeyExists(kGroupA));
    EXPECT_EQ(s.ParaTeam, 0);
    EXPECT_EQ(s.eKV20XSize, 1);
    EXPECT_EQ(s.ExposureTime, 300);
    EXPECT_EQ(s.Gamma, 100);
    EXPECT_EQ(s.r, 105);
}

TYPED_TEST_P(PersistenceTest, AGroupNeverWrittenLeavesTheCurrentValues)
{
    auto store = this->fixture.Store();
    CameraSettings s;
    s.Gamma = 180;
    s.Speed = 1;
    s.ParaTeam = 1;
    LoadParameterGroup(*store, s);
    EXPECT_FALSE(this->fixture.KeyExists(kGroupB));
    EXPECT_EQ(s.Gamma, 180);
    EXPECT_EQ(s.Speed, 1);
}

TYPED_TEST_P(PersistenceTest, StoredValuesOutOfRangeAreClamped)
{
    this->fixture.PutDword(kGroupA, "ExposureTime", 5000);
    this->fixture.PutDword(kGroupA, "Gamma", 0);
    this->fixture.PutDword(kGroupA, "AETarget", 0xFFFFFFFF);
    this->fixture.PutDword(kGroupA, "eKV20XSize", 7);
    this->fixture.PutDword(kGroupA, "AnalogGain", 81);
    this->fixture.PutDword(kGroupA, "Contrast", 101);
    this->fixture.PutDword(kGroupA, "VFlip", 2);
    this->fixture.PutDword(kGroupA, "r", 256);
    auto store = this->fixture.Store();
    CameraSettings s;
    LoadParameterGroup(*store, s);
    EXPECT_EQ(s.ExposureTime, 4000);
    EXPECT_EQ(s.Gamma, 10);
    EXPECT_EQ(s.AETarget, 200);
    EXPECT_EQ(s.eKV20XSize, 2);
    EXPECT_EQ(s.AnalogGain, 80);
    EXPECT_EQ(s.Contrast, 100);
    EXPECT_EQ(s.VFlip, 1);
    EXPECT_EQ(s.r, 255);
}

TYPED_TEST_P(PersistenceTest, ValuesOfAnotherTypeOrSizeAreIgnored)
{
    this->fixture.PutRaw(kGroupA, "Gamma", 1 /* REG_SZ */, {'5', '0', 0});
    this->fixture.PutRaw(kGroupA, "Contrast", kValueTypeDword, {50, 0});
    this->fixture.PutRaw(kGroupA, "Saturation", kValueTypeDword, {50, 0, 0, 0, 0, 0, 0, 0});
    this->fixture.PutRaw(kGroupA, "Speed", 3 /* REG_BINARY */, {1, 0, 0, 0});
    this->fixture.PutRaw(kGroupA, "HZ", kValueTypeDword, {});
    this->fixture.PutRaw(kGroupA, "AETarget", 1, std::vector<std::uint8_t>(5000, 'x'));
    auto store = this->fixture.Store();
    CameraSettings s;
    LoadParameterGroup(*store, s);
    EXPECT_EQ(s.Gamma, 100);
    EXPECT_EQ(s.Contrast, 30);
    EXPECT_EQ(s.Saturation, 100);
    EXPECT_EQ(s.Speed, 0);
    EXPECT_EQ(s.HZ, 1);
    EXPECT_EQ(s.AETarget, 100);
}

TYPED_TEST_P(PersistenceTest, SelectionIsClampedToGroupD)
{
    this->fixture.PutDword(kGroupA, "ParaTeam", 9);
    this->fixture.PutDword(kGroupD, "Gamma", 222);
    auto store = this->fixture.Store();
    CameraSettings s;
    ReadParameterGroupSelection(*store, s);
    LoadParameterGroup(*store, s);
    EXPECT_EQ(s.ParaTeam, 3);
    EXPECT_EQ(s.Gamma, 222);
}

TYPED_TEST_P(PersistenceTest, SaveInGroupAPutsTheSelectionAndAllValuesInOneKey)
{
    auto store = this->fixture.Store();
    CameraSettings s;
    s.AnalogGain = 33;
    s.Saturation = 140;
    SaveParameterGroup(*store, s);
    const std::pair<const char*, long long> expected[] = {
        {"ParaTeam", 0},     {"eKV20XSize", 1},     {"bAutoWB", 0},     {"r", 105},      {"g", 64},
        {"b", 122},          {"AutoExposure", 1},   {"AETarget", 100},  {"ExposureTime", 300},
        {"AnalogGain", 33},  {"Gamma", 100},        {"Contrast", 30},   {"EnableSaturation", 1},
        {"Saturation", 140}, {"WhiteBlack", 0},     {"VFlip", 1},       {"HFlip", 1},
        {"Gain", 33},        {"Speed", 0},          {"HZ", 1},
    };
    for (const auto& [name, value] : expected)
        EXPECT_EQ(this->fixture.Dword(kGroupA, name), value) << name;
}

TYPED_TEST_P(PersistenceTest, GainIsAWrittenCopyThatIsNeverRead)
{
    auto store = this->fixture.Store();
    CameraSettings s;
    s.AnalogGain = 44;
    SaveParameterGroup(*store, s);
    EXPECT_EQ(this->fixture.Dword(kGroupA, "Gain"), 44);
    this->fixture.PutDword(kGroupA, "Gain", 7);
    CameraSettings loaded;
    LoadParameterGroup(*store, loaded);
    EXPECT_EQ(loaded.AnalogGain, 44);
}

TYPED_TEST_P(PersistenceTest, APendingOneShotWhiteBalanceIsStoredAsARequest)
{
    auto store = this->fixture.Store();
    CameraSettings s;
    s.bAutoWB = 1;
    SaveParameterGroup(*store, s);
    CameraSettings loaded;
    LoadParameterGroup(*store, loaded);
    EXPECT_EQ(loaded.bAutoWB, 1);
}

TYPED_TEST_P(PersistenceTest, EveryGroupSurvivesASaveAndALoad)
{
    auto store = this->fixture.Store();
    for (std::uint8_t group = 0; group < 4; ++group) {
        CameraSettings s;
        s.ParaTeam = group;
        s.eKV20XSize = group % 3;
        s.r = static_cast<std::uint8_t>(10 + group);
        s.g = static_cast<std::uint8_t>(20 + group);
        s.b = static_cast<std::uint8_t>(30 + group);
        s.AutoExposure = group & 1;
        s.ExposureTime = static_cast<std::uint16_t>(1000 + group);
        s.AnalogGain = static_cast<std::uint16_t>(50 + group);
        s.AETarget = static_cast<std::uint8_t>(60 + group);
        s.Gamma = static_cast<std::uint8_t>(70 + group);
        s.Contrast = static_cast<std::uint8_t>(80 + group);
        s.EnableSaturation = group & 1;
        s.Saturation = static_cast<std::uint8_t>(200 + group);
        s.WhiteBlack = group & 1;
        s.VFlip = group & 1;
        s.HFlip = group & 1;
        s.Speed = group & 1;
        s.HZ = group & 1;
        SaveParameterGroup(*store, s);
    }
    for (std::uint8_t group = 0; group < 4; ++group) {
        CameraSettings s;
        s.ParaTeam = group;
        LoadParameterGroup(*store, s);
        EXPECT_EQ(s.eKV20XSize, group % 3);
        EXPECT_EQ(s.r, 10 + group);
        EXPECT_EQ(s.g, 20 + group);
        EXPECT_EQ(s.b, 30 + group);
        EXPECT_EQ(s.AutoExposure, group & 1);
        EXPECT_EQ(s.ExposureTime, 1000 + group);
        EXPECT_EQ(s.AnalogGain, 50 + group);
        EXPECT_EQ(s.AETarget, 60 + group);
        EXPECT_EQ(s.Gamma, 70 + group);
        EXPECT_EQ(s.Contrast, 80 + group);
        EXPECT_EQ(s.EnableSaturation, group & 1);
        EXPECT_EQ(s.Saturation, 200 + group);
        EXPECT_EQ(s.WhiteBlack, group & 1);
        EXPECT_EQ(s.VFlip, group & 1);
        EXPECT_EQ(s.HFlip, group & 1);
        EXPECT_EQ(s.Speed, group & 1);
        EXPECT_EQ(s.HZ, group & 1);
    }
    // The last save selected group D.
    CameraSettings fresh;
    ReadParameterGroupSelection(*store, fresh);
    EXPECT_EQ(fresh.ParaTeam, 3);
}

TYPED_TEST_P(PersistenceTest, LoadNeverReadsTheSelection)
{
    this->fixture.PutDword(kGroupA, "ParaTeam", 2);
    auto store = this->fixture.Store();
    CameraSettings s;
    LoadParameterGroup(*store, s);
    EXPECT_EQ(s.ParaTeam, 0);
}

TYPED_TEST_P(PersistenceTest, AnUnusualSelectionAddressesGroupA)
{
    auto store = this->fixture.Store();
    CameraSettings s;
    s.ParaTeam = 5;
    s.Gamma = 123;
    SaveParameterGroup(*store, s);
    EXPECT_EQ(this->fixture.Dword(kGroupA, "ParaTeam"), 5);
    EXPECT_EQ(this->fixture.Dword(kGroupA, "Gamma"), 123);
    CameraSettings next;
    ReadParameterGroupSelection(*store, next);
    EXPECT_EQ(next.ParaTeam, 3);
}

REGISTER_TYPED_TEST_SUITE_P(PersistenceTest, FirstRunCreatesNothingAndKeepsEveryDefault,
                            AGroupNeverWrittenLeavesTheCurrentValues, StoredValuesOutOfRangeAreClamped,
                            ValuesOfAnotherTypeOrSizeAreIgnored, SelectionIsClampedToGroupD,
                            SaveInGroupAPutsTheSelectionAndAllValuesInOneKey, GainIsAWrittenCopyThatIsNeverRead,
                            APendingOneShotWhiteBalanceIsStoredAsARequest, EveryGroupSurvivesASaveAndALoad,
                            LoadNeverReadsTheSelection, AnUnusualSelectionAddressesGroupA);

}  // namespace kv20x::test
