#include "framework/base_pin.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "framework/enum_media_types.h"

namespace kv20x {

using Microsoft::WRL::ComPtr;

namespace {

constexpr size_t kNameChars = 128;

// Failures that only say "not this type": a connection attempt moves on to
// the next type without remembering them.
bool IsTypeRefusal(HRESULT hr)
{
    return hr == E_FAIL || hr == VFW_E_TYPE_NOT_ACCEPTED || hr == E_INVALIDARG;
}

std::unique_ptr<wchar_t[]> CopyName(LPCWSTR name)
{
    const wchar_t* source = name ? name : L"";
    const size_t length = std::wcslen(source);
    std::unique_ptr<wchar_t[]> copy(new (std::nothrow) wchar_t[length + 1]);
    if (copy)
        std::wmemcpy(copy.get(), source, length + 1);
    return copy;
}

}  // namespace

CBasePin::CBasePin(CBaseFilter* filter, CritSec* lock, HRESULT* result, LPCWSTR name, PIN_DIRECTION direction)
    : CUnknown(nullptr), m_name(CopyName(name)), m_filter(filter), m_lock(lock), m_direction(direction)
{
    if (!m_name && result && SUCCEEDED(*result))
        *result = E_OUTOFMEMORY;
}

CBasePin::~CBasePin() = default;

HRESULT STDMETHODCALLTYPE CBasePin::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IPin)
        return GetInterface(static_cast<IPin*>(this), object);
    if (iid == IID_IQualityControl)
        return GetInterface(static_cast<IQualityControl*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

ULONG STDMETHODCALLTYPE CBasePin::NonDelegatingAddRef()
{
    return static_cast<IBaseFilter*>(m_filter)->AddRef();
}

ULONG STDMETHODCALLTYPE CBasePin::NonDelegatingRelease()
{
    return static_cast<IBaseFilter*>(m_filter)->Release();
}

LONG CBasePin::GetMediaTypeVersion()
{
    return ::InterlockedCompareExchange(&m_typeVersion, 0, 0);
}

HRESULT CBasePin::Active()
{
    return S_OK;
}

HRESULT CBasePin::Inactive()
{
    m_runTimeError = false;
    return S_OK;
}

HRESULT CBasePin::Run(REFERENCE_TIME)
{
    return S_OK;
}

HRESULT CBasePin::SetMediaType(const CMediaType* type)
{
    m_mt = *type;
    return m_mt.IsValid() ? S_OK : E_OUTOFMEMORY;
}

HRESULT CBasePin::CheckConnect(IPin* pin)
{
    PIN_DIRECTION direction;
    const HRESULT hr = pin->QueryDirection(&direction);
    if (FAILED(hr))
        return hr;
    return direction == m_direction ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::BreakConnect()
{
    return S_OK;
}

HRESULT CBasePin::CompleteConnect(IPin*)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type)
{
    if (!receivePin)
        return E_POINTER;
    AutoLock lock(*m_lock);
    if (const HRESULT refused = CanConnectNow(); FAILED(refused))
        return refused;
    std::unique_ptr<CMediaType> partial;
    if (type) {
        partial.reset(new (std::nothrow) CMediaType(*type));
        if (!partial || !partial->IsValid())
            return E_OUTOFMEMORY;
    }
    const HRESULT hr = AgreeMediaType(receivePin, partial.get());
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    return S_OK;
}

HRESULT CBasePin::AgreeMediaType(IPin* receivePin, const CMediaType* type)
{
    if (type && !type->IsPartiallySpecified())
        return AttemptConnection(receivePin, type);
    HRESULT result = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int pass = 0; pass < 2; ++pass) {
        ComPtr<IEnumMediaTypes> types;
        const HRESULT hr = pass == 0 ? receivePin->EnumMediaTypes(&types) : EnumMediaTypes(&types);
        if (FAILED(hr) || !types)
            continue;
        const HRESULT tried = TryMediaTypes(receivePin, type, types.Get());
        if (SUCCEEDED(tried))
            return S_OK;
        if (!IsTypeRefusal(tried))
            result = tried;
    }
    return result;
}

HRESULT CBasePin::TryMediaTypes(IPin* receivePin, const CMediaType* partial, IEnumMediaTypes* types)
{
    HRESULT hr = types->Reset();
    if (FAILED(hr))
        return hr;
    HRESULT remembered = S_OK;
    for (;;) {
        AM_MEDIA_TYPE* fetched = nullptr;
        ULONG count = 0;
        if (types->Next(1, &fetched, &count) != S_OK)
            break;
        HRESULT attempt = VFW_E_NO_ACCEPTABLE_TYPES;
        if (fetched) {
            CMediaType candidate(*fetched);
            DeleteMediaType(fetched);
            if (!candidate.IsValid())
                attempt = E_OUTOFMEMORY;
            else if (!partial || candidate.MatchesPartial(*partial))
                attempt = AttemptConnection(receivePin, &candidate);
        }
        if (SUCCEEDED(attempt))
            return S_OK;
        if (!IsTypeRefusal(attempt) && remembered == S_OK)
            remembered = attempt;
    }
    return remembered != S_OK ? remembered : VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT CBasePin::AttemptConnection(IPin* receivePin, const CMediaType* type)
{
    HRESULT hr = CheckConnect(receivePin);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(type);
    if (hr != S_OK) {
        BreakConnect();
        return SUCCEEDED(hr) || IsTypeRefusal(hr) ? VFW_E_TYPE_NOT_ACCEPTED : hr;
    }
    m_connected = receivePin;
    hr = SetMediaType(type);
    if (SUCCEEDED(hr))
        hr = receivePin->ReceiveConnection(static_cast<IPin*>(this), type);
    if (SUCCEEDED(hr)) {
        hr = CompleteConnect(receivePin);
        if (FAILED(hr))
            receivePin->Disconnect();
    }
    if (FAILED(hr)) {
        BreakConnect();
        m_connected.Reset();
        return hr;
    }
    return S_OK;
}

HRESULT CBasePin::CanConnectNow() const
{
    if (m_connected)
        return VFW_E_ALREADY_CONNECTED;
    if (!m_filter->IsStopped() && !m_canReconnectWhenActive)
        return VFW_E_NOT_STOPPED;
    return S_OK;
}

HRESULT CBasePin::CheckProposedType(const CMediaType* type)
{
    const HRESULT hr = CheckMediaType(type);
    if (hr == S_OK)
        return S_OK;
    return SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG ? VFW_E_TYPE_NOT_ACCEPTED : hr;
}

HRESULT STDMETHODCALLTYPE CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type)
{
    if (!connector || !type)
        return E_POINTER;
    AutoLock lock(*m_lock);
    if (const HRESULT refused = CanConnectNow(); FAILED(refused))
        return refused;
    HRESULT hr = CheckConnect(connector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    const CMediaType proposed(*type);
    hr = proposed.IsValid() ? CheckProposedType(&proposed) : E_OUTOFMEMORY;
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    m_connected = connector;
    hr = SetMediaType(&proposed);
    if (SUCCEEDED(hr))
        hr = CompleteConnect(connector);
    if (FAILED(hr)) {
        m_connected.Reset();
        BreakConnect();
        return hr;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::Disconnect()
{
    AutoLock lock(*m_lock);
    if (!m_filter->IsStopped())
        return VFW_E_NOT_STOPPED;
    if (!m_connected)
        return S_FALSE;
    const HRESULT hr = BreakConnect();
    if (FAILED(hr))
        return hr;
    m_connected.Reset();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectedTo(IPin** pin)
{
    if (!pin)
        return E_POINTER;
    AutoLock lock(*m_lock);
    *pin = m_connected.Get();
    if (!*pin)
        return VFW_E_NOT_CONNECTED;
    (*pin)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* type)
{
    if (!type)
        return E_POINTER;
    AutoLock lock(*m_lock);
    if (!m_connected) {
        const CMediaType empty;
        *type = static_cast<const AM_MEDIA_TYPE&>(empty);  // no block, no object: nothing to own
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(type, &m_mt);
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryPinInfo(PIN_INFO* info)
{
    if (!info)
        return E_POINTER;
    info->pFilter = m_filter;
    if (m_filter)
        static_cast<IBaseFilter*>(m_filter)->AddRef();
    size_t length = 0;
    const wchar_t* name = m_name ? m_name.get() : L"";
    for (; length < kNameChars - 1 && name[length]; ++length)
        info->achName[length] = name[length];
    info->achName[length] = L'\0';
    info->dir = m_direction;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryDirection(PIN_DIRECTION* direction)
{
    if (!direction)
        return E_POINTER;
    *direction = m_direction;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryId(LPWSTR* id)
{
    if (!id)
        return E_POINTER;
    const wchar_t* name = m_name ? m_name.get() : L"";
    const size_t bytes = (std::wcslen(name) + 1) * sizeof(wchar_t);
    *id = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
    if (!*id)
        return E_OUTOFMEMORY;
    std::memcpy(*id, name, bytes);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryAccept(const AM_MEDIA_TYPE* type)
{
    if (!type)
        return E_POINTER;
    const CMediaType proposed(*type);
    const HRESULT hr = CheckMediaType(&proposed);
    return FAILED(hr) ? S_FALSE : hr;
}

HRESULT STDMETHODCALLTYPE CBasePin::EnumMediaTypes(IEnumMediaTypes** types)
{
    if (!types)
        return E_POINTER;
    *types = new (std::nothrow) CEnumMediaTypes(this, nullptr);
    return *types ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryInternalConnections(IPin**, ULONG*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CBasePin::EndOfStream()
{
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CBasePin::BeginFlush()
{
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CBasePin::EndFlush()
{
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    m_segmentStart = start;
    m_segmentStop = stop;
    m_segmentRate = rate;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::Notify(IBaseFilter*, Quality)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CBasePin::SetSink(IQualityControl* sink)
{
    AutoLock lock(*m_lock);
    m_qualitySink = sink;
    return S_OK;
}

CBaseOutputPin::CBaseOutputPin(CBaseFilter* filter, CritSec* lock, HRESULT* result, LPCWSTR name)
    : CBasePin(filter, lock, result, name, PINDIR_OUTPUT)
{
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pin)
{
    const HRESULT hr = CBasePin::CheckConnect(pin);
    if (FAILED(hr))
        return hr;
    return pin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(m_inputPin.ReleaseAndGetAddressOf()));
}

HRESULT CBaseOutputPin::BreakConnect()
{
    if (m_allocator) {
        const HRESULT hr = m_allocator->Decommit();
        if (FAILED(hr))
            return hr;
        m_allocator.Reset();
    }
    m_inputPin.Reset();
    return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*)
{
    return DecideAllocator(m_inputPin.Get(), m_allocator.ReleaseAndGetAddressOf());
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* peer, IMemAllocator** allocator)
{
    if (!peer || !allocator)
        return E_POINTER;
    *allocator = nullptr;
    ALLOCATOR_PROPERTIES request{};
    peer->GetAllocatorRequirements(&request);
    if (request.cbAlign == 0)
        request.cbAlign = 1;

    ComPtr<IMemAllocator> chosen;
    HRESULT hr = peer->GetAllocator(&chosen);
    if (SUCCEEDED(hr) && chosen) {
        hr = DecideBufferSize(chosen.Get(), &request);
        if (SUCCEEDED(hr))
            hr = peer->NotifyAllocator(chosen.Get(), FALSE);
        if (SUCCEEDED(hr)) {
            *allocator = chosen.Detach();
            return S_OK;
        }
    }
    chosen.Reset();
    hr = InitAllocator(&chosen);
    if (SUCCEEDED(hr))
        hr = DecideBufferSize(chosen.Get(), &request);
    if (SUCCEEDED(hr))
        hr = peer->NotifyAllocator(chosen.Get(), FALSE);
    if (FAILED(hr))
        return hr;
    *allocator = chosen.Detach();
    return S_OK;
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                          DWORD flags)
{
    if (!m_allocator)
        return E_NOINTERFACE;
    return m_allocator->GetBuffer(sample, start, stop, flags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* sample)
{
    if (!m_inputPin)
        return VFW_E_NOT_CONNECTED;
    return m_inputPin->Receive(sample);
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** allocator)
{
    return ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                              reinterpret_cast<void**>(allocator));
}

HRESULT CBaseOutputPin::DeliverEndOfStream()
{
    if (!m_connected)
        return VFW_E_NOT_CONNECTED;
    return m_connected->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush()
{
    if (!m_connected)
        return VFW_E_NOT_CONNECTED;
    return m_connected->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush()
{
    if (!m_connected)
        return VFW_E_NOT_CONNECTED;
    return m_connected->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    if (!m_connected)
        return VFW_E_NOT_CONNECTED;
    return m_connected->NewSegment(start, stop, rate);
}

HRESULT CBaseOutputPin::Active()
{
    if (!m_allocator)
        return VFW_E_NO_ALLOCATOR;
    return m_allocator->Commit();
}

HRESULT CBaseOutputPin::Inactive()
{
    m_runTimeError = false;
    if (!m_allocator)
        return VFW_E_NO_ALLOCATOR;
    return m_allocator->Decommit();
}

}  // namespace kv20x
