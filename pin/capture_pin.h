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
#include "pin/stall_watchdog.h"
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

private:
    // The media type of size `index` as the pin offers it.
    HRESULT BuildMediaType(CMediaType* type, int index);
    // Width and height of the connected type; false when there is none.
    bool ConnectedGeometry(std::int32_t* width, std::int32_t* height, std::uint32_t* imageBytes) const;

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
    HRESULT ProcessFrame(std::uint8_t* raw, IMediaSample* sample, BYTE* picture, std::int32_t width,
                         std::int32_t height);
    // What a failure of the frame source means: nothing while the graph is
    // stopping; a time-out when the stall watchdog ended the reads; else a
    // failure, with EC_DEVICE_LOST first when the camera no longer answers.
    HRESULT SourceFailure();
    bool CameraAnswers();
    // Ends a worker that is still running when the pin goes away.
    void StopWorker();

    REFERENCE_TIME m_streamTime = 0;
    std::unique_ptr<DeviceLink> m_device;
    CritSec m_deviceLock;
    CritSec m_settingsLock;
    CritSec m_linkLock;
    volatile LONG m_formatLocked = 0;
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
