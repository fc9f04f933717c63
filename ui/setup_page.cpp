#include "ui/setup_page.h"

#include <commctrl.h>

#include <initializer_list>
#include <iterator>
#include <new>

#include "base/module_state.h"
#include "ui/resource.h"

namespace kv20x {

namespace {

// One numeric setting: its slider, edit box and spin button and their ranges.
struct NumericRow {
    int slider;
    int sliderMin, sliderMax;
    int edit;
    int spin;
    int spinMin, spinMax;
};

constexpr NumericRow kGamma = {IDC_GAMMA_SLIDER, 10, 250, IDC_GAMMA_EDIT, IDC_GAMMA_SPIN, 10, 250};
constexpr NumericRow kContrast = {IDC_CONTRAST_SLIDER, 0, 100, IDC_CONTRAST_EDIT, IDC_CONTRAST_SPIN, 0, 100};
constexpr NumericRow kSaturation = {IDC_SATURATION_SLIDER, 0, 255, IDC_SATURATION_EDIT, IDC_SATURATION_SPIN, 0, 255};
constexpr NumericRow kTarget = {IDC_TARGET_SLIDER, 50, 200, IDC_TARGET_EDIT, IDC_TARGET_SPIN, 50, 200};
constexpr NumericRow kExposure = {IDC_EXPOSURE_SLIDER, 1, 4000, IDC_EXPOSURE_EDIT, IDC_EXPOSURE_SPIN, 1, 4000};
constexpr NumericRow kGain = {IDC_GAIN_SLIDER, 0, 80, IDC_GAIN_EDIT, IDC_GAIN_SPIN, 0, 80};
constexpr NumericRow kRed = {IDC_RED_SLIDER, 10, 255, IDC_RED_EDIT, IDC_RED_SPIN, 10, 255};
constexpr NumericRow kGreen = {IDC_GREEN_SLIDER, 10, 255, IDC_GREEN_EDIT, IDC_GREEN_SPIN, 10, 255};
constexpr NumericRow kBlue = {IDC_BLUE_SLIDER, 10, 255, IDC_BLUE_EDIT, IDC_BLUE_SPIN, 10, 255};
constexpr const NumericRow* kRows[] = {&kGamma, &kContrast, &kSaturation, &kTarget, &kExposure,
                                       &kGain,  &kRed,      &kGreen,      &kBlue};

// The polls of AWB Once, each after a 1 ms sleep.
constexpr int kBalancePolls = 2000;

const NumericRow* RowOfEdit(int id)
{
    for (const NumericRow* row : kRows)
        if (row->edit == id)
            return row;
    return nullptr;
}

}  // namespace

CUnknown* CSetupPage::CreateInstance(IUnknown* outer, HRESULT* result)
{
    auto* page = new (std::nothrow) CSetupPage(outer);
    if (!page)
        *result = E_OUTOFMEMORY;
    return page;
}

CSetupPage::CSetupPage(IUnknown* outer)
    : CCameraPage(outer, ModuleHandle(), UsesChinesePages() ? IDD_SETUP_CHINESE : IDD_SETUP_ENGLISH,
                        UsesChinesePages() ? IDS_SETUP_CHINESE : IDS_SETUP_ENGLISH)
{
}

void CSetupPage::ReadCamera()
{
    m_camera->GetParameterGroup(&m_group);
    ReadValues();
}

void CSetupPage::ReadValues()
{
    IKV20X& camera = *m_camera.Get();
    camera.GetGamma(&m_gamma);
    camera.GetColorEnhancement(&m_colourEnhancement, &m_saturation);
    camera.GetContrast(&m_contrast);
    camera.GetExposure(&m_autoExposure, &m_target, &m_exposureTime, &m_gain);
    camera.GetWhiteBalance(&m_whiteBalancePending, &m_red, &m_green, &m_blue);
    camera.GetMonoMode(&m_monoMode);
    camera.GetVerticalFlip(&m_verticalFlip);
    camera.GetHorizontalMirror(&m_horizontalMirror);
    camera.GetSpeed(&m_speed);
    camera.GetPowerFrequency(&m_fiftyHertz);
}

HRESULT CSetupPage::OnActivate()
{
    HWND dialog = DialogWindow();
    for (const NumericRow* row : kRows) {
        ::SendDlgItemMessageW(dialog, row->slider, TBM_SETRANGEMIN, TRUE, row->sliderMin);
        ::SendDlgItemMessageW(dialog, row->slider, TBM_SETRANGEMAX, TRUE, row->sliderMax);
        ::SendDlgItemMessageW(dialog, row->spin, UDM_SETRANGE32, row->spinMin, row->spinMax);
    }
    ShowValues();
    m_controlsReady = TRUE;
    return S_OK;
}

void CSetupPage::ShowValues()
{
    HWND dialog = DialogWindow();
    ::CheckDlgButton(dialog, IDC_AUTO_EXPOSURE, m_autoExposure ? BST_CHECKED : BST_UNCHECKED);
    ApplyExposureRule();
    ::CheckDlgButton(dialog, IDC_COLOR_ENHANCEMENT, m_colourEnhancement ? BST_CHECKED : BST_UNCHECKED);
    ApplySaturationRule();

    const unsigned values[] = {m_gamma, m_contrast, m_saturation, m_target, m_exposureTime,
                               m_gain,  m_red,      m_green,      m_blue};
    for (size_t i = 0; i < std::size(kRows); ++i) {
        SetSlider(kRows[i]->slider, values[i]);
        WriteBox(kRows[i]->edit, values[i]);
    }

    ::CheckDlgButton(dialog, IDC_VERTICAL_FLIP, m_verticalFlip ? BST_CHECKED : BST_UNCHECKED);
    ::CheckDlgButton(dialog, IDC_HORIZONTAL_MIRROR, m_horizontalMirror ? BST_CHECKED : BST_UNCHECKED);
    ::CheckDlgButton(dialog, IDC_MONO_MODE, m_monoMode ? BST_CHECKED : BST_UNCHECKED);
    ::CheckDlgButton(dialog, IDC_SPEED_NORMAL, m_speed == 0 ? BST_CHECKED : BST_UNCHECKED);
    ::CheckDlgButton(dialog, IDC_SPEED_HIGH, m_speed == 0 ? BST_UNCHECKED : BST_CHECKED);
    ::CheckDlgButton(dialog, IDC_50HZ, m_fiftyHertz ? BST_CHECKED : BST_UNCHECKED);
    ::CheckDlgButton(dialog, IDC_60HZ, m_fiftyHertz ? BST_UNCHECKED : BST_CHECKED);
    for (int group = 0; group < 4; ++group)
        ::CheckDlgButton(dialog, IDC_GROUP_A + group, m_group == group ? BST_CHECKED : BST_UNCHECKED);
}

HRESULT CSetupPage::OnApplyChanges()
{
    // Every change has already gone to the camera.
    return m_camera ? S_OK : E_POINTER;
}

void CSetupPage::ApplyExposureRule()
{
    HWND dialog = DialogWindow();
    for (int id : {kTarget.slider, kTarget.edit, kTarget.spin})
        ::EnableWindow(::GetDlgItem(dialog, id), m_autoExposure);
    for (const NumericRow* row : {&kExposure, &kGain})
        for (int id : {row->slider, row->edit, row->spin})
            ::EnableWindow(::GetDlgItem(dialog, id), !m_autoExposure);
}

void CSetupPage::ApplySaturationRule()
{
    for (int id : {kSaturation.slider, kSaturation.edit, kSaturation.spin})
        ::EnableWindow(::GetDlgItem(DialogWindow(), id), m_colourEnhancement);
}

void CSetupPage::WriteBox(int id, unsigned value)
{
    ::SetDlgItemInt(DialogWindow(), id, value, FALSE);
}

void CSetupPage::SetSlider(int id, unsigned position)
{
    ::SendDlgItemMessageW(DialogWindow(), id, TBM_SETPOS, TRUE, static_cast<LPARAM>(position));
}

void CSetupPage::WriteExposureBoxes()
{
    WriteBox(kTarget.edit, m_target);
    WriteBox(kExposure.edit, m_exposureTime);
    WriteBox(kGain.edit, m_gain);
}

void CSetupPage::WriteGainBoxes()
{
    WriteBox(kRed.edit, m_red);
    WriteBox(kGreen.edit, m_green);
    WriteBox(kBlue.edit, m_blue);
}

void CSetupPage::SetExposureSliders()
{
    SetSlider(kTarget.slider, m_target);
    SetSlider(kExposure.slider, m_exposureTime);
    SetSlider(kGain.slider, m_gain);
}

void CSetupPage::SetGainSliders()
{
    SetSlider(kRed.slider, m_red);
    SetSlider(kGreen.slider, m_green);
    SetSlider(kBlue.slider, m_blue);
}

INT_PTR CSetupPage::OnReceiveMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_HSCROLL) {
        if (m_controlsReady && m_camera && lParam)
            OnSlider(reinterpret_cast<HWND>(lParam));
        return CBasePropertyPage::OnReceiveMessage(window, message, wParam, lParam);
    }
    if (message == WM_COMMAND) {
        if (!m_controlsReady || !m_camera)
            return TRUE;
        SetDirty();
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        if (code == EN_CHANGE)
            OnEditChange(id);
        else if (code == BN_CLICKED && id >= IDC_COLOR_ENHANCEMENT && id <= IDC_SAVE)
            OnButton(id);
        return TRUE;
    }
    return CBasePropertyPage::OnReceiveMessage(window, message, wParam, lParam);
}

void CSetupPage::OnSlider(HWND slider)
{
    HWND dialog = DialogWindow();
    const auto position = static_cast<unsigned>(::SendMessageW(slider, TBM_GETPOS, 0, 0));
    const auto is = [&](const NumericRow& row) { return slider == ::GetDlgItem(dialog, row.slider); };
    if (is(kGamma)) {
        m_gamma = static_cast<std::uint8_t>(position);
        WriteBox(kGamma.edit, m_gamma);
    } else if (is(kContrast)) {
        m_contrast = static_cast<std::uint8_t>(position);
        WriteBox(kContrast.edit, m_contrast);
    } else if (is(kSaturation)) {
        if (!m_colourEnhancement)
            return;
        m_saturation = static_cast<std::uint8_t>(position);
        ApplySaturationRule();
        WriteBox(kSaturation.edit, m_saturation);
    } else if (is(kTarget) || is(kExposure) || is(kGain)) {
        if (is(kTarget))
            m_target = static_cast<std::uint8_t>(position);
        else if (m_autoExposure)
            return;
        else if (is(kExposure))
            m_exposureTime = static_cast<std::uint16_t>(position);
        else
            m_gain = static_cast<std::uint16_t>(position);
        ::CheckDlgButton(dialog, IDC_AUTO_EXPOSURE, m_autoExposure ? BST_CHECKED : BST_UNCHECKED);
        ApplyExposureRule();
        WriteExposureBoxes();
    } else if (is(kRed) || is(kGreen) || is(kBlue)) {
        (is(kRed) ? m_red : is(kGreen) ? m_green : m_blue) = static_cast<std::uint8_t>(position);
        WriteGainBoxes();
    }
}

void CSetupPage::OnEditChange(int id)
{
    const NumericRow* row = RowOfEdit(id);
    if (!row)
        return;
    if (row == &kTarget ? !m_autoExposure : (row == &kExposure || row == &kGain) && m_autoExposure)
        return;  // a box whose row is disabled sends nothing
    // A number beyond the spin's range, or none at all, is sent clamped to
    // the range; the box is left as the user typed it.
    BOOL translated = FALSE;
    const UINT typed = ::GetDlgItemInt(DialogWindow(), id, &translated, FALSE);
    unsigned value = translated ? typed : static_cast<unsigned>(row->spinMin);
    if (value < static_cast<unsigned>(row->spinMin))
        value = static_cast<unsigned>(row->spinMin);
    if (value > static_cast<unsigned>(row->spinMax))
        value = static_cast<unsigned>(row->spinMax);

    IKV20X& camera = *m_camera.Get();
    if (row == &kGamma) {
        m_gamma = static_cast<std::uint8_t>(value);
        SetSlider(kGamma.slider, m_gamma);
        camera.SetGamma(m_gamma);
    } else if (row == &kContrast) {
        m_contrast = static_cast<std::uint8_t>(value);
        SetSlider(kContrast.slider, m_contrast);
        camera.SetContrast(m_contrast);
    } else if (row == &kSaturation) {
        m_saturation = static_cast<std::uint8_t>(value);
        SetSlider(kSaturation.slider, m_saturation);
        camera.SetColorEnhancement(m_colourEnhancement, m_saturation);
    } else if (row == &kTarget || row == &kExposure || row == &kGain) {
        if (row == &kTarget)
            m_target = static_cast<std::uint8_t>(value);
        else if (row == &kExposure)
            m_exposureTime = static_cast<std::uint16_t>(value);
        else
            m_gain = static_cast<std::uint16_t>(value);
        SetExposureSliders();
        camera.SetExposure(m_autoExposure, m_target, m_exposureTime, m_gain);
    } else {
        (row == &kRed ? m_red : row == &kGreen ? m_green : m_blue) = static_cast<std::uint8_t>(value);
        SetGainSliders();
        camera.SetWhiteBalance(m_whiteBalancePending, m_red, m_green, m_blue);
    }
}

void CSetupPage::OnButton(int id)
{
    HWND dialog = DialogWindow();
    IKV20X& camera = *m_camera.Get();
    switch (id) {
    case IDC_COLOR_ENHANCEMENT:
        m_colourEnhancement = !m_colourEnhancement;
        ApplySaturationRule();
        WriteBox(kSaturation.edit, m_saturation);  // its change handler sends the new flag
        break;
    case IDC_AUTO_EXPOSURE:
        m_autoExposure = !m_autoExposure;
        ::CheckDlgButton(dialog, IDC_AUTO_EXPOSURE, m_autoExposure ? BST_CHECKED : BST_UNCHECKED);
        ApplyExposureRule();
        WriteExposureBoxes();  // their change handlers send the new flag
        break;
    case IDC_VERTICAL_FLIP:
        m_verticalFlip = !m_verticalFlip;
        camera.SetVerticalFlip(m_verticalFlip);
        break;
    case IDC_HORIZONTAL_MIRROR:
        m_horizontalMirror = !m_horizontalMirror;
        camera.SetHorizontalMirror(m_horizontalMirror);
        break;
    case IDC_MONO_MODE:
        m_monoMode = !m_monoMode;
        camera.SetMonoMode(m_monoMode);
        break;
    case IDC_SPEED_NORMAL:
    case IDC_SPEED_HIGH:
        m_speed = id == IDC_SPEED_HIGH ? 1 : 0;
        ::CheckDlgButton(dialog, IDC_SPEED_NORMAL, m_speed == 0 ? BST_CHECKED : BST_UNCHECKED);
        ::CheckDlgButton(dialog, IDC_SPEED_HIGH, m_speed == 0 ? BST_UNCHECKED : BST_CHECKED);
        camera.SetSpeed(m_speed);
        break;
    case IDC_50HZ:
    case IDC_60HZ:
        m_fiftyHertz = id == IDC_50HZ;
        camera.SetPowerFrequency(m_fiftyHertz);
        break;
    case IDC_GROUP_A:
    case IDC_GROUP_B:
    case IDC_GROUP_C:
    case IDC_GROUP_D:
        SwitchGroup(static_cast<std::uint8_t>(id - IDC_GROUP_A));
        break;
    case IDC_SAVE:
        camera.SaveSettings();
        break;
    case IDC_DEFAULT:
        RestoreDefaults();
        break;
    case IDC_AWB_ONCE:
        BalanceOnce();
        break;
    default:
        break;
    }
}

void CSetupPage::RestoreDefaults()
{
    HWND dialog = DialogWindow();
    IKV20X& camera = *m_camera.Get();

    m_gamma = 100;
    SetSlider(kGamma.slider, m_gamma);
    WriteBox(kGamma.edit, m_gamma);
    camera.SetGamma(m_gamma);

    m_contrast = 30;
    SetSlider(kContrast.slider, m_contrast);
    WriteBox(kContrast.edit, m_contrast);
    camera.SetContrast(m_contrast);

    m_colourEnhancement = TRUE;
    m_saturation = 100;
    ::CheckDlgButton(dialog, IDC_COLOR_ENHANCEMENT, BST_CHECKED);
    SetSlider(kSaturation.slider, m_saturation);
    ApplySaturationRule();
    WriteBox(kSaturation.edit, m_saturation);
    camera.SetColorEnhancement(TRUE, m_saturation);

    m_whiteBalancePending = FALSE;
    m_red = 105;
    m_green = 64;
    m_blue = 122;
    WriteGainBoxes();
    SetGainSliders();
    camera.SetWhiteBalance(FALSE, m_red, m_green, m_blue);

    m_speed = 0;
    ::CheckDlgButton(dialog, IDC_SPEED_NORMAL, BST_CHECKED);
    ::CheckDlgButton(dialog, IDC_SPEED_HIGH, BST_UNCHECKED);
    camera.SetSpeed(0);

    m_verticalFlip = TRUE;
    m_horizontalMirror = TRUE;
    m_monoMode = FALSE;
    ::CheckDlgButton(dialog, IDC_VERTICAL_FLIP, BST_CHECKED);
    ::CheckDlgButton(dialog, IDC_HORIZONTAL_MIRROR, BST_CHECKED);
    ::CheckDlgButton(dialog, IDC_MONO_MODE, BST_UNCHECKED);
    camera.SetVerticalFlip(TRUE);
    camera.SetHorizontalMirror(TRUE);
    camera.SetMonoMode(FALSE);

    m_fiftyHertz = TRUE;
    ::CheckDlgButton(dialog, IDC_50HZ, BST_CHECKED);
    ::CheckDlgButton(dialog, IDC_60HZ, BST_UNCHECKED);
    camera.SetPowerFrequency(TRUE);

    m_autoExposure = TRUE;
    m_exposureTime = 300;
    m_target = 100;
    m_gain = 20;
    ::CheckDlgButton(dialog, IDC_AUTO_EXPOSURE, BST_CHECKED);
    ApplyExposureRule();
    WriteExposureBoxes();
    SetExposureSliders();
    camera.SetExposure(TRUE, m_target, m_exposureTime, m_gain);
}

void CSetupPage::BalanceOnce()
{
    IKV20X& camera = *m_camera.Get();
    m_whiteBalancePending = TRUE;
    camera.SetWhiteBalance(TRUE, m_red, m_green, m_blue);
    // The frame pump serves the request with its next frame; the page waits
    // for that, a limited number of polls.
    for (int poll = 0; poll < kBalancePolls; ++poll) {
        ::Sleep(1);
        camera.GetWhiteBalance(&m_whiteBalancePending, &m_red, &m_green, &m_blue);
        if (!m_whiteBalancePending)
            break;
    }
    // The boxes' change handlers send the gains (and a request still
    // pending) back as last read.
    WriteGainBoxes();
    SetGainSliders();
}

void CSetupPage::SwitchGroup(std::uint8_t group)
{
    m_group = group;
    for (int button = 0; button < 4; ++button)
        ::CheckDlgButton(DialogWindow(), IDC_GROUP_A + button, button == group ? BST_CHECKED : BST_UNCHECKED);
    m_camera->SelectParameterGroup(group);
    ::Sleep(1);
    ReadValues();
    // The controls show what the camera now holds; nothing needs sending.
    m_controlsReady = FALSE;
    ShowValues();
    m_controlsReady = TRUE;
}

}  // namespace kv20x
