#pragma once
// The claim a streaming filter instance holds on the camera, from its device
// start until the camera is closed, so that a second instance anywhere (in
// the same process or another, of either bitness, in another user's session)
// is refused at once, before it sends the camera a single request.
//
// What decides is the camera's device itself: the claim is taken only after
// the device was opened, so a process that cannot open the camera never
// takes it, waits on it or holds it. The claim is one named mutex per device
// path in the global namespace, made with the device's own integrity level
// (no access of any kind from below it) and open to every process at or
// above it, app containers included. Anyone can still make an object of that
// name first; one that was not made that way (labelled below the camera, as
// a low-integrity process's must be, or closed to this process by its access
// list) is not honoured: the instance streams on its device handle alone, so
// a process that could not open the camera cannot keep it from anyone. The
// system gives the mutex up when its holder's thread or process ends,
// however it ends: a killed application leaves it abandoned, and the next
// claimant takes it. An app container, which may not create objects in the
// global namespace, takes a claim that another instance made and otherwise
// streams on its device handle alone.
//
// Threads: a mutex belongs to the thread that took it, so Acquire and
// Release run on one thread (the pin's streaming worker, which opens and
// closes the camera). Release on another thread only closes the handle;
// the system then gives the mutex up when the holding thread ends.

#include <windows.h>

#include "base/handles.h"
#include "device/device_port.h"

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

    // The claim on the camera at `devicePath`, whose device carries the
    // mandatory integrity level `cameraIntegrity` (a SECURITY_MANDATORY_*_RID
    // value). S_OK when this instance now holds it (or already did), also
    // when its holder ended without giving it back; kCameraInUse when another
    // holds it; S_FALSE when no claim is honoured here (the object of that
    // name was not made for this camera, or none can be made), and the
    // caller goes on with the device handle alone.
    HRESULT Acquire(const char* devicePath, DWORD cameraIntegrity);
    void Release();
    bool Held() const { return m_held; }

private:
    UniqueHandle m_mutex;
    bool m_held = false;
};

// A driver that admits one handle at a time keeps refusing the open for a
// moment after the holder's thread has ended: the system closes a killed
// process's handles after its threads. The open is retried for this long.
inline constexpr DWORD kRefusedOpenRetryMs = 1000;

enum class CameraAccess {
    Opened,  // the port is open, and claimed unless no claim is honoured here
    InUse,   // another instance holds the camera, or the device refuses the open
    Absent,  // no camera (no device, no driver)
};

// Opens `port` on the camera's device and then takes `claim`. An open that
// the device refuses while the claim is held elsewhere is "in use" at once;
// while the claim is free (its holder has ended), the open is retried for
// kRefusedOpenRetryMs under the claim. On any answer but Opened the claim is
// not held and the caller discards the port, which closes it.
CameraAccess OpenAndClaim(DevicePort& port, const char* devicePath, CameraClaim& claim);

}  // namespace kv20x
