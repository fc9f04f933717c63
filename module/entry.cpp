// The module's entry points: DllMain, the class objects, the unload test,
// registration. Exported by name through kv20x.def (ordinals 1 to 5).

#include <olectl.h>

#include <new>

#include "framework/unknown.h"
#include "module/class_factory.h"
#include "module/factory_table.h"
#include "base/module_state.h"
#include "module/registration.h"

using namespace kv20x;

namespace {

void InitialiseTemplates(BOOL loading)
{
    for (int i = 0; i < g_factoryTemplateCount; ++i)
        if (g_factoryTemplates[i].initialise)
            g_factoryTemplates[i].initialise(loading, g_factoryTemplates[i].clsid);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        SetChinesePages(IsSimplifiedChinese(::GetUserDefaultLangID()));
        ::DisableThreadLibraryCalls(module);
        SetModuleHandle(module);
        InitialiseTemplates(TRUE);
        break;
    case DLL_PROCESS_DETACH:
        InitialiseTemplates(FALSE);
        break;
    default:
        break;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory)
        return E_NOINTERFACE;
    for (int i = 0; i < g_factoryTemplateCount; ++i) {
        if (*g_factoryTemplates[i].clsid != clsid)
            continue;
        auto* factory = new (std::nothrow) CClassFactory(&g_factoryTemplates[i]);
        if (!factory)
            return E_OUTOFMEMORY;
        factory->AddRef();
        *object = static_cast<IClassFactory*>(factory);
        return S_OK;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow()
{
    return CClassFactory::ServerLocks() > 0 || LiveObjectCount() != 0 ? S_FALSE : S_OK;
}

// The whole registration or none of it: a step that fails puts back what the
// registry held before, so that a registration it replaced (another
// version's, from another folder) stays as it was. Nothing is written when
// that cannot be copied first.
STDAPI DllRegisterServer()
{
    const ComForThisCall com;
    if (!com.Ready())
        return com.Failure();
    SavedKeys before;
    HRESULT hr = SaveRegisteredKeys(before);
    if (FAILED(hr))
        return hr;
    hr = RegisterAllServers(ModuleHandle(), true);
    if (SUCCEEDED(hr))
        hr = RegisterCaptureDevice(true);
    if (FAILED(hr))
        before.Restore();
    return hr;
}

// Every step runs even when one fails, so that a partly failed unregister
// does not leave the camera listed among the devices; the first failure is
// the answer. Without COM nothing is touched: the device entry can only be
// removed through COM, and removing the class keys alone would leave the
// camera listed but impossible to create.
STDAPI DllUnregisterServer()
{
    const ComForThisCall com;
    if (!com.Ready())
        return com.Failure();
    const HRESULT hr = RegisterAllServers(ModuleHandle(), false);
    const HRESULT device = RegisterCaptureDevice(false);
    return FAILED(hr) ? hr : device;
}
