// Construction, interfaces and the frame pump of the capture pin. Locking
// rules: capture_pin.h.

#include "pin/capture_pin.h"

#include <evcode.h>

#include <new>

#include "device/device_link.h"
#include "device/frame_read.h"
#include "framework/com_helpers.h"
#include "settings/class_ids.h"
#include "pin/camera_port.h"
#include "settings/persistence.h"
#include "settings/registry_store.h"

namespace kv20x {

namespace {

// How long a frame loop that is being stopped waits for the stop command
// before it looks again.
constexpr DWORD kStoppingPollMs = 10;

}  // namespace

CPushPinKV20X::CPushPinKV20X(HRESULT* result, CSource* filter)
    : CSourceStream(result, filter, L"Out"),
      m_watchdog([this] {
          return static_cast<DWORD>(StallTimeoutMs(m_settings.eKV20XSize, m_settings.Speed, m_settings.ExposureTime));
      })
{
    m_freeBufferEvent.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    m_frameReadyEvent.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    m_multiProcessor = ProcessorCount() > 1;
    if (m_multiProcessor)
        ResetFrameLists();

    RegistryStore store;
    ReadParameterGroupSelection(store, m_settings);
    LoadParameterGroup(store, m_settings);
    m_stored = m_settings;
    BuildFrameTables(m_settings, m_tables);
    // RowTime and the flicker step follow the loaded size, clock and mains
    // frequency from the start; the working exposure keeps its initial value.
    const ExposureTiming timing = ComputeExposureTiming(m_settings.eKV20XSize, m_settings.Speed, m_settings.HZ);
    m_settings.RowTime = timing.rowTime;
    m_settings.FlickerStep = timing.flickerStep;
}

CPushPinKV20X::~CPushPinKV20X()
{
    StopWorker();
    CloseCamera();
    // The settings in force, when they are not what the store holds already:
    // a filter that was only listed writes nothing, and does not put back
    // what it loaded over what another application has saved since.
    AutoLock fields(m_settingsLock);
    if (StoredValuesDiffer(m_settings, m_stored)) {
        RegistryStore store;
        SaveParameterGroup(store, m_settings);
    }
}

void CPushPinKV20X::StopWorker()
{
    if (!ThreadExists())
        return;
    // The filter is going away while it streams (its host never stopped
    // the graph): end the worker the way a stop would.
    m_stopping = true;
    CancelDeviceReads();
    if (m_allocator)
        m_allocator->Decommit();
    CallWorker(CMD_STOP);
    CallWorker(CMD_EXIT);
    Close();
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IKV20X)
        return GetInterface(static_cast<IKV20X*>(this), object);
    if (iid == IID_IAMStreamConfig)
        return GetInterface(static_cast<IAMStreamConfig*>(this), object);
    if (iid == IID_IKsPropertySet)
        return GetInterface(static_cast<IKsPropertySet*>(this), object);
    if (iid == IID_ISpecifyPropertyPages)
        return GetInterface(static_cast<ISpecifyPropertyPages*>(this), object);
    return CSourceStream::NonDelegatingQueryInterface(iid, object);
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::GetPages(CAUUID* pages)
{
    return OnePageList(pages, kClsidSizePage);
}

HRESULT STDMETHODCALLTYPE CPushPinKV20X::Notify(IBaseFilter*, Quality)
{
    return E_FAIL;
}

HRESULT CPushPinKV20X::OpenCamera()
{
    CloseCamera();
    std::unique_ptr<DevicePort> port = OpenCameraPort();
    if (!port)
        return E_OUTOFMEMORY;
    // Another instance streaming from the camera keeps it: this one sends
    // it nothing at all (opening the device is no request to the camera).
    switch (OpenAndClaim(*port, kDevicePath, m_claim)) {
    case CameraAccess::Absent: return VFW_E_NO_CAPTURE_HARDWARE;
    case CameraAccess::InUse: return kCameraInUse;
    case CameraAccess::Opened: break;
    }
    {
        AutoLock lock(m_deviceLock);
        std::unique_ptr<DeviceLink> link = StartDevice(std::move(port), m_settings, m_defectTable);
        AutoLock pointer(m_linkLock);
        m_device = std::move(link);
    }
    if (!m_device) {
        m_claim.Release();
        return E_FAIL;
    }
    if (m_multiProcessor)
        StartCapture();
    return S_OK;
}

void CPushPinKV20X::CloseCamera()
{
    m_watchdog.Stop();
    StopCapture();
    AutoLock lock(m_deviceLock);
    std::unique_ptr<DeviceLink> link;
    {
        AutoLock pointer(m_linkLock);
        link = std::move(m_device);
    }
    StopDevice(std::move(link));
    m_claim.Release();
}

void CPushPinKV20X::CancelDeviceReads()
{
    AutoLock pointer(m_linkLock);
    if (m_device)
        m_device->port->CancelReads();
}

HRESULT CPushPinKV20X::OnThreadCreate()
{
    m_pacer.Reset(m_frameInterval);
    if (const HRESULT planes = PreparePlanes(); FAILED(planes))
        return planes;
    m_stopping = false;
    return OpenCamera();
}

HRESULT CPushPinKV20X::OnThreadStartPlay()
{
    if (!m_device)
        return E_FAIL;
    // Its result is not acted on: some firmware refuses the request and
    // streams all the same. A camera that sends nothing is the watchdog's.
    StartStream(*m_device);
    m_watchdog.Start([this] { m_device->port->CancelReads(); });
    return S_OK;
}

HRESULT CPushPinKV20X::OnThreadDestroy()
{
    CloseCamera();
    return S_OK;
}

HRESULT CPushPinKV20X::Inactive()
{
    AutoLock lock(*m_source->pStateLock());
    if (IsConnected() && ThreadExists()) {
        // A camera that stalls or has gone must not hold the stop: reads in
        // flight are cancelled first, and their failure is no error. Not
        // under the device lock, which the pump may hold while a request to
        // the camera waits for its answer.
        m_stopping = true;
        CancelDeviceReads();
    }
    return CSourceStream::Inactive();
}

HRESULT CPushPinKV20X::SourceFailure()
{
    if (m_stopping) {
        ::WaitForSingleObject(GetRequestHandle(), kStoppingPollMs);
        return S_FALSE;
    }
    // A camera that stopped sending frames or stopped answering requests.
    if (m_watchdog.Fired() || m_device->port->ControlTimedOut())
        return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    // Applications offer "reconnect" on this event, as for any unplugged
    // camera; the stream ends with EC_ERRORABORT as well.
    if (!CameraAnswers())
        m_source->NotifyEvent(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(m_source->GetOwner()), 0);
    return E_FAIL;
}

// A read has failed: a camera that still answers a control request is there.
bool CPushPinKV20X::CameraAnswers()
{
    AutoLock lock(m_deviceLock);
    std::uint16_t version = 0;
    return m_device && ReadChipVersion(*m_device, &version);
}

HRESULT CPushPinKV20X::FillBuffer(IMediaSample* sample)
{
    if (!m_device)
        return E_FAIL;
    if (!sample)
        return E_POINTER;
    BYTE* picture = nullptr;
    if (FAILED(sample->GetPointer(&picture)) || !picture)
        return E_FAIL;
    PictureFormat format = PictureFormat::Rgb24;
    SizeMode size = kSizeHalf;
    if (!ConnectedPicture(&format, &size))
        return E_FAIL;
    const PictureLayout layout = SizeModeLayout(format, size);
    if (sample->GetSize() < static_cast<long>(layout.imageBytes) || layout.planesBytes > m_planesBytes)
        return E_FAIL;
    // The raw frames the link reads must be exactly the picture's size.
    if (m_device->width != static_cast<std::uint32_t>(SizeModeWidth(size)) ||
        m_device->height != static_cast<std::uint32_t>(SizeModeHeight(size)))
        return E_FAIL;
    const PictureTarget target{format, picture, m_planes.get()};
    // A request the camera left unanswered (the auto exposure's, or a
    // setter's) ends the stream as a stall does.
    if (m_device->port->ControlTimedOut())
        return SourceFailure();

    if (m_multiProcessor) {
        FrameNode* node = nullptr;
        switch (TakeReadyFrame(&node)) {
        case Take::Unhealthy: return SourceFailure();
        case Take::None: return S_FALSE;
        case Take::Frame: break;
        }
        REFERENCE_TIME start = 0, stop = 0;
        if (!m_pacer.Take(CurrentFrameDuration(), &start, &stop)) {
            ReturnFrame(node);  // held back to keep the connection's rate
            return S_FALSE;
        }
        m_heldNode = node;
        return ProcessFrame(node->data, sample, target, layout, size, start, stop);
    }
    m_watchdog.ReaderBusy();
    switch (FrameRead(*m_device, m_nodes[0].data)) {
    case kFrameReadFailed: return SourceFailure();
    case kFrameReadRejected: return S_FALSE;
    default: break;
    }
    // Until the next FillBuffer the worker converts and delivers: idle as a
    // reader, however long the downstream filter holds it.
    m_watchdog.FrameArrived();
    m_watchdog.ReaderIdle();
    REFERENCE_TIME start = 0, stop = 0;
    if (!m_pacer.Take(CurrentFrameDuration(), &start, &stop))
        return S_FALSE;  // held back to keep the connection's rate
    return ProcessFrame(m_nodes[0].data, sample, target, layout, size, start, stop);
}

HRESULT CPushPinKV20X::PreparePlanes()
{
    PictureFormat format = PictureFormat::Rgb24;
    SizeMode size = kSizeHalf;
    if (!ConnectedPicture(&format, &size))
        return S_OK;  // FillBuffer refuses an unusable type itself
    const std::uint32_t bytes = SizeModeLayout(format, size).planesBytes;
    if (bytes == 0) {
        m_planes.reset();
        m_planesBytes = 0;
    } else if (bytes > m_planesBytes) {
        m_planes.reset(new (std::nothrow) std::uint8_t[bytes]);
        m_planesBytes = m_planes ? bytes : 0;
        if (!m_planes)
            return E_OUTOFMEMORY;
    }
    return S_OK;
}

std::int64_t CPushPinKV20X::CurrentFrameDuration() const
{
    return FrameDuration100ns(m_settings.eKV20XSize, m_settings.Speed, m_settings.ExposureTime);
}

std::int64_t CPushPinKV20X::DeliveredFrameInterval() const
{
    const std::int64_t natural = CurrentFrameDuration();
    const std::int64_t kept = m_frameInterval;
    return kept > natural ? kept : natural;
}

HRESULT CPushPinKV20X::ProcessFrame(std::uint8_t* raw, IMediaSample* sample, const PictureTarget& target,
                                    const PictureLayout& layout, SizeMode size, REFERENCE_TIME start,
                                    REFERENCE_TIME stop)
{
    const bool made = RunFramePipeline(raw, target, SizeModeWidth(size), SizeModeHeight(size), m_settings,
                                       m_defectTable, m_tables, *this);
    ReleaseRaw();  // in case the pipeline had nothing to hand back early
    if (!made)
        return E_FAIL;

    // The picture, not the whole buffer: an allocator may hand out larger ones.
    sample->SetActualDataLength(static_cast<long>(layout.imageBytes));
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(TRUE);
    return S_OK;
}

// Called with both locks held, the new values stored: the writes wait for
// the camera, which getters must not, so the settings lock is given up
// meanwhile (the device lock keeps the writes in order).
void CPushPinKV20X::WriteExposure(std::uint16_t analogGain, std::uint16_t exposureRows)
{
    m_settingsLock.Unlock();
    m_watchdog.BoundChanged();
    WriteGain(*m_device, analogGain);
    kv20x::WriteExposure(*m_device, exposureRows);
    m_settingsLock.Lock();
}

void CPushPinKV20X::ReleaseRaw()
{
    if (FrameNode* node = m_heldNode) {
        m_heldNode = nullptr;
        ReturnFrame(node);
    }
}

}  // namespace kv20x
