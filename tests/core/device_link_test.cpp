#include <gtest/gtest.h>

#include <algorithm>

#include "device/device_link.h"
#include "simulated_camera.h"
#include "support/camera_log.h"

namespace kv20x {
namespace {

using test::DescribeLog;
using Words = std::vector<std::string>;

class DeviceLinkTest : public ::testing::Test {
protected:
    std::unique_ptr<DeviceLink> Start()
    {
        camera->ClearLog();
        auto port = camera->CreatePort();
        if (port->Open(kDevicePath) != DevicePort::OpenResult::Opened)
            return nullptr;
        return StartDevice(std::move(port), settings, defects);
    }
    Words LogWords() const { return DescribeLog(camera->Log()); }

    std::shared_ptr<simcam::SimulatedCamera> camera = simcam::SimulatedCamera::Create();
    CameraSettings settings;
    DefectTable defects;
};

TEST(ControlRequestBlock, IsTheDriversTenByteLittleEndianSetup)
{
    const ControlRequestBlock block = MakeControlRequestBlock(true, 0x0B, 0x8040, 30);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&block);
    const std::uint8_t expected[10] = {1, 2, 0, 0, 0x0B, 0, 0x40, 0x80, 30, 0};
    EXPECT_TRUE(std::equal(bytes, bytes + 10, expected));
    const ControlRequestBlock stream = MakeControlRequestBlock(false, 0x01, 3, 15);
    EXPECT_EQ(stream.direction, 0);
    EXPECT_EQ(stream.index[0], 15);
}

TEST_F(DeviceLinkTest, DeviceStartProgramsTheSensorInTheFixedOrder)
{
    auto link = Start();
    ASSERT_TRUE(link);
    const Words expected = {
        "OPEN", "SC1", "SC0", "SC1", "ARM",
        // sensor initialisation
        "W7=2", "CHIP", "W10=32768", "W13=1", "D100", "W13=0", "D100", "W1=21", "W2=33", "W32=0",
        "W30=32832", "W78=32", "W4=2047", "W3=1535", "W43=96", "W44=1120", "W45=96", "W46=96", "W10=32769",
        "W73=128", "W34=0", "W35=0", "W8=0", "W9=1561",
        // size 1024 x 768, normal speed
        "W34=17", "W35=17", "W10=32769", "W5=336",
        // defect list of size 1: signature, marker, count, five entries
        "CFG24C0", "CFG24C8", "CFG24CA", "CFG2690", "CFG2692", "CFG2694", "CFG2696", "CFG2698", "CFG269A",
        "CFG269C", "CFG269E", "CFG26A0", "CFG26A2",
        // settle, then exposure and gain
        "D400", "W9=300", "W53=28"};
    EXPECT_EQ(LogWords(), expected);
    EXPECT_EQ(link->width, 1024u);
    EXPECT_EQ(link->height, 768u);
    EXPECT_EQ(link->chunkSize, 0x20000u);
    EXPECT_EQ(link->frameSize, 786432u);
    EXPECT_EQ(defects.count, 5u);
    EXPECT_EQ(defects.entries[0].x, 50);
    EXPECT_EQ(defects.entries[0].y, 100);
    EXPECT_EQ(settings.FlickerStep, 116);
    EXPECT_EQ(settings.AeExposure, 300);
}

TEST_F(DeviceLinkTest, EachSizeReadsOutItsWindowAndGeometry)
{
    struct Case {
        SizeMode size;
        std::uint32_t width, height, chunk;
    };
    for (const Case c : {Case{0, 2048, 1536, 0x80000}, Case{1, 1024, 768, 0x20000}, Case{2, 640, 480, 0x14000}}) {
        settings.eKV20XSize = c.size;
        auto link = Start();
        ASSERT_TRUE(link);
        EXPECT_EQ(link->width, c.width);
        EXPECT_EQ(link->height, c.height);
        EXPECT_EQ(link->chunkSize, c.chunk);
        EXPECT_EQ(link->frameSize, c.width * c.height);
        StopDevice(std::move(link));
    }
    // 640 x 480 is a 1920 x 1440 window from column 36, reduced by 0x22.
    settings.eKV20XSize = 2;
    auto link = Start();
    const Words size = test::LogFrom(LogWords(), "W34=0");
    const Words tail(size.begin() + 4, size.begin() + 9);
    EXPECT_EQ(tail, (Words{"W4=1919", "W3=1439", "W34=34", "W35=34", "W2=36"}));
    EXPECT_EQ(camera->Register(4), 1919);
    EXPECT_EQ(camera->Register(3), 1439);
    EXPECT_EQ(camera->Register(2), 36);
    const simcam::SensorParams params = camera->Sensor();
    EXPECT_EQ(params.width, 640u);
    EXPECT_EQ(params.height, 480u);
}

TEST_F(DeviceLinkTest, ChipVersionFamilyDecidesWhetherTheSensorIsOurs)
{
    camera->SetChipVersion(0x1621);
    EXPECT_TRUE(Start());

    camera->SetChipVersion(0x1500);
    EXPECT_FALSE(Start());
    const Words words = LogWords();
    // Nothing is programmed past the version check; the link is discarded.
    EXPECT_EQ(Words(words.end() - 4, words.end()), (Words{"W7=2", "CHIP", "W7=0", "CLOSE"}));
    EXPECT_EQ(camera->OpenPorts(), 0);
}

TEST_F(DeviceLinkTest, MissingDeviceFailsWithoutAnyRequest)
{
    camera->SetMissing(true);
    EXPECT_FALSE(Start());
    EXPECT_EQ(LogWords(), Words{"OPEN!"});
}

TEST_F(DeviceLinkTest, RefusedStatusByteFailsTheVersionReadAndEveryWrite)
{
    camera->SetFaults(simcam::kFaultBadStatus);
    EXPECT_FALSE(Start());
    EXPECT_TRUE(camera->RegisterWrites().empty());
    EXPECT_EQ(camera->OpenPorts(), 0);
}

TEST_F(DeviceLinkTest, FailingStreamControlFailsTheOpening)
{
    camera->SetStreamControlFailMask(1u << 0);
    EXPECT_FALSE(Start());
    // Register 7 is still sent back to idle; the open flag was already set.
    EXPECT_EQ(LogWords(), (Words{"OPEN", "SC1", "SC0!", "W7=0", "CLOSE"}));
}

TEST_F(DeviceLinkTest, ControlRequestsOnAnUnopenedLinkNeverReachTheDriver)
{
    auto link = std::make_unique<DeviceLink>(camera->CreatePort());
    camera->ClearLog();
    std::uint16_t word = 0;
    EXPECT_FALSE(WriteSensorRegister(*link, 9, 1));
    EXPECT_FALSE(ReadChipVersion(*link, &word));
    EXPECT_FALSE(StreamControl(*link, 3));
    EXPECT_TRUE(camera->Log().empty());
}

TEST(GainRegister, MapsTheGainCodeOntoTheSensorsThreeRanges)
{
    EXPECT_EQ(GainRegisterValue(0), 8);
    EXPECT_EQ(GainRegisterValue(24), 32);
    EXPECT_EQ(GainRegisterValue(25), 81);
    EXPECT_EQ(GainRegisterValue(40), 96);
    EXPECT_EQ(GainRegisterValue(41), 0x160);
    EXPECT_EQ(GainRegisterValue(85), 0x2D60);
    EXPECT_EQ(GainRegisterValue(86), 0x2D60);
    EXPECT_EQ(GainRegisterValue(200), 0x2D60);
    EXPECT_EQ(GainRegisterValue(0xFFFF), 0x2D60);
}

TEST_F(DeviceLinkTest, SpeedWritesTheClockThenItsCompanionRegister)
{
    auto link = Start();
    ASSERT_TRUE(link);
    for (const auto& [speed, clock] : {std::pair{1, 0x8000}, std::pair{0, 0x8001}, std::pair{2, 0x8000}}) {
        camera->ClearLog();
        settings.Speed = static_cast<std::uint8_t>(speed);
        ApplySpeed(*link, settings);
        EXPECT_EQ(camera->RegisterWrites(), (std::vector<simcam::RegisterWrite>{
                                                {10, static_cast<std::uint16_t>(clock)}, {5, 336}}));
    }
    EXPECT_EQ(settings.FlickerStep, 233);
}

TEST_F(DeviceLinkTest, StreamStartAndStop)
{
    auto link = Start();
    ASSERT_TRUE(link);
    camera->ClearLog();
    EXPECT_TRUE(StartStream(*link));
    EXPECT_TRUE(camera->Streaming());
    StopDevice(std::move(link));
    EXPECT_EQ(LogWords(), (Words{"SC3", "SC1", "SC0", "W7=0", "CLOSE"}));
    EXPECT_FALSE(camera->Streaming());
    EXPECT_EQ(camera->OpenPorts(), 0);
}

TEST_F(DeviceLinkTest, StopWhoseFirstStreamControlFailsStillIdlesAndCloses)
{
    auto link = Start();
    ASSERT_TRUE(link);
    camera->ClearLog();
    camera->SetStreamControlFailMask(1u << 1);
    StopDevice(std::move(link));
    EXPECT_EQ(LogWords(), (Words{"SC1!", "W7=0", "CLOSE"}));
    EXPECT_EQ(camera->OpenPorts(), 0);
}

class DefectListTest : public DeviceLinkTest {
protected:
    void SetUp() override
    {
        link = Start();
        ASSERT_TRUE(link);
        defects = DefectTable{};
        defects.count = 3;  // stale entries from an earlier run
    }
    std::unique_ptr<DeviceLink> link;
};

TEST_F(DefectListTest, WithoutSignatureTheStaleListIsEmptied)
{
    camera->WriteConfigWord(0x24C0, 0x1234);
    EXPECT_FALSE(LoadDefectTable(*link, 1, defects));
    EXPECT_EQ(defects.count, 0u);
}

TEST_F(DefectListTest, CountOfOneHundredOrWrongMarkerGivesAnEmptyTable)
{
    camera->WriteConfigWord(0x24CA, 100);
    EXPECT_FALSE(LoadDefectTable(*link, 1, defects));
    EXPECT_EQ(defects.count, 0u);

    camera->WriteConfigWord(0x24CA, 5);
    camera->WriteConfigWord(0x24C8, 0x0202);
    EXPECT_FALSE(LoadDefectTable(*link, 1, defects));
    EXPECT_EQ(defects.count, 0u);
}

TEST_F(DefectListTest, ListsAreReadPerSizeUpToNinetyNineEntries)
{
    camera->WriteConfigWord(0x24C6 + 4 * 2, 99);
    for (std::uint16_t i = 0; i < 99; ++i) {
        camera->WriteConfigWord(static_cast<std::uint16_t>(0x2500 + 800 + 4 * i), static_cast<std::uint16_t>(3 + i));
        camera->WriteConfigWord(static_cast<std::uint16_t>(0x2502 + 800 + 4 * i), static_cast<std::uint16_t>(i));
    }
    EXPECT_TRUE(LoadDefectTable(*link, 2, defects));
    ASSERT_EQ(defects.count, 99u);
    EXPECT_EQ(defects.entries[98].x, 101);
    EXPECT_EQ(defects.entries[98].y, 98);

    camera->WriteConfigWord(0x24C6, 0);
    EXPECT_TRUE(LoadDefectTable(*link, 0, defects));
    EXPECT_EQ(defects.count, 0u);
}

}  // namespace
}  // namespace kv20x
