#include "device/device_link.h"

#include <new>

namespace kv20x {

namespace {

// Sensor registers the module programs.
enum SensorRegister : std::uint16_t {
    kRegRowStart = 1,
    kRegColumnStart = 2,
    kRegWindowHeight = 3,
    kRegWindowWidth = 4,
    kRegSpeedCompanion = 5,
    kRegSensorMode = 7,
    kRegReg8 = 8,
    kRegExposure = 9,
    kRegPixelClock = 10,
    kRegReset = 13,
    kRegReg30 = 30,
    kRegReg32 = 32,
    kRegRowReduction = 34,
    kRegColumnReduction = 35,
    kRegReg43 = 43,
    kRegReg44 = 44,
    kRegReg45 = 45,
    kRegReg46 = 46,
    kRegGain = 53,
    kRegReg73 = 73,
    kRegReg78 = 78,
};

constexpr std::uint16_t kPixelClockFast = 0x8000;
constexpr std::uint16_t kPixelClockNormal = 0x8001;
constexpr std::uint16_t kSpeedCompanionValue = 336;
constexpr std::uint16_t kChipFamilyMask = 0xFF00;
constexpr std::uint16_t kChipFamily = 0x1600;
constexpr std::uint32_t kSensorSettleMs = 400;
constexpr std::uint32_t kResetPulseMs = 100;

// One vendor request; `outputBytes` is the length of the data stage.
bool VendorRequest(DeviceLink& link, bool deviceToHost, std::uint8_t request, std::uint16_t value,
                   std::uint16_t index, std::uint8_t* output, std::uint32_t outputBytes)
{
    if (link.openFlag == 0)
        return false;
    const ControlRequestBlock block = MakeControlRequestBlock(deviceToHost, request, value, index);
    std::uint32_t returned = 0;
    return link.port->Control(IOCTL_VENDOR_REQUEST, &block, sizeof block, output, outputBytes, &returned);
}

// A request whose data stage brings a big-endian word and a status byte.
bool ReadWordRequest(DeviceLink& link, std::uint8_t request, std::uint16_t index, std::uint16_t* word)
{
    std::uint8_t reply[3] = {0, 0, 0};
    if (!VendorRequest(link, true, request, 0, index, reply, sizeof reply) || reply[2] != kVendorStatusOk)
        return false;
    *word = static_cast<std::uint16_t>(reply[0] << 8 | reply[1]);
    return true;
}

// Register 7 back to idle and the handle closed with the link.
void DiscardLink(std::unique_ptr<DeviceLink> link)
{
    WriteSensorRegister(*link, kRegSensorMode, 0);
}

}  // namespace

ControlRequestBlock MakeControlRequestBlock(bool deviceToHost, std::uint8_t request, std::uint16_t value,
                                            std::uint16_t index)
{
    ControlRequestBlock block{};
    block.direction = deviceToHost ? 1 : 0;
    block.requestType = 2;
    block.recipient = 0;
    block.request = request;
    block.value[0] = static_cast<std::uint8_t>(value & 0xFF);
    block.value[1] = static_cast<std::uint8_t>(value >> 8);
    block.index[0] = static_cast<std::uint8_t>(index & 0xFF);
    block.index[1] = static_cast<std::uint8_t>(index >> 8);
    return block;
}

DeviceLink::DeviceLink(std::unique_ptr<DevicePort> devicePort) : port(std::move(devicePort)) {}

DeviceLink::~DeviceLink() = default;

bool OpenDevice(DeviceLink& link)
{
    link.openFlag = 1;
    if (!StreamControl(link, 1) || !StreamControl(link, 0) || !StreamControl(link, 1))
        return false;
    // Arms the bulk pipe; what the driver makes of a refusal is its own affair.
    const std::uint8_t arm[2] = {0x01, 0x00};
    std::uint32_t returned = 0;
    link.port->Control(IOCTL_PIPE_ARM, arm, sizeof arm, nullptr, 0, &returned);
    return true;
}

bool WriteSensorRegister(DeviceLink& link, std::uint16_t reg, std::uint16_t value)
{
    std::uint8_t status = 0;
    return VendorRequest(link, true, kRequestWriteSensorRegister, value, reg, &status, 1) &&
           status == kVendorStatusOk;
}

bool ReadChipVersion(DeviceLink& link, std::uint16_t* version)
{
    return ReadWordRequest(link, kRequestReadChipVersion, 0, version);
}

bool ReadConfigWord(DeviceLink& link, std::uint16_t address, std::uint16_t* word)
{
    return ReadWordRequest(link, kRequestReadConfigWord, address, word);
}

bool StreamControl(DeviceLink& link, std::uint16_t value)
{
    return VendorRequest(link, false, kRequestStreamControl, value, kStreamControlIndex, nullptr, 0);
}

bool SensorInit(DeviceLink& link)
{
    WriteSensorRegister(link, kRegSensorMode, 2);
    std::uint16_t version = 0;
    if (!ReadChipVersion(link, &version) || (version & kChipFamilyMask) != kChipFamily)
        return false;
    WriteSensorRegister(link, kRegPixelClock, kPixelClockFast);
    WriteSensorRegister(link, kRegReset, 1);
    link.port->Delay(kResetPulseMs);
    WriteSensorRegister(link, kRegReset, 0);
    link.port->Delay(kResetPulseMs);
    WriteSensorRegister(link, kRegRowStart, 21);
    WriteSensorRegister(link, kRegColumnStart, 33);
    WriteSensorRegister(link, kRegReg32, 0);
    WriteSensorRegister(link, kRegReg30, 0x8040);
    WriteSensorRegister(link, kRegReg78, 0x20);
    WriteSensorRegister(link, kRegWindowWidth, 2047);
    WriteSensorRegister(link, kRegWindowHeight, 1535);
    WriteSensorRegister(link, kRegReg43, 0x60);
    WriteSensorRegister(link, kRegReg44, 0x460);
    WriteSensorRegister(link, kRegReg45, 0x60);
    WriteSensorRegister(link, kRegReg46, 0x60);
    WriteSensorRegister(link, kRegPixelClock, kPixelClockNormal);
    WriteSensorRegister(link, kRegReg73, 0x80);
    WriteSensorRegister(link, kRegRowReduction, 0);
    WriteSensorRegister(link, kRegColumnReduction, 0);
    WriteSensorRegister(link, kRegReg8, 0);
    WriteSensorRegister(link, kRegExposure, 1561);
    return true;
}

void ApplySize(DeviceLink& link, SizeMode size)
{
    switch (size) {
    case kSizeFull:
        WriteSensorRegister(link, kRegRowReduction, 0);
        WriteSensorRegister(link, kRegColumnReduction, 0);
        break;
    case kSizeHalf:
        WriteSensorRegister(link, kRegRowReduction, 0x11);
        WriteSensorRegister(link, kRegColumnReduction, 0x11);
        break;
    case kSizeVga:
        // A 1920 x 1440 window read at a third of its size.
        WriteSensorRegister(link, kRegWindowWidth, 1919);
        WriteSensorRegister(link, kRegWindowHeight, 1439);
        WriteSensorRegister(link, kRegRowReduction, 0x22);
        WriteSensorRegister(link, kRegColumnReduction, 0x22);
        WriteSensorRegister(link, kRegColumnStart, 36);
        break;
    default:
        break;
    }
}

void ApplySpeed(DeviceLink& link, CameraSettings& settings)
{
    WriteSensorRegister(link, kRegPixelClock, settings.Speed != 0 ? kPixelClockFast : kPixelClockNormal);
    WriteSensorRegister(link, kRegSpeedCompanion, kSpeedCompanionValue);
    UpdateExposureTiming(settings);
}

void WriteExposure(DeviceLink& link, std::uint16_t rows)
{
    WriteSensorRegister(link, kRegExposure, rows);
}

std::uint16_t GainRegisterValue(std::uint16_t analogGain)
{
    const std::uint32_t g = analogGain;
    if (g <= 24)
        return static_cast<std::uint16_t>(g + 8);
    if (g <= 40)
        return static_cast<std::uint16_t>(g + 56);
    if (g <= 85)
        return static_cast<std::uint16_t>((g - 41) * 256 + 0x160);
    return 0x2D60;
}

void WriteGain(DeviceLink& link, std::uint16_t analogGain)
{
    WriteSensorRegister(link, kRegGain, GainRegisterValue(analogGain));
}

bool LoadDefectTable(DeviceLink& link, SizeMode size, DefectTable& table)
{
    std::uint16_t word = 0;
    if (!ReadConfigWord(link, kDefectSignatureAddress, &word) || word != kDefectSignature) {
        table.count = 0;
        return false;
    }
    table.count = 0;
    // Only the words read are tested; a failed read leaves a value that no
    // valid list holds.
    word = 0xFFFF;
    ReadConfigWord(link, DefectMarkerAddress(size), &word);
    if (word != static_cast<std::uint16_t>(size * 0x0101))
        return false;
    std::uint16_t count = 0xFFFF;
    ReadConfigWord(link, DefectCountAddress(size), &count);
    if (count >= kDefectCountLimit)
        return false;
    if (count == 0)
        return true;
    table.count = count;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint16_t x = 0;
        std::uint16_t y = 0;
        ReadConfigWord(link, DefectEntryAddress(size, i), &x);
        ReadConfigWord(link, static_cast<std::uint16_t>(DefectEntryAddress(size, i) + 2), &y);
        table.entries[i] = {static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)};
    }
    return true;
}

void SetReadGeometry(DeviceLink& link, SizeMode size)
{
    switch (size) {
    case kSizeFull: link.chunkSize = 0x80000; break;
    case kSizeVga: link.chunkSize = 0x14000; break;
    default: link.chunkSize = 0x20000; break;
    }
    const SizeMode geometry = IsValidSizeMode(size) ? size : kSizeHalf;
    link.width = static_cast<std::uint32_t>(SizeModeWidth(geometry));
    link.height = static_cast<std::uint32_t>(SizeModeHeight(geometry));
    link.frameSize = link.width * link.height;
}

std::unique_ptr<DeviceLink> StartDevice(std::unique_ptr<DevicePort> port, CameraSettings& settings,
                                        DefectTable& defects)
{
    if (!port)
        return nullptr;
    std::unique_ptr<DeviceLink> link(new (std::nothrow) DeviceLink(std::move(port)));
    if (!link)
        return nullptr;
    const SizeMode size = settings.eKV20XSize;
    bool ready = OpenDevice(*link);
    if (ready) {
        SetReadGeometry(*link, size);
        ready = SensorInit(*link);
    }
    if (!ready) {
        DiscardLink(std::move(link));
        return nullptr;
    }
    ApplySize(*link, size);
    ApplySpeed(*link, settings);
    LoadDefectTable(*link, size, defects);
    link->port->Delay(kSensorSettleMs);
    WriteExposure(*link, settings.ExposureTime);
    WriteGain(*link, settings.AnalogGain);
    return link;
}

bool StartStream(DeviceLink& link)
{
    return StreamControl(link, 3);
}

void StopDevice(std::unique_ptr<DeviceLink> link)
{
    if (!link)
        return;
    if (StreamControl(*link, 1))
        StreamControl(*link, 0);
    DiscardLink(std::move(link));
}

}  // namespace kv20x
