#pragma once
// A pattern source built on the framework, with knobs and counters for the
// framework's conformance tests: RGB24 320 x 240 frames whose bytes hold the
// frame number, stamped with consecutive times.

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "framework/source.h"
#include "framework/source_stream.h"

namespace kv20x::test {

inline constexpr GUID kClsidTestSource = {0x5e1a7c11, 0x2b1f, 0x4c3d, {0x9a, 0x10, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99}};
inline constexpr REFERENCE_TIME kTestFrameTime = 400000;
inline constexpr HRESULT kCreateRefused = E_ACCESSDENIED;

class PatternPin final : public CSourceStream {
public:
    static constexpr LONG kWidth = 320, kHeight = 240;

    PatternPin(HRESULT* result, CSource* filter, LPCWSTR name) : CSourceStream(result, filter, name) {}

    HRESULT GetMediaType(CMediaType* type) override
    {
        VIDEOINFOHEADER* info = reinterpret_cast<VIDEOINFOHEADER*>(type->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
        if (!info)
            return E_OUTOFMEMORY;
        std::memset(info, 0, sizeof *info);
        info->AvgTimePerFrame = kTestFrameTime;
        info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info->bmiHeader.biWidth = kWidth;
        info->bmiHeader.biHeight = kHeight;
        info->bmiHeader.biPlanes = 1;
        info->bmiHeader.biBitCount = 24;
        info->bmiHeader.biSizeImage = kWidth * kHeight * 3;
        type->majortype = MEDIATYPE_Video;
        type->subtype = MEDIASUBTYPE_RGB24;
        type->formattype = FORMAT_VideoInfo;
        type->bTemporalCompression = FALSE;
        type->SetSampleSize(info->bmiHeader.biSizeImage);
        return S_OK;
    }
    using CSourceStream::GetMediaType;

    HRESULT CheckMediaType(const CMediaType* type) override
    {
        ++checkCalls;
        return CSourceStream::CheckMediaType(type);
    }

    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        if (request->cBuffers == 0)
            request->cBuffers = 2;
        request->cbBuffer = kWidth * kHeight * 3;
        ALLOCATOR_PROPERTIES actual{};
        const HRESULT hr = allocator->SetProperties(request, &actual);
        if (FAILED(hr))
            return hr;
        return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
    }

    HRESULT FillBuffer(IMediaSample* sample) override
    {
        if (fillGate) {
            ::SetEvent(filling);
            ::WaitForSingleObject(fillGate, INFINITE);
        }
        const int n = frames++;
        if (frameLimit >= 0 && n >= frameLimit)
            return failAtLimit;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        std::memset(data, n & 0xFF, static_cast<size_t>(sample->GetSize()));
        REFERENCE_TIME start = n * kTestFrameTime, stop = (n + 1) * kTestFrameTime;
        sample->SetTime(&start, &stop);
        sample->SetSyncPoint(TRUE);
        return S_OK;
    }

    HRESULT OnThreadCreate() override
    {
        Record("create");
        frames = 0;
        if (createFailures > 0) {
            --createFailures;
            return kCreateRefused;
        }
        return S_OK;
    }
    HRESULT OnThreadDestroy() override
    {
        Record("destroy");
        return S_OK;
    }
    HRESULT OnThreadStartPlay() override
    {
        Record("start play");
        return S_OK;
    }
    HRESULT Active() override
    {
        Record("active");
        return CSourceStream::Active();
    }
    HRESULT Inactive() override
    {
        Record("inactive");
        const HRESULT hr = CSourceStream::Inactive();
        return FAILED(inactiveFailure) ? inactiveFailure : hr;
    }
    HRESULT Run(REFERENCE_TIME start) override
    {
        Record("run");
        return CSourceStream::Run(start);
    }

    void ChangeMediaTypes() { ::InterlockedIncrement(&m_typeVersion); }
    IMemAllocator* Allocator() const { return m_allocator.Get(); }

    std::vector<std::string> Events()
    {
        std::lock_guard lock(m_eventsLock);
        return m_events;
    }
    void ClearEvents()
    {
        std::lock_guard lock(m_eventsLock);
        m_events.clear();
    }

    std::atomic<int> createFailures{0};
    std::atomic<int> frames{0};
    std::atomic<int> frameLimit{-1};     // FillBuffer answers failAtLimit from this frame on
    std::atomic<HRESULT> failAtLimit{S_FALSE};
    std::atomic<int> checkCalls{0};
    HRESULT inactiveFailure = S_OK;
    std::atomic<bool> refuseThread{false};  // the worker thread cannot be started
    // While set, FillBuffer signals `filling` and waits for `fillGate`.
    HANDLE fillGate = nullptr;  // not owned
    HANDLE filling = nullptr;   // not owned
    // The last worker thread started (a handle of the test's own).
    HANDLE Worker() const { return m_worker.get(); }

protected:
    HANDLE StartThread(LPTHREAD_START_ROUTINE procedure, LPVOID parameter) override
    {
        if (refuseThread)
            return nullptr;
        const HANDLE thread = CSourceStream::StartThread(procedure, parameter);
        HANDLE copy = nullptr;
        if (thread)
            ::DuplicateHandle(::GetCurrentProcess(), thread, ::GetCurrentProcess(), &copy, 0, FALSE,
                              DUPLICATE_SAME_ACCESS);
        m_worker.reset(copy);
        return thread;
    }

private:
    void Record(const char* what)
    {
        std::lock_guard lock(m_eventsLock);
        m_events.push_back(what);
    }
    std::mutex m_eventsLock;
    std::vector<std::string> m_events;
    UniqueHandle m_worker;
};

class TestSource final : public CSource {
public:
    // A source with one pin, "1" being its id; a reference is held by the caller.
    static TestSource* Create()
    {
        HRESULT hr = S_OK;
        auto* source = new TestSource(&hr);
        source->NonDelegatingAddRef();
        return source;
    }
    PatternPin* AddPatternPin(LPCWSTR name)
    {
        HRESULT hr = S_OK;
        return new PatternPin(&hr, this, name);
    }
    PatternPin* pin;
    IBaseFilter* AsFilter() { return static_cast<IBaseFilter*>(this); }

private:
    explicit TestSource(HRESULT* hr) : CSource(nullptr, kClsidTestSource) { pin = new PatternPin(hr, this, L"Pattern"); }
};

}  // namespace kv20x::test
