#pragma once
// The video size page: one of the three picture sizes, applied with the
// property frame's Apply.

#include "ui/page_camera.h"

namespace kv20x {

class CSizePropertyPage final : public CCameraPage {
public:
    // The class factory's create function.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);

    HRESULT OnActivate() override;
    HRESULT OnApplyChanges() override;
    INT_PTR OnReceiveMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    explicit CSizePropertyPage(IUnknown* outer);
    void ReadCamera() override;

    int m_size = 1;
};

}  // namespace kv20x
