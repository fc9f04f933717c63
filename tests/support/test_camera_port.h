#pragma once
// What the capture pin opens in test programs: the simulated camera chosen
// here (none: the device is missing), a processor count of the test's
// choosing, and capture threads that can be refused. Linked into test
// programs in place of pin/camera_port.cpp.

#include <memory>

#include "simulated_camera.h"

namespace kv20x::test {

void UseCamera(std::shared_ptr<simcam::SimulatedCamera> camera);
void UseProcessorCount(int count);
// While set, the pin cannot start its capture thread.
void RefuseCaptureThreads(bool refuse);

}  // namespace kv20x::test
