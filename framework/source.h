#pragma once
// A source filter: owns its output pins and the filter lock.
//
// Locking: m_stateLock is the filter lock of CBaseFilter. m_pinsLock guards
// the pin array alone (it grows while pins are constructed and shrinks only
// while the filter is destroyed), so that pins can be enumerated while a
// state change holds the filter lock; it is taken last and held for the
// array only.

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
    CritSec m_pinsLock;
};

}  // namespace kv20x
