// What the platform's Source Reader does with a live media source: a small
// hand-written source with one NV12/RGB32 video stream, logging every call
// the reader makes, driven through MFCreateSourceReaderFromMediaSource.
// Not the product's source: it pins down the platform behaviour the camera's
// media source is written against (which interfaces the reader asks for, the
// order of calls and events, sample tokens, errors, stop and shutdown), so a
// change of the platform shows up here first.
//
// Threads: the reader calls the source and stream from its own work queue
// threads while the test thread calls the reader. The source's lock guards
// its shut-down and announced flags, the stream's lock its state and held
// requests; each is held for state changes and event queueing only (event
// queues call back asynchronously), never while calling the reader, and the
// source's lock is taken before the stream's. Every call log and the hang
// guard have a lock of their own, held for one list operation. Samples are
// answered at once on the requesting thread, or held until the test delivers
// them (as frames arriving later would be). Test threads wait on the logs'
// events, with generous bounds that only a failure reaches.

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <wrl/client.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/handles.h"
#include "base/mf_definitions.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr LONGLONG kFrameDuration = 333333;  // 30 frames/s in 100 ns units

// ---- the call log --------------------------------------------------------------

class CallLog {
public:
    void Add(std::string entry)
    {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_entries.push_back(std::move(entry));
        }
        ::SetEvent(m_added.get());
    }
    // Waits until `count` entries start with `prefix`; false after the bound.
    bool WaitFor(const std::string& prefix, size_t count = 1, DWORD bound = 10000)
    {
        const DWORD start = ::GetTickCount();
        while (Count(prefix) < count) {
            const DWORD spent = ::GetTickCount() - start;
            if (spent >= bound || ::WaitForSingleObject(m_added.get(), bound - spent) != WAIT_OBJECT_0)
                return Count(prefix) >= count;
        }
        return true;
    }
    // How many entries before index `end` start with `prefix`.
    size_t CountBefore(const std::string& prefix, size_t end) const
    {
        const auto entries = Entries();
        size_t count = 0;
        for (size_t i = 0; i < end && i < entries.size(); ++i)
            count += entries[i].compare(0, prefix.size(), prefix) == 0;
        return count;
    }
    // The index of the first entry at or after `from` that starts with `prefix`, or npos.
    size_t Find(const std::string& prefix, size_t from = 0) const
    {
        const auto entries = Entries();
        for (size_t i = from; i < entries.size(); ++i)
            if (entries[i].compare(0, prefix.size(), prefix) == 0)
                return i;
        return std::string::npos;
    }
    std::vector<std::string> Entries() const
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_entries;
    }
    // The entries that start with `prefix`, in order.
    std::vector<std::string> With(const std::string& prefix) const
    {
        std::vector<std::string> found;
        for (const auto& entry : Entries())
            if (entry.compare(0, prefix.size(), prefix) == 0)
                found.push_back(entry);
        return found;
    }
    size_t Count(const std::string& prefix) const { return With(prefix).size(); }
    std::string Text() const
    {
        std::string text;
        for (const auto& entry : Entries())
            text += "  " + entry + "\n";
        return text;
    }

private:
    kv20x::UniqueHandle m_added{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};  // auto-reset: one waiter
    mutable std::mutex m_lock;  // guards m_entries
    std::vector<std::string> m_entries;
};

std::string GuidText(REFGUID guid)
{
    wchar_t wide[40] = {};
    ::StringFromGUID2(guid, wide, 40);
    char text[40] = {};
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    return text;
}

std::string InterfaceName(REFIID iid)
{
    struct Known {
        IID iid;
        const char* name;
    };
    static const Known known[] = {
        {__uuidof(IUnknown), "IUnknown"},
        {__uuidof(IMFMediaEventGenerator), "IMFMediaEventGenerator"},
        {__uuidof(IMFMediaSource), "IMFMediaSource"},
        {__uuidof(IMFMediaSourceEx), "IMFMediaSourceEx"},
        {__uuidof(IMFMediaStream), "IMFMediaStream"},
        {__uuidof(IMFGetService), "IMFGetService"},
        {__uuidof(IMFRateControl), "IMFRateControl"},
        {__uuidof(IMFRateSupport), "IMFRateSupport"},
        {__uuidof(IMFPresentationTimeSource), "IMFPresentationTimeSource"},
        {__uuidof(IMFAttributes), "IMFAttributes"},
        {__uuidof(IMarshal), "IMarshal"},
        {__uuidof(IAgileObject), "IAgileObject"},
        {__uuidof(IKsControl), "IKsControl"},
    };
    for (const auto& entry : known)
        if (IsEqualGUID(entry.iid, iid))
            return entry.name;
    return GuidText(iid);
}

std::string EventName(MediaEventType type)
{
    switch (type) {
    case MEError: return "MEError";
    case MESourceStarted: return "MESourceStarted";
    case MEStreamStarted: return "MEStreamStarted";
    case MESourceStopped: return "MESourceStopped";
    case MEStreamStopped: return "MEStreamStopped";
    case MENewStream: return "MENewStream";
    case MEUpdatedStream: return "MEUpdatedStream";
    case MEEndOfPresentation: return "MEEndOfPresentation";
    case MEEndOfStream: return "MEEndOfStream";
    case MEMediaSample: return "MEMediaSample";
    case MESourceSeeked: return "MESourceSeeked";
    case MEStreamSeeked: return "MEStreamSeeked";
    case MEStreamTick: return "MEStreamTick";
    default: return "event " + std::to_string(type);
    }
}

std::string Hex(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// ---- media types ------------------------------------------------------------------

struct TypeSpec {
    GUID subtype;
    UINT32 width, height;
    LONG stride;  // 0: no MF_MT_DEFAULT_STRIDE
};

UINT32 ImageBytes(const TypeSpec& spec)
{
    return IsEqualGUID(spec.subtype, MFVideoFormat_NV12) ? spec.width * spec.height * 3 / 2
                                                          : spec.width * spec.height * 4;
}

ComPtr<IMFMediaType> MakeType(const TypeSpec& spec)
{
    ComPtr<IMFMediaType> type;
    EXPECT_EQ(::MFCreateMediaType(type.GetAddressOf()), S_OK);
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    type->SetGUID(MF_MT_SUBTYPE, spec.subtype);
    ::MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, spec.width, spec.height);
    ::MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, 30, 1);
    ::MFSetAttributeRatio(type.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
    type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
    type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE);
    type->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, TRUE);
    type->SetUINT32(MF_MT_SAMPLE_SIZE, ImageBytes(spec));
    if (spec.stride != 0)
        type->SetUINT32(MF_MT_DEFAULT_STRIDE, static_cast<UINT32>(spec.stride));
    return type;
}

const TypeSpec kTypes[] = {
    {MFVideoFormat_NV12, 640, 480, 640},
    {MFVideoFormat_NV12, 320, 240, 320},
    {MFVideoFormat_RGB32, 320, 240, 320 * 4},
    {MFVideoFormat_RGB32, 160, 120, -160 * 4},  // bottom-up
    {MFVideoFormat_NV12, 160, 120, 0},          // no stride given
};

// ---- the probe source ---------------------------------------------------------------

// How the stream ends after `samplesBeforeEnding` samples.
enum class Ending {
    None,
    EndOfStream,         // MEEndOfStream (and MEEndOfPresentation on the source)
    StreamError,         // MEError on the stream
    SourceError,         // MEError on the source
    StreamErrorThenEnd,  // MEError on the stream, then MEEndOfStream
    SourceErrorThenEnd,  // MEError on the source, then MEEndOfStream
    RefuseRequest,       // RequestSample itself fails
};

struct ProbeOptions {
    bool answerAtOnce = true;  // else requests wait for DeliverHeld
    Ending ending = Ending::None;
    int samplesBeforeEnding = 0;
    HRESULT failure = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    bool newStreamOnRestart = false;  // MENewStream rather than MEUpdatedStream when started again
};

class ProbeSource;

class ProbeStream final : public IMFMediaStream {
public:
    ProbeStream(ProbeSource* source, IMFStreamDescriptor* descriptor, std::shared_ptr<CallLog> log,
                const ProbeOptions& options);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        m_log->Add("stream.QueryInterface " + InterfaceName(iid));
        if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IMFMediaEventGenerator)) ||
            IsEqualIID(iid, __uuidof(IMFMediaStream))) {
            *object = static_cast<IMFMediaStream*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_references; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }

    // IMFMediaEventGenerator
    STDMETHODIMP GetEvent(DWORD flags, IMFMediaEvent** event) override
    {
        m_log->Add("stream.GetEvent");
        ComPtr<IMFMediaEventQueue> queue;
        {
            std::lock_guard<std::mutex> hold(m_lock);
            if (m_shutDown)
                return MF_E_SHUTDOWN;
            queue = m_events;
        }
        return queue->GetEvent(flags, event);
    }
    STDMETHODIMP BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override
    {
        m_log->Add("stream.BeginGetEvent");
        std::lock_guard<std::mutex> hold(m_lock);
        return m_shutDown ? MF_E_SHUTDOWN : m_events->BeginGetEvent(callback, state);
    }
    STDMETHODIMP EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_shutDown)
            return MF_E_SHUTDOWN;
        const HRESULT hr = m_events->EndGetEvent(result, event);
        MediaEventType type = MEUnknown;
        if (SUCCEEDED(hr) && *event)
            (*event)->GetType(&type);
        m_log->Add("stream.EndGetEvent " + EventName(type));
        return hr;
    }
    STDMETHODIMP QueueEvent(MediaEventType type, REFGUID extended, HRESULT status, const PROPVARIANT* value) override
    {
        m_log->Add("stream.QueueEvent " + EventName(type));
        std::lock_guard<std::mutex> hold(m_lock);
        return m_shutDown ? MF_E_SHUTDOWN : m_events->QueueEventParamVar(type, extended, status, value);
    }

    // IMFMediaStream
    STDMETHODIMP GetMediaSource(IMFMediaSource** source) override;
    STDMETHODIMP GetStreamDescriptor(IMFStreamDescriptor** descriptor) override
    {
        m_log->Add("stream.GetStreamDescriptor");
        if (!descriptor)
            return E_POINTER;
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_shutDown)
            return MF_E_SHUTDOWN;
        *descriptor = m_descriptor.Get();
        (*descriptor)->AddRef();
        return S_OK;
    }
    STDMETHODIMP RequestSample(IUnknown* token) override
    {
        m_log->Add(std::string("stream.RequestSample token=") + (token ? "set" : "null"));
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_shutDown)
            return MF_E_SHUTDOWN;
        if (!m_started)
            return MF_E_MEDIA_SOURCE_WRONGSTATE;
        if (m_ended)
            return MF_E_END_OF_STREAM;
        if (m_options.ending == Ending::RefuseRequest && m_sent >= m_options.samplesBeforeEnding)
            return m_options.failure;
        m_lastToken = token;
        m_held.emplace_back(token);
        if (m_options.answerAtOnce)
            AnswerHeld();
        else
            ::SetEvent(m_requested.get());
        return S_OK;
    }

    // For the source, under its own lock.
    void Started(const TypeSpec& type, bool restart)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_type = type;
        m_started = true;
        m_ended = false;
        PROPVARIANT start;
        PropVariantInit(&start);
        start.vt = VT_I8;
        start.hVal.QuadPart = 0;
        m_events->QueueEventParamVar(MEStreamStarted, GUID_NULL, S_OK, &start);
        m_log->Add(std::string("stream queued MEStreamStarted") + (restart ? " (again)" : ""));
    }
    void Stopped()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_started = false;
        m_held.clear();
        m_events->QueueEventParamVar(MEStreamStopped, GUID_NULL, S_OK, nullptr);
        m_log->Add("stream queued MEStreamStopped");
    }
    // Returns the source reference, to be released outside the locks.
    ComPtr<ProbeSource> ShutDown()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_shutDown = true;
        m_held.clear();
        m_events->Shutdown();
        return std::move(m_source);
    }
    // The samples the reader asked for, answered now (a frame arrived).
    size_t DeliverHeld()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        const size_t count = m_held.size();
        AnswerHeld();
        return count;
    }
    size_t Held()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_held.size();
    }
    // Set when a request waits for DeliverHeld.
    HANDLE RequestedEvent() const { return m_requested.get(); }
    IUnknown* LastToken()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_lastToken;
    }
    IMFSample* LastSample()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_lastSample;  // identity only: the reader may have released it
    }

private:
    ~ProbeStream() = default;

    // Under m_lock.
    void AnswerHeld()
    {
        while (!m_held.empty()) {
            ComPtr<IUnknown> token = m_held.front();
            m_held.pop_front();
            if (m_options.ending != Ending::None && m_options.ending != Ending::RefuseRequest &&
                m_sent == m_options.samplesBeforeEnding) {
                End();
                m_held.clear();
                return;
            }
            ComPtr<IMFSample> sample = MakeSample(token.Get());
            m_lastSample = sample.Get();
            m_events->QueueEventParamUnk(MEMediaSample, GUID_NULL, S_OK, sample.Get());
            m_log->Add("stream queued MEMediaSample " + std::to_string(m_sent) +
                      (token ? " with its token" : " (no token)"));
            ++m_sent;
        }
    }
    void End();
    ComPtr<IMFSample> MakeSample(IUnknown* token)
    {
        const UINT32 bytes = ImageBytes(m_type);
        ComPtr<IMFMediaBuffer> buffer;
        EXPECT_EQ(::MFCreateMemoryBuffer(bytes, buffer.GetAddressOf()), S_OK);
        BYTE* data = nullptr;
        buffer->Lock(&data, nullptr, nullptr);
        for (UINT32 i = 0; i < bytes; ++i)
            data[i] = static_cast<BYTE>(m_sent + i);
        buffer->Unlock();
        buffer->SetCurrentLength(bytes);
        ComPtr<IMFSample> sample;
        EXPECT_EQ(::MFCreateSample(sample.GetAddressOf()), S_OK);
        sample->AddBuffer(buffer.Get());
        sample->SetSampleTime(1000000 + m_sent * kFrameDuration);
        sample->SetSampleDuration(kFrameDuration);
        if (token)
            sample->SetUnknown(MFSampleExtension_Token, token);
        return sample;
    }

    std::atomic<ULONG> m_references{1};
    kv20x::UniqueHandle m_requested{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};  // auto-reset
    ComPtr<ProbeSource> m_source;  // the source owns the stream: released at shutdown to end the cycle
    std::shared_ptr<CallLog> m_log;  // shared: the reader may call in after the test is done
    const ProbeOptions m_options;

    std::mutex m_lock;  // guards everything below
    ComPtr<IMFMediaEventQueue> m_events;
    ComPtr<IMFStreamDescriptor> m_descriptor;
    std::deque<ComPtr<IUnknown>> m_held;
    TypeSpec m_type = kTypes[0];
    int m_sent = 0;
    bool m_started = false;
    bool m_ended = false;
    bool m_shutDown = false;
    IUnknown* m_lastToken = nullptr;
    IMFSample* m_lastSample = nullptr;
};

class ProbeSource final : public IMFMediaSourceEx, public IMFGetService {
public:
    ProbeSource(std::shared_ptr<CallLog> log, const ProbeOptions& options) : m_log(std::move(log)), m_options(options)
    {
        EXPECT_EQ(::MFCreateEventQueue(m_events.GetAddressOf()), S_OK);
        std::vector<ComPtr<IMFMediaType>> owned;
        std::vector<IMFMediaType*> types;
        for (const auto& spec : kTypes) {
            owned.push_back(MakeType(spec));
            types.push_back(owned.back().Get());
        }
        ComPtr<IMFStreamDescriptor> descriptor;
        EXPECT_EQ(::MFCreateStreamDescriptor(0, static_cast<DWORD>(types.size()), types.data(),
                                             descriptor.GetAddressOf()),
                  S_OK);
        // What the frame server reads: here only to show that the reader
        // does not mind them.
        descriptor->SetGUID(kv20x::MF_DEVICESTREAM_STREAM_CATEGORY, kv20x::kPinNameVideoCapture);
        descriptor->SetUINT32(kv20x::MF_DEVICESTREAM_STREAM_ID, 0);
        descriptor->SetUINT32(kv20x::MF_DEVICESTREAM_FRAMESERVER_SHARED, 1);
        descriptor->SetUINT32(kv20x::MF_DEVICESTREAM_ATTRIBUTE_FRAMESOURCE_TYPES, kv20x::MFFrameSourceTypes_Color);
        IMFStreamDescriptor* descriptors[] = {descriptor.Get()};
        EXPECT_EQ(::MFCreatePresentationDescriptor(1, descriptors, m_presentation.GetAddressOf()), S_OK);
        m_presentation->SelectStream(0);
        ProbeStream* stream = new ProbeStream(this, descriptor.Get(), m_log, options);
        m_stream = stream;
        stream->Release();  // the one reference is m_stream's
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        m_log->Add("source.QueryInterface " + InterfaceName(iid));
        *object = nullptr;
        if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IMFMediaEventGenerator)) ||
            IsEqualIID(iid, __uuidof(IMFMediaSource)))
            *object = static_cast<IMFMediaSourceEx*>(this);
        else if (IsEqualIID(iid, __uuidof(IMFMediaSourceEx)))
            *object = static_cast<IMFMediaSourceEx*>(this);
        else if (IsEqualIID(iid, __uuidof(IMFGetService)))
            *object = static_cast<IMFGetService*>(this);
        if (!*object)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_references; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }

    // IMFMediaEventGenerator
    STDMETHODIMP GetEvent(DWORD flags, IMFMediaEvent** event) override
    {
        m_log->Add("source.GetEvent");
        ComPtr<IMFMediaEventQueue> queue;
        {
            std::lock_guard<std::mutex> hold(m_lock);
            if (m_shutDown)
                return MF_E_SHUTDOWN;
            queue = m_events;
        }
        return queue->GetEvent(flags, event);
    }
    STDMETHODIMP BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override
    {
        m_log->Add("source.BeginGetEvent");
        std::lock_guard<std::mutex> hold(m_lock);
        return m_shutDown ? MF_E_SHUTDOWN : m_events->BeginGetEvent(callback, state);
    }
    STDMETHODIMP EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_shutDown)
            return MF_E_SHUTDOWN;
        const HRESULT hr = m_events->EndGetEvent(result, event);
        MediaEventType type = MEUnknown;
        if (SUCCEEDED(hr) && *event)
            (*event)->GetType(&type);
        m_log->Add("source.EndGetEvent " + EventName(type));
        return hr;
    }
    STDMETHODIMP QueueEvent(MediaEventType type, REFGUID extended, HRESULT status, const PROPVARIANT* value) override
    {
        m_log->Add("source.QueueEvent " + EventName(type));
        std::lock_guard<std::mutex> hold(m_lock);
        return m_shutDown ? MF_E_SHUTDOWN : m_events->QueueEventParamVar(type, extended, status, value);
    }

    // IMFMediaSource
    STDMETHODIMP GetCharacteristics(DWORD* characteristics) override
    {
        m_log->Add("source.GetCharacteristics");
        if (!characteristics)
            return E_POINTER;
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_shutDown)
            return MF_E_SHUTDOWN;
        *characteristics = MFMEDIASOURCE_IS_LIVE;
        return S_OK;
    }
    STDMETHODIMP CreatePresentationDescriptor(IMFPresentationDescriptor** descriptor) override
    {
        m_log->Add("source.CreatePresentationDescriptor");
        if (!descriptor)
            return E_POINTER;
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_shutDown)
            return MF_E_SHUTDOWN;
        return m_presentation->Clone(descriptor);
    }
    STDMETHODIMP Start(IMFPresentationDescriptor* descriptor, const GUID* timeFormat,
                       const PROPVARIANT* position) override
    {
        std::string entry = "source.Start format=" + std::string(timeFormat ? GuidText(*timeFormat) : "null");
        entry += " position.vt=" + std::string(position ? std::to_string(position->vt) : "null");
        if (position && position->vt == VT_I8)
            entry += " (" + std::to_string(position->hVal.QuadPart) + ")";
        if (!descriptor || !position)
            return E_INVALIDARG;
        if (timeFormat && !IsEqualGUID(*timeFormat, GUID_NULL))
            return MF_E_UNSUPPORTED_TIME_FORMAT;
        BOOL selected = FALSE;
        ComPtr<IMFStreamDescriptor> stream;
        ComPtr<IMFMediaTypeHandler> handler;
        ComPtr<IMFMediaType> current;
        HRESULT hr = descriptor->GetStreamDescriptorByIndex(0, &selected, stream.GetAddressOf());
        if (SUCCEEDED(hr))
            hr = stream->GetMediaTypeHandler(handler.GetAddressOf());
        TypeSpec type = kTypes[0];
        if (SUCCEEDED(hr) && SUCCEEDED(handler->GetCurrentMediaType(current.GetAddressOf()))) {
            UINT32 width = 0, height = 0;
            GUID subtype = GUID_NULL;
            ::MFGetAttributeSize(current.Get(), MF_MT_FRAME_SIZE, &width, &height);
            current->GetGUID(MF_MT_SUBTYPE, &subtype);
            for (const auto& spec : kTypes)
                if (spec.width == width && spec.height == height && IsEqualGUID(spec.subtype, subtype))
                    type = spec;
            entry += " current=" + std::to_string(width) + "x" + std::to_string(height);
        } else {
            entry += " current=none";
        }
        entry += selected ? " selected" : " deselected";
        m_log->Add(entry);
        if (FAILED(hr))
            return hr;

        std::lock_guard<std::mutex> hold(m_lock);
        if (m_shutDown)
            return MF_E_SHUTDOWN;
        const bool restart = m_streamAnnounced && !m_options.newStreamOnRestart;
        if (selected) {
            m_events->QueueEventParamUnk(restart ? MEUpdatedStream : MENewStream, GUID_NULL, S_OK,
                                         static_cast<IMFMediaStream*>(m_stream.Get()));
            m_log->Add(restart ? "source queued MEUpdatedStream" : "source queued MENewStream");
            m_streamAnnounced = true;
        }
        PROPVARIANT start;
        PropVariantInit(&start);
        start.vt = VT_I8;
        start.hVal.QuadPart = 0;
        m_events->QueueEventParamVar(MESourceStarted, GUID_NULL, S_OK, &start);
        m_log->Add("source queued MESourceStarted");
        if (selected)
            m_stream->Started(type, restart);
        return S_OK;
    }
    STDMETHODIMP Stop() override
    {
        m_log->Add("source.Stop");
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_shutDown)
            return MF_E_SHUTDOWN;
        m_stream->Stopped();
        m_events->QueueEventParamVar(MESourceStopped, GUID_NULL, S_OK, nullptr);
        m_log->Add("source queued MESourceStopped");
        return S_OK;
    }
    STDMETHODIMP Pause() override
    {
        m_log->Add("source.Pause");
        return MF_E_INVALID_STATE_TRANSITION;
    }
    STDMETHODIMP Shutdown() override
    {
        m_log->Add("source.Shutdown");
        ComPtr<ProbeSource> self;  // the stream's reference, dropped after the lock
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_shutDown)
            return MF_E_SHUTDOWN;
        m_shutDown = true;
        self = m_stream->ShutDown();
        m_events->Shutdown();
        return S_OK;
    }

    // IMFMediaSourceEx
    STDMETHODIMP GetSourceAttributes(IMFAttributes** attributes) override
    {
        m_log->Add("source.GetSourceAttributes");
        if (!attributes)
            return E_POINTER;
        return ::MFCreateAttributes(attributes, 1);
    }
    STDMETHODIMP GetStreamAttributes(DWORD stream, IMFAttributes** attributes) override
    {
        m_log->Add("source.GetStreamAttributes " + std::to_string(stream));
        if (!attributes)
            return E_POINTER;
        return stream == 0 ? ::MFCreateAttributes(attributes, 1) : MF_E_INVALIDSTREAMNUMBER;
    }
    STDMETHODIMP SetD3DManager(IUnknown* manager) override
    {
        m_log->Add(std::string("source.SetD3DManager ") + (manager ? "set" : "null"));
        return S_OK;
    }

    // IMFGetService
    STDMETHODIMP GetService(REFGUID service, REFIID iid, void** object) override
    {
        m_log->Add("source.GetService " + GuidText(service) + " " + InterfaceName(iid));
        if (object)
            *object = nullptr;
        return MF_E_UNSUPPORTED_SERVICE;
    }

    ProbeStream& Stream() { return *m_stream.Get(); }
    bool IsShutDown()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_shutDown;
    }
    // A failure reported on the source's queue (called with the stream's lock held).
    void QueueSourceEvent(MediaEventType type, HRESULT status)
    {
        m_events->QueueEventParamVar(type, GUID_NULL, status, nullptr);
    }

private:
    ~ProbeSource() = default;

    std::atomic<ULONG> m_references{1};
    std::shared_ptr<CallLog> m_log;
    const ProbeOptions m_options;

    std::mutex m_lock;  // guards m_shutDown and m_streamAnnounced; the queues are thread-safe
    ComPtr<IMFMediaEventQueue> m_events;
    ComPtr<IMFPresentationDescriptor> m_presentation;
    ComPtr<ProbeStream> m_stream;
    bool m_streamAnnounced = false;
    bool m_shutDown = false;
};

ProbeStream::ProbeStream(ProbeSource* source, IMFStreamDescriptor* descriptor, std::shared_ptr<CallLog> log,
                         const ProbeOptions& options)
    : m_source(source), m_log(std::move(log)), m_options(options), m_descriptor(descriptor)
{
    EXPECT_EQ(::MFCreateEventQueue(m_events.GetAddressOf()), S_OK);
}

STDMETHODIMP ProbeStream::GetMediaSource(IMFMediaSource** source)
{
    m_log->Add("stream.GetMediaSource");
    if (!source)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_shutDown)
        return MF_E_SHUTDOWN;
    *source = static_cast<IMFMediaSourceEx*>(m_source.Get());
    (*source)->AddRef();
    return S_OK;
}

void ProbeStream::End()
{
    const HRESULT failure = m_options.failure;
    switch (m_options.ending) {
    case Ending::EndOfStream:
        m_events->QueueEventParamVar(MEEndOfStream, GUID_NULL, S_OK, nullptr);
        m_source->QueueSourceEvent(MEEndOfPresentation, S_OK);
        m_log->Add("stream queued MEEndOfStream, source MEEndOfPresentation");
        break;
    case Ending::StreamError:
    case Ending::StreamErrorThenEnd:
        m_events->QueueEventParamVar(MEError, GUID_NULL, failure, nullptr);
        m_log->Add("stream queued MEError " + Hex(failure));
        break;
    case Ending::SourceError:
    case Ending::SourceErrorThenEnd:
        m_source->QueueSourceEvent(MEError, failure);
        m_log->Add("source queued MEError " + Hex(failure));
        break;
    default:
        break;
    }
    if (m_options.ending == Ending::StreamErrorThenEnd || m_options.ending == Ending::SourceErrorThenEnd) {
        m_events->QueueEventParamVar(MEEndOfStream, GUID_NULL, S_OK, nullptr);
        m_log->Add("stream queued MEEndOfStream");
    }
    m_ended = m_options.ending != Ending::StreamError && m_options.ending != Ending::SourceError;
}

// ---- the reader side ------------------------------------------------------------------

struct ReadResult {
    HRESULT hr = E_FAIL;
    DWORD streamIndex = 0xFFFFFFFF;
    DWORD flags = 0xFFFFFFFF;
    LONGLONG timestamp = -1;
    ComPtr<IMFSample> sample;
};

ReadResult Read(IMFSourceReader* reader)
{
    ReadResult result;
    result.hr = reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, &result.streamIndex, &result.flags,
                                   &result.timestamp, result.sample.GetAddressOf());
    return result;
}

// Waits until the reader has asked again for the next event of every queue
// it took one from: after a read returns, it still re-arms on its own thread.
bool WaitSettled(CallLog& log)
{
    return log.WaitFor("source.BeginGetEvent", log.Count("source.EndGetEvent") + 1) &&
           log.WaitFor("stream.BeginGetEvent", log.Count("stream.EndGetEvent") + 1);
}

// The answers of an asynchronous reader.
class ReadCallback final : public IMFSourceReaderCallback {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IMFSourceReaderCallback))) {
            *object = static_cast<IMFSourceReaderCallback*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_references; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }
    STDMETHODIMP OnReadSample(HRESULT hr, DWORD, DWORD flags, LONGLONG, IMFSample* sample) override
    {
        Note("OnReadSample " + Hex(hr) + " flags " + std::to_string(flags) + (sample ? " sample" : " no sample"));
        return S_OK;
    }
    STDMETHODIMP OnFlush(DWORD) override
    {
        Note("OnFlush");
        return S_OK;
    }
    STDMETHODIMP OnEvent(DWORD, IMFMediaEvent* event) override
    {
        MediaEventType type = MEUnknown;
        event->GetType(&type);
        Note("OnEvent " + EventName(type));
        return S_OK;
    }
    CallLog& Notes() { return m_notes; }

private:
    ~ReadCallback() = default;
    void Note(std::string text) { m_notes.Add(std::move(text)); }

    std::atomic<ULONG> m_references{1};
    CallLog m_notes;
};

// Media Foundation is started once for the program, as an application does.
// The program also holds the shared work queue every reader locks: when a
// reader's last reference goes on that queue's own thread (an asynchronous
// reader released just after its callback ran), the reader's unlock would
// shut the queue down from inside it, and Wine 8's work queue then waits for
// itself while holding the lock every new reader takes.
class MediaFoundation : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        ASSERT_EQ(::MFStartup(MF_VERSION, MFSTARTUP_NOSOCKET), S_OK);
        ASSERT_EQ(::MFLockSharedWorkQueue(L"", 0, nullptr, &m_readerQueue), S_OK);
    }
    void TearDown() override
    {
        ::MFUnlockWorkQueue(m_readerQueue);
        ::MFShutdown();
        ::CoUninitialize();
    }

private:
    DWORD m_readerQueue = 0;
};
::testing::Environment* const kMediaFoundation = ::testing::AddGlobalTestEnvironment(new MediaFoundation);

// Ends the program with the call log when a case runs far beyond its
// time (a read the reader never answers), instead of hanging the run.
class HangGuard {
public:
    explicit HangGuard(std::shared_ptr<CallLog> log)
        : m_log(std::move(log)), m_thread([this] {
              if (::WaitForSingleObject(m_done.get(), 60000) == WAIT_OBJECT_0)
                  return;
              std::printf("no progress for 60 s; calls and events, in order:\n%s", Watched()->Text().c_str());
              std::fflush(stdout);
              ::ExitProcess(3);
          })
    {
    }
    ~HangGuard()
    {
        ::SetEvent(m_done.get());
        m_thread.join();
    }
    // The log to show, for a case with a log of its own.
    void Watch(std::shared_ptr<CallLog> log)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_log = std::move(log);
    }

private:
    std::shared_ptr<CallLog> Watched()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_log;
    }

    kv20x::UniqueHandle m_done{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::mutex m_lock;  // guards m_log
    std::shared_ptr<CallLog> m_log;
    std::thread m_thread;
};

class SourceReaderProbe : public ::testing::Test {
protected:
    void SetUp() override { m_guard = std::make_unique<HangGuard>(m_log); }
    void TearDown() override
    {
        m_reader.Reset();
        if (m_source) {
            if (!m_source->IsShutDown())
                m_source->Shutdown();
            m_source->Release();
        }
        if (m_callback)
            m_callback->Release();
        if (HasFailure())
            std::printf("calls and events, in order:\n%s", m_log->Text().c_str());
        m_guard.reset();
    }

    // A source, and a reader on it: asynchronous with `m_callback` if asked.
    void Open(const ProbeOptions& options = {}, bool asynchronous = false, bool keepSourceRunning = false)
    {
        m_source = new ProbeSource(m_log, options);
        ComPtr<IMFAttributes> attributes;
        ASSERT_EQ(::MFCreateAttributes(attributes.GetAddressOf(), 2), S_OK);
        if (asynchronous) {
            m_callback = new ReadCallback;
            attributes->SetUnknown(MF_SOURCE_READER_ASYNC_CALLBACK, m_callback);
        }
        if (keepSourceRunning)
            attributes->SetUINT32(MF_SOURCE_READER_DISCONNECT_MEDIASOURCE_ON_SHUTDOWN, TRUE);
        ASSERT_EQ(::MFCreateSourceReaderFromMediaSource(static_cast<IMFMediaSourceEx*>(m_source), attributes.Get(),
                                                        m_reader.GetAddressOf()),
                  S_OK);
    }
    void SelectType(DWORD index)
    {
        ComPtr<IMFMediaType> type;
        ASSERT_EQ(m_reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, index, type.GetAddressOf()), S_OK);
        ASSERT_EQ(m_reader->SetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, nullptr, type.Get()), S_OK);
    }
    HRESULT ReadAsync()
    {
        return m_reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, nullptr, nullptr, nullptr, nullptr);
    }

    std::shared_ptr<CallLog> m_log = std::make_shared<CallLog>();
    std::unique_ptr<HangGuard> m_guard;
    ProbeSource* m_source = nullptr;  // the test's own reference
    ReadCallback* m_callback = nullptr;
    ComPtr<IMFSourceReader> m_reader;
};

TEST_F(SourceReaderProbe, CreationAsksOnlyForTheMediaSourceInterface)
{
    Open();
    EXPECT_EQ(m_log->Entries(), (std::vector<std::string>{"source.QueryInterface IMFMediaSource",
                                                         "source.CreatePresentationDescriptor",
                                                         "source.BeginGetEvent"}));
    ASSERT_EQ(Read(m_reader.Get()).hr, S_OK);
    m_reader.Reset();
    // Neither IMFMediaSourceEx, IMFGetService nor IKsControl, nor the
    // characteristics: the reader needs the plain source.
    EXPECT_EQ(m_log->With("source.QueryInterface"), (std::vector<std::string>{"source.QueryInterface IMFMediaSource"}));
    EXPECT_EQ(m_log->Count("source.Get"), 0u) << "GetCharacteristics, GetSourceAttributes, GetService";
    EXPECT_EQ(m_log->Count("source.SetD3DManager"), 0u);
    EXPECT_EQ(m_log->Count("source.Pause"), 0u);
}

TEST_F(SourceReaderProbe, NativeTypesComeBackAsOffered)
{
    Open();
    DWORD index = 0;
    for (const TypeSpec& spec : kTypes) {
        SCOPED_TRACE(index);
        ComPtr<IMFMediaType> type;
        ASSERT_EQ(m_reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, index++, type.GetAddressOf()),
                  S_OK);
        GUID subtype = GUID_NULL;
        UINT32 width = 0, height = 0;
        EXPECT_EQ(type->GetGUID(MF_MT_SUBTYPE, &subtype), S_OK);
        EXPECT_TRUE(IsEqualGUID(subtype, spec.subtype));
        EXPECT_EQ(::MFGetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, &width, &height), S_OK);
        EXPECT_EQ(width, spec.width);
        EXPECT_EQ(height, spec.height);
        UINT32 stride = 0;
        if (spec.stride == 0) {
            EXPECT_EQ(type->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride), MF_E_ATTRIBUTENOTFOUND) << "none added";
        } else {
            EXPECT_EQ(type->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride), S_OK);
            EXPECT_EQ(static_cast<LONG>(stride), spec.stride) << "kept as given, negative too";
        }
    }
    ComPtr<IMFMediaType> beyond;
    EXPECT_EQ(m_reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, index, beyond.GetAddressOf()),
              MF_E_NO_MORE_TYPES);
}

TEST_F(SourceReaderProbe, OnlyNativeTypesCanBeChosen)
{
    const TypeSpec foreign[] = {
        {MFVideoFormat_RGB24, 640, 480, 640 * 3},  // a conversion the reader cannot make
        {MFVideoFormat_NV12, 800, 600, 800},       // a size not offered
    };
    Open();
    for (const TypeSpec& spec : foreign) {
        SCOPED_TRACE(spec.width);
        EXPECT_EQ(m_reader->SetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, nullptr, MakeType(spec).Get()),
                  MF_E_TOPO_CODEC_NOT_FOUND);
    }
}

// The type chosen reaches the source through its stream descriptor's
// handler, which the source reads at Start; the reader sets it only when it
// differs from the reader's own idea of the current type (the first native
// type at first), so an untouched handler means the first type.
TEST_F(SourceReaderProbe, TheSourceSeesTheChosenTypeAtStartOnlyWhenItChanged)
{
    struct Case {
        std::vector<DWORD> choices;
        const char* seenAtStart;
    };
    const Case cases[] = {
        {{}, "current=none"},
        {{0}, "current=none"},
        {{1}, "current=320x240"},
        {{2, 0}, "current=640x480"},
        {{3}, "current=160x120"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seenAtStart);
        m_log->Add("== case");
        ProbeSource* source = new ProbeSource(m_log, {});
        ComPtr<IMFSourceReader> reader;
        ASSERT_EQ(::MFCreateSourceReaderFromMediaSource(static_cast<IMFMediaSourceEx*>(source), nullptr,
                                                        reader.GetAddressOf()),
                  S_OK);
        const size_t created = m_log->Entries().size();
        for (DWORD choice : c.choices) {
            ComPtr<IMFMediaType> type;
            ASSERT_EQ(reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, choice, type.GetAddressOf()),
                      S_OK);
            ASSERT_EQ(reader->SetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, nullptr, type.Get()), S_OK);
        }
        EXPECT_EQ(m_log->Entries().size(), created) << "choosing a type calls nothing on the source";
        ASSERT_EQ(Read(reader.Get()).hr, S_OK);
        const auto starts = m_log->With("source.Start");
        ASSERT_FALSE(starts.empty());
        EXPECT_NE(starts.back().find(c.seenAtStart), std::string::npos) << starts.back();
        reader.Reset();
        source->Release();
    }
}

TEST_F(SourceReaderProbe, TheFirstReadStartsTheSourceAndEachReadAsksForOneSample)
{
    Open();
    SelectType(1);
    EXPECT_EQ(m_log->Count("source.Start"), 0u) << "nothing starts before the first read";
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const ReadResult r = Read(m_reader.Get());
        ASSERT_EQ(r.hr, S_OK);
        EXPECT_EQ(r.streamIndex, 0u);
        EXPECT_EQ(r.flags, 0u);
        ASSERT_TRUE(r.sample);
        EXPECT_EQ(r.sample.Get(), m_source->Stream().LastSample()) << "the source's own sample, not a copy";
        LONGLONG time = 0, duration = 0;
        EXPECT_EQ(r.sample->GetSampleTime(&time), S_OK);
        EXPECT_EQ(r.sample->GetSampleDuration(&duration), S_OK);
        EXPECT_EQ(r.timestamp, 1000000 + i * kFrameDuration) << "the source's time, not rebased";
        EXPECT_EQ(time, r.timestamp);
        EXPECT_EQ(duration, kFrameDuration);
        EXPECT_EQ(m_log->Count("stream.RequestSample"), static_cast<size_t>(i + 1));
    }
    // A null time format and a VT_I8 position of 0 (not VT_EMPTY), with the
    // stream selected; then the new stream, source started, stream started.
    EXPECT_EQ(m_log->With("source.Start"),
              (std::vector<std::string>{"source.Start format={00000000-0000-0000-0000-000000000000} position.vt=20 "
                                        "(0) current=320x240 selected"}));
    EXPECT_EQ(m_log->With("stream.RequestSample"), std::vector<std::string>(3, "stream.RequestSample token=null"))
        << "no tokens";
    const auto consumed = m_log->With("source.EndGetEvent");
    ASSERT_GE(consumed.size(), 2u);
    EXPECT_EQ(consumed[0], "source.EndGetEvent MENewStream");
    EXPECT_EQ(consumed[1], "source.EndGetEvent MESourceStarted");
    EXPECT_LT(m_log->Find("stream.RequestSample"), m_log->Find("source.EndGetEvent MESourceStarted"))
        << "the first request follows MENewStream, before MESourceStarted is read";
    EXPECT_EQ(m_log->With("stream.EndGetEvent").front(), "stream.EndGetEvent MEStreamStarted");
}

// A live source answers when a frame arrives: the reader keeps one request
// outstanding per read and waits for it.
TEST_F(SourceReaderProbe, AReadWaitsForTheFrameWithOneRequestOutstanding)
{
    ProbeOptions options;
    options.answerAtOnce = false;
    Open(options, true);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(ReadAsync(), S_OK);
        ASSERT_EQ(::WaitForSingleObject(m_source->Stream().RequestedEvent(), 10000), WAIT_OBJECT_0);
        EXPECT_EQ(m_source->Stream().Held(), 1u);
        EXPECT_EQ(m_callback->Notes().Count("OnReadSample"), static_cast<size_t>(i));
        EXPECT_EQ(m_source->Stream().DeliverHeld(), 1u);
        ASSERT_TRUE(m_callback->Notes().WaitFor("OnReadSample", i + 1));
        EXPECT_EQ(m_callback->Notes().With("OnReadSample").back(), "OnReadSample 0x00000000 flags 0 sample");
    }
    EXPECT_EQ(m_log->Count("stream.RequestSample"), 3u);
}

TEST_F(SourceReaderProbe, FlushSeekAndTypeChangesWhileRunningReachNothingButTheCharacteristics)
{
    Open();
    ASSERT_EQ(Read(m_reader.Get()).hr, S_OK);
    ASSERT_TRUE(WaitSettled(*m_log));
    const size_t before = m_log->Entries().size();
    EXPECT_EQ(m_reader->Flush(MF_SOURCE_READER_FIRST_VIDEO_STREAM), S_OK);
    SelectType(1);
    PROPVARIANT position;
    PropVariantInit(&position);
    position.vt = VT_I8;
    position.hVal.QuadPart = 0;
    EXPECT_EQ(m_reader->SetCurrentPosition(GUID_NULL, position), MF_E_INVALIDREQUEST) << "a live source cannot seek";
    const auto entries = m_log->Entries();
    std::vector<std::string> calls;
    for (size_t i = before; i < entries.size(); ++i)
        if (entries[i].compare(0, 7, "source.") == 0 || entries[i].compare(0, 7, "stream.") == 0)
            calls.push_back(entries[i]);
    EXPECT_EQ(calls, (std::vector<std::string>{"source.GetCharacteristics"}));
}

// How the end of a stream and its failures reach a synchronous read. A
// failure queued as MEError is swallowed: the read it should end is never
// answered (so these cases follow it with MEEndOfStream, which is); only a
// failing RequestSample reaches the caller, with its cause.
TEST_F(SourceReaderProbe, EndsAndFailuresAsASynchronousReadSeesThem)
{
    struct Case {
        const char* name;
        Ending ending;
        HRESULT hr;
        DWORD flags;
        size_t requestsAfterTheEnd;  // what three more reads ask of the stream
    };
    const HRESULT cause = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    const Case cases[] = {
        {"end of stream", Ending::EndOfStream, S_OK, MF_SOURCE_READERF_ENDOFSTREAM, 0},
        {"MEError on the stream, then the end", Ending::StreamErrorThenEnd, S_OK, MF_SOURCE_READERF_ENDOFSTREAM, 0},
        {"MEError on the source, then the end", Ending::SourceErrorThenEnd, S_OK, MF_SOURCE_READERF_ENDOFSTREAM, 0},
        {"RequestSample fails", Ending::RefuseRequest, cause, MF_SOURCE_READERF_ERROR, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto log = std::make_shared<CallLog>();
        m_guard->Watch(log);
        ProbeOptions options;
        options.ending = c.ending;
        options.samplesBeforeEnding = 1;
        options.failure = cause;
        ProbeSource* source = new ProbeSource(log, options);
        ComPtr<IMFSourceReader> reader;
        ASSERT_EQ(::MFCreateSourceReaderFromMediaSource(static_cast<IMFMediaSourceEx*>(source), nullptr,
                                                        reader.GetAddressOf()),
                  S_OK);
        ASSERT_EQ(Read(reader.Get()).hr, S_OK);
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(i);
            const ReadResult r = Read(reader.Get());
            EXPECT_EQ(r.hr, c.hr);
            EXPECT_EQ(r.flags, c.flags);
            EXPECT_EQ(r.streamIndex, 0u);
            EXPECT_FALSE(r.sample);
            if (i == 0 && (c.ending == Ending::StreamErrorThenEnd || c.ending == Ending::SourceErrorThenEnd)) {
                EXPECT_EQ(log->Count(c.ending == Ending::StreamErrorThenEnd ? "stream.EndGetEvent MEError"
                                                                           : "source.EndGetEvent MEError"),
                          1u)
                    << "the reader took the error, and dropped it";
            }
        }
        EXPECT_EQ(log->Count("stream.RequestSample"), 2 + c.requestsAfterTheEnd);
        if (HasFailure())
            std::printf("%s:\n%s", c.name, log->Text().c_str());
        reader.Reset();
        source->Release();
    }
}

// MEError alone: the reader takes it from the queue and re-arms, and the
// pending read is never answered, with or without a callback. Seen here
// through an asynchronous reader, whose release ends the wait.
TEST_F(SourceReaderProbe, AnMEErrorAloneLeavesThePendingReadUnanswered)
{
    for (Ending ending : {Ending::StreamError, Ending::SourceError}) {
        const bool onStream = ending == Ending::StreamError;
        SCOPED_TRACE(onStream ? "stream" : "source");
        auto log = std::make_shared<CallLog>();
        m_guard->Watch(log);
        ProbeOptions options;
        options.ending = ending;
        options.samplesBeforeEnding = 1;
        ProbeSource* source = new ProbeSource(log, options);
        ReadCallback* callback = new ReadCallback;
        ComPtr<IMFAttributes> attributes;
        ASSERT_EQ(::MFCreateAttributes(attributes.GetAddressOf(), 1), S_OK);
        attributes->SetUnknown(MF_SOURCE_READER_ASYNC_CALLBACK, callback);
        ComPtr<IMFSourceReader> reader;
        ASSERT_EQ(::MFCreateSourceReaderFromMediaSource(static_cast<IMFMediaSourceEx*>(source), attributes.Get(),
                                                        reader.GetAddressOf()),
                  S_OK);
        ASSERT_EQ(reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
        ASSERT_TRUE(callback->Notes().WaitFor("OnReadSample"));
        ASSERT_EQ(reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
        const std::string queue = onStream ? "stream." : "source.";
        ASSERT_TRUE(log->WaitFor(queue + "EndGetEvent MEError"));
        // Re-armed after taking it: the reader is done with the event.
        const size_t taken = log->Find(queue + "EndGetEvent MEError");
        ASSERT_TRUE(log->WaitFor(queue + "BeginGetEvent", log->CountBefore(queue + "BeginGetEvent", taken) + 1));
        reader.Reset();
        EXPECT_EQ(callback->Notes().With("OnReadSample"),
                  (std::vector<std::string>{"OnReadSample 0x00000000 flags 0 sample"}))
            << "the second read was never answered";
        EXPECT_EQ(callback->Notes().Count("OnEvent"), 0u);
        source->Shutdown();
        source->Release();
        callback->Release();
    }
}

TEST_F(SourceReaderProbe, ReadsAfterTheSourceShutsDownFailWithItsAnswer)
{
    Open();
    ASSERT_EQ(Read(m_reader.Get()).hr, S_OK);
    ASSERT_EQ(m_source->Shutdown(), S_OK);
    const ReadResult r = Read(m_reader.Get());
    EXPECT_EQ(r.hr, MF_E_SHUTDOWN) << "RequestSample's answer";
    EXPECT_EQ(r.flags, static_cast<DWORD>(MF_SOURCE_READERF_ERROR));
    EXPECT_EQ(m_log->With("stream.RequestSample").size(), 2u);
}

// Shutdown with a read pending returns at once, but the read is never
// answered; a synchronous read would wait for ever. Releasing an
// asynchronous reader then returns.
TEST_F(SourceReaderProbe, ShutdownWithAReadPendingLeavesTheReadUnanswered)
{
    ProbeOptions options;
    options.answerAtOnce = false;
    Open(options, true);
    ASSERT_EQ(ReadAsync(), S_OK);
    ASSERT_EQ(::WaitForSingleObject(m_source->Stream().RequestedEvent(), 10000), WAIT_OBJECT_0);
    ASSERT_EQ(m_source->Shutdown(), S_OK);
    m_reader.Reset();
    EXPECT_EQ(m_callback->Notes().Count("OnReadSample"), 0u);
    EXPECT_EQ(m_log->Count("source.Shutdown"), 2u) << "the application's, then the reader's own at its release";
}

TEST_F(SourceReaderProbe, ReleasingTheReaderShutsTheSourceDownOrStopsIt)
{
    for (bool keepSource : {false, true}) {
        SCOPED_TRACE(keepSource ? "MF_SOURCE_READER_DISCONNECT_MEDIASOURCE_ON_SHUTDOWN" : "default");
        auto log = std::make_shared<CallLog>();
        m_guard->Watch(log);
        ProbeSource* source = new ProbeSource(log, {});
        ComPtr<IMFAttributes> attributes;
        ASSERT_EQ(::MFCreateAttributes(attributes.GetAddressOf(), 1), S_OK);
        if (keepSource)
            attributes->SetUINT32(MF_SOURCE_READER_DISCONNECT_MEDIASOURCE_ON_SHUTDOWN, TRUE);
        ComPtr<IMFSourceReader> reader;
        ASSERT_EQ(::MFCreateSourceReaderFromMediaSource(static_cast<IMFMediaSourceEx*>(source), attributes.Get(),
                                                        reader.GetAddressOf()),
                  S_OK);
        ASSERT_EQ(Read(reader.Get()).hr, S_OK);
        ASSERT_TRUE(WaitSettled(*log));
        const size_t before = log->Entries().size();
        reader.Reset();
        const auto entries = log->Entries();
        const std::vector<std::string> after(entries.begin() + static_cast<std::ptrdiff_t>(before), entries.end());
        if (keepSource) {
            EXPECT_EQ(source->IsShutDown(), false);
            ASSERT_FALSE(after.empty());
            EXPECT_EQ(after.front(), "source.Stop") << "stopped, without Shutdown";
            EXPECT_EQ(log->Count("source.Shutdown"), 0u);
        } else {
            EXPECT_EQ(after, (std::vector<std::string>{"source.Shutdown"})) << "without Stop first";
        }
        source->Shutdown();
        source->Release();
    }
}

// A second reader on a source the first one stopped: it takes the stream
// from MENewStream only. Announced as MEUpdatedStream (as a restart of the
// same client would be), it is never asked for a sample.
TEST_F(SourceReaderProbe, ASecondReaderNeedsTheStreamAnnouncedAsNew)
{
    for (bool asNew : {true, false}) {
        SCOPED_TRACE(asNew ? "MENewStream" : "MEUpdatedStream");
        auto log = std::make_shared<CallLog>();
        m_guard->Watch(log);
        ProbeOptions options;
        options.newStreamOnRestart = asNew;
        ProbeSource* source = new ProbeSource(log, options);
        ComPtr<IMFAttributes> attributes;
        ASSERT_EQ(::MFCreateAttributes(attributes.GetAddressOf(), 2), S_OK);
        attributes->SetUINT32(MF_SOURCE_READER_DISCONNECT_MEDIASOURCE_ON_SHUTDOWN, TRUE);
        {
            ComPtr<IMFSourceReader> first;
            ASSERT_EQ(::MFCreateSourceReaderFromMediaSource(static_cast<IMFMediaSourceEx*>(source), attributes.Get(),
                                                            first.GetAddressOf()),
                      S_OK);
            ASSERT_EQ(Read(first.Get()).hr, S_OK);
        }
        ASSERT_EQ(log->Count("source.Stop"), 1u);
        ReadCallback* callback = new ReadCallback;
        attributes->SetUnknown(MF_SOURCE_READER_ASYNC_CALLBACK, callback);
        ComPtr<IMFSourceReader> second;
        ASSERT_EQ(::MFCreateSourceReaderFromMediaSource(static_cast<IMFMediaSourceEx*>(source), attributes.Get(),
                                                        second.GetAddressOf()),
                  S_OK);
        const size_t requestsBefore = log->Count("stream.RequestSample");
        ASSERT_EQ(second->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, nullptr, nullptr, nullptr, nullptr),
                  S_OK);
        // The reader handles MENewStream/MEUpdatedStream before it reads
        // MESourceStarted: by then a stream it took has been asked.
        ASSERT_TRUE(log->WaitFor("source.EndGetEvent MESourceStarted", 2));
        EXPECT_EQ(log->Count("source.EndGetEvent " + std::string(asNew ? "MENewStream" : "MEUpdatedStream")),
                  asNew ? 2u : 1u);
        EXPECT_EQ(log->Count("stream.RequestSample") - requestsBefore, asNew ? 1u : 0u);
        if (asNew) {
            EXPECT_TRUE(callback->Notes().WaitFor("OnReadSample"));
        }
        second.Reset();
        source->Shutdown();
        source->Release();
        callback->Release();
    }
}

}  // namespace
