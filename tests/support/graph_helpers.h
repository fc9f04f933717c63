#pragma once
// Helpers for tests that put filters into the platform's Filter Graph:
// COM on the test thread, Wine's Sample Grabber and Null Renderer, a sample
// collector, and waiting for graph events.

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <wrl/client.h>

#include "tools/common/graph_parts.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace kv20x::test {

using Microsoft::WRL::ComPtr;

using tools::FindPin;
using tools::kClsidNullRenderer;
using tools::kClsidSampleGrabber;

// Runs `action` on a thread of its own and waits up to 10 s for it. A
// deadlock can neither be undone nor left to hang the run: the process ends
// with the failure printed.
template <class Action>
void MustFinish(Action action, const char* what)
{
    const HANDLE done = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread runner([&] {
        action();
        ::SetEvent(done);
    });
    if (::WaitForSingleObject(done, 10000) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "FAILED: %s did not finish within 10 s: a deadlock\n", what);
        std::fflush(nullptr);
        ::TerminateProcess(::GetCurrentProcess(), 3);
    }
    runner.join();
    ::CloseHandle(done);
}

class ComApartment {
public:
    ComApartment() { ::CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~ComApartment() { ::CoUninitialize(); }
};

// One sample as the grabber saw it.
struct SeenSample {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    HRESULT timeResult = E_FAIL;
    bool syncPoint = false;
    long length = 0;
    std::vector<std::uint8_t> data;  // kept when the collector is asked to
};

class SampleCollector final : public tools::StackGrabberCallback {
public:
    // Keeps the bytes of the first `keepData` samples.
    explicit SampleCollector(size_t keepData = 0) : m_keepData(keepData) {}
    void KeepData(size_t count)
    {
        std::lock_guard lock(m_mutex);
        m_keepData = count;
    }

    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample* sample) override
    {
        SeenSample seen;
        seen.timeResult = sample->GetTime(&seen.start, &seen.stop);
        seen.syncPoint = sample->IsSyncPoint() == S_OK;
        seen.length = sample->GetActualDataLength();
        std::lock_guard lock(m_mutex);
        if (m_samples.size() < m_keepData) {
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            seen.data.assign(data, data + seen.length);
        }
        m_samples.push_back(std::move(seen));
        m_arrived.notify_all();
        return S_OK;
    }

    // Waits until `count` samples have arrived; false after `timeout`.
    bool WaitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        std::unique_lock lock(m_mutex);
        return m_arrived.wait_for(lock, timeout, [&] { return m_samples.size() >= count; });
    }
    std::vector<SeenSample> Samples()
    {
        std::lock_guard lock(m_mutex);
        return m_samples;
    }
    size_t Count()
    {
        std::lock_guard lock(m_mutex);
        return m_samples.size();
    }
    void Clear()
    {
        std::lock_guard lock(m_mutex);
        m_samples.clear();
    }

private:
    size_t m_keepData;
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<SeenSample> m_samples;
};

// A Filter Graph with its control and event interfaces, and no reference
// clock: samples are rendered as they come. (Wine 8's system clock can also
// hang the graph's release when it goes away just after a run: its advise
// thread misses the wake-up.)
inline HRESULT CreateClocklessGraph(ComPtr<IGraphBuilder>& graph, ComPtr<IMediaControl>& control,
                                    ComPtr<IMediaEvent>& events)
{
    HRESULT hr = ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                    reinterpret_cast<void**>(graph.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(control.GetAddressOf()));
    graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(events.GetAddressOf()));
    ComPtr<IMediaFilter> timing;
    graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(timing.GetAddressOf()));
    return timing ? timing->SetSyncSource(nullptr) : E_NOINTERFACE;
}

// A graph holding a source, Wine's Sample Grabber and a Null Renderer.
struct GrabberGraph {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    ComPtr<IBaseFilter> grabberFilter;
    ComPtr<ISampleGrabber> grabber;
    ComPtr<IBaseFilter> renderer;

    // Builds the graph and adds `source`; connects nothing yet.
    HRESULT Build(IBaseFilter* source, SampleCollector* collector, const GUID& subtype = MEDIASUBTYPE_RGB24)
    {
        HRESULT hr = CreateClocklessGraph(graph, control, events);
        if (FAILED(hr))
            return hr;
        hr = ::CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                reinterpret_cast<void**>(grabberFilter.GetAddressOf()));
        if (FAILED(hr))
            return hr;
        grabberFilter.As(&grabber);
        AM_MEDIA_TYPE type{};
        type.majortype = MEDIATYPE_Video;
        type.subtype = subtype;
        grabber->SetMediaType(&type);
        grabber->SetBufferSamples(FALSE);
        if (collector)
            grabber->SetCallback(collector, 0);
        hr = ::CoCreateInstance(kClsidNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                reinterpret_cast<void**>(renderer.GetAddressOf()));
        if (FAILED(hr))
            return hr;
        if (FAILED(hr = graph->AddFilter(source, L"Source")) ||
            FAILED(hr = graph->AddFilter(grabberFilter.Get(), L"Grabber")) ||
            FAILED(hr = graph->AddFilter(renderer.Get(), L"Null")))
            return hr;
        return S_OK;
    }

    // source -> grabber -> null renderer, directly, with `type` when given.
    HRESULT ConnectAll(IBaseFilter* source, const AM_MEDIA_TYPE* type = nullptr)
    {
        HRESULT hr = graph->ConnectDirect(FindPin(source, PINDIR_OUTPUT).Get(),
                                          FindPin(grabberFilter.Get(), PINDIR_INPUT).Get(), type);
        if (FAILED(hr))
            return hr;
        return graph->ConnectDirect(FindPin(grabberFilter.Get(), PINDIR_OUTPUT).Get(),
                                    FindPin(renderer.Get(), PINDIR_INPUT).Get(), nullptr);
    }

    // The next event with `code`, or 0 when none came within `timeout`.
    long WaitForEvent(long code, std::chrono::milliseconds timeout, LONG_PTR* param1 = nullptr)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            long got = 0;
            LONG_PTR p1 = 0, p2 = 0;
            if (events->GetEvent(&got, &p1, &p2, 50) == S_OK) {
                events->FreeEventParams(got, p1, p2);
                if (got == code) {
                    if (param1)
                        *param1 = p1;
                    return got;
                }
            }
        }
        return 0;
    }

    void Release()
    {
        if (control)
            control->Stop();
        if (grabber)
            grabber->SetCallback(nullptr, 0);
        renderer.Reset();
        grabber.Reset();
        grabberFilter.Reset();
        events.Reset();
        control.Reset();
        graph.Reset();
    }
};

}  // namespace kv20x::test
