#include "device/camera_claim.h"

#include <sddl.h>

#include <string>

namespace kv20x {

namespace {

// "Global\KV20X camera " and the device path, its backslashes (which a name
// may not hold past the namespace) turned into underscores.
std::wstring ClaimName(const char* devicePath)
{
    std::wstring name = L"Global\\KV20X camera ";
    for (const char* c = devicePath; *c; ++c)
        name += *c == '\\' ? L'_' : static_cast<wchar_t>(static_cast<unsigned char>(*c));
    return name;
}

// Anyone may wait for the claim and give it back: the applications of
// every user, and of low integrity (some browsers capture from there).
constexpr wchar_t kClaimSecurity[] = L"D:(A;;0x00100001;;;WD)S:(ML;;NW;;;LW)";

}  // namespace

HRESULT CameraClaim::Acquire(const char* devicePath)
{
    if (m_held)
        return S_OK;
    const std::wstring name = ClaimName(devicePath);
    if (!m_mutex) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
        if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(kClaimSecurity, SDDL_REVISION_1, &descriptor,
                                                                   nullptr))
            attributes.lpSecurityDescriptor = descriptor;
        m_mutex.reset(::CreateMutexW(&attributes, FALSE, name.c_str()));
        if (!m_mutex)  // made by someone who left us no right to create: open it
            m_mutex.reset(::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str()));
        const DWORD error = ::GetLastError();
        if (descriptor)
            ::LocalFree(descriptor);
        if (!m_mutex)
            return error == ERROR_ACCESS_DENIED ? kCameraInUse : HRESULT_FROM_WIN32(error);
    }
    switch (::WaitForSingleObject(m_mutex.get(), 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // its holder ended without giving it back
        m_held = true;
        return S_OK;
    case WAIT_TIMEOUT:
        return kCameraInUse;
    default:
        return HRESULT_FROM_WIN32(::GetLastError());
    }
}

void CameraClaim::Release()
{
    if (m_held)
        ::ReleaseMutex(m_mutex.get());
    m_held = false;
    m_mutex.reset();
}

}  // namespace kv20x
