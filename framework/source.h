#pragma once
// A source filter: owns its output pins and the filter lock.
//
// Locking: m_stateLock is the filter lock of CBaseFilter; it also guards the
// pin array, which grows while pins are constructed and shrinks only while
// the filter is destroyed.

#include "framework/base_filter.h"

namespace kv20x {

class CSourceStream;

class CSource : public CBaseFilter {
public:
    CSource(IUnknown* outer, REFCLSID clsid);
    ~CSource() override;

    int GetPinCount() override;
    CBasePin* GetPin(int index) override;

    // Called by each pin's constructor and destructor.
    HRESULT AddPin(CSourceStream* pin);
    HRESULT RemovePin(CSourceStream* pin);
    // The pin's index, or -1.
    int FindPinNumber(const IPin* pin);

    CritSec* pStateLock() { return &m_stateLock; }

protected:
    int m_pinCount = 0;
    CSourceStream** m_pins = nullptr;  // owned, and each pin in it
    CritSec m_stateLock;
};

}  // namespace kv20x
