// The property pages through the real property-page protocol, driven with
// the messages a user's actions produce. Needs a display (CTest runs it
// under Xvfb).

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <ocidl.h>

#include <wrl/client.h>

#include <optional>

#include "filter/capture_filter.h"
#include "framework/property_page.h"
#include "framework/unknown.h"
#include "base/module_state.h"
#include "pin/capture_pin.h"
#include "support/fake_camera.h"
#include "support/test_camera_port.h"
#include "support/test_sink.h"
#include "ui/resource.h"
#include "ui/setup_page.h"
#include "ui/size_page.h"

namespace kv20x::test {
namespace {

using Microsoft::WRL::ComPtr;
using Calls = std::vector<std::string>;

// The test program carries the pages' resources itself.
const bool g_resources = (SetModuleHandle(::GetModuleHandleW(nullptr)), true);

class TestSite final : public IPropertyPageSite {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == IID_IPropertyPageSite) {
            *object = static_cast<IPropertyPageSite*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD flags) override
    {
        if (flags == PROPPAGESTATUS_DIRTY)
            ++dirtyNotices;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* locale) override
    {
        *locale = LOCALE_USER_DEFAULT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return S_FALSE; }

    ULONG refs = 1;
    int dirtyNotices = 0;
};

// A page hosted in a window of the test, the way a property frame hosts it.
class PageHost {
public:
    explicit PageHost(CUnknown* (*create)(IUnknown*, HRESULT*))
    {
        // Not shown: messages drive the controls, and a shown top-level
        // window costs Wine seconds without a window manager.
        m_window = ::CreateWindowExW(WS_EX_CONTROLPARENT, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 600, 600,
                                     nullptr, nullptr, nullptr, nullptr);
        HRESULT hr = S_OK;
        CUnknown* object = create(nullptr, &hr);
        object->NonDelegatingQueryInterface(IID_IPropertyPage, reinterpret_cast<void**>(page.GetAddressOf()));
    }
    ~PageHost()
    {
        if (page) {
            page->Deactivate();
            page->SetObjects(0, nullptr);
            page->SetPageSite(nullptr);
            EXPECT_EQ(page.Reset(), 0u);
        }
        ::DestroyWindow(m_window);
    }

    HRESULT Open(IUnknown* object)
    {
        page->SetPageSite(&site);
        HRESULT hr = page->SetObjects(1, &object);
        if (FAILED(hr))
            return hr;
        const RECT place = {0, 0, 500, 520};
        return page->Activate(m_window, &place, FALSE);
    }
    HWND Dialog() const { return ::GetWindow(m_window, GW_CHILD); }
    HWND Item(int id) const { return ::GetDlgItem(Dialog(), id); }
    void Type(int id, const wchar_t* text) { ::SendMessageW(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)); }
    void Click(int id) { ::SendMessageW(Item(id), BM_CLICK, 0, 0); }
    void Drag(int slider, int position)
    {
        ::SendMessageW(Item(slider), TBM_SETPOS, TRUE, position);
        ::SendMessageW(Dialog(), WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), reinterpret_cast<LPARAM>(Item(slider)));
    }
    unsigned Box(int id) const { return ::GetDlgItemInt(Dialog(), id, nullptr, FALSE); }
    int SliderAt(int id) const { return static_cast<int>(::SendMessageW(Item(id), TBM_GETPOS, 0, 0)); }
    bool Checked(int id) const { return ::IsDlgButtonChecked(Dialog(), id) == BST_CHECKED; }
    bool Enabled(int id) const { return ::IsWindowEnabled(Item(id)) != FALSE; }

    ComPtr<IPropertyPage> page;
    TestSite site;

private:
    HWND m_window = nullptr;
};

class SetupPage : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(host.Open(&camera), S_OK); }
    ~SetupPage() override
    {
        hostStorage.reset();
        EXPECT_EQ(LiveObjectCount(), 0);
    }

    // Calls since the last look.
    Calls Sent()
    {
        Calls sent(camera.calls.begin() + static_cast<long>(m_seen), camera.calls.end());
        m_seen = camera.calls.size();
        return sent;
    }

    FakeCamera camera;
    std::optional<PageHost> hostStorage{std::in_place, CSetupPage::CreateInstance};
    PageHost& host = *hostStorage;

private:
    size_t m_seen = 0;
};

TEST_F(SetupPage, FillingThePageSendsNothingAndLeavesItClean)
{
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(host.page->IsPageDirty(), S_FALSE);
    EXPECT_EQ(host.site.dirtyNotices, 0);
    EXPECT_EQ(host.Box(IDC_GAMMA_EDIT), 100u);
    EXPECT_EQ(host.SliderAt(IDC_GAMMA_SLIDER), 100);
    EXPECT_EQ(host.Box(IDC_EXPOSURE_EDIT), 300u);
    EXPECT_EQ(host.SliderAt(IDC_EXPOSURE_SLIDER), 300);
    EXPECT_EQ(host.Box(IDC_RED_EDIT), 105u);
    EXPECT_TRUE(host.Checked(IDC_AUTO_EXPOSURE));
    EXPECT_TRUE(host.Checked(IDC_COLOR_ENHANCEMENT));
    EXPECT_TRUE(host.Checked(IDC_VERTICAL_FLIP));
    EXPECT_TRUE(host.Checked(IDC_SPEED_NORMAL));
    EXPECT_FALSE(host.Checked(IDC_SPEED_HIGH));
    EXPECT_TRUE(host.Checked(IDC_50HZ));
    EXPECT_TRUE(host.Checked(IDC_GROUP_A));
    EXPECT_FALSE(host.Checked(IDC_GROUP_B));
}

TEST_F(SetupPage, AutoExposureDecidesWhichExposureRowsWork)
{
    EXPECT_TRUE(host.Enabled(IDC_TARGET_SLIDER));
    EXPECT_FALSE(host.Enabled(IDC_EXPOSURE_SLIDER));
    EXPECT_FALSE(host.Enabled(IDC_GAIN_EDIT));
    EXPECT_FALSE(host.Enabled(IDC_GAIN_SPIN));
    host.Type(IDC_EXPOSURE_EDIT, L"900");
    EXPECT_TRUE(Sent().empty()) << "a disabled row's box sends nothing";
    host.Type(IDC_TARGET_EDIT, L"120");
    EXPECT_EQ(Sent(), Calls{"SetExposure(1,120,300,20)"});
    EXPECT_EQ(host.page->IsPageDirty(), S_OK);

    host.Click(IDC_AUTO_EXPOSURE);
    EXPECT_FALSE(host.Checked(IDC_AUTO_EXPOSURE));
    EXPECT_FALSE(host.Enabled(IDC_TARGET_EDIT));
    EXPECT_TRUE(host.Enabled(IDC_EXPOSURE_SLIDER));
    // The exposure and gain boxes carry the new flag; the target box does not.
    EXPECT_EQ(Sent(), (Calls{"SetExposure(0,120,300,20)", "SetExposure(0,120,300,20)"}));
    host.Type(IDC_TARGET_EDIT, L"150");
    EXPECT_TRUE(Sent().empty()) << "ignored entirely, the number not kept";
    host.Drag(IDC_GAIN_SLIDER, 40);
    EXPECT_EQ(host.Box(IDC_GAIN_EDIT), 40u);
    EXPECT_EQ(host.Box(IDC_TARGET_EDIT), 120u);
    EXPECT_EQ(Sent(), (Calls{"SetExposure(0,120,300,40)", "SetExposure(0,120,300,40)"}));
}

TEST_F(SetupPage, SaturationFollowsColourEnhancement)
{
    host.Click(IDC_COLOR_ENHANCEMENT);
    EXPECT_EQ(Sent(), Calls{"SetColorEnhancement(0,100)"});
    EXPECT_FALSE(host.Enabled(IDC_SATURATION_SLIDER));
    host.Drag(IDC_SATURATION_SLIDER, 200);
    EXPECT_TRUE(Sent().empty()) << "slider notifications are ignored while enhancement is off";
    host.Type(IDC_SATURATION_EDIT, L"140");
    EXPECT_EQ(Sent(), Calls{"SetColorEnhancement(0,140)"}) << "the box still sends";
    host.Click(IDC_COLOR_ENHANCEMENT);
    EXPECT_EQ(Sent(), Calls{"SetColorEnhancement(1,140)"});
}

TEST_F(SetupPage, DraggingGammaSendsEveryPosition)
{
    for (int position = 101; position <= 120; ++position)
        host.Drag(IDC_GAMMA_SLIDER, position);
    const Calls sent = Sent();
    ASSERT_EQ(sent.size(), 20u);
    EXPECT_EQ(sent.front(), "SetGamma(101)");
    EXPECT_EQ(sent.back(), "SetGamma(120)");
    EXPECT_EQ(host.Box(IDC_GAMMA_EDIT), 120u);
}

TEST_F(SetupPage, TypedNumbersAreSentWithinTheSpinRange)
{
    host.Type(IDC_GAMMA_EDIT, L"251");
    EXPECT_EQ(Sent(), Calls{"SetGamma(250)"}) << "the range the standard interface and the stored value have";
    EXPECT_EQ(host.SliderAt(IDC_GAMMA_SLIDER), 250) << "the slider stops at 250";
    host.Type(IDC_GAMMA_EDIT, L"300");
    EXPECT_EQ(Sent(), Calls{"SetGamma(250)"}) << "never the low byte of 300, 44";
    EXPECT_EQ(host.Box(IDC_GAMMA_EDIT), 300u) << "the box keeps what the user typed";
    host.Type(IDC_GAMMA_EDIT, L"");
    EXPECT_EQ(Sent(), Calls{"SetGamma(10)"});
    host.Click(IDC_AUTO_EXPOSURE);
    Sent();
    host.Type(IDC_GAIN_EDIT, L"0");
    EXPECT_EQ(Sent(), Calls{"SetExposure(0,100,300,0)"}) << "the sensor's lowest gain, as auto exposure may choose";
    host.Type(IDC_GAIN_EDIT, L"81");
    EXPECT_EQ(Sent(), Calls{"SetExposure(0,100,300,80)"});
    host.Type(IDC_EXPOSURE_EDIT, L"70000");
    EXPECT_EQ(Sent(), Calls{"SetExposure(0,100,4000,80)"});
    host.Type(IDC_RED_EDIT, L"5");
    EXPECT_EQ(Sent(), Calls{"SetWhiteBalance(0,10,64,122)"});
}

TEST_F(SetupPage, ButtonsSendTheirSettings)
{
    host.Click(IDC_VERTICAL_FLIP);
    host.Click(IDC_HORIZONTAL_MIRROR);
    host.Click(IDC_MONO_MODE);
    host.Click(IDC_SPEED_HIGH);
    host.Click(IDC_60HZ);
    host.Click(IDC_SAVE);
    EXPECT_EQ(Sent(), (Calls{"SetVerticalFlip(0)", "SetHorizontalMirror(0)", "SetMonoMode(1)", "SetSpeed(1)",
                             "SetPowerFrequency(0)", "SaveSettings()"}));
    EXPECT_TRUE(host.Checked(IDC_SPEED_HIGH));
    EXPECT_FALSE(host.Checked(IDC_SPEED_NORMAL));
    EXPECT_GT(host.site.dirtyNotices, 0);
}

TEST_F(SetupPage, DefaultRestoresFactoryValuesButNotTheGroup)
{
    camera.group = 2;
    host.Click(IDC_GROUP_C);
    host.Click(IDC_MONO_MODE);
    host.Type(IDC_CONTRAST_EDIT, L"80");
    Sent();
    host.Click(IDC_DEFAULT);
    const Calls sent = Sent();
    const Calls direct = {"SetGamma(100)",         "SetContrast(30)",         "SetColorEnhancement(1,100)",
                          "SetWhiteBalance(0,105,64,122)", "SetSpeed(0)",   "SetVerticalFlip(1)",
                          "SetHorizontalMirror(1)", "SetMonoMode(0)",        "SetPowerFrequency(1)",
                          "SetExposure(1,100,300,20)"};
    // The direct calls in order, with the boxes' own sends of the same values between them.
    size_t next = 0;
    for (const std::string& call : sent)
        if (next < direct.size() && call == direct[next])
            ++next;
    EXPECT_EQ(next, direct.size());
    for (const std::string& call : sent)
        EXPECT_NE(call.rfind("SelectParameterGroup", 0), 0u);
    EXPECT_TRUE(host.Checked(IDC_GROUP_C));
    EXPECT_FALSE(host.Checked(IDC_MONO_MODE));
    EXPECT_EQ(host.Box(IDC_CONTRAST_EDIT), 30u);
    EXPECT_EQ(camera.contrast, 30);
}

TEST_F(SetupPage, AGroupSwitchShowsTheLoadedValues)
{
    host.Click(IDC_GROUP_B);
    EXPECT_EQ(Sent(), Calls{"SelectParameterGroup(1)"});
    // The camera changes behind the page; clicking the selected group again
    // shows what it now holds.
    camera.gamma = 77;
    camera.autoExposure = FALSE;
    camera.mono = TRUE;
    host.Click(IDC_GROUP_B);
    EXPECT_EQ(Sent(), Calls{"SelectParameterGroup(1)"});
    EXPECT_EQ(host.Box(IDC_GAMMA_EDIT), 77u);
    EXPECT_EQ(host.SliderAt(IDC_GAMMA_SLIDER), 77);
    EXPECT_FALSE(host.Checked(IDC_AUTO_EXPOSURE));
    EXPECT_TRUE(host.Enabled(IDC_GAIN_SLIDER));
    EXPECT_TRUE(host.Checked(IDC_MONO_MODE));
    EXPECT_TRUE(host.Checked(IDC_GROUP_B));
    EXPECT_FALSE(host.Checked(IDC_GROUP_A));
}

TEST_F(SetupPage, AwbOnceWaitsForTheCameraAndShowsItsGains)
{
    host.Click(IDC_AWB_ONCE);
    const Calls sent = Sent();
    ASSERT_GE(sent.size(), 1u);
    EXPECT_EQ(sent[0], "SetWhiteBalance(1,105,64,122)");
    EXPECT_EQ(sent.back(), "SetWhiteBalance(0,90,64,140)");
    EXPECT_EQ(host.Box(IDC_RED_EDIT), 90u);
    EXPECT_EQ(host.SliderAt(IDC_BLUE_SLIDER), 140);
}

TEST_F(SetupPage, AwbOnceGivesUpAfterTwoThousandPollsAndKeepsTheRequest)
{
    camera.balancePolls = -1;
    host.Click(IDC_AWB_ONCE);
    const Calls sent = Sent();
    EXPECT_EQ(sent.back(), "SetWhiteBalance(1,105,64,122)") << "the request stays pending";
    EXPECT_TRUE(camera.pending);
}

TEST_F(SetupPage, ApplyClearsDirtyAndSendsNothing)
{
    host.Type(IDC_CONTRAST_EDIT, L"40");
    Sent();
    EXPECT_EQ(host.page->IsPageDirty(), S_OK);
    EXPECT_EQ(host.page->Apply(), S_OK);
    EXPECT_EQ(host.page->IsPageDirty(), S_FALSE);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(SetupPage, ReactivationShowsThePagesCopy)
{
    host.Type(IDC_GAMMA_EDIT, L"140");
    HWND parent = ::GetParent(host.Dialog());
    ASSERT_EQ(host.page->Deactivate(), S_OK);
    camera.gamma = 20;  // not read again on activation
    const RECT place = {0, 0, 500, 520};
    ASSERT_EQ(host.page->Activate(parent, &place, FALSE), S_OK);
    EXPECT_EQ(host.Box(IDC_GAMMA_EDIT), 140u);
    EXPECT_EQ(host.page->IsPageDirty(), S_OK) << "dirty until the frame applies";
}

class PageBase : public ::testing::Test {
protected:
    // After the members of every fixture below have gone.
    ~PageBase() override { EXPECT_EQ(LiveObjectCount(), 0); }
};

TEST_F(PageBase, ProtocolErrors)
{
    FakeCamera camera;
    PageHost host(CSizePropertyPage::CreateInstance);
    const RECT place = {0, 0, 300, 200};
    EXPECT_EQ(host.page->Activate(nullptr, &place, FALSE), E_UNEXPECTED) << "no object yet";
    EXPECT_EQ(host.page->Activate(nullptr, nullptr, FALSE), E_POINTER);
    IUnknown* objects[2] = {&camera, &camera};
    EXPECT_EQ(host.page->SetObjects(2, objects), E_UNEXPECTED);
    EXPECT_EQ(host.page->SetObjects(1, nullptr), E_POINTER);
    EXPECT_EQ(host.page->Apply(), E_UNEXPECTED) << "no site, no object";
    EXPECT_EQ(host.page->Show(SW_SHOW), E_UNEXPECTED);
    EXPECT_EQ(host.page->Deactivate(), E_UNEXPECTED);
    EXPECT_EQ(host.page->SetPageSite(nullptr), E_UNEXPECTED);
    ASSERT_EQ(host.Open(&camera), S_OK);
    EXPECT_EQ(host.page->SetPageSite(&host.site), E_UNEXPECTED) << "a site is already held";
    EXPECT_EQ(host.page->Activate(nullptr, &place, FALSE), E_UNEXPECTED) << "already active";
    EXPECT_EQ(host.page->Show(SW_MAXIMIZE), E_INVALIDARG);
    EXPECT_EQ(host.page->Help(nullptr), E_NOTIMPL);
    EXPECT_EQ(host.page->TranslateAccelerator(nullptr), E_NOTIMPL);
    EXPECT_EQ(host.page->Apply(), S_OK) << "a clean page applies nothing";
    EXPECT_TRUE(camera.calls.empty());
}

TEST_F(PageBase, ObjectsWithoutTheCameraInterfaceAreRefused)
{
    PageHost host(CSetupPage::CreateInstance);
    TestSite notACamera;
    IUnknown* object = &notACamera;
    EXPECT_EQ(host.page->SetObjects(1, &object), E_NOINTERFACE);
}

TEST_F(PageBase, PageInfoCarriesTheTitleAndTheDialogSize)
{
    PageHost host(CSetupPage::CreateInstance);
    PROPPAGEINFO info{};
    ASSERT_EQ(host.page->GetPageInfo(&info), S_OK);
    EXPECT_EQ(info.cb, sizeof(PROPPAGEINFO));
    EXPECT_STREQ(info.pszTitle, L" SETUP");
    EXPECT_EQ(info.pszDocString, nullptr);
    // 261 x 310 dialog units, in pixels.
    EXPECT_GT(info.size.cx, 261);
    EXPECT_GT(info.size.cy, 310);
    EXPECT_NE(info.size.cx, 340);
    ::CoTaskMemFree(info.pszTitle);
    EXPECT_EQ(host.page->GetPageInfo(nullptr), E_POINTER);
}

// A page whose title string is not in the module.
class UntitledPage final : public CBasePropertyPage {
public:
    UntitledPage() : CBasePropertyPage(nullptr, ::GetModuleHandleW(nullptr), IDD_SIZE_ENGLISH, 9999) {}
    HRESULT OnConnect(IUnknown*) override { return S_OK; }
    HRESULT OnDisconnect() override { return S_OK; }
    HRESULT OnActivate() override { return S_OK; }
    HRESULT OnDeactivate() override { return S_OK; }
    HRESULT OnApplyChanges() override { return S_OK; }
};

TEST_F(PageBase, AMissingTitleStringGivesAnEmptyTitle)
{
    auto* page = new UntitledPage;
    page->NonDelegatingAddRef();
    PROPPAGEINFO info{};
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    EXPECT_STREQ(info.pszTitle, L"");
    ::CoTaskMemFree(info.pszTitle);
    page->NonDelegatingRelease();
}

TEST_F(PageBase, TheLastReleaseLetsGoOfSiteAndObject)
{
    FakeCamera camera;
    TestSite site;
    {
        PageHost host(CSetupPage::CreateInstance);
        host.page->SetPageSite(&site);
        IUnknown* object = &camera;
        ASSERT_EQ(host.page->SetObjects(1, &object), S_OK);
        EXPECT_EQ(site.refs, 2u);
        EXPECT_EQ(camera.refs, 2u);
        // Dropped without SetObjects(0) or SetPageSite(null).
        EXPECT_EQ(host.page.Reset(), 0u);
    }
    EXPECT_EQ(site.refs, 1u);
    EXPECT_EQ(camera.refs, 1u);
}

TEST_F(PageBase, ChinesePagesUseTheirOwnTemplatesAndTitles)
{
    SetChinesePages(true);
    {
        PageHost setup(CSetupPage::CreateInstance);
        PROPPAGEINFO info{};
        ASSERT_EQ(setup.page->GetPageInfo(&info), S_OK);
        EXPECT_STREQ(info.pszTitle, L" \u8bbe\u7f6e");
        ::CoTaskMemFree(info.pszTitle);
        FakeCamera camera;
        ASSERT_EQ(setup.Open(&camera), S_OK);
        wchar_t caption[32] = {};
        ::GetWindowTextW(setup.Item(IDC_AWB_ONCE), caption, 32);
        EXPECT_STREQ(caption, L"\u4e00\u6b21\u767d\u5e73\u8861");

        PageHost size(CSizePropertyPage::CreateInstance);
        ASSERT_EQ(size.page->GetPageInfo(&info), S_OK);
        EXPECT_STREQ(info.pszTitle, L"\u89c6\u9891\u5c3a\u5bf8");
        ::CoTaskMemFree(info.pszTitle);
    }
    SetChinesePages(false);
}

class SizePage : public PageBase {
protected:
    FakeCamera camera;
    PageHost host{CSizePropertyPage::CreateInstance};
};

TEST_F(SizePage, ShowsTheSizeAndAppliesOnlyOnApply)
{
    camera.size = 0;
    ASSERT_EQ(host.Open(&camera), S_OK);
    EXPECT_TRUE(host.Checked(IDC_SIZE_2048));
    EXPECT_FALSE(host.Checked(IDC_SIZE_1024));
    host.Click(IDC_SIZE_640);
    EXPECT_TRUE(camera.calls.empty()) << "choosing only marks the page dirty";
    EXPECT_EQ(host.page->IsPageDirty(), S_OK);
    EXPECT_EQ(host.page->Apply(), S_OK);
    EXPECT_EQ(camera.calls, Calls{"SetVideoSize(2)"});
    EXPECT_EQ(host.page->IsPageDirty(), S_FALSE);
}

TEST_F(SizePage, ARefusedSizeStillAppliesCleanly)
{
    camera.refuseSize = true;
    ASSERT_EQ(host.Open(&camera), S_OK);
    host.Click(IDC_SIZE_2048);
    EXPECT_EQ(host.page->Apply(), S_OK);
    EXPECT_EQ(host.page->IsPageDirty(), S_FALSE);
    EXPECT_EQ(camera.size, 1);
}

// The pages on the real filter and pin, with a simulated camera.
class PagesOnTheCamera : public PageBase {
protected:
    void SetUp() override
    {
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // the pin's allocator is a COM object
        ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ORBILUX ");
        UseCamera(simcam::SimulatedCamera::Create());
        HRESULT hr = S_OK;
        filter = static_cast<CKV20X*>(CKV20X::CreateInstance(nullptr, &hr));
        filter->NonDelegatingAddRef();
    }
    void TearDown() override
    {
        EXPECT_EQ(static_cast<IBaseFilter*>(filter)->Release(), 0u);
        UseCamera(nullptr);
        ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ORBILUX ");
        ::CoUninitialize();
    }
    CKV20X* filter = nullptr;
};

TEST_F(PagesOnTheCamera, SetupPageOnTheFilterAndOnThePin)
{
    for (IUnknown* object : {static_cast<IUnknown*>(static_cast<IBaseFilter*>(filter)),
                             static_cast<IUnknown*>(static_cast<IPin*>(filter->Pin()))}) {
        PageHost host(CSetupPage::CreateInstance);
        ASSERT_EQ(host.Open(object), S_OK);
        host.Type(IDC_GAMMA_EDIT, L"135");
        BYTE gamma = 0;
        static_cast<IKV20X*>(filter)->GetGamma(&gamma);
        EXPECT_EQ(gamma, 135);
        static_cast<IKV20X*>(filter)->SetGamma(100);
    }
}

TEST_F(PagesOnTheCamera, SizePageOnThePinChangesNothingWhileConnected)
{
    TestSink sink;
    IPin* pin = static_cast<IPin*>(filter->Pin());
    ASSERT_EQ(pin->Connect(&sink, nullptr), S_OK);
    {
        PageHost host(CSizePropertyPage::CreateInstance);
        ASSERT_EQ(host.Open(pin), S_OK);
        host.Click(IDC_SIZE_640);
        EXPECT_EQ(host.page->Apply(), S_OK);
        EXPECT_EQ(host.page->IsPageDirty(), S_FALSE);
    }
    int size = -1;
    static_cast<IKV20X*>(filter)->GetVideoSize(&size);
    EXPECT_EQ(size, 1);
    pin->Disconnect();
    sink.Disconnect();
    {
        PageHost host(CSizePropertyPage::CreateInstance);
        ASSERT_EQ(host.Open(static_cast<IBaseFilter*>(filter)), S_OK);
        host.Click(IDC_SIZE_640);
        EXPECT_EQ(host.page->Apply(), S_OK);
    }
    static_cast<IKV20X*>(filter)->GetVideoSize(&size);
    EXPECT_EQ(size, 2);
}

}  // namespace
}  // namespace kv20x::test
