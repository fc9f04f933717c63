#pragma once
// What the capture pin opens in test programs: the simulated camera chosen
// here (none: the device is missing) and a processor count of the test's
// choosing. Linked into test programs in place of pin/camera_port.cpp.

#include <memory>

#include "simulated_camera.h"

namespace kv20x::test {

void UseCamera(std::shared_ptr<simcam::SimulatedCamera> camera);
void UseProcessorCount(int count);

}  // namespace kv20x::test
