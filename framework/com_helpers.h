#pragma once
// Small helpers of the COM surfaces.

#include <windows.h>
#include <ocidl.h>

namespace kv20x {

// Whether any of the out pointers is null.
template <typename... Pointers>
bool AnyNull(Pointers*... pointers)
{
    return ((pointers == nullptr) || ...);
}

// An ISpecifyPropertyPages answer naming one page: E_POINTER without a
// destination; E_OUTOFMEMORY (the count already 1) when the array cannot be
// allocated.
inline HRESULT OnePageList(CAUUID* pages, REFCLSID page)
{
    if (!pages)
        return E_POINTER;
    pages->cElems = 1;
    pages->pElems = static_cast<GUID*>(::CoTaskMemAlloc(sizeof(GUID)));
    if (!pages->pElems)
        return E_OUTOFMEMORY;
    pages->pElems[0] = page;
    return S_OK;
}

}  // namespace kv20x
