#pragma once
// Raw frame transfer over the camera's bulk pipe.

#include <cstdint>

#include "device/device_link.h"

namespace kv20x {

inline constexpr int kFrameReadFailed = -1;   // a transfer failed
inline constexpr int kFrameReadRejected = 0;  // no whole frame this time
inline constexpr int kFrameReadComplete = 1;  // one whole frame in the destination

// Reads one raw frame of the link's geometry into `destination`, which must
// hold the link's frame size. Keeps four reads queued, accepts a frame only
// when N - 1 reads in a row bring whole chunks and the Nth exactly the
// remainder, absorbs one loss of step per call, and returns with no read
// pending. One reader per link at a time.
int FrameRead(DeviceLink& link, std::uint8_t* destination);

}  // namespace kv20x
