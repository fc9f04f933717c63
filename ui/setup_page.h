#pragma once
// The setup page: gamma, contrast, colour enhancement and saturation, auto or
// manual exposure, white balance and a one-shot balance, clock speed, mains
// frequency, flips, mono mode and the parameter groups. Every change is sent
// to the camera the moment a control changes; the frame's Apply has nothing
// left to do.
//
// The edit box carries every numeric value to the camera: sliders and spin
// buttons only write their edit box, whose change notification stores the
// number and sends it.

#include <cstdint>

#include "ui/page_camera.h"

namespace kv20x {

class CSetupPage final : public CCameraPage {
public:
    // The class factory's create function.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);

    HRESULT OnActivate() override;
    HRESULT OnApplyChanges() override;
    INT_PTR OnReceiveMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    explicit CSetupPage(IUnknown* outer);

    // The page's copy of the camera's values and its parameter group.
    void ReadCamera() override;
    void ReadValues();
    // Ranges, checks, positions and boxes from the copy (the activation and
    // the refresh after a group switch).
    void ShowValues();
    void ApplyExposureRule();
    void ApplySaturationRule();
    void WriteBox(int id, unsigned value);
    void SetSlider(int id, unsigned position);
    void WriteExposureBoxes();
    void WriteGainBoxes();
    void SetExposureSliders();
    void SetGainSliders();

    void OnSlider(HWND slider);
    void OnEditChange(int id);
    void OnButton(int id);
    void RestoreDefaults();
    void BalanceOnce();
    void SwitchGroup(std::uint8_t group);

    std::uint8_t m_group = 0;
    std::uint8_t m_gamma = 100;
    BOOL m_colourEnhancement = TRUE;
    std::uint8_t m_saturation = 100;
    std::uint8_t m_contrast = 30;
    BOOL m_autoExposure = TRUE;
    std::uint16_t m_exposureTime = 300;
    std::uint8_t m_target = 100;
    std::uint16_t m_gain = 20;
    BOOL m_whiteBalancePending = FALSE;
    std::uint8_t m_red = 105;
    std::uint8_t m_green = 64;
    std::uint8_t m_blue = 122;
    BOOL m_monoMode = FALSE;
    BOOL m_verticalFlip = TRUE;
    BOOL m_horizontalMirror = TRUE;
    std::uint8_t m_speed = 0;
    BOOL m_fiftyHertz = TRUE;
};

}  // namespace kv20x
