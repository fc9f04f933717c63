#include "framework/enum_pins.h"

#include <algorithm>
#include <new>

#include "framework/base_filter.h"
#include "framework/base_pin.h"

namespace kv20x {

CEnumPins::CEnumPins(CBaseFilter* filter, const CEnumPins* from) : m_filter(filter)
{
    static_cast<IBaseFilter*>(m_filter)->AddRef();
    if (from) {
        m_position = from->m_position;
        m_pinCount = from->m_pinCount;
        m_version = from->m_version;
        m_handedOut = from->m_handedOut;
    } else {
        m_version = m_filter->GetPinVersion();
        m_pinCount = m_filter->GetPinCount();
    }
}

CEnumPins::~CEnumPins()
{
    static_cast<IBaseFilter*>(m_filter)->Release();
}

bool CEnumPins::AreWeOutOfSync() const
{
    return m_filter->GetPinVersion() != m_version;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Next(ULONG count, IPin** pins, ULONG* fetched)
{
    if (!pins)
        return E_POINTER;
    if (!fetched && count > 1)
        return E_INVALIDARG;
    if (AreWeOutOfSync()) {
        // Start over on the new list; pins already handed out stay skipped.
        m_version = m_filter->GetPinVersion();
        m_pinCount = m_filter->GetPinCount();
        m_position = 0;
    }
    ULONG given = 0;
    HRESULT result = S_OK;
    while (given < count && m_position < m_pinCount) {
        CBasePin* pin = m_filter->GetPin(m_position++);
        if (!pin) {
            result = VFW_E_ENUM_OUT_OF_SYNC;
            break;
        }
        if (std::find(m_handedOut.begin(), m_handedOut.end(), pin) != m_handedOut.end())
            continue;
        try {
            m_handedOut.push_back(pin);
        } catch (const std::bad_alloc&) {
            result = E_OUTOFMEMORY;
            break;
        }
        pins[given] = static_cast<IPin*>(pin);
        pins[given]->AddRef();
        ++given;
    }
    if (fetched)
        *fetched = given;
    if (FAILED(result))
        return result;
    return given == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Skip(ULONG count)
{
    if (AreWeOutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    // Past the end: skips what remains, and says so.
    const ULONG remaining = static_cast<ULONG>(m_pinCount - m_position);
    const ULONG skipped = count < remaining ? count : remaining;
    m_position += static_cast<int>(skipped);
    return skipped == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Reset()
{
    m_version = m_filter->GetPinVersion();
    m_pinCount = m_filter->GetPinCount();
    m_position = 0;
    m_handedOut.clear();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Clone(IEnumPins** clone)
{
    if (!clone)
        return E_POINTER;
    *clone = nullptr;
    if (AreWeOutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    try {
        *clone = new (std::nothrow) CEnumPins(m_filter, this);
    } catch (const std::bad_alloc&) {
        *clone = nullptr;
    }
    return *clone ? S_OK : E_OUTOFMEMORY;
}

}  // namespace kv20x
