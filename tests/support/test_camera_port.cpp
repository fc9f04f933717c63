#include "support/test_camera_port.h"

#include <atomic>
#include <mutex>

#include "pin/camera_port.h"

namespace kv20x {

namespace {
std::mutex g_lock;
std::shared_ptr<simcam::SimulatedCamera> g_camera;
std::atomic<int> g_processors{2};
std::atomic<bool> g_refuseThreads{false};
}  // namespace

namespace test {

void UseCamera(std::shared_ptr<simcam::SimulatedCamera> camera)
{
    std::lock_guard lock(g_lock);
    g_camera = std::move(camera);
}

void UseProcessorCount(int count)
{
    g_processors = count;
}

void RefuseCaptureThreads(bool refuse)
{
    g_refuseThreads = refuse;
}

}  // namespace test

// No camera chosen: a port that never opens, as on a machine without one.
class MissingPort final : public DevicePort {
public:
    OpenResult Open(const char*) override { return OpenResult::Absent; }
    bool Control(std::uint32_t, const void*, std::uint32_t, void*, std::uint32_t, std::uint32_t*) override
    {
        return false;
    }
    bool ControlTimedOut() const override { return false; }
    bool QueueRead(int, void*, std::uint32_t) override { return false; }
    bool WaitRead(int, std::uint32_t*) override { return false; }
    void CancelReads() override {}
    void Delay(std::uint32_t) override {}
};

std::unique_ptr<DevicePort> OpenCameraPort()
{
    std::lock_guard lock(g_lock);
    if (!g_camera)
        return std::make_unique<MissingPort>();
    return g_camera->CreatePort();
}

HANDLE StartCaptureThread(LPTHREAD_START_ROUTINE procedure, LPVOID parameter)
{
    if (g_refuseThreads)
        return nullptr;
    return ::CreateThread(nullptr, 0, procedure, parameter, 0, nullptr);
}

int ProcessorCount()
{
    return g_processors;
}

}  // namespace kv20x
