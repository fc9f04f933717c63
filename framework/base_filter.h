#pragma once
// The filter base: IBaseFilter (with IMediaFilter and IPersist) and
// IAMovieSetup. A subclass supplies its pins and the filter lock.
//
// Locking: the filter lock (supplied by the subclass and shared with the
// pins) guards the state, the clock, the graph and name, the pin array and
// every pin's connection. The graph calls the filter and its pins from its
// own threads.
//
// m_stateChangeLock makes Stop, Pause and Run one at a time; it is taken
// before the filter lock and never by a streaming thread. Stop holds the
// filter lock only while it tells the pins to stop (Inactive), then waits
// for their streaming threads with the filter lock released
// (FinishInactive): a streaming thread may take the filter lock on its way
// out, as the callbacks of downstream filters do when they ask the pin for
// its media type while the graph stops. The state stays paused or running
// until the streaming threads have ended, so nothing that needs a stopped
// filter (connecting, disconnecting) runs meanwhile.

#include "framework/platform.h"

#include <wrl/client.h>

#include <memory>

#include "base/handles.h"
#include "framework/unknown.h"

namespace kv20x {

class CBasePin;

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
public:
    CBaseFilter(IUnknown* outer, CritSec* lock, REFCLSID clsid);
    ~CBaseFilter() override;

    KV20X_DELEGATE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // Filters live until their last release; the count returned is at least 1
    // while the filter lives.
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    // Time since the stream started on the graph's clock.
    virtual HRESULT StreamTime(REFERENCE_TIME* time);
    virtual LONG GetPinVersion();
    virtual int GetPinCount() = 0;
    virtual CBasePin* GetPin(int index) = 0;
    // Setup data for IAMovieSetup; none here, registration has its own path.
    virtual const void* GetSetupData() { return nullptr; }

    // IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    // IMediaFilter
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeout, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
    // IBaseFilter
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;
    // IAMovieSetup
    HRESULT STDMETHODCALLTYPE Register() override;
    HRESULT STDMETHODCALLTYPE Unregister() override;

    // Posts an event to the graph's event sink; E_NOTIMPL outside a graph.
    HRESULT NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2);

    bool IsStopped() const { return m_state == State_Stopped; }
    bool IsActive() const { return m_state != State_Stopped; }
    CritSec* StateLock() const { return m_lock; }
    // The graph the filter has joined; null outside one. Not held.
    IFilterGraph* Graph() const { return m_graph; }

protected:
    void IncrementPinVersion() { ::InterlockedIncrement(&m_pinVersion); }

    FILTER_STATE m_state = State_Stopped;
    Microsoft::WRL::ComPtr<IReferenceClock> m_clock;
    REFERENCE_TIME m_startTime = 0;
    CLSID m_clsid;
    CritSec* m_lock;
    CritSec m_stateChangeLock;
    std::unique_ptr<wchar_t[]> m_name;
    IFilterGraph* m_graph = nullptr;     // not held: the graph holds the filter
    IMediaEventSink* m_sink = nullptr;   // not held, for the same reason
    volatile LONG m_pinVersion = 1;
};

}  // namespace kv20x
