#include "framework/source.h"

#include <new>

#include "framework/source_stream.h"

namespace kv20x {

CSource::CSource(IUnknown* outer, REFCLSID clsid) : CBaseFilter(outer, &m_stateLock, clsid) {}

CSource::~CSource()
{
    // Each pin takes itself out of the array as it goes.
    while (m_pinCount > 0)
        delete m_pins[m_pinCount - 1];
    delete[] m_pins;
}

int CSource::GetPinCount()
{
    AutoLock lock(m_pinsLock);
    return m_pinCount;
}

CBasePin* CSource::GetPin(int index)
{
    AutoLock lock(m_pinsLock);
    if (index < 0 || index >= m_pinCount)
        return nullptr;
    return m_pins[index];
}

HRESULT CSource::AddPin(CSourceStream* pin)
{
    AutoLock lock(m_pinsLock);
    auto** grown = new (std::nothrow) CSourceStream*[m_pinCount + 1];
    if (!grown)
        return E_OUTOFMEMORY;
    for (int i = 0; i < m_pinCount; ++i)
        grown[i] = m_pins[i];
    grown[m_pinCount] = pin;
    delete[] m_pins;
    m_pins = grown;
    ++m_pinCount;
    IncrementPinVersion();
    return S_OK;
}

HRESULT CSource::RemovePin(CSourceStream* pin)
{
    AutoLock lock(m_pinsLock);
    for (int i = 0; i < m_pinCount; ++i) {
        if (m_pins[i] != pin)
            continue;
        for (int j = i + 1; j < m_pinCount; ++j)
            m_pins[j - 1] = m_pins[j];
        if (--m_pinCount == 0) {
            delete[] m_pins;
            m_pins = nullptr;
        }
        IncrementPinVersion();
        return S_OK;
    }
    return S_FALSE;
}

int CSource::FindPinNumber(const IPin* pin)
{
    AutoLock lock(m_pinsLock);
    for (int i = 0; i < m_pinCount; ++i)
        if (static_cast<const IPin*>(m_pins[i]) == pin)
            return i;
    return -1;
}

}  // namespace kv20x
