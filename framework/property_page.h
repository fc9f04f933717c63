#pragma once
// A property page from a dialog template: IPropertyPage once for all pages,
// with six hooks for the concrete page. Everything runs on the property
// frame's window thread; only the reference count changes atomically.

#include <windows.h>
#include <ocidl.h>

#include <wrl/client.h>

#include "framework/unknown.h"

namespace kv20x {

class CBasePropertyPage : public CUnknown, public IPropertyPage {
public:
    // `resources` holds the dialog template `dialogId` and the title string
    // `titleId`.
    CBasePropertyPage(IUnknown* outer, HINSTANCE resources, int dialogId, int titleId);
    ~CBasePropertyPage() override;

    KV20X_DELEGATE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    // At zero the page lets go of its site and object before it goes.
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    // IPropertyPage
    HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) override;
    HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rectangle, BOOL modal) override;
    HRESULT STDMETHODCALLTYPE Deactivate() override;
    HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override;
    HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) override;
    HRESULT STDMETHODCALLTYPE Show(UINT command) override;
    HRESULT STDMETHODCALLTYPE Move(LPCRECT rectangle) override;
    HRESULT STDMETHODCALLTYPE IsPageDirty() override;
    HRESULT STDMETHODCALLTYPE Apply() override;
    HRESULT STDMETHODCALLTYPE Help(LPCOLESTR helpDirectory) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* message) override;

    // The hooks of a concrete page.
    virtual HRESULT OnConnect(IUnknown* object) = 0;
    virtual HRESULT OnDisconnect() = 0;
    virtual HRESULT OnActivate() = 0;
    virtual HRESULT OnDeactivate() = 0;
    virtual HRESULT OnApplyChanges() = 0;
    // Messages a page does not consume go to the base handler.
    virtual INT_PTR OnReceiveMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND DialogWindow() const { return m_dialog; }

protected:
    // Marks the page dirty and tells the frame, which enables its Apply.
    void SetDirty();

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // The outer size of the dialog template in pixels; false when it cannot
    // be measured.
    bool GetDialogSize(SIZE* size) const;

    Microsoft::WRL::ComPtr<IPropertyPageSite> m_site;
    HWND m_window = nullptr;  // the page's dialog while active
    HWND m_dialog = nullptr;  // the same dialog, as its creation message recorded it
    BOOL m_dirty = FALSE;
    int m_titleId;
    int m_dialogId;
    BOOL m_objectSet = FALSE;
    HINSTANCE m_resources;
};

}  // namespace kv20x
