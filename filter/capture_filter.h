#pragma once
// The capture filter "Quorl T5R 3.1M Camera": a source filter with one output
// pin, the camera control interface forwarded to that pin, the setup page,
// and the live-source flag.
//
// Locking: the filter's state lock (CSource's) is shared with the pin; the
// forwarders take no lock of their own.

#include "framework/source.h"
#include "settings/ikv20x.h"

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
    HRESULT STDMETHODCALLTYPE GetVideoSize(int* size) override;
    HRESULT STDMETHODCALLTYPE SetVideoSize(int size) override;
    HRESULT STDMETHODCALLTYPE GetWhiteBalance(BOOL* autoWhiteBalance, BYTE* red, BYTE* green, BYTE* blue) override;
    HRESULT STDMETHODCALLTYPE SetWhiteBalance(BOOL autoWhiteBalance, BYTE red, BYTE green, BYTE blue) override;
    HRESULT STDMETHODCALLTYPE GetExposure(BOOL* autoExposure, BYTE* target, WORD* exposureRows, WORD* gain) override;
    HRESULT STDMETHODCALLTYPE SetExposure(BOOL autoExposure, BYTE target, WORD exposureRows, WORD gain) override;
    HRESULT STDMETHODCALLTYPE GetSpeed(BYTE* speed) override;
    HRESULT STDMETHODCALLTYPE SetSpeed(BYTE speed) override;
    HRESULT STDMETHODCALLTYPE GetGamma(BYTE* gamma) override;
    HRESULT STDMETHODCALLTYPE SetGamma(BYTE gamma) override;
    HRESULT STDMETHODCALLTYPE GetContrast(BYTE* contrast) override;
    HRESULT STDMETHODCALLTYPE SetContrast(BYTE contrast) override;
    HRESULT STDMETHODCALLTYPE GetColorEnhancement(BOOL* enabled, BYTE* saturation) override;
    HRESULT STDMETHODCALLTYPE SetColorEnhancement(BOOL enabled, BYTE saturation) override;
    HRESULT STDMETHODCALLTYPE GetMonoMode(BOOL* mono) override;
    HRESULT STDMETHODCALLTYPE SetMonoMode(BOOL mono) override;
    HRESULT STDMETHODCALLTYPE GetVerticalFlip(BOOL* upright) override;
    HRESULT STDMETHODCALLTYPE SetVerticalFlip(BOOL upright) override;
    HRESULT STDMETHODCALLTYPE SetPowerFrequency(BOOL fiftyHertz) override;
    HRESULT STDMETHODCALLTYPE GetPowerFrequency(BOOL* fiftyHertz) override;
    HRESULT STDMETHODCALLTYPE SaveSettings() override;
    HRESULT STDMETHODCALLTYPE SelectParameterGroup(BYTE group) override;
    HRESULT STDMETHODCALLTYPE GetParameterGroup(BYTE* group) override;
    HRESULT STDMETHODCALLTYPE GetHorizontalMirror(BOOL* mirror) override;
    HRESULT STDMETHODCALLTYPE SetHorizontalMirror(BOOL mirror) override;
    HRESULT STDMETHODCALLTYPE GetRowTime(LONG* microseconds) override;

    CPushPinKV20X* Pin() const { return m_pin; }

private:
    CKV20X(IUnknown* outer, HRESULT* result);

    CPushPinKV20X* m_pin = nullptr;  // owned; null only if it could not be created
};

}  // namespace kv20x
