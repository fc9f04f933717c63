#include "framework/property_page.h"

#include <commctrl.h>

#include <cstring>
#include <cwchar>

namespace kv20x {

namespace {

constexpr int kTitleChars = 256;
constexpr LONG kDefaultWidth = 340;
constexpr LONG kDefaultHeight = 150;

// The pages' sliders and spin buttons live in the common controls.
void LoadCommonControls()
{
    static const bool loaded = [] {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_UPDOWN_CLASS};
        return ::InitCommonControlsEx(&controls) != FALSE;
    }();
    (void)loaded;
}

}  // namespace

CBasePropertyPage::CBasePropertyPage(IUnknown* outer, HINSTANCE resources, int dialogId, int titleId)
    : CUnknown(outer), m_titleId(titleId), m_dialogId(dialogId), m_resources(resources)
{
}

CBasePropertyPage::~CBasePropertyPage() = default;

HRESULT STDMETHODCALLTYPE CBasePropertyPage::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IPropertyPage)
        return GetInterface(static_cast<IPropertyPage*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

ULONG STDMETHODCALLTYPE CBasePropertyPage::NonDelegatingAddRef()
{
    const LONG count = ::InterlockedIncrement(&m_refCount);
    return static_cast<ULONG>(count < 1 ? 1 : count);
}

ULONG STDMETHODCALLTYPE CBasePropertyPage::NonDelegatingRelease()
{
    const LONG count = ::InterlockedDecrement(&m_refCount);
    if (count == 0) {
        m_refCount = 1;  // no second destruction from the calls below
        SetPageSite(nullptr);
        SetObjects(0, nullptr);
        delete this;
        return 0;
    }
    return static_cast<ULONG>(count < 1 ? 1 : count);
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::SetPageSite(IPropertyPageSite* site)
{
    if (site) {
        if (m_site)
            return E_UNEXPECTED;
        m_site = site;
        return S_OK;
    }
    if (!m_site)
        return E_UNEXPECTED;
    m_site.Reset();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::SetObjects(ULONG count, IUnknown** objects)
{
    if (count == 1) {
        if (!objects || !objects[0])
            return E_POINTER;
        m_objectSet = TRUE;
        return OnConnect(objects[0]);
    }
    if (count == 0) {
        m_objectSet = FALSE;
        return OnDisconnect();
    }
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Activate(HWND parent, LPCRECT rectangle, BOOL)
{
    if (!rectangle)
        return E_POINTER;
    if (!m_objectSet || m_window)
        return E_UNEXPECTED;
    LoadCommonControls();
    m_window = ::CreateDialogParamW(m_resources, MAKEINTRESOURCEW(m_dialogId), parent, DialogProc,
                                    reinterpret_cast<LPARAM>(this));
    if (!m_window)
        return E_OUTOFMEMORY;
    OnActivate();
    Move(rectangle);
    return Show(SW_SHOWNORMAL);
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Deactivate()
{
    if (!m_window)
        return E_UNEXPECTED;
    // The style guard lets this change through only while the window field
    // is empty: without the bit the frame's tab order works again.
    HWND window = m_window;
    m_window = nullptr;
    ::SetWindowLongW(window, GWL_EXSTYLE, ::GetWindowLongW(window, GWL_EXSTYLE) & ~WS_EX_CONTROLPARENT);
    m_window = window;
    OnDeactivate();
    ::DestroyWindow(window);
    m_window = nullptr;
    m_dialog = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::GetPageInfo(PROPPAGEINFO* info)
{
    if (!info)
        return E_POINTER;
    wchar_t title[kTitleChars];
    const int length = ::LoadStringW(m_resources, static_cast<UINT>(m_titleId), title, kTitleChars);
    title[length > 0 ? length : 0] = L'\0';  // a missing string gives an empty title
    const size_t bytes = (std::wcslen(title) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPOLESTR>(::CoTaskMemAlloc(bytes));
    if (!copy)
        return E_OUTOFMEMORY;
    std::memcpy(copy, title, bytes);
    info->cb = sizeof(PROPPAGEINFO);
    info->pszTitle = copy;
    info->pszDocString = nullptr;
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    info->size.cx = kDefaultWidth;
    info->size.cy = kDefaultHeight;
    SIZE measured;
    if (GetDialogSize(&measured))
        info->size = measured;
    return S_OK;
}

bool CBasePropertyPage::GetDialogSize(SIZE* size) const
{
    LoadCommonControls();
    // Inert: no page behind it, and invisible, the template having no visible style.
    HWND probe = ::CreateDialogParamW(m_resources, MAKEINTRESOURCEW(m_dialogId), ::GetDesktopWindow(), DialogProc, 0);
    if (!probe)
        return false;
    RECT rectangle;
    ::GetWindowRect(probe, &rectangle);
    size->cx = rectangle.right - rectangle.left;
    size->cy = rectangle.bottom - rectangle.top;
    ::DestroyWindow(probe);
    return true;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Show(UINT command)
{
    if (!m_window)
        return E_UNEXPECTED;
    if (command != SW_HIDE && command != SW_SHOWNORMAL && command != SW_SHOW)
        return E_INVALIDARG;
    ::ShowWindow(m_window, static_cast<int>(command));
    ::InvalidateRect(m_window, nullptr, TRUE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Move(LPCRECT rectangle)
{
    if (!rectangle)
        return E_POINTER;
    if (!m_window)
        return E_UNEXPECTED;
    ::MoveWindow(m_window, rectangle->left, rectangle->top, rectangle->right - rectangle->left,
                 rectangle->bottom - rectangle->top, TRUE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::IsPageDirty()
{
    return m_dirty ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Apply()
{
    if (!m_objectSet || !m_site)
        return E_UNEXPECTED;
    if (!m_dirty)
        return S_OK;
    const HRESULT hr = OnApplyChanges();
    if (SUCCEEDED(hr))
        m_dirty = FALSE;
    return hr;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Help(LPCOLESTR)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::TranslateAccelerator(MSG*)
{
    return E_NOTIMPL;
}

void CBasePropertyPage::SetDirty()
{
    m_dirty = TRUE;
    if (m_site)
        m_site->OnStatusChange(PROPPAGESTATUS_DIRTY);
}

INT_PTR CBasePropertyPage::OnReceiveMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!m_window)
        return 0;
    // The frame makes the page a plain child; the bit keeps the tab key
    // moving between the page's own controls.
    if (message == WM_STYLECHANGING && wParam == static_cast<WPARAM>(GWL_EXSTYLE)) {
        reinterpret_cast<STYLESTRUCT*>(lParam)->styleNew |= WS_EX_CONTROLPARENT;
        return 0;
    }
    // Everything else gets the dialog manager's default handling.
    return FALSE;
}

INT_PTR CALLBACK CBasePropertyPage::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        auto* page = reinterpret_cast<CBasePropertyPage*>(lParam);
        if (!page)
            return TRUE;
        page->m_dialog = window;
    }
    auto* page = reinterpret_cast<CBasePropertyPage*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (!page)
        return message == WM_INITDIALOG ? TRUE : FALSE;
    return page->OnReceiveMessage(window, message, wParam, lParam);
}

}  // namespace kv20x
