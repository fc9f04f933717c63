#pragma once
// The delegating unknown every framework object is built on (filter, pins,
// property pages, class factories), the IUnknown of stand-alone objects
// with one interface, and the module-wide count of live objects that the
// module's unload test reads.
//
// Every COM interface of an object is a sub-object whose IUnknown methods go
// to the object's owner: the outer unknown when aggregated, else the object's
// own non-delegating side.

#include <windows.h>
#include <unknwn.h>

namespace kv20x {

// The non-delegating side of an object.
struct INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;

protected:
    ~INonDelegatingUnknown() = default;
};

// Live framework objects in the module; atomic.
LONG LiveObjectCount();

class CUnknown : public INonDelegatingUnknown {
public:
    // `outer` null: the object is its own owner.
    explicit CUnknown(IUnknown* outer);
    virtual ~CUnknown();
    CUnknown(const CUnknown&) = delete;
    CUnknown& operator=(const CUnknown&) = delete;

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    IUnknown* GetOwner() const { return m_owner; }

protected:
    volatile LONG m_refCount = 0;

private:
    IUnknown* m_owner;
};

// Hands out `object` as the interface asked for: E_POINTER without a
// destination, else stores it with a reference added. Callers pass the
// interface through static_cast so that a wrong cast does not compile.
template <typename Interface>
HRESULT GetInterface(Interface* object, void** destination)
{
    if (!destination)
        return E_POINTER;
    *destination = object;
    object->AddRef();
    return S_OK;
}

// The non-delegating side as an IUnknown, for handing out IID_IUnknown.
inline IUnknown* AsUnknown(INonDelegatingUnknown* object)
{
    // The non-delegating interface has the layout of IUnknown: three methods
    // in the same slots with the same signatures.
    return reinterpret_cast<IUnknown*>(object);
}

// A stand-alone object with one interface and no aggregation (the
// enumerators): it starts with the creator's reference and deletes itself
// when the last one goes.
template <typename Interface>
class CSingleInterfaceObject : public Interface {
public:
    CSingleInterfaceObject() = default;
    CSingleInterfaceObject(const CSingleInterfaceObject&) = delete;
    CSingleInterfaceObject& operator=(const CSingleInterfaceObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (iid == __uuidof(Interface) || iid == IID_IUnknown)
            return GetInterface(static_cast<Interface*>(this), object);
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_refCount)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG count = ::InterlockedDecrement(&m_refCount);
        if (count == 0)
            delete this;
        return static_cast<ULONG>(count);
    }

protected:
    virtual ~CSingleInterfaceObject() = default;

private:
    volatile LONG m_refCount = 1;
};

}  // namespace kv20x

// IUnknown of an interface sub-object, forwarded to the owner.
#define KV20X_DELEGATE_IUNKNOWN                                                                   \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override                  \
    {                                                                                             \
        return GetOwner()->QueryInterface(iid, object);                                           \
    }                                                                                             \
    ULONG STDMETHODCALLTYPE AddRef() override { return GetOwner()->AddRef(); }                    \
    ULONG STDMETHODCALLTYPE Release() override { return GetOwner()->Release(); }
