#include "module/class_factory.h"

namespace kv20x {

namespace {
volatile LONG g_serverLocks = 0;
}

CClassFactory::CClassFactory(const FactoryTemplateEntry* entry) : CUnknown(nullptr), m_entry(entry) {}

LONG CClassFactory::ServerLocks()
{
    return ::InterlockedCompareExchange(&g_serverLocks, 0, 0);
}

HRESULT STDMETHODCALLTYPE CClassFactory::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory)
        return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE CClassFactory::AddRef()
{
    return NonDelegatingAddRef();
}

ULONG STDMETHODCALLTYPE CClassFactory::Release()
{
    return NonDelegatingRelease();
}

HRESULT STDMETHODCALLTYPE CClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    // An aggregated object hands out its non-delegating unknown only.
    if (outer && iid != IID_IUnknown)
        return E_NOINTERFACE;
    HRESULT hr = S_OK;
    CUnknown* created = m_entry->create(outer, &hr);
    if (!created)
        return FAILED(hr) ? hr : E_OUTOFMEMORY;
    if (FAILED(hr)) {
        delete created;
        return hr;
    }
    created->NonDelegatingAddRef();
    hr = created->NonDelegatingQueryInterface(iid, object);
    created->NonDelegatingRelease();
    return hr;
}

HRESULT STDMETHODCALLTYPE CClassFactory::LockServer(BOOL lock)
{
    if (lock)
        ::InterlockedIncrement(&g_serverLocks);
    else
        ::InterlockedDecrement(&g_serverLocks);
    return S_OK;
}

}  // namespace kv20x
