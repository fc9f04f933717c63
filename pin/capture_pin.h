#pragma once
// The capture filter's single output pin "Out": owns the open camera, the
// settings record and its tables, and the raw frame buffers; pumps frames
// through the image pipeline into the downstream samples.
//
// Threads: application threads (connection, stream configuration, IKV20X),
// the framework's worker (the frame loop, OpenCamera and CloseCamera), on
// machines with more than one processor the capture thread (frame reads),
// and while streaming the stall watchdog's thread.
//
// Locking:
// - the filter's state lock: connection, media types, stream configuration,
//   SetVideoSize. The worker never takes it itself, but a downstream
//   callback in Deliver may (asking for the media type), so the stop waits
//   for the worker without it (framework/base_filter.h);
// - m_deviceLock: m_device while it is opened and closed (the worker is the
//   only thread that opens and closes it), the multi-field settings, the
//   rebuilding of the tables, and the colour, tone and flip stage of every
//   frame;
// - m_settingsLock: the multi-field groups of the settings record (white
//   balance, exposure, colour enhancement, the exposure timing) while they
//   are stored or read together. Taken inside m_deviceLock by writers;
//   readers (IKV20X getters) take it alone. Held for the copy only, never
//   around a request to the camera or a wait, so a getter never waits for
//   the camera.
// - m_linkLock: the m_device pointer while it is set and cleared (taken
//   inside m_deviceLock by OpenCamera and CloseCamera), so that a stop can
//   cancel the reads from another thread without the device lock, which the
//   pump may hold while a request waits for the camera's answer. Held for
//   the pointer and a cancel only, never around a wait.
// - m_typeLock: m_connectionType and m_hasConnectionType, the copy of the
//   connection's media type that GetFormat answers with. Written inside the
//   state lock (SetMediaType, BreakConnect), read alone (GetFormat), so a
//   format query never waits for a start or a stop. Held for a copy only.
// - m_bufferListLock: the free and ready lists only, held for one link or
//   unlink and never together with another lock. The capture thread takes no
//   other lock and uses the device link without m_deviceLock: CloseCamera
//   joins it before it takes m_deviceLock to free the link.
// - the stall watchdog's thread cancels the link's reads without a lock for
//   the same reason: CloseCamera stops (joins) it first of all.
// Single-field settings are aligned words read and written without a lock.

#include "base/handles.h"
#include "device/camera_claim.h"
#include "framework/source_stream.h"
#include "imaging/frame_pipeline.h"
#include "pin/frame_pacer.h"
#include "pin/stall_watchdog.h"
#include "pin/video_format.h"
#include "settings/camera_settings.h"
#include "settings/ikv20x_overrides.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace kv20x {

struct DeviceLink;

// One raw frame buffer of the capture hand-off.
struct FrameNode {
    static constexpr std::uint32_t kDataBytes = 2048u * 1536u + 512u;
    FrameNode* next = nullptr;
    std::uint8_t data[kDataBytes];
};

class CPushPinKV20X final : public CSourceStream,
                            public IAMStreamConfig,
                            public IKsPropertySet,
                            public ISpecifyPropertyPages,
                            public IKV20X,
                            private FrameHooks {
public:
    CPushPinKV20X(HRESULT* result, CSource* filter);
    ~CPushPinKV20X() override;

    KV20X_DELEGATE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // Connection (the framework calls these).
    HRESULT GetMediaType(int position, CMediaType* type) override;
    using CSourceStream::GetMediaType;
    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT SetMediaType(const CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT BreakConnect() override;
    HRESULT Inactive() override;

    // Streaming (on the worker thread).
    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT OnThreadCreate() override;
    HRESULT OnThreadDestroy() override;
    HRESULT OnThreadStartPlay() override;
    // No frame this time (rejected, or a command woke the wait) is no end of
    // the stream: the loop asks again.
    bool EndsStreamWhenNothingFilled() const override { return false; }

    // IQualityControl: the pin does not act on quality messages.
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* self, Quality quality) override;

    // IAMStreamConfig
    HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** type) override;
    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override;
    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override;

    // IKsPropertySet: the pin category.
    HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, LPVOID instance, DWORD instanceBytes, LPVOID data,
                                  DWORD dataBytes) override;
    HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, LPVOID instance, DWORD instanceBytes, LPVOID data,
                                  DWORD dataBytes, DWORD* returned) override;
    HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

    // ISpecifyPropertyPages: the video size page.
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;

    // IKV20X
    KV20X_IKV20X_OVERRIDES

    // Whether frames are read on a capture thread of the pin's own.
    bool UsesCaptureThread() const { return m_multiProcessor; }

    // The frame interval a connected pin delivers at now: the connection's
    // rate, unless the camera's own pace at the current settings is slower.
    std::int64_t DeliveredFrameInterval() const;

private:
    // The media type of a format and size as the pin offers it.
    HRESULT BuildMediaType(CMediaType* type, PictureFormat format, SizeMode size);
    // The clock that serves the rate of a checked type (its clock as it is
    // when the type names no rate); -1 when the rate is outside the range
    // the caps offer at that size.
    int SpeedForRate(const FormatCheck& check) const;
    // The format and size of the connected type; false when there is none.
    bool ConnectedPicture(PictureFormat* format, SizeMode* size) const;

    // The device start: S_OK; kCameraInUse when another instance holds the
    // camera or its device refuses the open; VFW_E_NO_CAPTURE_HARDWARE when
    // there is no camera; E_FAIL when it does not answer as this camera does.
    HRESULT OpenCamera();
    void CloseCamera();
    // Cancels the open link's reads from any thread (the stop, the pin's end).
    void CancelDeviceReads();

    // Capture hand-off.
    void ResetFrameLists();
    void StartCapture();
    void StopCapture();
    enum class Take { Frame, None, Unhealthy };
    Take TakeReadyFrame(FrameNode** node);
    bool PopReadyFrame(FrameNode** node);
    void ReturnFrame(FrameNode* node);
    DWORD CaptureLoop();
    static DWORD WINAPI CaptureThreadProc(LPVOID pin);

    // The frame pipeline's hooks.
    void WriteExposure(std::uint16_t analogGain, std::uint16_t exposureRows) override;
    void ReleaseRaw() override;
    void LockSettings() override
    {
        m_deviceLock.Lock();
        m_settingsLock.Lock();
    }
    void UnlockSettings() override
    {
        m_settingsLock.Unlock();
        m_deviceLock.Unlock();
    }

    // Runs the pipeline on one raw frame into the sample and stamps it.
    HRESULT ProcessFrame(std::uint8_t* raw, IMediaSample* sample, const PictureTarget& target,
                         const PictureLayout& layout, SizeMode size, REFERENCE_TIME start, REFERENCE_TIME stop);
    // The planes buffer the connected format needs, made before the camera
    // opens; E_OUTOFMEMORY when it cannot be had.
    HRESULT PreparePlanes();
    // One frame of the size, clock and exposure in force.
    std::int64_t CurrentFrameDuration() const;
    // What a failure of the frame source means: nothing while the graph is
    // stopping; a time-out when the stall watchdog ended the reads; else a
    // failure, with EC_DEVICE_LOST first when the camera no longer answers.
    HRESULT SourceFailure();
    bool CameraAnswers();
    // Ends a worker that is still running when the pin goes away.
    void StopWorker();

    FramePacer m_pacer;  // the worker's: sample times and the frames held back
    std::unique_ptr<DeviceLink> m_device;
    CritSec m_deviceLock;
    CritSec m_settingsLock;
    CritSec m_linkLock;
    volatile LONG m_formatLocked = 0;
    // The format of the next connection (SetFormat) or of the current one
    // (SetMediaType); the state lock writes it.
    Relaxed<PictureFormat> m_format{PictureFormat::Rgb24};
    // The colour planes between the pipeline's two passes for the YUV
    // formats, whose pictures are too small to hold them: the worker's,
    // allocated at the stream start when the connected format needs it.
    std::unique_ptr<std::uint8_t[]> m_planes;
    std::uint32_t m_planesBytes = 0;
    // The rate IAMStreamConfig::SetFormat asked for, offered by the next
    // connection of its size; 0: none (the state lock writes it).
    volatile LONG m_requestedInterval = 0;
    // The connection's rate when it is to be kept by holding frames back,
    // read by the worker at each start; 0: every frame (the state lock
    // writes it). Both fit 32 bits: a type's rate is at most 100 s.
    volatile LONG m_frameInterval = 0;
    CritSec m_typeLock;
    CMediaType m_connectionType;
    bool m_hasConnectionType = false;
    FrameTables m_tables;
    CameraSettings m_settings;
    CameraSettings m_stored;  // the stored values as last loaded or saved (application threads)

    bool m_multiProcessor = false;
    CritSec m_bufferListLock;
    UniqueHandle m_freeBufferEvent;
    UniqueHandle m_frameReadyEvent;
    UniqueHandle m_captureThread;
    volatile LONG m_captureHealthy = 0;
    volatile LONG m_keepCapturing = 0;
    FrameNode* m_readyList = nullptr;
    FrameNode* m_freeList = nullptr;
    FrameNode m_nodes[3];
    FrameNode* m_heldNode = nullptr;  // the node the pump is converting

    StallWatchdog m_watchdog;  // from the stream start to CloseCamera
    CameraClaim m_claim;       // from the device start to CloseCamera, on the worker
    DefectTable m_defectTable;
    std::atomic<bool> m_stopping{false};  // the graph is stopping this run: cancelled reads are no failure
};

}  // namespace kv20x
