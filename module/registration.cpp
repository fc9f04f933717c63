#include "module/registration.h"

#include <cstdio>
#include <cwchar>

#include <wrl/client.h>

#include "framework/handles.h"
#include "framework/platform.h"
#include "module/factory_table.h"

namespace kv20x {

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kMaxPath = MAX_PATH;  // 260
constexpr HRESULT kFileNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

HRESULT Win32Result(LONG error)
{
    return HRESULT_FROM_WIN32(static_cast<unsigned long>(error));
}

// "CLSID\{...}" for a class id.
bool ClassKeyPath(const CLSID& clsid, char (&path)[64])
{
    wchar_t text[39];
    if (::StringFromGUID2(clsid, text, 39) == 0)
        return false;
    return std::snprintf(path, sizeof path, "CLSID\\%ls", text) > 0;
}

HRESULT SetStringValue(HKEY key, const wchar_t* name, const wchar_t* value)
{
    const DWORD bytes = static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t));
    return Win32Result(::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes));
}

// CLSID\{clsid} = name, InprocServer32 = the module's path, ThreadingModel Both.
HRESULT RegisterComServer(const FactoryTemplateEntry& entry, const wchar_t* modulePath)
{
    char path[64];
    if (!ClassKeyPath(*entry.clsid, path))
        return E_FAIL;
    UniqueHKey classKey;
    LONG error = ::RegCreateKeyA(HKEY_CLASSES_ROOT, path, classKey.put());
    if (error != ERROR_SUCCESS)
        return Win32Result(error);
    HRESULT hr = SetStringValue(classKey.get(), nullptr, entry.name);
    if (FAILED(hr))
        return hr;
    UniqueHKey serverKey;
    error = ::RegCreateKeyA(classKey.get(), "InprocServer32", serverKey.put());
    if (error != ERROR_SUCCESS)
        return Win32Result(error);
    hr = SetStringValue(serverKey.get(), nullptr, modulePath);
    if (FAILED(hr))
        return hr;
    return SetStringValue(serverKey.get(), L"ThreadingModel", L"Both");
}

HRESULT Tolerant(HRESULT hr)
{
    return hr == kFileNotFound ? S_OK : hr;
}

HRESULT MapperEntry(IFilterMapper2* mapper, const FilterSetupRecord& setup, bool registering)
{
    HRESULT hr = Tolerant(mapper->UnregisterFilter(nullptr, nullptr, *setup.clsid));
    if (FAILED(hr) || !registering)
        return hr;
    REGFILTER2 description{};
    description.dwVersion = 1;
    description.dwMerit = setup.merit;
    description.cPins = setup.pinCount;
    description.rgPins = setup.pins;
    return Tolerant(mapper->RegisterFilter(*setup.clsid, setup.name, nullptr, nullptr, nullptr, &description));
}

HRESULT MapperEntry(IFilterMapper* mapper, const FilterSetupRecord& setup, bool registering)
{
    HRESULT hr = Tolerant(mapper->UnregisterFilter(*setup.clsid));
    if (FAILED(hr) || !registering)
        return hr;
    hr = Tolerant(mapper->RegisterFilter(*setup.clsid, setup.name, setup.merit));
    for (UINT p = 0; SUCCEEDED(hr) && p < setup.pinCount; ++p) {
        const REGFILTERPINS& pin = setup.pins[p];
        hr = Tolerant(mapper->RegisterPin(*setup.clsid, pin.strName, pin.bRendered, pin.bOutput, pin.bZero, pin.bMany,
                                          *pin.clsConnectsToFilter, pin.strConnectsToPin));
        for (UINT t = 0; SUCCEEDED(hr) && t < pin.nMediaTypes; ++t)
            hr = Tolerant(mapper->RegisterPinType(*setup.clsid, pin.strName, *pin.lpMediaType[t].clsMajorType,
                                                  *pin.lpMediaType[t].clsMinorType));
    }
    return hr;
}

template <typename Mapper>
HRESULT AllMapperEntries(Mapper* mapper, bool registering)
{
    for (int i = 0; i < g_factoryTemplateCount; ++i) {
        const FactoryTemplateEntry& entry = g_factoryTemplates[i];
        if (!entry.setup)
            continue;
        const HRESULT hr = MapperEntry(mapper, *entry.setup, registering);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT RemoveSubtree(HKEY parent, const char* name)
{
    UniqueHKey key;
    if (::RegOpenKeyExA(parent, name, 0, MAXIMUM_ALLOWED, key.put()) != ERROR_SUCCESS)
        return S_OK;  // nothing there to remove
    HRESULT result = S_OK;
    // Removed subkeys shift the others down: keep taking the first one that
    // has not refused, and give up on those that do.
    DWORD skipped = 0;
    for (;;) {
        char subkey[kMaxPath];
        DWORD length = kMaxPath;
        if (::RegEnumKeyExA(key.get(), skipped, subkey, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        const HRESULT hr = RemoveSubtree(key.get(), subkey);
        if (FAILED(hr)) {
            result = hr;
            ++skipped;
        }
    }
    key.reset();
    const LONG error = ::RegDeleteKeyA(parent, name);
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND && SUCCEEDED(result))
        result = Win32Result(error);
    return result;
}

}  // namespace

HRESULT RemoveKeyTree(HKEY root, const char* path)
{
    return RemoveSubtree(root, path);
}

HRESULT RegisterAllServers(HMODULE module, bool registering)
{
    char fileName[kMaxPath];
    const DWORD length = ::GetModuleFileNameA(module, fileName, kMaxPath);
    if (length == 0 || length >= kMaxPath)
        return length == 0 ? Win32Result(static_cast<LONG>(::GetLastError())) : Win32Result(ERROR_INSUFFICIENT_BUFFER);
    wchar_t modulePath[kMaxPath];
    if (::MultiByteToWideChar(CP_ACP, 0, fileName, -1, modulePath, kMaxPath) == 0)
        return Win32Result(static_cast<LONG>(::GetLastError()));

    if (registering) {
        for (int i = 0; i < g_factoryTemplateCount; ++i) {
            const HRESULT hr = RegisterComServer(g_factoryTemplates[i], modulePath);
            if (FAILED(hr))
                return hr;
        }
    }

    const HRESULT comReady = ::CoInitialize(nullptr);
    HRESULT hr;
    {
        ComPtr<IFilterMapper2> mapper2;
        ComPtr<IFilterMapper> mapper;
        hr = ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                reinterpret_cast<void**>(mapper2.GetAddressOf()));
        if (FAILED(hr))
            hr = ::CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                                    reinterpret_cast<void**>(mapper.GetAddressOf()));
        if (SUCCEEDED(hr))
            hr = mapper2 ? AllMapperEntries(mapper2.Get(), registering) : AllMapperEntries(mapper.Get(), registering);
    }
    ::CoFreeUnusedLibraries();
    if (SUCCEEDED(comReady))
        ::CoUninitialize();
    if (FAILED(hr) || registering)
        return hr;

    HRESULT removed = S_OK;
    for (int i = 0; i < g_factoryTemplateCount; ++i) {
        char path[64];
        if (!ClassKeyPath(*g_factoryTemplates[i].clsid, path))
            continue;
        const HRESULT one = RemoveKeyTree(HKEY_CLASSES_ROOT, path);
        if (FAILED(one) && SUCCEEDED(removed))
            removed = one;
    }
    return removed;
}

HRESULT RegisterCaptureDevice(bool registering)
{
    const FactoryTemplateEntry& filter = g_factoryTemplates[0];
    ComPtr<IFilterMapper2> mapper;
    HRESULT hr = ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                    reinterpret_cast<void**>(mapper.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    if (registering)
        return mapper->RegisterFilter(*filter.clsid, filter.name, nullptr, &CLSID_VideoInputDeviceCategory,
                                      filter.name, &g_captureRegistration);
    // As for the default category: an entry that is not there is removed.
    return Tolerant(mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, filter.name, *filter.clsid));
}

}  // namespace kv20x
