#include "framework/unknown.h"

namespace kv20x {

namespace {
volatile LONG g_liveObjects = 0;
}

LONG LiveObjectCount()
{
    return ::InterlockedCompareExchange(&g_liveObjects, 0, 0);
}

CUnknown::CUnknown(IUnknown* outer) : m_owner(outer ? outer : AsUnknown(this))
{
    ::InterlockedIncrement(&g_liveObjects);
}

CUnknown::~CUnknown()
{
    ::InterlockedDecrement(&g_liveObjects);
}

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown)
        return GetInterface(AsUnknown(this), object);
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef()
{
    return static_cast<ULONG>(::InterlockedIncrement(&m_refCount));
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease()
{
    const LONG count = ::InterlockedDecrement(&m_refCount);
    if (count == 0) {
        // Guards against a re-entrant release from the destructor.
        m_refCount = 1;
        delete this;
        return 0;
    }
    return static_cast<ULONG>(count);
}

}  // namespace kv20x
