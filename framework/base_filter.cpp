#include "framework/base_filter.h"

#include <climits>
#include <cwchar>
#include <new>

#include "framework/base_pin.h"
#include "framework/enum_pins.h"

namespace kv20x {

namespace {

constexpr size_t kNameChars = 128;  // FILTER_INFO and PIN_INFO names, terminator included

// Copies `name` into `target`, truncated to 127 characters plus terminator;
// empty when there is no name.
void CopyTruncated(const wchar_t* name, wchar_t (&target)[kNameChars])
{
    size_t length = 0;
    if (name)
        for (; length < kNameChars - 1 && name[length]; ++length)
            target[length] = name[length];
    target[length] = L'\0';
}

}  // namespace

CBaseFilter::CBaseFilter(IUnknown* outer, CritSec* lock, REFCLSID clsid)
    : CUnknown(outer), m_clsid(clsid), m_lock(lock)
{
}

CBaseFilter::~CBaseFilter() = default;

HRESULT STDMETHODCALLTYPE CBaseFilter::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IBaseFilter || iid == IID_IMediaFilter || iid == IID_IPersist)
        return GetInterface(static_cast<IBaseFilter*>(this), object);
    if (iid == IID_IAMovieSetup)
        return GetInterface(static_cast<IAMovieSetup*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

ULONG STDMETHODCALLTYPE CBaseFilter::NonDelegatingRelease()
{
    const LONG count = ::InterlockedDecrement(&m_refCount);
    if (count == 0) {
        m_refCount = 1;
        delete this;
        return 0;
    }
    return static_cast<ULONG>(count < 1 ? 1 : count);
}

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME* time)
{
    if (!m_clock)
        return VFW_E_NO_CLOCK;
    const HRESULT hr = m_clock->GetTime(time);
    if (FAILED(hr))
        return hr;
    *time -= m_startTime;
    return S_OK;
}

LONG CBaseFilter::GetPinVersion()
{
    return ::InterlockedCompareExchange(&m_pinVersion, 0, 0);
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetClassID(CLSID* clsid)
{
    if (!clsid)
        return E_POINTER;
    *clsid = m_clsid;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Stop()
{
    AutoLock change(m_stateChangeLock);
    HRESULT result = S_OK;
    const auto keepFirstFailure = [&result](HRESULT hr) {
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    };
    {
        AutoLock lock(*m_lock);
        if (m_state == State_Stopped)
            return S_OK;
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pin = GetPin(i);
            if (!pin)
                break;
            if (pin->IsConnected())
                keepFirstFailure(pin->Inactive());
        }
    }
    // Whatever Inactive answered: a streaming thread left running would keep
    // what it holds for ever. The connections cannot change meanwhile: the
    // filter is not stopped yet.
    for (int i = 0; i < GetPinCount(); ++i) {
        CBasePin* pin = GetPin(i);
        if (!pin)
            break;
        keepFirstFailure(pin->FinishInactive());
    }
    AutoLock lock(*m_lock);
    m_state = State_Stopped;
    return result;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Pause()
{
    AutoLock change(m_stateChangeLock);
    AutoLock lock(*m_lock);
    if (m_state == State_Stopped) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pin = GetPin(i);
            if (!pin)
                break;
            if (pin->IsConnected()) {
                const HRESULT hr = pin->Active();
                if (FAILED(hr))
                    return hr;
            }
        }
    }
    m_state = State_Paused;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Run(REFERENCE_TIME start)
{
    AutoLock change(m_stateChangeLock);
    AutoLock lock(*m_lock);
    m_startTime = start;
    if (m_state == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr))
            return hr;
    }
    if (m_state != State_Running) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pin = GetPin(i);
            if (!pin)
                break;
            if (pin->IsConnected()) {
                const HRESULT hr = pin->Run(start);
                if (FAILED(hr))
                    return hr;
            }
        }
    }
    m_state = State_Running;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetState(DWORD, FILTER_STATE* state)
{
    if (!state)
        return E_POINTER;
    *state = m_state;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::SetSyncSource(IReferenceClock* clock)
{
    AutoLock lock(*m_lock);
    m_clock = clock;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetSyncSource(IReferenceClock** clock)
{
    if (!clock)
        return E_POINTER;
    AutoLock lock(*m_lock);
    *clock = m_clock.Get();
    if (*clock)
        (*clock)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::EnumPins(IEnumPins** pins)
{
    if (!pins)
        return E_POINTER;
    *pins = new (std::nothrow) CEnumPins(this, nullptr);
    return *pins ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::FindPin(LPCWSTR id, IPin** pin)
{
    if (!pin)
        return E_POINTER;
    *pin = nullptr;
    // Pin ids are "1", "2", ... in pin order.
    long long number = 0;
    bool digits = id && *id;
    for (const wchar_t* p = id; digits && *p; ++p) {
        if (*p < L'0' || *p > L'9' || number > INT_MAX)
            digits = false;
        else
            number = number * 10 + (*p - L'0');
    }
    // No filter lock: the pins answer while a state change holds it.
    if (!digits || number < 1 || number > GetPinCount())
        return VFW_E_NOT_FOUND;
    CBasePin* found = GetPin(static_cast<int>(number - 1));
    if (!found)
        return VFW_E_NOT_FOUND;
    return GetInterface(static_cast<IPin*>(found), reinterpret_cast<void**>(pin));
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryFilterInfo(FILTER_INFO* info)
{
    if (!info)
        return E_POINTER;
    CopyTruncated(m_name.get(), info->achName);
    info->pGraph = m_graph;
    if (m_graph)
        m_graph->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name)
{
    AutoLock lock(*m_lock);
    m_graph = graph;
    m_sink = nullptr;
    if (graph) {
        IMediaEventSink* sink = nullptr;
        if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) && sink) {
            // Kept without a reference: the graph outlives its filters.
            m_sink = sink;
            sink->Release();
        }
    }
    m_name.reset();
    if (name) {
        const size_t length = ::wcsnlen(name, INT_MAX);
        if (length == INT_MAX)
            return E_INVALIDARG;
        m_name.reset(new (std::nothrow) wchar_t[length + 1]);
        if (!m_name)
            return E_OUTOFMEMORY;
        std::wmemcpy(m_name.get(), name, length + 1);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryVendorInfo(LPWSTR*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Register()
{
    return GetSetupData() ? E_NOTIMPL : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Unregister()
{
    return GetSetupData() ? E_NOTIMPL : S_FALSE;
}

HRESULT CBaseFilter::NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2)
{
    IMediaEventSink* sink = m_sink;
    if (!sink)
        return E_NOTIMPL;
    if (code == EC_COMPLETE)
        param2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
    return sink->Notify(code, param1, param2);
}

}  // namespace kv20x
