#include "framework/media_type.h"

#include <cstring>

namespace kv20x {

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source)
{
    *target = *source;
    if (source->cbFormat != 0 && source->pbFormat) {
        target->pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(source->cbFormat));
        if (!target->pbFormat) {
            target->cbFormat = 0;
            target->pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
    } else {
        target->pbFormat = nullptr;
        target->cbFormat = 0;
    }
    if (target->pUnk)
        target->pUnk->AddRef();
    return S_OK;
}

void FreeMediaType(AM_MEDIA_TYPE& type)
{
    if (type.pbFormat) {
        ::CoTaskMemFree(type.pbFormat);
        type.pbFormat = nullptr;
    }
    type.cbFormat = 0;
    if (type.pUnk) {
        type.pUnk->Release();
        type.pUnk = nullptr;
    }
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source)
{
    auto* type = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!type)
        return nullptr;
    if (FAILED(CopyMediaType(type, source))) {
        ::CoTaskMemFree(type);
        return nullptr;
    }
    return type;
}

void DeleteMediaType(AM_MEDIA_TYPE* type)
{
    if (!type)
        return;
    FreeMediaType(*type);
    ::CoTaskMemFree(type);
}

CMediaType::CMediaType() : AM_MEDIA_TYPE{}
{
    bFixedSizeSamples = TRUE;
    lSampleSize = 1;
}

CMediaType::~CMediaType()
{
    FreeMediaType(*this);
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& other) : AM_MEDIA_TYPE{}
{
    m_valid = SUCCEEDED(CopyMediaType(this, &other));
}

CMediaType::CMediaType(const CMediaType& other) : CMediaType(static_cast<const AM_MEDIA_TYPE&>(other)) {}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& other)
{
    if (&other != this) {
        FreeMediaType(*this);
        m_valid = SUCCEEDED(CopyMediaType(this, &other));
    }
    return *this;
}

CMediaType& CMediaType::operator=(const CMediaType& other)
{
    return *this = static_cast<const AM_MEDIA_TYPE&>(other);
}

BYTE* CMediaType::AllocFormatBuffer(ULONG size)
{
    if (size == cbFormat && pbFormat)
        return pbFormat;
    BYTE* block = static_cast<BYTE*>(::CoTaskMemAlloc(size));
    if (!block)
        return cbFormat >= size ? pbFormat : nullptr;
    if (pbFormat)
        ::CoTaskMemFree(pbFormat);
    pbFormat = block;
    cbFormat = size;
    return block;
}

void CMediaType::ResetFormatBuffer()
{
    if (pbFormat)
        ::CoTaskMemFree(pbFormat);
    pbFormat = nullptr;
    cbFormat = 0;
}

void CMediaType::SetSampleSize(ULONG size)
{
    if (size == 0) {
        bFixedSizeSamples = FALSE;
    } else {
        bFixedSizeSamples = TRUE;
        lSampleSize = size;
    }
}

bool CMediaType::IsPartiallySpecified() const
{
    return majortype == GUID_NULL || formattype == GUID_NULL;
}

bool CMediaType::MatchesPartial(const CMediaType& partial) const
{
    if (partial.majortype != GUID_NULL && partial.majortype != majortype)
        return false;
    if (partial.subtype != GUID_NULL && partial.subtype != subtype)
        return false;
    if (partial.formattype != GUID_NULL) {
        if (partial.formattype != formattype || partial.cbFormat != cbFormat)
            return false;
        if (cbFormat != 0 && std::memcmp(partial.pbFormat, pbFormat, cbFormat) != 0)
            return false;
    }
    return true;
}

bool CMediaType::operator==(const CMediaType& other) const
{
    return majortype == other.majortype && subtype == other.subtype && formattype == other.formattype &&
           cbFormat == other.cbFormat && (cbFormat == 0 || std::memcmp(pbFormat, other.pbFormat, cbFormat) == 0);
}

}  // namespace kv20x
