#include "filter/capture_filter.h"

#include <new>

#include "framework/com_helpers.h"
#include "settings/class_ids.h"
#include "pin/capture_pin.h"

namespace kv20x {

CUnknown* CKV20X::CreateInstance(IUnknown* outer, HRESULT* result)
{
    auto* filter = new (std::nothrow) CKV20X(outer, result);
    if (!filter)
        *result = E_OUTOFMEMORY;
    return filter;
}

CKV20X::CKV20X(IUnknown* outer, HRESULT* result) : CSource(outer, kClsidCaptureFilter)
{
    // The pin carries 9.4 MB of raw frame buffers: allocated on its own.
    HRESULT pinResult = S_OK;
    m_pin = new (std::nothrow) CPushPinKV20X(&pinResult, this);
    if (SUCCEEDED(*result))
        *result = !m_pin ? E_OUTOFMEMORY : pinResult;
}

CKV20X::~CKV20X()
{
    // The pin first: it stops the camera, saves the settings and leaves the
    // pin array before the framework part goes.
    delete m_pin;
}

HRESULT STDMETHODCALLTYPE CKV20X::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IKV20X)
        return GetInterface(static_cast<IKV20X*>(this), object);
    if (iid == IID_ISpecifyPropertyPages)
        return GetInterface(static_cast<ISpecifyPropertyPages*>(this), object);
    if (iid == IID_IAMFilterMiscFlags)
        return GetInterface(static_cast<IAMFilterMiscFlags*>(this), object);
    if (iid == IID_IAMVideoProcAmp)
        return GetInterface(static_cast<IAMVideoProcAmp*>(&m_videoProcAmp), object);
    if (iid == IID_IAMCameraControl)
        return GetInterface(static_cast<IAMCameraControl*>(&m_cameraControl), object);
    if (iid == IID_IAMVideoControl)
        return GetInterface(static_cast<IAMVideoControl*>(&m_videoControl), object);
    if (iid == IID_IKsPropertySet)
        return GetInterface(static_cast<IKsPropertySet*>(&m_propertySet), object);
    return CSource::NonDelegatingQueryInterface(iid, object);
}

HRESULT STDMETHODCALLTYPE CKV20X::GetState(DWORD, FILTER_STATE* state)
{
    if (!state)
        return E_POINTER;
    *state = m_state;
    return m_state == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

HRESULT STDMETHODCALLTYPE CKV20X::GetPages(CAUUID* pages)
{
    return OnePageList(pages, kClsidSetupPage);
}

ULONG STDMETHODCALLTYPE CKV20X::GetMiscFlags()
{
    return AM_FILTER_MISC_FLAGS_IS_SOURCE;
}

// Each forwarder checks the out pointers first and answers what the pin
// answers, so that a refused change is never reported as done.
#define KV20X_FORWARD(call) return m_pin ? m_pin->call : S_OK
#define KV20X_FORWARD_GET(call, ...)       \
    if (AnyNull(__VA_ARGS__))              \
        return E_POINTER;                  \
    return m_pin ? m_pin->call : S_OK

HRESULT STDMETHODCALLTYPE CKV20X::GetVideoSize(int* size) { KV20X_FORWARD_GET(GetVideoSize(size), size); }
HRESULT STDMETHODCALLTYPE CKV20X::SetVideoSize(int size) { KV20X_FORWARD(SetVideoSize(size)); }
HRESULT STDMETHODCALLTYPE CKV20X::GetWhiteBalance(BOOL* autoWhiteBalance, BYTE* red, BYTE* green, BYTE* blue)
{
    KV20X_FORWARD_GET(GetWhiteBalance(autoWhiteBalance, red, green, blue), autoWhiteBalance, red, green, blue);
}
HRESULT STDMETHODCALLTYPE CKV20X::SetWhiteBalance(BOOL autoWhiteBalance, BYTE red, BYTE green, BYTE blue)
{
    KV20X_FORWARD(SetWhiteBalance(autoWhiteBalance, red, green, blue));
}
HRESULT STDMETHODCALLTYPE CKV20X::GetExposure(BOOL* autoExposure, BYTE* target, WORD* exposureRows, WORD* gain)
{
    KV20X_FORWARD_GET(GetExposure(autoExposure, target, exposureRows, gain), autoExposure, target, exposureRows, gain);
}
HRESULT STDMETHODCALLTYPE CKV20X::SetExposure(BOOL autoExposure, BYTE target, WORD exposureRows, WORD gain)
{
    KV20X_FORWARD(SetExposure(autoExposure, target, exposureRows, gain));
}
HRESULT STDMETHODCALLTYPE CKV20X::GetSpeed(BYTE* speed) { KV20X_FORWARD_GET(GetSpeed(speed), speed); }
HRESULT STDMETHODCALLTYPE CKV20X::SetSpeed(BYTE speed) { KV20X_FORWARD(SetSpeed(speed)); }
HRESULT STDMETHODCALLTYPE CKV20X::GetGamma(BYTE* gamma) { KV20X_FORWARD_GET(GetGamma(gamma), gamma); }
HRESULT STDMETHODCALLTYPE CKV20X::SetGamma(BYTE gamma) { KV20X_FORWARD(SetGamma(gamma)); }
HRESULT STDMETHODCALLTYPE CKV20X::GetContrast(BYTE* contrast) { KV20X_FORWARD_GET(GetContrast(contrast), contrast); }
HRESULT STDMETHODCALLTYPE CKV20X::SetContrast(BYTE contrast) { KV20X_FORWARD(SetContrast(contrast)); }
HRESULT STDMETHODCALLTYPE CKV20X::GetColorEnhancement(BOOL* enabled, BYTE* saturation)
{
    KV20X_FORWARD_GET(GetColorEnhancement(enabled, saturation), enabled, saturation);
}
HRESULT STDMETHODCALLTYPE CKV20X::SetColorEnhancement(BOOL enabled, BYTE saturation)
{
    KV20X_FORWARD(SetColorEnhancement(enabled, saturation));
}
HRESULT STDMETHODCALLTYPE CKV20X::GetMonoMode(BOOL* mono) { KV20X_FORWARD_GET(GetMonoMode(mono), mono); }
HRESULT STDMETHODCALLTYPE CKV20X::SetMonoMode(BOOL mono) { KV20X_FORWARD(SetMonoMode(mono)); }
HRESULT STDMETHODCALLTYPE CKV20X::GetVerticalFlip(BOOL* upright) { KV20X_FORWARD_GET(GetVerticalFlip(upright), upright); }
HRESULT STDMETHODCALLTYPE CKV20X::SetVerticalFlip(BOOL upright) { KV20X_FORWARD(SetVerticalFlip(upright)); }
HRESULT STDMETHODCALLTYPE CKV20X::SetPowerFrequency(BOOL fiftyHertz) { KV20X_FORWARD(SetPowerFrequency(fiftyHertz)); }
HRESULT STDMETHODCALLTYPE CKV20X::GetPowerFrequency(BOOL* fiftyHertz)
{
    KV20X_FORWARD_GET(GetPowerFrequency(fiftyHertz), fiftyHertz);
}
HRESULT STDMETHODCALLTYPE CKV20X::SaveSettings() { KV20X_FORWARD(SaveSettings()); }
HRESULT STDMETHODCALLTYPE CKV20X::SelectParameterGroup(BYTE group) { KV20X_FORWARD(SelectParameterGroup(group)); }
HRESULT STDMETHODCALLTYPE CKV20X::GetParameterGroup(BYTE* group) { KV20X_FORWARD_GET(GetParameterGroup(group), group); }
HRESULT STDMETHODCALLTYPE CKV20X::GetHorizontalMirror(BOOL* mirror)
{
    KV20X_FORWARD_GET(GetHorizontalMirror(mirror), mirror);
}
HRESULT STDMETHODCALLTYPE CKV20X::SetHorizontalMirror(BOOL mirror) { KV20X_FORWARD(SetHorizontalMirror(mirror)); }
HRESULT STDMETHODCALLTYPE CKV20X::GetRowTime(LONG* microseconds) { KV20X_FORWARD_GET(GetRowTime(microseconds), microseconds); }

#undef KV20X_FORWARD
#undef KV20X_FORWARD_GET

}  // namespace kv20x
