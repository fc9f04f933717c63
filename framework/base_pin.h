#pragma once
// The pin base (IPin, IQualityControl) with the connection algorithms, and
// the output pin with allocator negotiation and delivery downstream.
//
// Locking: a pin's connection (peer, media type, allocator, transport) is
// guarded by its filter's lock, which the pin shares. Delivery runs on the
// streaming thread without it.

#include "framework/platform.h"

#include <wrl/client.h>

#include <memory>

#include "framework/base_filter.h"
#include "framework/media_type.h"
#include "framework/unknown.h"

namespace kv20x {

class CBasePin : public CUnknown, public IPin, public IQualityControl {
public:
    CBasePin(CBaseFilter* filter, CritSec* lock, HRESULT* result, LPCWSTR name, PIN_DIRECTION direction);
    ~CBasePin() override;

    KV20X_DELEGATE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) override;
    // A pin lives exactly as long as its filter.
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    virtual LONG GetMediaTypeVersion();
    virtual HRESULT Active();
    // The stop, in two halves. Inactive runs under the filter lock and must
    // not wait for a thread that may take it; FinishInactive follows, for
    // every pin whatever Inactive answered, with the filter lock released,
    // and waits for what the pin's threads still do (see base_filter.h).
    virtual HRESULT Inactive();
    virtual HRESULT FinishInactive() { return S_OK; }
    virtual HRESULT Run(REFERENCE_TIME start);
    virtual HRESULT CheckMediaType(const CMediaType* type) = 0;
    virtual HRESULT SetMediaType(const CMediaType* type);
    virtual HRESULT CheckConnect(IPin* pin);
    virtual HRESULT BreakConnect();
    virtual HRESULT CompleteConnect(IPin* receivePin);
    // The pin's preferred types by position: S_OK, VFW_S_NO_MORE_ITEMS past
    // the last, E_INVALIDARG before the first.
    virtual HRESULT GetMediaType(int position, CMediaType* type) = 0;

    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    // IQualityControl
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* self, Quality quality) override;
    HRESULT STDMETHODCALLTYPE SetSink(IQualityControl* sink) override;

    bool IsConnected() const { return m_connected != nullptr; }
    IPin* GetConnected() const { return m_connected.Get(); }
    const CMediaType& CurrentMediaType() const { return m_mt; }
    CBaseFilter* Filter() const { return m_filter; }
    const wchar_t* Name() const { return m_name.get(); }

protected:
    HRESULT AgreeMediaType(IPin* receivePin, const CMediaType* type);
    HRESULT TryMediaTypes(IPin* receivePin, const CMediaType* partial, IEnumMediaTypes* types);
    HRESULT AttemptConnection(IPin* receivePin, const CMediaType* type);
    // A media type the peer proposes, checked the way connections do.
    HRESULT CheckProposedType(const CMediaType* type);
    // VFW_E_ALREADY_CONNECTED or VFW_E_NOT_STOPPED when no connection can
    // be made now (under the filter lock).
    HRESULT CanConnectNow() const;

    std::unique_ptr<wchar_t[]> m_name;
    CBaseFilter* m_filter;
    CritSec* m_lock;
    PIN_DIRECTION m_direction;
    Microsoft::WRL::ComPtr<IPin> m_connected;
    bool m_runTimeError = false;
    bool m_canReconnectWhenActive = false;
    volatile LONG m_typeVersion = 1;
    CMediaType m_mt;
    REFERENCE_TIME m_segmentStart = 0;
    REFERENCE_TIME m_segmentStop = MAXLONGLONG;
    double m_segmentRate = 1.0;
    IQualityControl* m_qualitySink = nullptr;  // not held
};

class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(CBaseFilter* filter, CritSec* lock, HRESULT* result, LPCWSTR name);

    virtual HRESULT DecideAllocator(IMemInputPin* peer, IMemAllocator** allocator);
    // Sets the allocator up for this pin's samples; every output pin has one.
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
    virtual HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                      DWORD flags);
    virtual HRESULT Deliver(IMediaSample* sample);
    virtual HRESULT InitAllocator(IMemAllocator** allocator);
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();
    virtual HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    HRESULT CheckConnect(IPin* pin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT Active() override;
    HRESULT Inactive() override;

protected:
    Microsoft::WRL::ComPtr<IMemAllocator> m_allocator;
    Microsoft::WRL::ComPtr<IMemInputPin> m_inputPin;
};

}  // namespace kv20x
