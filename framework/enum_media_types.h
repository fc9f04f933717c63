#pragma once
// IEnumMediaTypes over a pin's preferred types (its GetMediaType by
// position). Out of sync once the pin's type list changes, until reset.

#include "framework/platform.h"
#include "framework/unknown.h"

namespace kv20x {

class CBasePin;

class CEnumMediaTypes final : public CSingleInterfaceObject<IEnumMediaTypes> {
public:
    // A new enumerator at the start, or a copy of `from`. Holds the pin.
    CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* from);
    ~CEnumMediaTypes() override;

    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** clone) override;

private:
    bool AreWeOutOfSync() const;

    ULONG m_position = 0;
    CBasePin* m_pin;
    LONG m_version = 0;
};

}  // namespace kv20x
