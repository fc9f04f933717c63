// The standard camera interfaces of the capture filter, mapped onto the
// pin's IKV20X methods. Locking rules: standard_controls.h.

#include "filter/standard_controls.h"

#include <ks.h>
#include <ksmedia.h>

#include <algorithm>
#include <cstddef>
#include <iterator>

#include "filter/capture_filter.h"
#include "framework/com_helpers.h"
#include "pin/capture_pin.h"
#include "pin/video_format.h"
#include "settings/camera_settings.h"
#include "settings/standard_units.h"

namespace kv20x {

namespace {

// {C6E13360-30AC-11d0-A18C-00A0C9118956}: the video-proc-amp property set.
constexpr GUID kVideoProcAmpPropertySet = {0xC6E13360, 0x30AC, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};
constexpr LONG kPowerLine50Hz = 1;
constexpr LONG kPowerLine60Hz = 2;
// The structure's meaningful bytes: callers that declare it themselves may
// leave out the tail padding of the 8-byte aligned original.
constexpr DWORD kPowerLineBytes = offsetof(KSPROPERTY_VIDEOPROCAMP_S, Capabilities) + sizeof(ULONG);

// A property's range as GetRange reports it, with its default: the load
// range and default of the setting behind it.
struct Range {
    long property;
    long min, max, defaultValue;
    long caps;  // the Auto and Manual flags it supports
};

constexpr long kManual = VideoProcAmp_Flags_Manual;
constexpr long kAuto = VideoProcAmp_Flags_Auto;
static_assert(kManual == CameraControl_Flags_Manual && kAuto == CameraControl_Flags_Auto);

constexpr Range kProcAmpRanges[] = {
    {VideoProcAmp_Contrast, 0, 100, 30, kManual},
    {VideoProcAmp_Gamma, 10, 250, 100, kManual},
    {VideoProcAmp_Saturation, 0, 255, 100, kManual},
    {VideoProcAmp_ColorEnable, 0, 1, 1, kManual},
    {VideoProcAmp_Gain, 0, 80, 20, kAuto | kManual},
};

const Range* FindRange(long property)
{
    const auto* found = std::find_if(std::begin(kProcAmpRanges), std::end(kProcAmpRanges),
                                     [property](const Range& r) { return r.property == property; });
    return found == std::end(kProcAmpRanges) ? nullptr : found;
}

// A Set's flags: exactly one of Manual, or Auto where the property has it.
bool FlagsAllowed(long flags, long caps)
{
    return (flags == kManual || flags == kAuto) && (flags & caps) != 0;
}

HRESULT ReportRange(const Range& range, long* min, long* max, long* step, long* defaultValue, long* capsFlags)
{
    if (AnyNull(min, max, step, defaultValue, capsFlags))
        return E_POINTER;
    *min = range.min;
    *max = range.max;
    *step = 1;
    *defaultValue = range.defaultValue;
    *capsFlags = range.caps;
    return S_OK;
}

// Exposure and gain as IKV20X holds them.
struct ExposureState {
    BOOL autoExposure = FALSE;
    BYTE target = 0;
    WORD rows = 0;
    WORD gain = 0;
};

HRESULT ReadExposure(CPushPinKV20X& pin, ExposureState& state)
{
    return pin.GetExposure(&state.autoExposure, &state.target, &state.rows, &state.gain);
}

// Microseconds per sensor row at the pin's size and clock.
std::int32_t CurrentRowTime(CPushPinKV20X& pin)
{
    int size = kSizeHalf;
    BYTE speed = 0;
    BOOL fiftyHertz = TRUE;
    pin.GetVideoSize(&size);
    pin.GetSpeed(&speed);
    pin.GetPowerFrequency(&fiftyHertz);
    return ComputeExposureTiming(size, speed, fiftyHertz).rowTime;
}

}  // namespace

CPushPinKV20X* CStandardControlBase::Pin() const
{
    return m_filter.Pin();
}

// ---- IAMVideoProcAmp -------------------------------------------------------

HRESULT STDMETHODCALLTYPE CVideoProcAmp::GetRange(long property, long* min, long* max, long* step, long* defaultValue,
                                                  long* capsFlags)
{
    const Range* range = FindRange(property);
    if (!range)
        return E_PROP_ID_UNSUPPORTED;
    return ReportRange(*range, min, max, step, defaultValue, capsFlags);
}

HRESULT STDMETHODCALLTYPE CVideoProcAmp::Get(long property, long* value, long* flags)
{
    const Range* range = FindRange(property);
    if (!range)
        return E_PROP_ID_UNSUPPORTED;
    if (AnyNull(value, flags))
        return E_POINTER;
    CPushPinKV20X* pin = Pin();
    if (!pin)
        return E_UNEXPECTED;
    *flags = kManual;
    HRESULT hr = S_OK;
    switch (property) {
    case VideoProcAmp_Contrast: {
        BYTE contrast = 0;
        hr = pin->GetContrast(&contrast);
        *value = contrast;
        break;
    }
    case VideoProcAmp_Gamma: {
        BYTE gamma = 0;
        hr = pin->GetGamma(&gamma);
        *value = gamma;
        break;
    }
    case VideoProcAmp_Saturation: {
        BOOL enabled = FALSE;
        BYTE saturation = 0;
        hr = pin->GetColorEnhancement(&enabled, &saturation);
        *value = saturation;
        break;
    }
    case VideoProcAmp_ColorEnable: {
        BOOL mono = FALSE;
        hr = pin->GetMonoMode(&mono);
        *value = mono ? 0 : 1;
        break;
    }
    default: {  // VideoProcAmp_Gain: the auto exposure moves it
        ExposureState state;
        hr = ReadExposure(*pin, state);
        *value = state.gain;
        *flags = state.autoExposure ? kAuto : kManual;
        break;
    }
    }
    // IKV20X stores any byte or word it is given; what this interface
    // reports stays inside the range it advertises, so that a Set of what
    // Get reported always succeeds.
    *value = std::clamp(*value, range->min, range->max);
    return hr;
}

HRESULT STDMETHODCALLTYPE CVideoProcAmp::Set(long property, long value, long flags)
{
    const Range* range = FindRange(property);
    if (!range)
        return E_PROP_ID_UNSUPPORTED;
    if (!FlagsAllowed(flags, range->caps))
        return E_INVALIDARG;
    // With Auto the value is not used; a manual value must lie in the range.
    if (flags == kManual && (value < range->min || value > range->max))
        return E_INVALIDARG;
    CPushPinKV20X* pin = Pin();
    if (!pin)
        return E_UNEXPECTED;
    switch (property) {
    case VideoProcAmp_Contrast: return pin->SetContrast(static_cast<BYTE>(value));
    case VideoProcAmp_Gamma: return pin->SetGamma(static_cast<BYTE>(value));
    case VideoProcAmp_Saturation: {
        BOOL enabled = FALSE;
        BYTE saturation = 0;
        const HRESULT hr = pin->GetColorEnhancement(&enabled, &saturation);
        return FAILED(hr) ? hr : pin->SetColorEnhancement(enabled, static_cast<BYTE>(value));
    }
    case VideoProcAmp_ColorEnable: return pin->SetMonoMode(value == 0);
    default: {  // VideoProcAmp_Gain
        ExposureState state;
        const HRESULT hr = ReadExposure(*pin, state);
        if (FAILED(hr))
            return hr;
        if (flags == kAuto)
            return pin->SetExposure(TRUE, state.target, state.rows, state.gain);
        return pin->SetExposure(FALSE, state.target, state.rows, static_cast<WORD>(value));
    }
    }
}

// ---- IAMCameraControl ------------------------------------------------------

HRESULT STDMETHODCALLTYPE CCameraControl::GetRange(long property, long* min, long* max, long* step,
                                                   long* defaultValue, long* capsFlags)
{
    if (property != CameraControl_Exposure)
        return E_PROP_ID_UNSUPPORTED;
    CPushPinKV20X* pin = Pin();
    if (!pin)
        return E_UNEXPECTED;
    const std::int32_t rowTime = CurrentRowTime(*pin);
    const Log2Range log2 = ExposureLog2Range(rowTime);
    const Range range{CameraControl_Exposure, log2.min, log2.max,
                      ExposureLog2Seconds(CameraSettings().ExposureTime, rowTime), kAuto | kManual};
    return ReportRange(range, min, max, step, defaultValue, capsFlags);
}

HRESULT STDMETHODCALLTYPE CCameraControl::Get(long property, long* value, long* flags)
{
    if (property != CameraControl_Exposure)
        return E_PROP_ID_UNSUPPORTED;
    if (AnyNull(value, flags))
        return E_POINTER;
    CPushPinKV20X* pin = Pin();
    if (!pin)
        return E_UNEXPECTED;
    ExposureState state;
    const HRESULT hr = ReadExposure(*pin, state);
    if (FAILED(hr))
        return hr;
    *value = ExposureLog2Seconds(state.rows, CurrentRowTime(*pin));
    *flags = state.autoExposure ? kAuto : kManual;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CCameraControl::Set(long property, long value, long flags)
{
    if (property != CameraControl_Exposure)
        return E_PROP_ID_UNSUPPORTED;
    if (!FlagsAllowed(flags, kAuto | kManual))
        return E_INVALIDARG;
    CPushPinKV20X* pin = Pin();
    if (!pin)
        return E_UNEXPECTED;
    const std::int32_t rowTime = CurrentRowTime(*pin);
    const Log2Range range = ExposureLog2Range(rowTime);
    if (flags == kManual && (value < range.min || value > range.max))
        return E_INVALIDARG;
    ExposureState state;
    const HRESULT hr = ReadExposure(*pin, state);
    if (FAILED(hr))
        return hr;
    if (flags == kAuto)
        return pin->SetExposure(TRUE, state.target, state.rows, state.gain);
    return pin->SetExposure(FALSE, state.target, ExposureRowsForLog2(value, rowTime), state.gain);
}

// ---- IAMVideoControl -------------------------------------------------------

namespace {
constexpr long kFlips = VideoControlFlag_FlipHorizontal | VideoControlFlag_FlipVertical;
}  // namespace

HRESULT CVideoControl::CheckPin(IPin* pin) const
{
    if (!pin)
        return E_POINTER;
    CPushPinKV20X* own = Pin();
    return own && pin == static_cast<IPin*>(own) ? S_OK : E_INVALIDARG;
}

HRESULT CVideoControl::CheckPin(IPin* pin, const void* out) const
{
    const HRESULT hr = CheckPin(pin);
    return FAILED(hr) ? hr : out ? S_OK : E_POINTER;
}

// `index` is that of IAMStreamConfig::GetStreamCaps: a format at a size.
HRESULT CVideoControl::CheckSize(long index, SIZE dimensions) const
{
    if (index < 0 || index >= kOfferedTypeCount)
        return E_INVALIDARG;
    const SizeMode size = OfferedTypeAt(index).size;
    if (dimensions.cx != SizeModeWidth(size) || dimensions.cy != SizeModeHeight(size))
        return E_INVALIDARG;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CVideoControl::GetCaps(IPin* pin, long* caps)
{
    const HRESULT hr = CheckPin(pin, caps);
    if (FAILED(hr))
        return hr;
    *caps = kFlips;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CVideoControl::SetMode(IPin* pin, long mode)
{
    const HRESULT hr = CheckPin(pin);
    if (FAILED(hr))
        return hr;
    if ((mode & ~kFlips) != 0)
        return E_INVALIDARG;  // no external trigger on this camera
    CPushPinKV20X* own = Pin();
    // VFlip non-zero means upright: the vertical flip flag is its opposite.
    const HRESULT mirrored = own->SetHorizontalMirror((mode & VideoControlFlag_FlipHorizontal) != 0);
    const HRESULT flipped = own->SetVerticalFlip((mode & VideoControlFlag_FlipVertical) == 0);
    return FAILED(mirrored) ? mirrored : flipped;
}

HRESULT STDMETHODCALLTYPE CVideoControl::GetMode(IPin* pin, long* mode)
{
    const HRESULT hr = CheckPin(pin, mode);
    if (FAILED(hr))
        return hr;
    BOOL mirror = FALSE, upright = TRUE;
    Pin()->GetHorizontalMirror(&mirror);
    Pin()->GetVerticalFlip(&upright);
    *mode = (mirror ? VideoControlFlag_FlipHorizontal : 0) | (upright ? 0 : VideoControlFlag_FlipVertical);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CVideoControl::GetCurrentActualFrameRate(IPin* pin, LONGLONG* frameDuration)
{
    const HRESULT hr = CheckPin(pin, frameDuration);
    if (FAILED(hr))
        return hr;
    CPushPinKV20X* own = Pin();
    if (!own->IsConnected())
        return VFW_E_NOT_CONNECTED;
    *frameDuration = own->DeliveredFrameInterval();
    return S_OK;
}

namespace {

// The frame intervals IAMStreamConfig::SetFormat keeps at a size with the
// exposure in force.
FrameIntervalRange OfferedIntervals(CPushPinKV20X& pin, long index)
{
    ExposureState state;
    ReadExposure(pin, state);
    return OfferedFrameIntervals(index, state.autoExposure != FALSE, state.rows);
}

}  // namespace

HRESULT STDMETHODCALLTYPE CVideoControl::GetMaxAvailableFrameRate(IPin* pin, long index, SIZE dimensions,
                                                                  LONGLONG* frameDuration)
{
    HRESULT hr = CheckPin(pin, frameDuration);
    if (SUCCEEDED(hr))
        hr = CheckSize(index, dimensions);
    if (FAILED(hr))
        return hr;
    *frameDuration = OfferedIntervals(*Pin(), OfferedTypeAt(index).size).shortest;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CVideoControl::GetFrameRateList(IPin* pin, long index, SIZE dimensions, long* count,
                                                          LONGLONG** frameDurations)
{
    HRESULT hr = CheckPin(pin, count);
    if (SUCCEEDED(hr))
        hr = CheckSize(index, dimensions);
    if (FAILED(hr))
        return hr;
    // SetFormat keeps any interval of the range; the list offers its two
    // ends and the common rates between them, shortest first.
    const FrameIntervalRange range = OfferedIntervals(*Pin(), OfferedTypeAt(index).size);
    constexpr LONGLONG kCommonIntervals[] = {333333, 400000, 500000, 666667, 1000000, 1333333, 2000000};
    LONGLONG list[2 + std::size(kCommonIntervals)];
    long listed = 0;
    list[listed++] = range.shortest;
    for (const LONGLONG interval : kCommonIntervals)
        if (interval > range.shortest && interval < range.longest)
            list[listed++] = interval;
    if (range.longest > range.shortest)
        list[listed++] = range.longest;
    *count = listed;
    if (!frameDurations)
        return S_OK;
    auto* copy = static_cast<LONGLONG*>(::CoTaskMemAlloc(sizeof(LONGLONG) * static_cast<size_t>(listed)));
    if (!copy)
        return E_OUTOFMEMORY;
    std::copy(list, list + listed, copy);
    *frameDurations = copy;
    return S_OK;
}

// ---- IKsPropertySet: mains frequency ----------------------------------------

namespace {

HRESULT CheckPowerLineProperty(REFGUID set, DWORD id)
{
    if (set != kVideoProcAmpPropertySet)
        return E_PROP_SET_UNSUPPORTED;
    return id == KSPROPERTY_VIDEOPROCAMP_POWERLINE_FREQUENCY ? S_OK : E_PROP_ID_UNSUPPORTED;
}

}  // namespace

// The instance data is not read: callers pass nothing, the whole property
// structure, or (the kernel-streaming proxy's convention) the bytes after
// its KSPROPERTY header, and this property needs none of them.
HRESULT STDMETHODCALLTYPE CFilterPropertySet::Set(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD dataBytes)
{
    const HRESULT hr = CheckPowerLineProperty(set, id);
    if (FAILED(hr))
        return hr;
    if (!data)
        return E_POINTER;
    if (dataBytes < kPowerLineBytes)
        return E_INVALIDARG;
    CPushPinKV20X* pin = Pin();
    if (!pin)
        return E_UNEXPECTED;
    // The setting is in the property data; "disabled" and "auto" are not
    // modes this camera has.
    switch (static_cast<const KSPROPERTY_VIDEOPROCAMP_S*>(data)->Value) {
    case kPowerLine50Hz: return pin->SetPowerFrequency(TRUE);
    case kPowerLine60Hz: return pin->SetPowerFrequency(FALSE);
    default: return E_INVALIDARG;
    }
}

HRESULT STDMETHODCALLTYPE CFilterPropertySet::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD dataBytes,
                                                 DWORD* returned)
{
    const HRESULT hr = CheckPowerLineProperty(set, id);
    if (FAILED(hr))
        return hr;
    if (!data && !returned)
        return E_POINTER;
    if (!data) {
        *returned = sizeof(KSPROPERTY_VIDEOPROCAMP_S);
        return S_OK;  // a size query
    }
    if (dataBytes < kPowerLineBytes)
        return E_INVALIDARG;
    if (returned)
        *returned = dataBytes < sizeof(KSPROPERTY_VIDEOPROCAMP_S) ? kPowerLineBytes : sizeof(KSPROPERTY_VIDEOPROCAMP_S);
    CPushPinKV20X* pin = Pin();
    if (!pin)
        return E_UNEXPECTED;
    BOOL fiftyHertz = TRUE;
    const HRESULT got = pin->GetPowerFrequency(&fiftyHertz);
    if (FAILED(got))
        return got;
    auto* property = static_cast<KSPROPERTY_VIDEOPROCAMP_S*>(data);
    property->Property.Set = set;
    property->Property.Id = id;
    property->Property.Flags = KSPROPERTY_TYPE_GET;
    property->Value = fiftyHertz ? kPowerLine50Hz : kPowerLine60Hz;
    property->Flags = KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL;
    property->Capabilities = KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CFilterPropertySet::QuerySupported(REFGUID set, DWORD id, DWORD* support)
{
    const HRESULT hr = CheckPowerLineProperty(set, id);
    if (FAILED(hr))
        return hr;
    if (!support)
        return E_POINTER;
    *support = KSPROPERTY_SUPPORT_GET | KSPROPERTY_SUPPORT_SET;
    return S_OK;
}

}  // namespace kv20x
