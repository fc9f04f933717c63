#pragma once
// The capture filter "Quorl T5R 3.1M Camera": a source filter with one output
// pin, the camera control interface forwarded to that pin, the platform's
// standard camera interfaces, the setup page, and the live-source flag.
//
// Locking: the filter's state lock (CSource's) is shared with the pin; the
// forwarders take no lock of their own.

#include "filter/standard_controls.h"
#include "framework/source.h"
#include "settings/ikv20x_overrides.h"

namespace kv20x {

class CPushPinKV20X;

class CKV20X final : public CSource, public IKV20X, public ISpecifyPropertyPages, public IAMFilterMiscFlags {
public:
    // The class factory's create function; *result reports the first error.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);
    ~CKV20X() override;

    KV20X_DELEGATE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // A live source delivers nothing it could cue while paused.
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeout, FILTER_STATE* state) override;

    // ISpecifyPropertyPages: the setup page.
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;
    // IAMFilterMiscFlags
    ULONG STDMETHODCALLTYPE GetMiscFlags() override;

    // IKV20X, forwarded to the pin.
    KV20X_IKV20X_OVERRIDES

    CPushPinKV20X* Pin() const { return m_pin; }

private:
    CKV20X(IUnknown* outer, HRESULT* result);

    CPushPinKV20X* m_pin = nullptr;  // owned; null only if it could not be created

    // The platform's standard camera interfaces, for applications that do
    // not know IKV20X.
    CVideoProcAmp m_videoProcAmp{GetOwner(), *this};
    CCameraControl m_cameraControl{GetOwner(), *this};
    CVideoControl m_videoControl{GetOwner(), *this};
    CFilterPropertySet m_propertySet{GetOwner(), *this};
};

}  // namespace kv20x
