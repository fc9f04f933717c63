#pragma once
// Where the capture pin gets its camera, the machine's processor count and
// its capture thread. The module links the real ones (camera_port.cpp: the
// driver's device, the processor count the system reports, CreateThread);
// test programs link their own, so the shipped module has no test seam at
// all.

#include <windows.h>

#include <memory>

#include "device/device_port.h"

namespace kv20x {

std::unique_ptr<DevicePort> OpenCameraPort();
int ProcessorCount();
// A new thread running procedure(parameter); null when none can be had.
HANDLE StartCaptureThread(LPTHREAD_START_ROUTINE procedure, LPVOID parameter);

}  // namespace kv20x
