#include "module/registration.h"

#include <cwchar>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include <wrl/client.h>

#include "base/handles.h"
#include "device/device_link.h"
#include "framework/platform.h"
#include "module/factory_table.h"
#include "module/registry_tree.h"

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
bool ClassKeyPath(const CLSID& clsid, wchar_t (&path)[64])
{
    constexpr wchar_t kPrefix[] = L"CLSID\\";
    constexpr int kPrefixChars = static_cast<int>(std::size(kPrefix)) - 1;
    std::wmemcpy(path, kPrefix, kPrefixChars);
    return ::StringFromGUID2(clsid, path + kPrefixChars, 64 - kPrefixChars) != 0;
}

// The first failure of several steps that all run.
void KeepFirstFailure(HRESULT& first, HRESULT hr)
{
    if (FAILED(hr) && SUCCEEDED(first))
        first = hr;
}

HRESULT SetStringValue(HKEY key, const wchar_t* name, const wchar_t* value)
{
    const DWORD bytes = static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t));
    return Win32Result(::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes));
}

// CLSID\{clsid} = name, InprocServer32 = the module's path, ThreadingModel Both.
HRESULT RegisterComServer(const FactoryTemplateEntry& entry, const wchar_t* modulePath)
{
    wchar_t path[64];
    if (!ClassKeyPath(*entry.clsid, path))
        return E_FAIL;
    UniqueHKey classKey;
    LONG error = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, path, 0, nullptr, 0, KEY_WRITE, nullptr, classKey.put(), nullptr);
    if (error != ERROR_SUCCESS)
        return Win32Result(error);
    HRESULT hr = SetStringValue(classKey.get(), nullptr, entry.name);
    if (FAILED(hr))
        return hr;
    UniqueHKey serverKey;
    error = ::RegCreateKeyExW(classKey.get(), L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, serverKey.put(),
                              nullptr);
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

// Registering stops at the first failure; unregistering tries every entry
// and reports the first failure.
template <typename Mapper>
HRESULT AllMapperEntries(Mapper* mapper, bool registering)
{
    HRESULT result = S_OK;
    for (int i = 0; i < g_factoryTemplateCount; ++i) {
        const FactoryTemplateEntry& entry = g_factoryTemplates[i];
        if (!entry.setup)
            continue;
        KeepFirstFailure(result, MapperEntry(mapper, *entry.setup, registering));
        if (FAILED(result) && registering)
            break;
    }
    return result;
}

// "CLSID\{category}\Instance\<entry>": where the mapper keeps a filter's
// entry in a category.
bool CategoryEntryPath(const CLSID& category, const wchar_t* entry, std::wstring& path)
{
    wchar_t id[40];
    if (!::StringFromGUID2(category, id, 40))
        return false;
    path = L"CLSID\\";
    path += id;
    path += L"\\Instance\\";
    path += entry;
    return true;
}

// The device entry's "DevicePath": the path the module opens, as a camera's
// own entry carries it. Some applications and libraries tell cameras apart by
// it, or skip entries without one. The mapper has just made the entry, named
// after the friendly name; it goes with the entry when that is unregistered.
HRESULT SetDevicePath(const wchar_t* instanceName)
{
    std::wstring path;
    if (!CategoryEntryPath(CLSID_VideoInputDeviceCategory, instanceName, path))
        return E_FAIL;
    std::wstring devicePath;
    for (const char* c = kDevicePath; *c; ++c)
        devicePath += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    UniqueHKey entry;
    const LONG error = ::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_SET_VALUE, entry.put());
    if (error != ERROR_SUCCESS)
        return Win32Result(error);
    return SetStringValue(entry.get(), L"DevicePath", devicePath.c_str());
}

// The category's "Instance" key, when the mapper made it for this camera's
// entry alone (on a machine without other cameras): once that entry is gone
// it is left empty, and it goes too. A key holding anything stays.
void RemoveEmptyInstanceKey()
{
    std::wstring path = L"CLSID\\";
    wchar_t category[40];
    if (!::StringFromGUID2(CLSID_VideoInputDeviceCategory, category, 40))
        return;
    path += category;
    path += L"\\Instance";
    UniqueHKey key;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return;
    DWORD subkeys = 1, values = 1;
    if (::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                           nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        subkeys != 0 || values != 0)
        return;
    key.reset();
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
}

}  // namespace

ComForThisCall::ComForThisCall() : m_initialised(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}

ComForThisCall::~ComForThisCall()
{
    // The mapper's objects are released by now; the libraries they came
    // from may go before this thread leaves COM.
    if (Ready())
        ::CoFreeUnusedLibraries();
    if (SUCCEEDED(m_initialised))
        ::CoUninitialize();  // S_OK and S_FALSE alike are counted
}

bool ComForThisCall::Ready() const
{
    // RPC_E_CHANGED_MODE: the thread is in the multithreaded apartment,
    // where the filter mapper works as well.
    return SUCCEEDED(m_initialised) || m_initialised == RPC_E_CHANGED_MODE;
}

HRESULT ComForThisCall::Failure() const
{
    return FAILED(m_initialised) ? m_initialised : E_UNEXPECTED;
}

HRESULT RegisterAllServers(HMODULE module, bool registering)
{
    HRESULT result = S_OK;
    if (registering) {
        wchar_t modulePath[kMaxPath];
        const DWORD length = ::GetModuleFileNameW(module, modulePath, kMaxPath);
        if (length == 0)
            return Win32Result(static_cast<LONG>(::GetLastError()));
        if (length >= kMaxPath)
            return Win32Result(ERROR_INSUFFICIENT_BUFFER);
        for (int i = 0; i < g_factoryTemplateCount; ++i) {
            const HRESULT hr = RegisterComServer(g_factoryTemplates[i], modulePath);
            if (FAILED(hr))
                return hr;
        }
    }

    {
        ComPtr<IFilterMapper2> mapper2;
        ComPtr<IFilterMapper> mapper;
        HRESULT hr = ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                        reinterpret_cast<void**>(mapper2.GetAddressOf()));
        if (FAILED(hr))
            hr = ::CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                                    reinterpret_cast<void**>(mapper.GetAddressOf()));
        if (SUCCEEDED(hr))
            hr = mapper2 ? AllMapperEntries(mapper2.Get(), registering) : AllMapperEntries(mapper.Get(), registering);
        KeepFirstFailure(result, hr);
    }
    if (registering)
        return result;

    // Unregistering goes on past a failure: whatever can be removed is.
    for (int i = 0; i < g_factoryTemplateCount; ++i) {
        wchar_t path[64];
        if (ClassKeyPath(*g_factoryTemplates[i].clsid, path))
            KeepFirstFailure(result, RemoveKeyTree(HKEY_CLASSES_ROOT, path));
        else
            KeepFirstFailure(result, E_FAIL);
    }
    return result;
}

HRESULT RegisterCaptureDevice(bool registering)
{
    const FactoryTemplateEntry& filter = g_factoryTemplates[0];
    ComPtr<IFilterMapper2> mapper;
    HRESULT hr = ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                    reinterpret_cast<void**>(mapper.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    if (registering) {
        hr = mapper->RegisterFilter(*filter.clsid, filter.name, nullptr, &CLSID_VideoInputDeviceCategory,
                                    filter.name, &g_captureRegistration);
        return SUCCEEDED(hr) ? SetDevicePath(filter.name) : hr;
    }
    // As for the default category: an entry that is not there is removed.
    hr = Tolerant(mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, filter.name, *filter.clsid));
    if (SUCCEEDED(hr))
        RemoveEmptyInstanceKey();
    return hr;
}

HRESULT SaveRegisteredKeys(SavedKeys& keys)
try {
    std::vector<std::wstring> paths;
    for (int i = 0; i < g_factoryTemplateCount; ++i) {
        const FactoryTemplateEntry& entry = g_factoryTemplates[i];
        wchar_t id[40];
        if (!::StringFromGUID2(*entry.clsid, id, 40))
            return E_FAIL;
        paths.push_back(std::wstring(L"CLSID\\") + id);
        if (!entry.setup)
            continue;
        // The default category's entry (IFilterMapper2), or the older
        // mapper's "Filter" key.
        paths.emplace_back();
        if (!CategoryEntryPath(CLSID_LegacyAmFilterCategory, id, paths.back()))
            return E_FAIL;
        paths.push_back(std::wstring(L"Filter\\") + id);
    }
    paths.emplace_back();
    if (!CategoryEntryPath(CLSID_VideoInputDeviceCategory, g_factoryTemplates[0].name, paths.back()))
        return E_FAIL;
    for (const std::wstring& path : paths) {
        const HRESULT hr = keys.Save(HKEY_CLASSES_ROOT, path);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
} catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
}

}  // namespace kv20x
