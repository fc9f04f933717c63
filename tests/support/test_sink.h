#pragma once
// An input pin written in the test, for what Wine's own filters cannot
// show: it counts end-of-stream notices, can refuse samples, runs a callback
// of the test's on the streaming thread for every sample, and can hand out
// an allocator whose buffers are smaller or larger than it claims, or whose
// Decommit fails or tells the test.

#include <windows.h>
#include <dshow.h>

#include <wrl/client.h>

#include "tools/common/graph_parts.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace kv20x::test {

using Microsoft::WRL::ComPtr;

// What the test changes of its allocator's Decommit, while it lives: a
// call first (on the thread that stops the graph), and a failure answered
// without decommitting.
struct DecommitKnobs {
    std::function<void()> onDecommit;  // set while the graph is stopped
    std::atomic<HRESULT> result{S_OK};
};

// The memory allocator with the test's changes: it reports the buffer size
// asked for but makes its buffers `shortBy` bytes smaller (larger, when it
// is negative); its Decommit follows the knobs.
class TestAllocator final : public IMemAllocator {
public:
    TestAllocator(long shortBy, const DecommitKnobs& knobs) : m_shortBy(shortBy), m_knobs(knobs)
    {
        ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                           reinterpret_cast<void**>(m_real.GetAddressOf()));
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == IID_IMemAllocator) {
            *object = static_cast<IMemAllocator*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --m_refs;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override
    {
        ALLOCATOR_PROPERTIES smaller = *request;
        smaller.cbBuffer -= m_shortBy;
        const HRESULT hr = m_real->SetProperties(&smaller, actual);
        actual->cbBuffer = request->cbBuffer;  // the claim
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* props) override { return m_real->GetProperties(props); }
    HRESULT STDMETHODCALLTYPE Commit() override { return m_real->Commit(); }
    HRESULT STDMETHODCALLTYPE Decommit() override
    {
        if (m_knobs.onDecommit)
            m_knobs.onDecommit();
        const HRESULT refused = m_knobs.result;
        return FAILED(refused) ? refused : m_real->Decommit();
    }
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                        DWORD flags) override
    {
        return m_real->GetBuffer(sample, start, stop, flags);
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* sample) override { return m_real->ReleaseBuffer(sample); }

private:
    std::atomic<ULONG> m_refs{1};
    long m_shortBy;
    const DecommitKnobs& m_knobs;  // the sink's, which outlives the connection
    ComPtr<IMemAllocator> m_real;
};

class TestSink final : public tools::StackInputPin {
public:
    struct Received {
        REFERENCE_TIME start, stop;
        long length;
        std::vector<std::uint8_t> data;  // kept for the first keepData samples
    };

    TestSink() : StackInputPin(L"In") {}

    HRESULT STDMETHODCALLTYPE EndOfStream() override
    {
        ++endOfStream;
        return S_OK;
    }

    // Set before the connection: the allocator is chosen then.
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override
    {
        if (shortBy != 0 || ownAllocator) {
            *allocator = new TestAllocator(shortBy, decommit);
            return S_OK;
        }
        return StackInputPin::GetAllocator(allocator);
    }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override
    {
        // The first sample waits for the test's go, bounded so that a broken
        // test cannot hang the run.
        if (holdFirstReceive && ReceivedCount() == 0)
            ::WaitForSingleObject(holdFirstReceive, 10000);
        if (onReceive)
            onReceive();
        Received r{};
        sample->GetTime(&r.start, &r.stop);
        r.length = sample->GetActualDataLength();
        BYTE* data = nullptr;
        if (ReceivedCount() < keepData && SUCCEEDED(sample->GetPointer(&data)) && r.length > 0)
            r.data.assign(data, data + r.length);
        std::lock_guard lock(m_lock);
        m_received.push_back(std::move(r));
        return receiveResult;
    }

    // Waits up to five seconds for `count` samples; whether they came.
    bool WaitForSamples(size_t count)
    {
        for (int wait = 0; wait < 500 && ReceivedCount() < count; ++wait)
            ::Sleep(10);
        return ReceivedCount() >= count;
    }
    size_t ReceivedCount()
    {
        std::lock_guard lock(m_lock);
        return m_received.size();
    }
    std::vector<Received> ReceivedSamples()
    {
        std::lock_guard lock(m_lock);
        return m_received;
    }

    std::atomic<int> endOfStream{0};
    std::atomic<HRESULT> receiveResult{S_OK};
    long shortBy = 0;
    bool ownAllocator = false;  // the TestAllocator even with shortBy 0
    DecommitKnobs decommit;
    std::function<void()> onReceive;  // on the streaming thread, set while stopped
    size_t keepData = 0;
    HANDLE holdFirstReceive = nullptr;  // not owned

private:
    std::mutex m_lock;
    std::vector<Received> m_received;
};

}  // namespace kv20x::test
