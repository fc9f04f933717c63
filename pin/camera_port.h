#pragma once
// Where the capture pin gets its camera and the machine's processor count.
// The module links the real ones (camera_port.cpp: the driver's device, the
// processor count the system reports); test programs link their own, so the
// shipped module has no test seam at all.

#include <memory>

#include "device/device_port.h"

namespace kv20x {

std::unique_ptr<DevicePort> OpenCameraPort();
int ProcessorCount();

}  // namespace kv20x
