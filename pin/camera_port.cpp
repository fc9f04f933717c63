#include "pin/camera_port.h"

#include <windows.h>

#include "device/win32_port.h"

namespace kv20x {

std::unique_ptr<DevicePort> OpenCameraPort()
{
    return CreateWin32DevicePort();
}

HANDLE StartCaptureThread(LPTHREAD_START_ROUTINE procedure, LPVOID parameter)
{
    return ::CreateThread(nullptr, 0, procedure, parameter, 0, nullptr);
}

int ProcessorCount()
{
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    return static_cast<int>(info.dwNumberOfProcessors);
}

}  // namespace kv20x
