// The built module as hosts see it: registration with regsvr32, the device
// enumerator, the class objects and the unload test.

#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <wrl/client.h>

#include <string>

#include "module/class_ids.h"
#include "module/module_state.h"
#include "module/registration.h"

namespace kv20x {
namespace {

using Microsoft::WRL::ComPtr;

constexpr char kFilterKey[] = "CLSID\\{99D56D64-7A37-4F84-BF61-98445E175985}";
constexpr char kSizePageKey[] = "CLSID\\{CFBE4593-1111-455B-ABD7-A2A17FA00CC8}";
constexpr char kSetupPageKey[] = "CLSID\\{87869342-3548-4FDC-BA44-A0A4841CDF01}";
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

// The video input devices by friendly name, and the one of ours bound.
ComPtr<IBaseFilter> FindCamera(bool* listed)
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

    bool listed = false;
    {
        ComPtr<IBaseFilter> camera = FindCamera(&listed);
        EXPECT_TRUE(listed) << "the device enumerator lists the camera";
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

TEST(KeyRemoval, GivesUpOnASubkeyItCannotRemoveAndSaysSo)
{
    const char* root = "Software\\KV20X tests\\removal";
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\KV20X tests");
    HKEY key = nullptr;
    ::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\KV20X tests\\removal\\a\\deep", 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr);
    ::RegCloseKey(key);
    ::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\KV20X tests\\removal\\b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr);
    ::RegCloseKey(key);
    EXPECT_EQ(RemoveKeyTree(HKEY_CURRENT_USER, root), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, root));
    EXPECT_EQ(RemoveKeyTree(HKEY_CURRENT_USER, root), S_OK) << "a key that is not there counts as removed";
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\KV20X tests");
}

}  // namespace
}  // namespace kv20x
