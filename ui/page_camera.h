#pragma once
// The camera a property page works on: the IKV20X of the object the
// property frame hands the page (the filter or its pin).

#include <wrl/client.h>

#include "settings/ikv20x.h"

namespace kv20x {

// E_POINTER without an object, E_NOINTERFACE when it has no IKV20X, E_FAIL
// when it answers without one.
inline HRESULT ConnectCamera(IUnknown* object, Microsoft::WRL::ComPtr<IKV20X>& camera)
{
    if (!object)
        return E_POINTER;
    if (FAILED(object->QueryInterface(IID_IKV20X, reinterpret_cast<void**>(camera.ReleaseAndGetAddressOf()))))
        return E_NOINTERFACE;
    return camera ? S_OK : E_FAIL;
}

}  // namespace kv20x
