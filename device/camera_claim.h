#pragma once
// The claim a streaming filter instance holds on the camera, from its device
// start until the camera is closed: one named mutex per device path in the
// global namespace, so that it holds between instances in one process, between
// processes of both bitnesses and between users' sessions. A second claimant
// is refused at once, before it sends the camera anything. The system gives
// the mutex up when its holder's thread or process ends, however it ends: a
// killed application leaves it abandoned, and the next claimant takes it.
//
// Threads: a mutex belongs to the thread that took it, so Acquire and
// Release run on one thread (the pin's streaming worker, which opens and
// closes the camera). Release on another thread only closes the handle;
// the system then gives the mutex up when the holding thread ends.

#include <windows.h>

#include "base/handles.h"

namespace kv20x {

// What an application sees when another one streams from the camera: the
// result the platform's own capture stack gives for a camera in use, which
// capture applications already report as "in use by another application".
inline constexpr HRESULT kCameraInUse = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);

class CameraClaim {
public:
    CameraClaim() = default;
    ~CameraClaim() { Release(); }
    CameraClaim(const CameraClaim&) = delete;
    CameraClaim& operator=(const CameraClaim&) = delete;

    // S_OK when this instance now holds the camera (or already did),
    // kCameraInUse when another holds it, another failure when no claim can
    // be made at all.
    HRESULT Acquire(const char* devicePath);
    void Release();
    bool Held() const { return m_held; }

private:
    UniqueHandle m_mutex;
    bool m_held = false;
};

}  // namespace kv20x
