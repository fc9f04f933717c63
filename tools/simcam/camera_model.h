#pragma once
// A model of the camera and its kernel driver, written from the driver
// protocol: the vendor requests and their status byte, the sensor register
// file, the configuration memory with its defect lists, stream control, and
// the bulk pipe that sends raw frames paced by the programmed size, clock and
// exposure. It synthesises a test chart seen through the lens.
//
// The model is freestanding (no library, no allocation, no threads) so that
// the in-process simulated camera of the tests and the kernel-mode simulated
// driver share it. Its host supplies the time and a scene buffer, serialises
// calls, and does any waiting.

#include <stddef.h>
#include <stdint.h>

namespace simcam {

constexpr uint32_t kIoctlVendorRequest = 0x222059;
constexpr uint32_t kIoctlPipeArm = 0x22208A;
constexpr uint16_t kDefaultChipVersion = 0x1621;
constexpr uint8_t kStatusOk = 8;
constexpr uint32_t kConfigBytes = 0x3000;
constexpr uint32_t kMaxWidth = 2048;
constexpr uint32_t kMaxHeight = 1536;
constexpr uint32_t kSceneBytes = kMaxWidth * kMaxHeight;
constexpr int32_t kNone = -1;

// Faults that stay in force until cleared.
enum FaultFlags : uint32_t {
    kFaultBadStatus = 1u << 0,      // vendor requests answer a status other than 8
    kFaultFailControl = 1u << 1,    // every control request fails in the driver
    kFaultVanished = 1u << 2,       // the camera is gone: control requests and reads fail
    kFaultJoinMidFrame = 1u << 3,   // the first frame after a stream start is joined half-way
    kFaultHangControl = 1u << 4,    // control requests are never answered: the host holds them until cancelled
};

// Faults aimed at one transmitted frame, counted from 0 at each stream start.
struct FramePlan {
    int32_t dropChunk = kNone;     // the frame arrives one chunk short
    int32_t extraChunk = kNone;    // the frame arrives one chunk long
    int32_t wrongFinal = kNone;    // the final transfer is 100 bytes too long
    int32_t failRead = kNone;      // the read number failReadIndex of this frame fails
    uint32_t failReadIndex = 0;
    int32_t stallFrom = kNone;     // from this frame on nothing is sent
};

// What the sensor is programmed to deliver.
struct SensorParams {
    uint32_t width;
    uint32_t height;
    uint16_t exposureRows;
    uint16_t gainRegister;
    bool fastClock;
    uint64_t periodUs;  // one frame time
};

// One frame as it left the camera.
struct FrameInfo {
    uint32_t ordinal;   // transmitted frames since the stream start
    uint32_t number;    // frames the sensor produced since the stream start, dropped ones included
    uint32_t width;
    uint32_t height;
    uint16_t exposureRows;
    uint16_t gainRegister;
};

enum class ReadStatus { Done, Failed, NotYet, Stalled };

struct ReadOutcome {
    ReadStatus status;
    uint32_t bytes;        // Done: bytes transferred
    uint64_t readyAtUs;    // NotYet: when to ask again
};

struct CameraModel {
    uint16_t registers[256];
    uint16_t config[kConfigBytes / 2];
    uint16_t chipVersion;
    uint32_t faults;
    uint32_t streamControlFailMask;  // bit v set: StreamControl with value v fails
    FramePlan plan;

    bool streaming;
    bool pipeArmed;
    uint64_t nextReadyUs;   // when the next frame is complete in the sensor
    uint32_t nextNumber;    // the sensor's number of that frame
    uint32_t framesDropped;

    bool frameActive;
    FrameInfo frame;        // the frame being transmitted, or the last one
    uint32_t frameLength;   // bytes this frame carries on the wire
    uint32_t frameOffset;
    uint32_t readsInFrame;
    uint32_t framesStarted; // counts frame starts, for hosts that log them
    uint8_t lut[256];       // exposure and gain response of the frame being sent

    uint8_t* scene;         // kSceneBytes, owned by the host
    uint32_t sceneWidth;
    uint32_t sceneHeight;
};

// Power-on state: registers clear, chip version 0x1621, the factory defect
// lists, no faults. `sceneBuffer` must hold kSceneBytes.
void ModelInit(CameraModel* model, uint8_t* sceneBuffer);

// A control request as the driver receives it. Returns whether the driver
// call succeeds; *returned is the number of output bytes reported.
bool ModelControl(CameraModel* model, uint32_t code, const uint8_t* input, uint32_t inputBytes, uint8_t* output,
                  uint32_t outputBytes, uint32_t* returned, uint64_t nowUs);

// The next bulk read of `length` bytes into `destination`.
ReadOutcome ModelRead(CameraModel* model, uint8_t* destination, uint32_t length, uint64_t nowUs);

SensorParams ModelSensorParams(const CameraModel* model);

void ModelWriteConfigWord(CameraModel* model, uint16_t address, uint16_t word);
uint16_t ModelReadConfigWord(const CameraModel* model, uint16_t address);

// The raw mosaic of the chart at nominal exposure, hot pixels of the defect
// list of the matching size included.
void BuildScene(const CameraModel* model, uint8_t* scene, uint32_t width, uint32_t height);

// Sensor response: raw value v becomes lut[v] at this exposure and gain.
void BuildResponse(uint16_t exposureRows, uint16_t gainRegister, uint8_t* lut);

// Bytes [offset, offset + length) of a frame: the scene through the response,
// with the frame number stamped into a strip of cells. Bytes beyond the frame
// (a frame sent too long) repeat it.
void FillFrameBytes(const uint8_t* scene, const uint8_t* lut, uint32_t width, uint32_t height, uint32_t number,
                    uint32_t offset, uint8_t* destination, uint32_t length);

// Where the frame number is stamped: 16 cells of 8 x 8 raw pixels in raw
// rows 8 to 15, from raw column 8, bit 0 first; a set bit reads 255.
constexpr uint32_t kStampRow = 8;
constexpr uint32_t kStampColumn = 8;
constexpr uint32_t kStampCell = 8;
constexpr uint32_t kStampBits = 16;

}  // namespace simcam
