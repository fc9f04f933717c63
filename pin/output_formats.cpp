// The capture pin's connection side: its media types (five formats at three
// sizes), buffer sizing, IAMStreamConfig and IKsPropertySet. Locking rules:
// capture_pin.h.

#include "pin/capture_pin.h"

#include <ks.h>

#include <cstring>

#include <wrl/client.h>

#include "pin/media_subtypes.h"
#include "pin/video_format.h"
#include "settings/size_mode.h"

namespace kv20x {

using Microsoft::WRL::ComPtr;

namespace {

// The shared check of a proposed type.
FormatCheck CheckType(const AM_MEDIA_TYPE* type)
{
    ProposedFormat format;
    format.videoMajorType = type->majortype == MEDIATYPE_Video;
    format.knownSubtype = FormatOfSubtype(type->subtype, &format.subtype);
    format.videoInfoFormat = type->formattype == FORMAT_VideoInfo;
    format.block = type->pbFormat;
    format.blockBytes = type->cbFormat;
    return CheckVideoFormat(format);
}

LONG ToLong(std::int64_t value)
{
    return value > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<LONG>(value);
}

REFERENCE_TIME& FrameTimeOf(AM_MEDIA_TYPE& type)
{
    return reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame;
}

}  // namespace

HRESULT CPushPinKV20X::BuildMediaType(CMediaType* type, PictureFormat format, SizeMode size)
{
    if (!type)
        return E_POINTER;
    const PictureLayout layout = SizeModeLayout(format, size);
    if (!layout.valid)
        return E_INVALIDARG;
    // No lock: the clock and exposure are single words, and format queries
    // must answer while a pause (holding the state lock) starts the camera.
    auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    if (!info)
        return E_OUTOFMEMORY;
    std::memset(info, 0, sizeof *info);
    // An honest frame time: the platform's AVI multiplexer refuses a stream
    // without one. The size an application chose a rate for offers that
    // rate; otherwise the camera's own pace at the current settings.
    const LONG requested = m_requestedInterval;
    info->AvgTimePerFrame = size == m_settings.eKV20XSize && requested != 0
                                ? requested
                                : FrameDuration100ns(size, m_settings.Speed, m_settings.ExposureTime);
    BITMAPINFOHEADER& header = info->bmiHeader;
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = SizeModeWidth(size);
    // Positive: a bottom-up bitmap for RGB; YUV pictures are top-down
    // whatever the sign, and are described with a positive height.
    header.biHeight = SizeModeHeight(size);
    header.biPlanes = 1;
    header.biBitCount = layout.bitCount;
    header.biCompression = layout.compression;
    header.biSizeImage = layout.imageBytes;
    type->majortype = MEDIATYPE_Video;
    type->subtype = SubtypeOf(format);
    type->formattype = FORMAT_VideoInfo;
    type->bTemporalCompression = FALSE;
    type->SetSampleSize(header.biSizeImage);
    return S_OK;
}

HRESULT CPushPinKV20X::GetMediaType(int position, CMediaType* type)
{
    if (!type)
        return E_POINTER;
    if (position < 0)
        return E_INVALIDARG;
    if (position >= kOfferedTypeCount)
        return VFW_S_NO_MORE_ITEMS;
    const OfferedType offered = OfferedTypeAt(position);
    return BuildMediaType(type, offered.format, offered.size);
}

int CPushPinKV20X::SpeedForRate(const FormatCheck& check) const
{
    // No preference, or the pace the camera runs at already (a type offered
    // by the pin, handed back): the clock stays.
    const std::uint8_t speed = m_settings.Speed;
    if (check.frameTime == 0 || check.frameTime == FrameDuration100ns(check.size, speed, m_settings.ExposureTime))
        return speed;
    return SpeedForFrameInterval(check.size, m_settings.AutoExposure != 0, m_settings.ExposureTime, check.frameTime);
}

HRESULT CPushPinKV20X::CheckMediaType(const CMediaType* type)
{
    if (!type)
        return E_POINTER;
    const FormatCheck check = CheckType(type);
    if (!check.ok() || !type->bFixedSizeSamples || check.size != m_settings.eKV20XSize)
        return E_INVALIDARG;
    // Any format at the current size, unless an application chose one.
    if (m_formatLocked && check.format != m_format)
        return E_INVALIDARG;
    // A rate outside every offered range is none of the pin's types.
    if (SpeedForRate(check) < 0)
        return E_INVALIDARG;
    return S_OK;
}

HRESULT CPushPinKV20X::SetMediaType(const CMediaType* type)
{
    AutoLock lock(*m_source->pStateLock());
    const FormatCheck check = CheckType(type);
    if (!check.ok())
        return E_INVALIDARG;
    if (m_formatLocked && (check.size != m_settings.eKV20XSize || check.format != m_format))
        return E_INVALIDARG;
    const int speed = SpeedForRate(check);
    if (speed < 0)
        return E_INVALIDARG;
    // The connection carries the rate the pin keeps: the one asked for, or
    // with none the camera's own pace. A rate other than the chosen clock's
    // own is kept by holding frames back.
    CMediaType agreed;
    if (FAILED(CopyMediaType(&agreed, type)) || !agreed.pbFormat)
        return E_OUTOFMEMORY;
    const REFERENCE_TIME natural =
        FrameDuration100ns(check.size, static_cast<std::uint8_t>(speed), m_settings.ExposureTime);
    if (check.frameTime == 0)
        FrameTimeOf(agreed) = natural;
    HRESULT hr = CSourceStream::SetMediaType(&agreed);
    if (SUCCEEDED(hr)) {
        AutoLock snapshot(m_typeLock);
        hr = CopyMediaType(&m_connectionType, &agreed);
        m_hasConnectionType = SUCCEEDED(hr);
    }
    if (SUCCEEDED(hr)) {
        m_settings.eKV20XSize = check.size;
        m_format = check.format;
        m_settings.Speed = static_cast<BYTE>(speed);
        m_frameInterval = check.frameTime == natural ? 0 : static_cast<LONG>(check.frameTime);
    }
    return hr;
}

HRESULT CPushPinKV20X::BreakConnect()
{
    {
        AutoLock snapshot(m_typeLock);
        m_hasConnectionType = false;
    }
    return CSourceStream::BreakConnect();
}

bool CPushPinKV20X::ConnectedPicture(PictureFormat* format, SizeMode* size) const
{
    const FormatCheck check = CheckType(&m_mt);
    if (!check.ok())
        return false;
    *format = check.format;
    *size = check.size;
    return true;
}

HRESULT CPushPinKV20X::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    if (!allocator || !request)
        return E_POINTER;
    {
        AutoLock lock(*m_source->pStateLock());
        const FormatCheck check = CheckType(&m_mt);
        if (!check.ok())
            return E_UNEXPECTED;
        if (request->cBuffers == 0)
            request->cBuffers = 3;
        // From the checked type: the whole picture, or a stated biSizeImage
        // of at most twice that.
        request->cbBuffer = static_cast<long>(check.bufferBytes);
    }
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr))
        return hr;
    return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::SetFormat(AM_MEDIA_TYPE* type)
{
    if (!type)
        return E_POINTER;
    const FormatCheck check = CheckType(type);
    if (!check.ok() || !type->bFixedSizeSamples)
        return E_INVALIDARG;
    ComPtr<IFilterGraph2> graph;
    ComPtr<IPin> peer;
    CMediaType previousType;
    CMediaType newType;
    SizeMode previous;
    PictureFormat previousFormat;
    BYTE previousSpeed;
    LONG previousRequest;
    {
        AutoLock lock(*m_source->pStateLock());
        // The frame rate asked for chooses the clock; none keeps it.
        const int speed = SpeedForRate(check);
        if (speed < 0)
            return E_INVALIDARG;  // outside the range the caps offer
        previous = m_settings.eKV20XSize;
        previousFormat = m_format;
        previousSpeed = m_settings.Speed;
        previousRequest = m_requestedInterval;
        // A rate the camera runs at already is no request: the connection
        // follows the camera's pace, whatever clock is chosen later.
        const LONG request =
            check.frameTime == FrameDuration100ns(check.size, static_cast<std::uint8_t>(speed), m_settings.ExposureTime)
                ? 0
                : static_cast<LONG>(check.frameTime);
        if (!IsConnected()) {
            m_settings.eKV20XSize = check.size;
            m_format = check.format;
            m_settings.Speed = static_cast<BYTE>(speed);
            m_requestedInterval = request;
            m_formatLocked = 1;
            return S_OK;
        }
        if (!m_source->IsStopped())
            return VFW_E_WRONG_STATE;
        m_formatLocked = 1;
        const REFERENCE_TIME connectedFrameTime = FrameTimeOf(m_mt);
        if (check.size == previous && check.format == previousFormat &&
            (check.frameTime == 0 || check.frameTime == connectedFrameTime))
            return S_OK;
        // Another size, format or rate on a connected pin: the connection is made
        // again through the graph with the new type, as capture filters do.
        IFilterGraph* owner = m_source->Graph();
        if (!owner || FAILED(owner->QueryInterface(IID_IFilterGraph2, reinterpret_cast<void**>(graph.GetAddressOf()))))
            return VFW_E_NOT_IN_GRAPH;
        peer = GetConnected();
        previousType = m_mt;
        if (FAILED(CopyMediaType(&newType, type)) || !newType.pbFormat)
            return E_OUTOFMEMORY;
        if (check.frameTime == 0)
            FrameTimeOf(newType) =
                FrameDuration100ns(check.size, static_cast<std::uint8_t>(speed), m_settings.ExposureTime);
        // What the pin now offers and accepts.
        m_settings.eKV20XSize = check.size;
        m_format = check.format;
        m_settings.Speed = static_cast<BYTE>(speed);
        m_requestedInterval = request;
    }
    // Outside the state lock: the graph disconnects and connects this pin.
    HRESULT hr = graph->ReconnectEx(static_cast<IPin*>(this), &newType);

    {
        AutoLock lock(*m_source->pStateLock());
        const FormatCheck now = CheckType(&m_mt);
        if (IsConnected() && now.size == check.size && now.format == check.format &&
            now.frameTime == FrameTimeOf(newType))
            return S_OK;
        // Not connected with the new type: the old size, format and rate
        // stand again.
        m_settings.eKV20XSize = previous;
        m_format = previousFormat;
        m_settings.Speed = previousSpeed;
        m_requestedInterval = previousRequest;
        if (IsConnected())
            return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
    }
    // The peer refused the new type and the graph left the pins apart: the
    // connection the application had is restored.
    graph->ConnectDirect(static_cast<IPin*>(this), peer.Get(), &previousType);
    return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::GetFormat(AM_MEDIA_TYPE** type)
{
    if (!type)
        return E_POINTER;
    // A connected pin answers with the type in use; an unconnected one with
    // the type its next connection would be offered. Not under the state
    // lock: a format query answers while a start holds it, and on the
    // streaming thread (a sample callback) while a stop does.
    AM_MEDIA_TYPE* copy = nullptr;
    {
        AutoLock snapshot(m_typeLock);
        if (m_hasConnectionType) {
            copy = CreateMediaType(&m_connectionType);
            if (!copy)
                return E_OUTOFMEMORY;
            *type = copy;
            return S_OK;
        }
    }
    CMediaType current;
    const HRESULT hr = BuildMediaType(&current, m_format, m_settings.eKV20XSize);
    if (hr != S_OK)
        return FAILED(hr) ? hr : E_UNEXPECTED;
    copy = CreateMediaType(&current);
    if (!copy)
        return E_OUTOFMEMORY;
    *type = copy;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::GetNumberOfCapabilities(int* count, int* size)
{
    if (count)
        *count = kOfferedTypeCount;
    if (size)
        *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps)
{
    if (index < 0)
        return E_INVALIDARG;
    if (index >= kOfferedTypeCount)
        return S_FALSE;
    const OfferedType entry = OfferedTypeAt(index);
    CMediaType offered;
    const HRESULT hr = BuildMediaType(&offered, entry.format, entry.size);
    if (hr != S_OK)
        return hr;
    if (!offered.pbFormat)
        return E_UNEXPECTED;
    if (caps) {
        VIDEO_STREAM_CONFIG_CAPS config;
        std::memset(&config, 0, sizeof config);
        const SIZE size = {SizeModeWidth(entry.size), SizeModeHeight(entry.size)};
        config.guid = FORMAT_VideoInfo;
        config.InputSize = config.MinCroppingSize = config.MaxCroppingSize = size;
        config.MinOutputSize = config.MaxOutputSize = size;
        const FrameIntervalRange range =
            OfferedFrameIntervals(entry.size, m_settings.AutoExposure != 0, m_settings.ExposureTime);
        config.MinFrameInterval = range.shortest;
        config.MaxFrameInterval = range.longest;
        config.MinBitsPerSecond = ToLong(static_cast<std::int64_t>(offered.lSampleSize) * 8);
        // 2048 x 1536 at 240 bits per sample byte does not fit the field.
        config.MaxBitsPerSecond = ToLong(static_cast<std::int64_t>(offered.lSampleSize) * 240);
        std::memcpy(caps, &config, sizeof config);
    }
    if (type) {
        *type = CreateMediaType(&offered);
        if (!*type)
            return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD dataBytes,
                                            DWORD* returned)
{
    if (set != AMPROPSETID_Pin)
        return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY)
        return E_PROP_ID_UNSUPPORTED;
    if (!data && !returned)
        return E_POINTER;
    if (returned)
        *returned = sizeof(GUID);
    if (!data)
        return S_OK;  // a size query
    if (dataBytes < sizeof(GUID))
        return E_UNEXPECTED;
    *static_cast<GUID*>(data) = PIN_CATEGORY_CAPTURE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::QuerySupported(REFGUID set, DWORD id, DWORD* support)
{
    if (set != AMPROPSETID_Pin)
        return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY)
        return E_PROP_ID_UNSUPPORTED;
    if (support)
        *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

}  // namespace kv20x
