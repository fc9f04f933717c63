// The built module as hosts see it: registration with regsvr32, the device
// enumerator, the class objects and the unload test.

#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>
#include <sddl.h>

#include <wrl/client.h>

#include <algorithm>
#include <string>
#include <vector>

#include "settings/class_ids.h"
#include "base/module_state.h"
#include "module/registration.h"

namespace kv20x {
namespace {

using Microsoft::WRL::ComPtr;

constexpr char kFilterKey[] = "CLSID\\{99D56D64-7A37-4F84-BF61-98445E175985}";
constexpr char kSizePageKey[] = "CLSID\\{CFBE4593-1111-455B-ABD7-A2A17FA00CC8}";
constexpr char kSetupPageKey[] = "CLSID\\{87869342-3548-4FDC-BA44-A0A4841CDF01}";
// The video input device entry: the mapper names it after the friendly name.
constexpr char kDeviceEntry[] = "CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\Quorl T5R 3.1M Camera";
constexpr char kLegacyFilterInstance[] =
    "CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\{99D56D64-7A37-4F84-BF61-98445E175985}";

// KV20X.ax sits in the build tree above the test programs.
std::string ModulePath()
{
    char path[MAX_PATH];
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path);
    directory.resize(directory.find_last_of('\\'));
    directory.resize(directory.find_last_of('\\'));
    return directory + "\\KV20X.ax";
}

DWORD RunProcess(const std::string& commandLine)
{
    STARTUPINFOA startup{sizeof startup};
    PROCESS_INFORMATION process{};
    std::string command = commandLine;
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return ~0u;
    ::WaitForSingleObject(process.hProcess, 60000);
    DWORD code = ~0u;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return code;
}

std::string ReadString(HKEY root, const char* key, const char* name)
{
    char value[MAX_PATH] = {};
    DWORD size = sizeof value;
    if (::RegGetValueA(root, key, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return "<none>";
    return value;
}

bool KeyExists(HKEY root, const char* key)
{
    HKEY opened = nullptr;
    if (::RegOpenKeyExA(root, key, 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(opened);
    return true;
}

// What a locked key denies everyone.
enum class Denied {
    Reading,  // query, enumeration and delete
    Writing,  // setting values, making subkeys and delete
};

// A key whose security descriptor denies reading or writing it (made when it
// is not there); the denial is lifted again when it goes, so that the test
// can clean up.
class LockedKey {
public:
    LockedKey(HKEY root, const wchar_t* path, Denied denied = Denied::Reading) : m_root(root), m_path(path)
    {
        HKEY key = nullptr;
        ::RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        if (key) {
            // Everyone: denied the rights above; everything else allowed.
            m_locked = SetSecurity(key, denied == Denied::Reading ? L"D:(D;;0x10009;;;WD)(A;;KA;;;WD)"
                                                                  : L"D:(D;;0x10006;;;WD)(A;;KA;;;WD)");
            ::RegCloseKey(key);
        }
    }
    ~LockedKey()
    {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(m_root, m_path.c_str(), 0, WRITE_DAC, &key) == ERROR_SUCCESS) {
            SetSecurity(key, L"D:(A;;KA;;;WD)");
            ::RegCloseKey(key);
        }
    }
    bool Locked() const { return m_locked; }

private:
    static bool SetSecurity(HKEY key, const wchar_t* sddl)
    {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
            return false;
        const bool set = ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
        ::LocalFree(descriptor);
        return set;
    }
    HKEY m_root;
    std::wstring m_path;
    bool m_locked = false;
};

bool KeyExistsW(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    const LONG error = ::RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, &key);
    if (key)
        ::RegCloseKey(key);
    return error != ERROR_FILE_NOT_FOUND;
}

void CreateKeyW(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (key)
        ::RegCloseKey(key);
}

// The video input devices by friendly name, and the one of ours bound.
ComPtr<IBaseFilter> FindCamera(bool* listed, std::wstring* devicePath = nullptr)
{
    *listed = false;
    ComPtr<ICreateDevEnum> devices;
    if (FAILED(::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                  reinterpret_cast<void**>(devices.GetAddressOf()))))
        return nullptr;
    ComPtr<IEnumMoniker> monikers;
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) != S_OK)
        return nullptr;
    IMoniker* moniker = nullptr;
    ComPtr<IBaseFilter> found;
    while (monikers->Next(1, &moniker, nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(bag.GetAddressOf()));
        VARIANT name;
        ::VariantInit(&name);
        if (bag && SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR &&
            std::wstring(name.bstrVal) == kFilterName) {
            *listed = true;
            VARIANT path;
            ::VariantInit(&path);
            if (devicePath && SUCCEEDED(bag->Read(L"DevicePath", &path, nullptr)) && path.vt == VT_BSTR)
                *devicePath = path.bstrVal;
            ::VariantClear(&path);
            moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(found.GetAddressOf()));
        }
        ::VariantClear(&name);
        moniker->Release();
    }
    return found;
}

class Module : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ::CoInitialize(nullptr); }
    static void TearDownTestSuite() { ::CoUninitialize(); }

    std::string Regsvr32(const char* options) { return "regsvr32.exe " + std::string(options) + " \"" + ModulePath() + "\""; }
};

TEST_F(Module, RegistersAsAFilterAndAVideoInputDeviceAndUnregistersCleanly)
{
    RunProcess(Regsvr32("/s /u"));
    ::RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\ORBILUX \\KV20X\\dshow", "Gamma", REG_DWORD, "\x50\0\0\0", 4);

    ASSERT_EQ(RunProcess(Regsvr32("/s")), 0u);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kFilterKey, nullptr), "Quorl T5R 3.1M Camera");
    const std::string server = std::string(kFilterKey) + "\\InprocServer32";
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, server.c_str(), nullptr), ModulePath());
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, server.c_str(), "ThreadingModel"), "Both");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kSizePageKey, nullptr), "QLT5R SizePage");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kSetupPageKey, nullptr), "QLT5R SetupPage");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, (std::string(kSetupPageKey) + "\\InprocServer32").c_str(), "ThreadingModel"),
              "Both");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kLegacyFilterInstance, "FriendlyName"), "Quorl T5R 3.1M Camera");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kDeviceEntry, "DevicePath"), "\\\\.\\vx41k-0")
        << "the device entry names the device, as a camera's does";

    bool listed = false;
    {
        std::wstring devicePath;
        ComPtr<IBaseFilter> camera = FindCamera(&listed, &devicePath);
        EXPECT_TRUE(listed) << "the device enumerator lists the camera";
        EXPECT_EQ(devicePath, L"\\\\.\\vx41k-0") << "with its device path in the property bag";
        ASSERT_TRUE(camera) << "and binding its moniker creates the filter";
        CLSID clsid;
        camera->GetClassID(&clsid);
        EXPECT_EQ(clsid, kClsidCaptureFilter);
        ComPtr<IPin> out;
        EXPECT_EQ(camera->FindPin(L"1", &out), S_OK);
        PIN_INFO info;
        out->QueryPinInfo(&info);
        EXPECT_STREQ(info.achName, L"Out");
        info.pFilter->Release();
    }
    ::CoFreeUnusedLibraries();

    ASSERT_EQ(RunProcess(Regsvr32("/s /u")), 0u);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kFilterKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kSizePageKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kSetupPageKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kLegacyFilterInstance));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kDeviceEntry));
    FindCamera(&listed);
    EXPECT_FALSE(listed);
    DWORD gamma = 0, size = sizeof gamma;
    EXPECT_EQ(::RegGetValueA(HKEY_CURRENT_USER, "Software\\ORBILUX \\KV20X\\dshow", "Gamma", RRF_RT_REG_DWORD, nullptr,
                             &gamma, &size),
              ERROR_SUCCESS)
        << "the user's settings stay";
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ORBILUX ");

    // Unregistering what is not there is no error.
    EXPECT_EQ(RunProcess(Regsvr32("/s /u")), 0u);
}

TEST_F(Module, AnUnregisterThatFailsHalfWayStillRemovesTheDeviceEntry)
{
    HMODULE module = ::LoadLibraryA(ModulePath().c_str());
    ASSERT_NE(module, nullptr);
    using Entry = HRESULT(STDAPICALLTYPE*)();
    const auto registerServer = reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(module, "DllRegisterServer")));
    const auto unregisterServer =
        reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(module, "DllUnregisterServer")));
    ASSERT_EQ(registerServer(), S_OK);
    bool listed = false;
    FindCamera(&listed);
    ASSERT_TRUE(listed);

    // One of the COM keys cannot be removed whole.
    const std::wstring stuck = L"CLSID\\{87869342-3548-4FDC-BA44-A0A4841CDF01}\\Stuck";
    CreateKeyW(HKEY_CLASSES_ROOT, stuck + L"\\inner");
    {
        LockedKey locked(HKEY_CLASSES_ROOT, stuck.c_str());
        ASSERT_TRUE(locked.Locked());
        EXPECT_TRUE(FAILED(unregisterServer())) << "the failure is reported";
    }
    FindCamera(&listed);
    EXPECT_FALSE(listed) << "the camera is no longer offered";
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kFilterKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kSizePageKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kLegacyFilterInstance));

    EXPECT_EQ(unregisterServer(), S_OK) << "once nothing refuses, the rest goes too";
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kSetupPageKey));
    ::FreeLibrary(module);
}

// Every key a registration writes, in this process's view, as text: each
// key's path, then its values (name, type, bytes) in name order, then its
// subkeys; an absent key is marked so. Equal dumps: the keys are as they were.
void DumpKey(const std::wstring& path, std::wstring& out)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        out += path + L" (absent)\n";
        return;
    }
    out += path + L"\n";
    std::vector<std::wstring> values;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD chars = 256;
        BYTE data[8192];
        DWORD bytes = sizeof data;
        DWORD type = 0;
        if (::RegEnumValueW(key, i, name, &chars, nullptr, &type, data, &bytes) != ERROR_SUCCESS)
            break;
        std::wstring line = L"  " + std::wstring(name, chars) + L" (" + std::to_wstring(type) + L") ";
        for (DWORD b = 0; b < bytes; ++b) {
            line += L"0123456789abcdef"[data[b] >> 4];
            line += L"0123456789abcdef"[data[b] & 15];
        }
        values.push_back(line + L"\n");
    }
    std::sort(values.begin(), values.end());
    for (const std::wstring& line : values)
        out += line;
    std::vector<std::wstring> subkeys;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD chars = 256;
        if (::RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.emplace_back(name, chars);
    }
    ::RegCloseKey(key);
    std::sort(subkeys.begin(), subkeys.end());
    for (const std::wstring& subkey : subkeys)
        DumpKey(path + L"\\" + subkey, out);
}

std::wstring RegistrationDump()
{
    std::wstring out;
    for (const wchar_t* path : {L"CLSID\\{99D56D64-7A37-4F84-BF61-98445E175985}",
                                L"CLSID\\{CFBE4593-1111-455B-ABD7-A2A17FA00CC8}",
                                L"CLSID\\{87869342-3548-4FDC-BA44-A0A4841CDF01}",
                                L"CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\"
                                L"{99D56D64-7A37-4F84-BF61-98445E175985}",
                                L"Filter\\{99D56D64-7A37-4F84-BF61-98445E175985}",
                                L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance"})
        DumpKey(path, out);
    return out;
}

// A module's registration entry points, loaded from a file.
struct LoadedModule {
    explicit LoadedModule(const std::string& path) : handle(::LoadLibraryA(path.c_str()))
    {
        using Entry = HRESULT(STDAPICALLTYPE*)();
        if (!handle)
            return;
        registerServer = reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(handle, "DllRegisterServer")));
        unregisterServer =
            reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(handle, "DllUnregisterServer")));
    }
    ~LoadedModule()
    {
        if (handle)
            ::FreeLibrary(handle);
    }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;
    HMODULE handle;
    HRESULT(STDAPICALLTYPE* registerServer)() = nullptr;
    HRESULT(STDAPICALLTYPE* unregisterServer)() = nullptr;
};

// A registration that fails at a later step leaves what the registry held
// before: another version's registration from another folder stays whole,
// and without one nothing is left.
TEST_F(Module, ARegistrationThatFailsHalfWayPutsBackWhatWasThere)
{
    char temp[MAX_PATH];
    ASSERT_NE(::GetTempPathA(MAX_PATH, temp), 0u);
    const std::string previousPath = std::string(temp) + "kv20x-previous-version.ax";
    ASSERT_TRUE(::CopyFileA(ModulePath().c_str(), previousPath.c_str(), FALSE));
    {
        LoadedModule previous(previousPath);
        LoadedModule current(ModulePath());
        ASSERT_TRUE(previous.registerServer && current.registerServer && current.unregisterServer);
        // The COM keys' step, and the last one. (The mapper's own entries
        // cannot be denied under Wine: it deletes a locked key and makes
        // it again.)
        struct Step {
            const char* what;
            const wchar_t* key;  // denied writing
        };
        const Step steps[] = {
            {"the last class", L"CLSID\\{87869342-3548-4FDC-BA44-A0A4841CDF01}"},
            {"the device entry", L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\Quorl T5R 3.1M Camera"},
        };
        const std::string server = std::string(kFilterKey) + "\\InprocServer32";
        for (const bool registeredBefore : {true, false}) {
            for (const Step& step : steps) {
                SCOPED_TRACE(testing::Message() << step.what << (registeredBefore ? ", over another version" : ""));
                current.unregisterServer();
                if (registeredBefore) {
                    ASSERT_EQ(previous.registerServer(), S_OK);
                }
                {
                    LockedKey locked(HKEY_CLASSES_ROOT, step.key, Denied::Writing);
                    ASSERT_TRUE(locked.Locked());
                    const std::wstring before = RegistrationDump();
                    EXPECT_TRUE(FAILED(current.registerServer())) << "the denied step fails the registration";
                    EXPECT_EQ(RegistrationDump(), before) << "every key is as it was";
                }
                if (registeredBefore) {
                    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, server.c_str(), nullptr), previousPath);
                    bool listed = false;
                    FindCamera(&listed);
                    EXPECT_TRUE(listed) << "the camera is still offered";
                }
                EXPECT_EQ(current.unregisterServer(), S_OK);
            }
        }
        EXPECT_EQ(current.registerServer(), S_OK) << "with nothing denied, the registration goes through";
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, server.c_str(), nullptr), ModulePath());
        EXPECT_EQ(current.unregisterServer(), S_OK);
    }
    ::CoFreeUnusedLibraries();
    ::DeleteFileA(previousPath.c_str());
}

enum class ThreadKind { NoCom, SingleThreaded, MultiThreaded };
struct EntryCall {
    HRESULT(STDAPICALLTYPE* entry)();
    ThreadKind kind;
    HRESULT result;
    bool comStillThere;  // the caller's own COM, as it was, afterwards
};

DWORD WINAPI CallEntryOnThisThread(LPVOID context)
{
    auto& c = *static_cast<EntryCall*>(context);
    if (c.kind != ThreadKind::NoCom)
        ::CoInitializeEx(nullptr, c.kind == ThreadKind::SingleThreaded ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
    c.result = c.entry();
    // The caller's apartment is left as it was: no COM stays no COM, and an
    // apartment is still this thread's.
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    const HRESULT apartment = ::CoGetApartmentType(&type, &qualifier);
    c.comStillThere = c.kind == ThreadKind::NoCom
                          ? apartment == CO_E_NOTINITIALIZED
                          : SUCCEEDED(apartment) && (type == APTTYPE_MTA) == (c.kind == ThreadKind::MultiThreaded);
    if (c.kind != ThreadKind::NoCom)
        ::CoUninitialize();
    return 0;
}

// An installer may call the entry points from a thread without COM, or in
// either kind of apartment: each does its whole work every time.
TEST_F(Module, RegistrationIsWholeFromThreadsOfEveryKind)
{
    HMODULE module = ::LoadLibraryA(ModulePath().c_str());
    ASSERT_NE(module, nullptr);
    using Entry = HRESULT(STDAPICALLTYPE*)();
    const auto registerServer = reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(module, "DllRegisterServer")));
    const auto unregisterServer =
        reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(module, "DllUnregisterServer")));
    const auto onFreshThread = [](Entry entry, ThreadKind kind) {
        EntryCall call{entry, kind, E_UNEXPECTED, false};
        HANDLE thread = ::CreateThread(nullptr, 0, CallEntryOnThisThread, &call, 0, nullptr);
        ::WaitForSingleObject(thread, INFINITE);
        ::CloseHandle(thread);
        return call;
    };
    using Kind = ThreadKind;
    for (Kind registering : {Kind::NoCom, Kind::SingleThreaded, Kind::MultiThreaded}) {
        for (Kind unregistering : {Kind::NoCom, Kind::MultiThreaded, Kind::SingleThreaded}) {
            SCOPED_TRACE(testing::Message() << "register " << int(registering) << ", unregister " << int(unregistering));
            const EntryCall reg = onFreshThread(registerServer, registering);
            EXPECT_EQ(reg.result, S_OK);
            EXPECT_TRUE(reg.comStillThere);
            EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kFilterKey));
            EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kDeviceEntry)) << "the device entry too";
            const EntryCall unreg = onFreshThread(unregisterServer, unregistering);
            EXPECT_EQ(unreg.result, S_OK);
            EXPECT_TRUE(unreg.comStillThere);
            EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kFilterKey));
            EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kDeviceEntry)) << "no camera left listed";
            EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kLegacyFilterInstance));
        }
    }
    ::FreeLibrary(module);
}

class ClassObjects : public Module {
protected:
    void SetUp() override
    {
        m_module = ::LoadLibraryA(ModulePath().c_str());
        ASSERT_NE(m_module, nullptr);
        getClassObject = Entry<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>("DllGetClassObject");
        canUnloadNow = Entry<HRESULT(STDAPICALLTYPE*)()>("DllCanUnloadNow");
        ASSERT_TRUE(getClassObject && canUnloadNow);
    }
    void TearDown() override
    {
        EXPECT_EQ(canUnloadNow(), S_OK) << "every object of the module is gone";
        ::FreeLibrary(m_module);
    }
    template <typename T>
    T Entry(const char* name)
    {
        return reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(m_module, name)));
    }

    HMODULE m_module = nullptr;
    HRESULT(STDAPICALLTYPE* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* canUnloadNow)() = nullptr;
};

TEST_F(ClassObjects, EachClassHasAFactory)
{
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(kClsidSetupPage, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf())),
              S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "a live factory holds the module";
    ComPtr<IPropertyPage> page;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPropertyPage, reinterpret_cast<void**>(page.GetAddressOf())),
              S_OK);
    page.Reset();
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(unknown.GetAddressOf())), S_OK);
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(factory->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.GetAddressOf())),
              E_NOINTERFACE);
    unknown.Reset();
    factory.Reset();

    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject(GUID_NULL, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(getClassObject(kClsidCaptureFilter, IID_IDispatch, &object), E_NOINTERFACE);

    ASSERT_EQ(getClassObject(kClsidCaptureFilter, IID_IUnknown, reinterpret_cast<void**>(factory.GetAddressOf())),
              S_OK);
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter.GetAddressOf())),
              S_OK);
    EXPECT_EQ(filter->Release() + 1, 1u);
    *filter.GetAddressOf() = nullptr;
}

TEST_F(ClassObjects, AggregationHandsOutOnlyTheInnerUnknown)
{
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(kClsidCaptureFilter, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf())),
              S_OK);
    // Any outer object will do for the refusal: nothing is created.
    ComPtr<IClassFactory> outer = factory;
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(outer.Get(), IID_IBaseFilter, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, nullptr), E_POINTER);
}

TEST_F(ClassObjects, ALockedServerCannotBeUnloaded)
{
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(kClsidSizePage, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf())),
              S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    factory.Reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    ASSERT_EQ(getClassObject(kClsidSizePage, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf())),
              S_OK);
    ASSERT_EQ(factory->LockServer(FALSE), S_OK);
    factory.Reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST(Language, OnlySimplifiedChineseChoosesTheChinesePages)
{
    EXPECT_TRUE(IsSimplifiedChinese(0x0804));
    for (LANGID other : {0x0404, 0x0C04, 0x1004, 0x0409, 0x0004, 0x7804})
        EXPECT_FALSE(IsSimplifiedChinese(other)) << std::hex << other;
}

class KeyRemoval : public ::testing::Test {
protected:
    void SetUp() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KV20X tests"); }
    void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KV20X tests"); }
    const std::wstring root = L"Software\\KV20X tests\\removal";
};

TEST_F(KeyRemoval, RemovesEverySubkeyWhateverTheLanguageOfItsName)
{
    CreateKeyW(HKEY_CURRENT_USER, root + L"\\a\\deep");
    CreateKeyW(HKEY_CURRENT_USER, root + L"\\b");
    // "Camera settings" in Chinese: the ANSI calls read it back as "?".
    CreateKeyW(HKEY_CURRENT_USER, root + L"\\\x76F8\x673A\x8BBE\x7F6E\\\x5B50");
    EXPECT_EQ(RemoveKeyTree(HKEY_CURRENT_USER, root.c_str()), S_OK);
    EXPECT_FALSE(KeyExistsW(HKEY_CURRENT_USER, root));
    EXPECT_EQ(RemoveKeyTree(HKEY_CURRENT_USER, root.c_str()), S_OK) << "a key that is not there counts as removed";
}

TEST_F(KeyRemoval, SkipsASubkeyItCannotOpenRemovesTheRestAndReportsTheFailure)
{
    CreateKeyW(HKEY_CURRENT_USER, root + L"\\a\\deep");
    CreateKeyW(HKEY_CURRENT_USER, root + L"\\z");
    // A key that cannot be opened, with a subkey: neither can be removed.
    CreateKeyW(HKEY_CURRENT_USER, root + L"\\m\\locked\\inner");
    LockedKey locked(HKEY_CURRENT_USER, (root + L"\\m\\locked").c_str());
    ASSERT_TRUE(locked.Locked());

    const DWORD before = ::GetTickCount();
    const HRESULT hr = RemoveKeyTree(HKEY_CURRENT_USER, root.c_str());
    EXPECT_LT(::GetTickCount() - before, 5000u) << "the walk ends";
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(KeyExistsW(HKEY_CURRENT_USER, root + L"\\a"));
    EXPECT_FALSE(KeyExistsW(HKEY_CURRENT_USER, root + L"\\z"));
    EXPECT_TRUE(KeyExistsW(HKEY_CURRENT_USER, root + L"\\m\\locked"));
}

}  // namespace
}  // namespace kv20x
