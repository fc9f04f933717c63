// IKV20X on the capture pin: reads and changes the settings record and acts
// on the open camera. Locking rules: capture_pin.h. Getters take the settings
// lock only, never the device lock, so that they answer at once while the
// camera starts or a request waits for it; setters take the device lock and,
// around the fields they store, the settings lock.

#include "device/device_link.h"
#include "framework/com_helpers.h"
#include "pin/capture_pin.h"
#include "settings/persistence.h"
#include "settings/registry_store.h"

namespace kv20x {

namespace {

// A getter's answer: E_FAIL without a destination, else the value.
template <typename Out, typename Value>
HRESULT Answer(Out* destination, Value value)
{
    if (!destination)
        return E_FAIL;
    *destination = static_cast<Out>(value);
    return S_OK;
}

// Manual exposure and gain as the settings hold them; with auto exposure on,
// the frame pump drives both instead.
void WriteManualExposure(DeviceLink& device, const CameraSettings& settings)
{
    if (settings.AutoExposure)
        return;
    WriteExposure(device, settings.ExposureTime);
    WriteGain(device, settings.AnalogGain);
}

}  // namespace

HRESULT STDMETHODCALLTYPE CPushPinKV20X::GetVideoSize(int* size)
{
    return Answer(size, m_settings.eKV20XSize);
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::SetVideoSize(int size)
{
    // Under the state lock, so that the check cannot interleave with a
    // connection being made.
    AutoLock lock(*m_source->pStateLock());
    if (IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    if (!IsValidSizeMode(size))
        return E_INVALIDARG;
    if (size != m_settings.eKV20XSize) {
        m_settings.eKV20XSize = size;
        m_requestedInterval = 0;  // a rate asked for belonged to the other size
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::GetWhiteBalance(BOOL* autoWhiteBalance, BYTE* red, BYTE* green, BYTE* blue)
{
    if (AnyNull(autoWhiteBalance, red, green, blue))
        return E_FAIL;
    AutoLock lock(m_settingsLock);
    *autoWhiteBalance = m_settings.bAutoWB;
    *red = m_settings.r;
    *green = m_settings.g;
    *blue = m_settings.b;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::SetWhiteBalance(BOOL autoWhiteBalance, BYTE red, BYTE green, BYTE blue)
{
    AutoLock lock(m_deviceLock);
    {
        AutoLock fields(m_settingsLock);
        m_settings.r = red;
        m_settings.g = green;
        m_settings.b = blue;
        // A request the frame pump serves on its next frame, then clears.
        m_settings.bAutoWB = autoWhiteBalance;
    }
    BuildWbLut(red, green, blue, m_tables.wb);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::GetExposure(BOOL* autoExposure, BYTE* target, WORD* exposureRows, WORD* gain)
{
    if (AnyNull(autoExposure, target, exposureRows, gain))
        return E_FAIL;
    AutoLock lock(m_settingsLock);
    *autoExposure = m_settings.AutoExposure;
    *target = m_settings.AETarget;
    *exposureRows = m_settings.ExposureTime;
    *gain = m_settings.AnalogGain;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::SetExposure(BOOL autoExposure, BYTE target, WORD exposureRows, WORD gain)
{
    AutoLock lock(m_deviceLock);
    {
        AutoLock fields(m_settingsLock);
        m_settings.AETarget = target;
        m_settings.AnalogGain = gain;
        m_settings.AutoExposure = autoExposure;
        m_settings.ExposureTime = exposureRows;
    }
    m_watchdog.BoundChanged();
    if (m_device)
        WriteManualExposure(*m_device, m_settings);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::GetSpeed(BYTE* speed)
{
    return Answer(speed, m_settings.Speed);
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::SetSpeed(BYTE speed)
{
    m_settings.Speed = speed;
    m_watchdog.BoundChanged();
    // The device lock keeps the link from being freed under the writes.
    AutoLock lock(m_deviceLock);
    if (m_device)
        ApplySpeed(*m_device, m_settings);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::GetGamma(BYTE* gamma)
{
    return Answer(gamma, m_settings.Gamma);
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::SetGamma(BYTE gamma)
{
    AutoLock lock(m_deviceLock);
    m_settings.Gamma = gamma;
    BuildToneLut(m_settings.Gamma, m_settings.Contrast, m_tables.tone);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::GetContrast(BYTE* contrast)
{
    return Answer(contrast, m_settings.Contrast);
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::SetContrast(BYTE contrast)
{
    AutoLock lock(m_deviceLock);
    m_settings.Contrast = contrast;
    BuildToneLut(m_settings.Gamma, m_settings.Contrast, m_tables.tone);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::GetColorEnhancement(BOOL* enabled, BYTE* saturation)
{
    if (AnyNull(enabled, saturation))
        return E_FAIL;
    AutoLock lock(m_settingsLock);
    *enabled = m_settings.EnableSaturation;
    *saturation = m_settings.Saturation;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::SetColorEnhancement(BOOL enabled, BYTE saturation)
{
    AutoLock lock(m_deviceLock);
    AutoLock fields(m_settingsLock);
    m_settings.EnableSaturation = enabled;
    m_settings.Saturation = saturation;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::GetMonoMode(BOOL* mono)
{
    return Answer(mono, m_settings.WhiteBlack);
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::SetMonoMode(BOOL mono)
{
    m_settings.WhiteBlack = mono;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::GetVerticalFlip(BOOL* upright)
{
    return Answer(upright, m_settings.VFlip);
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::SetVerticalFlip(BOOL upright)
{
    m_settings.VFlip = upright;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::SetPowerFrequency(BOOL fiftyHertz)
{
    // The exposure timing (RowTime, FlickerStep, AeExposure) is the device
    // lock's, as the auto exposure applies its steps under it.
    AutoLock lock(m_deviceLock);
    AutoLock fields(m_settingsLock);
    m_settings.HZ = fiftyHertz;
    UpdateExposureTiming(m_settings);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::GetPowerFrequency(BOOL* fiftyHertz)
{
    return Answer(fiftyHertz, m_settings.HZ);
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::SaveSettings()
{
    AutoLock fields(m_settingsLock);
    RegistryStore store;
    SaveParameterGroup(store, m_settings);
    m_stored = m_settings;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::SelectParameterGroup(BYTE group)
{
    // Groups A to D only: another number would be stored as the selection
    // and read back as group D by the next session.
    if (group >= kParameterGroupCount)
        return E_INVALIDARG;
    if (group == m_settings.ParaTeam)
        return S_OK;
    // The state lock keeps the size check from interleaving with a
    // connection; the device lock keeps the frame pump's exposure and white
    // balance steps from writing into a half-loaded group.
    AutoLock state(*m_source->pStateLock());
    AutoLock lock(m_deviceLock);
    {
        AutoLock fields(m_settingsLock);
        m_settings.ParaTeam = group;
        // A connected pin keeps its size: a group stored with another size
        // must not change what the connection carries.
        const SizeMode connectedSize = m_settings.eKV20XSize;
        RegistryStore store;
        LoadParameterGroup(store, m_settings);
        // What the group's key holds; the selection itself is stored at
        // the next save.
        const std::uint8_t storedSelection = m_stored.ParaTeam;
        m_stored = m_settings;
        m_stored.ParaTeam = storedSelection;
        if (IsConnected())
            m_settings.eKV20XSize = connectedSize;
    }

    // The picture follows the chosen group at once.
    m_watchdog.BoundChanged();
    BuildFrameTables(m_settings, m_tables);
    if (m_device) {
        ApplySpeed(*m_device, m_settings);
        WriteManualExposure(*m_device, m_settings);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::GetParameterGroup(BYTE* group)
{
    return Answer(group, m_settings.ParaTeam);
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::GetHorizontalMirror(BOOL* mirror)
{
    return Answer(mirror, m_settings.HFlip);
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::SetHorizontalMirror(BOOL mirror)
{
    m_settings.HFlip = mirror;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::GetRowTime(LONG* microseconds)
{
    return Answer(microseconds, m_settings.RowTime);
}

}  // namespace kv20x
