#pragma once
// The video size page: one of the three picture sizes, applied with the
// property frame's Apply.

#include "framework/property_page.h"
#include "settings/ikv20x.h"

namespace kv20x {

class CSizePropertyPage final : public CBasePropertyPage {
public:
    // The class factory's create function.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);

    HRESULT OnConnect(IUnknown* object) override;
    HRESULT OnDisconnect() override;
    HRESULT OnActivate() override;
    HRESULT OnDeactivate() override;
    HRESULT OnApplyChanges() override;
    INT_PTR OnReceiveMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    explicit CSizePropertyPage(IUnknown* outer);

    BOOL m_controlsReady = FALSE;
    Microsoft::WRL::ComPtr<IKV20X> m_camera;
    int m_size = 1;
};

}  // namespace kv20x
