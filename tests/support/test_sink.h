#pragma once
// An input pin written in the test, for what Wine's own filters cannot
// show: it counts end-of-stream notices, can refuse samples, and can hand
// out an allocator whose buffers are smaller than it claims.

#include <windows.h>
#include <dshow.h>

#include <wrl/client.h>

#include <atomic>
#include <mutex>
#include <vector>

namespace kv20x::test {

using Microsoft::WRL::ComPtr;

// An allocator that reports the buffer size asked for but makes its buffers
// `shortBy` bytes smaller.
class ShortAllocator final : public IMemAllocator {
public:
    explicit ShortAllocator(long shortBy) : m_shortBy(shortBy)
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
    HRESULT STDMETHODCALLTYPE Decommit() override { return m_real->Decommit(); }
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                        DWORD flags) override
    {
        return m_real->GetBuffer(sample, start, stop, flags);
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* sample) override { return m_real->ReleaseBuffer(sample); }

private:
    std::atomic<ULONG> m_refs{1};
    long m_shortBy;
    ComPtr<IMemAllocator> m_real;
};

class TestSink final : public IPin, public IMemInputPin {
public:
    struct Received {
        REFERENCE_TIME start, stop;
        long length;
    };

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == IID_IPin)
            *object = static_cast<IPin*>(this);
        else if (iid == IID_IMemInputPin)
            *object = static_cast<IMemInputPin*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    // Lives on the test's stack, longer than any connection.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    // IPin, input side.
    HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE*) override
    {
        m_peer = connector;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Disconnect() override
    {
        m_peer.Reset();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override
    {
        *pin = m_peer.Get();
        if (!*pin)
            return VFW_E_NOT_CONNECTED;
        (*pin)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override
    {
        info->pFilter = nullptr;
        info->dir = PINDIR_INPUT;
        info->achName[0] = L'I';
        info->achName[1] = L'n';
        info->achName[2] = L'\0';
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override
    {
        *direction = PINDIR_INPUT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndOfStream() override
    {
        ++endOfStream;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    // IMemInputPin
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override
    {
        if (shortBy > 0) {
            *allocator = new ShortAllocator(shortBy);
            return S_OK;
        }
        *allocator = nullptr;
        return VFW_E_NO_ALLOCATOR;
    }
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator*, BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override
    {
        Received r{};
        sample->GetTime(&r.start, &r.stop);
        r.length = sample->GetActualDataLength();
        std::lock_guard lock(m_lock);
        m_received.push_back(r);
        return receiveResult;
    }
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, long count, long* processed) override
    {
        for (*processed = 0; *processed < count; ++*processed)
            Receive(samples[*processed]);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_FALSE; }

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

private:
    ComPtr<IPin> m_peer;
    std::mutex m_lock;
    std::vector<Received> m_received;
};

}  // namespace kv20x::test
