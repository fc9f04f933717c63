#pragma once
// Parts of the programs that drive the platform's filter graph from outside
// the module (the capture tool and the graph tests): class ids the mingw
// headers lack, finding a pin, and the IUnknown of helper objects that live
// on their program's stack, longer than any graph that holds them.

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <wrl/client.h>

#include <cwchar>

namespace kv20x::tools {

inline constexpr GUID kClsidSampleGrabber = {0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
inline constexpr GUID kClsidNullRenderer = {0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

// The first pin of `filter` in `direction` whose name starts with
// `namePrefix` (any name when null); null when there is none.
inline Microsoft::WRL::ComPtr<IPin> FindPin(IBaseFilter* filter, PIN_DIRECTION direction,
                                            const wchar_t* namePrefix = nullptr)
{
    Microsoft::WRL::ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(&pins)) || !pins)
        return nullptr;
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        // mingw's ComPtr::Attach adds a reference of its own: take the pin over by hand.
        Microsoft::WRL::ComPtr<IPin> candidate = pin;
        pin->Release();
        PIN_INFO info{};
        if (FAILED(candidate->QueryPinInfo(&info)))
            continue;
        if (info.pFilter)
            info.pFilter->Release();
        if (info.dir == direction &&
            (!namePrefix || std::wcsncmp(info.achName, namePrefix, std::wcslen(namePrefix)) == 0))
            return candidate;
    }
    return nullptr;
}

// A Sample Grabber callback; the concrete one takes the samples.
class StackGrabberCallback : public ISampleGrabberCB {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == __uuidof(ISampleGrabberCB)) {
            *object = static_cast<ISampleGrabberCB*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }

protected:
    ~StackGrabberCallback() = default;
};

// The input side of a pin that takes whatever type it is offered; the
// concrete one decides what its samples and its allocator are.
class StackInputPin : public IPin, public IMemInputPin {
public:
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
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE*) override
    {
        if (m_peer)
            return VFW_E_ALREADY_CONNECTED;
        m_peer = connector;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Disconnect() override
    {
        if (!m_peer)
            return S_FALSE;
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
        std::wcsncpy(info->achName, m_name, MAX_PIN_NAME - 1);
        info->achName[MAX_PIN_NAME - 1] = L'\0';
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
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    // IMemInputPin: by default no allocator of its own, samples taken one by one.
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override
    {
        *allocator = nullptr;
        return VFW_E_NO_ALLOCATOR;
    }
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator*, BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, long count, long* processed) override
    {
        for (*processed = 0; *processed < count; ++*processed)
            Receive(samples[*processed]);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_FALSE; }

protected:
    explicit StackInputPin(const wchar_t* name) : m_name(name) {}
    ~StackInputPin() = default;

private:
    const wchar_t* m_name;
    Microsoft::WRL::ComPtr<IPin> m_peer;
};

}  // namespace kv20x::tools
