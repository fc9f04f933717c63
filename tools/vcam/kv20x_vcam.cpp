// kv20x-vcam: publishes the camera's media source as a camera for every
// application on Windows 11 (a virtual camera of the system's frame server),
// removes it again, or reports whether it is published. Run
// `kv20x-vcam --help` for the commands and exit codes.
//
// MFCreateVirtualCamera exists from Windows 11 on, in mfsensorgroup.dll; the
// tool loads it (and Media Foundation) by name, so it starts everywhere and says clearly where the
// function is missing (Windows 10, Wine) before it touches anything.
// Single-threaded.

#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mferror.h>

#include <wrl/client.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <string>

#include "base/handles.h"
#include "base/mf_definitions.h"
#include "settings/class_ids.h"
#include "settings/media_source_id.h"

using Microsoft::WRL::ComPtr;

namespace {

enum ExitCode {
    kOk = 0,
    kUsage = 2,
    kNotSupported = 3,
    kAccessDenied = 4,
    kRefused = 5,
    kNotPublished = 6,
    kSourceNotRegistered = 7,
};

void Usage()
{
    std::printf(
        "usage: kv20x-vcam register|remove|status\n"
        "  register   publish the camera's media source as \"Quorl T5R 3.1M Camera\" for every\n"
        "             application and user (Windows 11; administrator; kept across restarts)\n"
        "  remove     withdraw it again (administrator)\n"
        "  status     say whether this system has virtual cameras and whether the camera is\n"
        "             published (listed among the system's video capture devices)\n"
        "exit codes:\n"
        "  0  done (status: published)\n"
        "  2  bad command line\n"
        "  3  this system has no virtual cameras (before Windows 11, Wine): nothing was changed\n"
        "  4  access denied (administrator rights needed, or camera access is off in the privacy\n"
        "     settings): nothing was changed\n"
        "  5  the system refused the request (its error code is printed)\n"
        "  6  status: supported, but the camera is not published\n"
        "  7  register: the media source is not registered for all users (regsvr32 KV20X.ax as\n"
        "     administrator, 64-bit module on 64-bit Windows) or its file is missing: nothing was changed\n");
}

struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type module) noexcept { ::FreeLibrary(module); }
};
using UniqueModule = kv20x::UniqueResource<ModuleTraits>;

// A system library loaded by name. From the system folder only, so that no
// file beside the tool or in the current folder can stand in for it.
class SystemLibrary {
public:
    explicit SystemLibrary(const wchar_t* name)
        : m_module(::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)), m_error(::GetLastError())
    {
    }
    bool loaded() const { return m_module.valid(); }
    DWORD error() const { return m_error; }
    template <typename Function>
    Function Find(const char* name) const
    {
        return m_module ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(m_module.get(), name)))
                        : nullptr;
    }

private:
    UniqueModule m_module;
    DWORD m_error;
};

// The platform functions the tool uses, when this system has them. Nothing
// is imported from Media Foundation, so that the tool starts (and says what
// is missing) where it is absent, as on editions without the media features.
struct PlatformApi {
    SystemLibrary sensorGroup{kv20x::kVirtualCameraLibrary};
    SystemLibrary mfplat{L"mfplat.dll"};
    SystemLibrary mf{L"mf.dll"};
    kv20x::MFCreateVirtualCameraFunction createVirtualCamera =
        sensorGroup.Find<kv20x::MFCreateVirtualCameraFunction>(kv20x::kMFCreateVirtualCameraName);
    kv20x::MFIsVirtualCameraTypeSupportedFunction isSupported =  // may be missing
        sensorGroup.Find<kv20x::MFIsVirtualCameraTypeSupportedFunction>(kv20x::kMFIsVirtualCameraTypeSupportedName);
    decltype(&::MFStartup) startup = mfplat.Find<decltype(&::MFStartup)>("MFStartup");
    decltype(&::MFShutdown) shutdown = mfplat.Find<decltype(&::MFShutdown)>("MFShutdown");
    decltype(&::MFCreateAttributes) createAttributes = mfplat.Find<decltype(&::MFCreateAttributes)>("MFCreateAttributes");
    decltype(&::MFEnumDeviceSources) enumDeviceSources = mf.Find<decltype(&::MFEnumDeviceSources)>("MFEnumDeviceSources");

    // Why the virtual camera functions are unusable here, or empty.
    std::string Missing() const
    {
        if (!sensorGroup.loaded())
            return "mfsensorgroup.dll is not on this system (error " + std::to_string(sensorGroup.error()) + ")";
        if (!createVirtualCamera)
            return "mfsensorgroup.dll has no MFCreateVirtualCamera";
        if (!startup || !shutdown || !createAttributes || !enumDeviceSources)
            return "Media Foundation is missing (an edition without the media features)";
        return {};
    }
};

int NotSupported(const char* command, const std::string& why)
{
    std::fprintf(stderr,
                 "kv20x-vcam: %s: virtual cameras are not supported here: %s. They need Windows 11 or later; "
                 "nothing was changed.\n",
                 command, why.c_str());
    return kNotSupported;
}

int Refused(const char* command, const char* what, HRESULT hr)
{
    if (hr == E_ACCESSDENIED) {
        std::fprintf(stderr,
                     "kv20x-vcam: %s: %s was refused access (0x%08lx): run it as administrator, and check that "
                     "camera access is allowed in the privacy settings; nothing was changed.\n",
                     command, what, static_cast<unsigned long>(hr));
        return kAccessDenied;
    }
    std::fprintf(stderr, "kv20x-vcam: %s: the system refused %s (0x%08lx).\n", command, what,
                 static_cast<unsigned long>(hr));
    return kRefused;
}

std::wstring SourceIdText()
{
    wchar_t text[40] = {};
    ::StringFromGUID2(kv20x::kClsidMediaSource, text, static_cast<int>(std::size(text)));
    return text;
}

// The frame server is a native service: it creates the source from the
// machine-wide class registration of the system's own bitness. Empty when
// that registration names an existing file, else what is wrong.
std::string SourceRegistrationProblem()
{
    const std::wstring key = L"Software\\Classes\\CLSID\\" + SourceIdText() + L"\\InprocServer32";
    wchar_t path[MAX_PATH] = {};
    DWORD bytes = sizeof path;
    const LONG error = ::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY,
                                      nullptr, path, &bytes);
    if (error != ERROR_SUCCESS)
        return "the media source is not registered for all users (error " + std::to_string(error) + ")";
    if (::GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        char narrow[MAX_PATH * 3] = {};
        ::WideCharToMultiByte(CP_UTF8, 0, path, -1, narrow, sizeof narrow, nullptr, nullptr);
        return std::string("the registered module ") + narrow + " is missing";
    }
    return {};
}

// Opens the camera's virtual camera object. Until Start succeeds it only
// describes the camera, unless one with the same parameters is already
// published: then it stands for that one.
HRESULT OpenVirtualCamera(const PlatformApi& api, ComPtr<kv20x::IMFVirtualCamera>& camera)
{
    const std::wstring sourceId = SourceIdText();
    return api.createVirtualCamera(kv20x::MFVirtualCameraType_SoftwareCameraSource, kv20x::MFVirtualCameraLifetime_System,
                      kv20x::MFVirtualCameraAccess_AllUsers, kv20x::kFilterName, sourceId.c_str(), nullptr, 0,
                      camera.GetAddressOf());
}

int Register(const PlatformApi& api)
{
    const std::string problem = SourceRegistrationProblem();
    if (!problem.empty()) {
        std::fprintf(stderr,
                     "kv20x-vcam: register: %s. Register KV20X.ax with regsvr32 as administrator (the 64-bit "
                     "module on 64-bit Windows) first; nothing was changed.\n",
                     problem.c_str());
        return kSourceNotRegistered;
    }
    ComPtr<kv20x::IMFVirtualCamera> camera;
    HRESULT hr = OpenVirtualCamera(api, camera);
    if (FAILED(hr))
        return Refused("register", "creating the virtual camera", hr);
    hr = camera->Start(nullptr);
    if (FAILED(hr)) {
        camera->Shutdown();
        return Refused("register", "starting the virtual camera", hr);
    }
    wchar_t* link = nullptr;
    UINT32 length = 0;
    if (SUCCEEDED(camera->GetAllocatedString(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK, &link, &length))) {
        std::printf("registered \"%ls\" for all users: %ls\n", kv20x::kFilterName, link);
        ::CoTaskMemFree(link);
    } else {
        std::printf("registered \"%ls\" for all users\n", kv20x::kFilterName);
    }
    // A system lifetime keeps the camera published after this object goes.
    camera->Shutdown();
    return kOk;
}

int Remove(const PlatformApi& api)
{
    ComPtr<kv20x::IMFVirtualCamera> camera;
    HRESULT hr = OpenVirtualCamera(api, camera);
    if (FAILED(hr))
        return Refused("remove", "opening the virtual camera", hr);
    hr = camera->Remove();
    camera->Shutdown();
    if (FAILED(hr))
        return Refused("remove", "removing the virtual camera", hr);
    std::printf("removed \"%ls\"\n", kv20x::kFilterName);
    return kOk;
}

// The published camera is listed among the video capture devices under its
// name, to which the system may append a note that it is virtual.
int Status(const PlatformApi& api)
{
    std::printf("virtual cameras: supported\n");
    ComPtr<IMFAttributes> filter;
    HRESULT hr = api.createAttributes(filter.GetAddressOf(), 1);
    if (SUCCEEDED(hr))
        hr = filter->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
    IMFActivate** devices = nullptr;
    UINT32 count = 0;
    if (SUCCEEDED(hr))
        hr = api.enumDeviceSources(filter.Get(), &devices, &count);
    if (FAILED(hr))
        return Refused("status", "listing the video capture devices", hr);
    bool published = false;
    const size_t nameLength = std::wcslen(kv20x::kFilterName);
    for (UINT32 i = 0; i < count; ++i) {
        IMFActivate* device = devices[i];
        wchar_t* name = nullptr;
        UINT32 length = 0;
        if (!published && SUCCEEDED(device->GetAllocatedString(MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME, &name, &length))) {
            if (std::wcsncmp(name, kv20x::kFilterName, nameLength) == 0) {
                published = true;
                wchar_t* link = nullptr;
                if (FAILED(device->GetAllocatedString(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK, &link,
                                                      &length)))
                    link = nullptr;
                std::printf("\"%ls\": published as \"%ls\" (%ls)\n", kv20x::kFilterName, name,
                            link ? link : L"no symbolic link");
                ::CoTaskMemFree(link);
            }
            ::CoTaskMemFree(name);
        }
        device->Release();  // the array holds one reference to each
    }
    ::CoTaskMemFree(devices);
    if (!published) {
        std::printf("\"%ls\": not published\n", kv20x::kFilterName);
        return kNotPublished;
    }
    return kOk;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        Usage();
        return kOk;
    }
    const std::string command = argc == 2 ? argv[1] : "";
    if (command != "register" && command != "remove" && command != "status") {
        std::fprintf(stderr, "kv20x-vcam: expected one command: register, remove or status (--help lists them)\n");
        return kUsage;
    }

    const PlatformApi api;
    const std::string missing = api.Missing();
    if (!missing.empty())
        return NotSupported(command.c_str(), missing);
    if (api.isSupported) {
        BOOL supported = FALSE;
        const HRESULT hr = api.isSupported(kv20x::MFVirtualCameraType_SoftwareCameraSource, &supported);
        if (FAILED(hr))
            return Refused(command.c_str(), "asking whether software cameras are supported", hr);
        if (!supported)
            return NotSupported(command.c_str(), "the system does not support software camera sources");
    }

    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        std::fprintf(stderr, "kv20x-vcam: COM did not start\n");
        return kRefused;
    }
    int status = kRefused;
    const HRESULT hr = api.startup(MF_VERSION, MFSTARTUP_NOSOCKET);
    if (FAILED(hr)) {
        std::fprintf(stderr, "kv20x-vcam: Media Foundation did not start (0x%08lx)\n", static_cast<unsigned long>(hr));
    } else {
        if (command == "register")
            status = Register(api);
        else if (command == "remove")
            status = Remove(api);
        else
            status = Status(api);
        api.shutdown();
    }
    ::CoUninitialize();
    return status;
}
