#pragma once
// One streaming run's connection to the camera and every request the module
// sends over it: the vendor requests carried by the driver's control code,
// sensor programming, the defect list in the camera's configuration memory,
// and device and stream start and stop.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "device/device_port.h"
#include "settings/defect_table.h"
#include "settings/camera_settings.h"

namespace kv20x {

inline constexpr char kDevicePath[] = "\\\\.\\vx41k-0";

// Driver control codes: device type FILE_DEVICE_UNKNOWN, any access.
inline constexpr std::uint32_t IOCTL_VENDOR_REQUEST = 0x222059;  // function 0x816, METHOD_IN_DIRECT
inline constexpr std::uint32_t IOCTL_PIPE_ARM = 0x22208A;        // function 0x822, METHOD_OUT_DIRECT

// Vendor request codes.
inline constexpr std::uint8_t kRequestStreamControl = 0x01;
inline constexpr std::uint8_t kRequestReadChipVersion = 0x0A;
inline constexpr std::uint8_t kRequestWriteSensorRegister = 0x0B;
inline constexpr std::uint8_t kRequestReadConfigWord = 0x11;

inline constexpr std::uint8_t kVendorStatusOk = 8;      // status byte of a request the camera carried out
inline constexpr std::uint16_t kStreamControlIndex = 15;

// Configuration memory layout of the defect lists.
inline constexpr std::uint16_t kDefectSignatureAddress = 0x24C0;
inline constexpr std::uint16_t kDefectSignature = 0xAA22;
constexpr std::uint16_t DefectMarkerAddress(SizeMode s) { return static_cast<std::uint16_t>(0x24C4 + 4 * s); }
constexpr std::uint16_t DefectCountAddress(SizeMode s) { return static_cast<std::uint16_t>(0x24C6 + 4 * s); }
constexpr std::uint16_t DefectEntryAddress(SizeMode s, std::uint32_t i)
{
    return static_cast<std::uint16_t>(0x2500 + 400 * s + 4 * i);
}
inline constexpr std::uint16_t kDefectCountLimit = 100;

// The 10-byte setup block of IOCTL_VENDOR_REQUEST, little-endian, in the
// driver's own layout of a USB control transfer.
struct ControlRequestBlock {
    std::uint8_t direction;    // 1 = device to host, 0 = host to device
    std::uint8_t requestType;  // 2 = vendor
    std::uint8_t recipient;    // 0 = device
    std::uint8_t reserved;
    std::uint8_t request;
    std::uint8_t padding;
    std::uint8_t value[2];
    std::uint8_t index[2];
};
static_assert(sizeof(ControlRequestBlock) == 10, "the driver expects exactly 10 bytes");
static_assert(offsetof(ControlRequestBlock, value) == 6 && offsetof(ControlRequestBlock, index) == 8);

ControlRequestBlock MakeControlRequestBlock(bool deviceToHost, std::uint8_t request, std::uint16_t value,
                                            std::uint16_t index);

struct DeviceLink {
    static constexpr std::uint32_t kReadBufferBytes = 524800;  // largest chunk plus 512

    explicit DeviceLink(std::unique_ptr<DevicePort> devicePort);
    ~DeviceLink();
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    std::uint32_t chunkSize = 0;
    std::uint32_t frameSize = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint8_t readBuffers[DevicePort::kReadSlots][kReadBufferBytes];
    std::int32_t openFlag = 0;
    std::unique_ptr<DevicePort> port;  // the device handle; closed with the link
};

// Opening a link whose port has opened the device: StreamControl 1, 0, 1
// and the pipe arm.
bool OpenDevice(DeviceLink& link);

bool WriteSensorRegister(DeviceLink& link, std::uint16_t reg, std::uint16_t value);
bool ReadChipVersion(DeviceLink& link, std::uint16_t* version);
bool ReadConfigWord(DeviceLink& link, std::uint16_t address, std::uint16_t* word);
bool StreamControl(DeviceLink& link, std::uint16_t value);

bool SensorInit(DeviceLink& link);
void ApplySize(DeviceLink& link, SizeMode size);
void ApplySpeed(DeviceLink& link, CameraSettings& settings);
void WriteExposure(DeviceLink& link, std::uint16_t rows);
std::uint16_t GainRegisterValue(std::uint16_t analogGain);
void WriteGain(DeviceLink& link, std::uint16_t analogGain);

// Reads the defect list of `size`. A wrong signature empties the table too:
// entries of another size would damage good pixels.
bool LoadDefectTable(DeviceLink& link, SizeMode size, DefectTable& table);

// Chunk and frame sizes of the bulk transfer for a size.
void SetReadGeometry(DeviceLink& link, SizeMode size);

// Device start: a fresh link on `port`, which the caller has opened on the
// camera's device (its open decides whether the camera is there and free),
// programmed for the settings' size, speed, exposure and gain, with the
// defect list loaded. Returns null, having discarded the link, when it
// cannot be allocated or the camera does not answer as this camera does.
std::unique_ptr<DeviceLink> StartDevice(std::unique_ptr<DevicePort> port, CameraSettings& settings,
                                        DefectTable& defects);

// Stream start: tells the camera to send frames.
bool StartStream(DeviceLink& link);

// Device stop: streaming off, sensor idle, handle closed, link freed.
void StopDevice(std::unique_ptr<DeviceLink> link);

}  // namespace kv20x
