#pragma once
// What the two camera pages share: the IKV20X of the object the property
// frame hands them (the filter or its pin), and whether the controls are
// ready, so that the notices the page's own setting of its controls causes
// are not taken for the user's changes.

#include <wrl/client.h>

#include "framework/property_page.h"
#include "settings/ikv20x.h"

namespace kv20x {

class CCameraPage : public CBasePropertyPage {
public:
    using CBasePropertyPage::CBasePropertyPage;

    // E_POINTER without an object, E_NOINTERFACE when it has no IKV20X, E_FAIL
    // when it answers without one; else the page reads the camera.
    HRESULT OnConnect(IUnknown* object) final
    {
        if (!object)
            return E_POINTER;
        if (FAILED(object->QueryInterface(IID_IKV20X, reinterpret_cast<void**>(m_camera.ReleaseAndGetAddressOf()))))
            return E_NOINTERFACE;
        if (!m_camera)
            return E_FAIL;
        ReadCamera();
        m_controlsReady = FALSE;
        return S_OK;
    }
    HRESULT OnDisconnect() final
    {
        m_camera.Reset();
        return S_OK;
    }
    HRESULT OnDeactivate() final
    {
        m_controlsReady = FALSE;
        return S_OK;
    }

protected:
    // The page's copy of the camera's values, on connection.
    virtual void ReadCamera() = 0;

    Microsoft::WRL::ComPtr<IKV20X> m_camera;
    BOOL m_controlsReady = FALSE;
};

}  // namespace kv20x
