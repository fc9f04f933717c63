#include "device/camera_claim.h"

#include <sddl.h>

#include <string>

#include "device/integrity_label.h"

namespace kv20x {

namespace {

// Waiting for the claim, giving it back and reading its label.
constexpr DWORD kClaimRights = SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL;
// Below the label's level nothing may be done with the claim, not even a
// wait (which would hold it): SYNCHRONIZE is an execute right of a mutex.
constexpr DWORD kClaimLabelPolicy =
    SYSTEM_MANDATORY_LABEL_NO_WRITE_UP | SYSTEM_MANDATORY_LABEL_NO_READ_UP | SYSTEM_MANDATORY_LABEL_NO_EXECUTE_UP;
constexpr DWORD kRefusedOpenStepMs = 50;

// "Global\KV20X camera " and the device path, its backslashes (which a name
// may not hold past the namespace) turned into underscores.
std::wstring ClaimName(const char* devicePath)
{
    std::wstring name = L"Global\\KV20X camera ";
    for (const char* c = devicePath; *c; ++c)
        name += *c == '\\' ? L'_' : static_cast<wchar_t>(static_cast<unsigned char>(*c));
    return name;
}

// Everyone and every app container (S-1-15-2-1, which "everyone" does not
// cover) may take the claim and give it back, from the camera's integrity
// level up. The SID is spelled out: older systems know no alias for it.
std::wstring ClaimSecurity(DWORD cameraIntegrity)
{
    return L"D:(A;;0x00120001;;;WD)(A;;0x00120001;;;S-1-15-2-1)S:(ML;;NWNRNX;;;S-1-16-" +
           std::to_wstring(cameraIntegrity) + L")";
}

// Whether an object of the claim's name, made by someone else, is a claim
// this instance honours: one that nothing below the camera's level can have
// taken, so that its holder could open the camera.
bool MadeForCamera(HANDLE mutex, DWORD cameraIntegrity)
{
    IntegrityLabel label;
    return ReadIntegrityLabel(mutex, &label) && label.level >= cameraIntegrity &&
           (label.policy & kClaimLabelPolicy) == kClaimLabelPolicy;
}

}  // namespace

HRESULT CameraClaim::Acquire(const char* devicePath, DWORD cameraIntegrity)
{
    if (m_held)
        return S_OK;
    m_mutex.reset();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(ClaimSecurity(cameraIntegrity).c_str(),
                                                                SDDL_REVISION_1, &descriptor, nullptr))
        return S_FALSE;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    // Opens the object when it exists, with the claim's rights only, so that
    // an access list that gives more to no one is no obstacle.
    m_mutex.reset(::CreateMutexExW(&attributes, ClaimName(devicePath).c_str(), 0, kClaimRights));
    const bool madeElsewhere = ::GetLastError() == ERROR_ALREADY_EXISTS;
    ::LocalFree(descriptor);
    // Closed to this process, an object of another kind, or (in an app
    // container) no right to make one in the global namespace.
    if (!m_mutex)
        return S_FALSE;
    if (madeElsewhere && !MadeForCamera(m_mutex.get(), cameraIntegrity)) {
        m_mutex.reset();
        return S_FALSE;
    }
    switch (::WaitForSingleObject(m_mutex.get(), 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // its holder ended without giving it back
        m_held = true;
        return S_OK;
    case WAIT_TIMEOUT:
        m_mutex.reset();
        return kCameraInUse;
    default:
        m_mutex.reset();
        return S_FALSE;
    }
}

void CameraClaim::Release()
{
    if (m_held)
        ::ReleaseMutex(m_mutex.get());
    m_held = false;
    m_mutex.reset();
}

CameraAccess OpenAndClaim(DevicePort& port, const char* devicePath, CameraClaim& claim)
{
    switch (port.Open(devicePath)) {
    case DevicePort::OpenResult::Absent:
        return CameraAccess::Absent;
    case DevicePort::OpenResult::Opened:
        return claim.Acquire(devicePath, port.IntegrityLevel()) == kCameraInUse ? CameraAccess::InUse
                                                                                : CameraAccess::Opened;
    case DevicePort::OpenResult::Refused:
        break;
    }
    // The device is there and refuses the open. A live holder of the claim
    // has it: in use, at once. A free claim means its holder has ended
    // while its handle lingers, so the open is tried again under the claim.
    // (The device's own level cannot be read before it opens: medium, the
    // system's default for devices.)
    if (claim.Acquire(devicePath, DevicePort::kMediumIntegrity) != S_OK)
        return CameraAccess::InUse;
    const DWORD start = ::GetTickCount();
    for (;;) {
        ::Sleep(kRefusedOpenStepMs);
        switch (port.Open(devicePath)) {
        case DevicePort::OpenResult::Opened:
            return CameraAccess::Opened;
        case DevicePort::OpenResult::Absent:
            claim.Release();
            return CameraAccess::Absent;
        case DevicePort::OpenResult::Refused:
            break;
        }
        if (::GetTickCount() - start >= kRefusedOpenRetryMs) {
            claim.Release();
            return CameraAccess::InUse;
        }
    }
}

}  // namespace kv20x
