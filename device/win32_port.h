#pragma once
// The device port on the camera's kernel driver, through the Win32 calls.

#include <memory>

#include "device/device_port.h"

namespace kv20x {

std::unique_ptr<DevicePort> CreateWin32DevicePort();

}  // namespace kv20x
