#include "ui/size_page.h"

#include <new>

#include "base/module_state.h"
#include "ui/resource.h"

namespace kv20x {

namespace {

constexpr int kSizeButtons[3] = {IDC_SIZE_2048, IDC_SIZE_1024, IDC_SIZE_640};

}  // namespace

CUnknown* CSizePropertyPage::CreateInstance(IUnknown* outer, HRESULT* result)
{
    auto* page = new (std::nothrow) CSizePropertyPage(outer);
    if (!page)
        *result = E_OUTOFMEMORY;
    return page;
}

CSizePropertyPage::CSizePropertyPage(IUnknown* outer)
    : CCameraPage(outer, ModuleHandle(), UsesChinesePages() ? IDD_SIZE_CHINESE : IDD_SIZE_ENGLISH,
                        UsesChinesePages() ? IDS_SIZE_CHINESE : IDS_SIZE_ENGLISH)
{
}

void CSizePropertyPage::ReadCamera()
{
    m_camera->GetVideoSize(&m_size);
}

HRESULT CSizePropertyPage::OnActivate()
{
    for (int index = 0; index < 3; ++index)
        ::CheckDlgButton(DialogWindow(), kSizeButtons[index], m_size == index ? BST_CHECKED : BST_UNCHECKED);
    m_controlsReady = TRUE;
    return S_OK;
}

HRESULT CSizePropertyPage::OnApplyChanges()
{
    for (int index = 0; index < 3; ++index) {
        if (::IsDlgButtonChecked(DialogWindow(), kSizeButtons[index]) == BST_CHECKED) {
            m_size = index;
            break;
        }
    }
    if (!m_camera)
        return E_POINTER;
    // The pin refuses while connected; the page does not insist.
    m_camera->SetVideoSize(m_size);
    return S_OK;
}

INT_PTR CSizePropertyPage::OnReceiveMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND) {
        if (m_controlsReady)
            SetDirty();
        return TRUE;
    }
    return CBasePropertyPage::OnReceiveMessage(window, message, wParam, lParam);
}

}  // namespace kv20x
