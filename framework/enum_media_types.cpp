#include "framework/enum_media_types.h"

#include <climits>
#include <new>

#include "framework/base_pin.h"

namespace kv20x {

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* from) : m_pin(pin)
{
    static_cast<IPin*>(m_pin)->AddRef();
    if (from) {
        m_position = from->m_position;
        m_version = from->m_version;
    } else {
        m_version = m_pin->GetMediaTypeVersion();
    }
}

CEnumMediaTypes::~CEnumMediaTypes()
{
    static_cast<IPin*>(m_pin)->Release();
}

bool CEnumMediaTypes::AreWeOutOfSync() const
{
    return m_pin->GetMediaTypeVersion() != m_version;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched)
{
    if (!types)
        return E_POINTER;
    if (AreWeOutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    if (!fetched && count > 1)
        return E_INVALIDARG;
    ULONG given = 0;
    while (given < count) {
        CMediaType type;
        const HRESULT hr = m_pin->GetMediaType(static_cast<int>(m_position++), &type);
        if (hr != S_OK)
            break;
        auto* out = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (!out)
            break;
        // The caller takes over the format block and the object reference.
        *out = static_cast<const AM_MEDIA_TYPE&>(type);
        type.pbFormat = nullptr;
        type.cbFormat = 0;
        type.pUnk = nullptr;
        types[given++] = out;
    }
    if (fetched)
        *fetched = given;
    return given == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Skip(ULONG count)
{
    if (count == 0)
        return S_OK;
    if (AreWeOutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    // One type at a time up to the end, so that a count past it (even one
    // that would wrap the position) skips exactly what remains.
    for (ULONG skipped = 0; skipped < count; ++skipped) {
        CMediaType type;
        if (m_position >= INT_MAX || m_pin->GetMediaType(static_cast<int>(m_position), &type) != S_OK)
            return S_FALSE;
        ++m_position;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Reset()
{
    m_position = 0;
    m_version = m_pin->GetMediaTypeVersion();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Clone(IEnumMediaTypes** clone)
{
    if (!clone)
        return E_POINTER;
    *clone = nullptr;
    if (AreWeOutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    *clone = new (std::nothrow) CEnumMediaTypes(m_pin, this);
    return *clone ? S_OK : E_OUTOFMEMORY;
}

}  // namespace kv20x
