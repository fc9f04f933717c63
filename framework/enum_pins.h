#pragma once
// IEnumPins over a filter's pins. Each pin is handed out once per
// enumeration, even when the filter's pin list changes underneath.

#include "framework/platform.h"
#include "framework/unknown.h"

#include <vector>

namespace kv20x {

class CBaseFilter;
class CBasePin;

class CEnumPins final : public CSingleInterfaceObject<IEnumPins> {
public:
    // A new enumerator at the start, or a copy of `from`. Holds the filter.
    CEnumPins(CBaseFilter* filter, const CEnumPins* from);
    ~CEnumPins() override;

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins** clone) override;

private:
    bool AreWeOutOfSync() const;

    int m_position = 0;
    int m_pinCount = 0;
    CBaseFilter* m_filter;
    LONG m_version = 0;
    std::vector<CBasePin*> m_handedOut;
};

}  // namespace kv20x
