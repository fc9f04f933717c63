#include "imaging/frame_pipeline.h"

#include "imaging/auto_exposure.h"
#include "imaging/finish_picture.h"
#include "imaging/raw_to_rgb.h"

namespace kv20x {

namespace {

class SettingsLock {
public:
    explicit SettingsLock(FrameHooks& hooks) : m_hooks(hooks) { m_hooks.LockSettings(); }
    ~SettingsLock() { m_hooks.UnlockSettings(); }
    SettingsLock(const SettingsLock&) = delete;
    SettingsLock& operator=(const SettingsLock&) = delete;

private:
    FrameHooks& m_hooks;
};

void RunAutoExposure(const PictureStats& stats, std::int32_t width, std::int32_t height, CameraSettings& settings,
                     FrameHooks& hooks)
{
    AutoExposureState state{settings.AETarget,       settings.AnalogGain,  settings.AeExposure,
                            settings.AeSmoothedLuma, settings.FlickerStep, static_cast<std::uint16_t>(height)};
    const AutoExposureResult result = AutoExposureStep(state, MeasureLuma(stats.window, width, height));
    settings.AeSmoothedLuma = state.smoothed;
    settings.AeExposure = state.exposure;
    if (!result.write)
        return;
    settings.AnalogGain = result.gain;
    settings.ExposureTime = result.exposureRows;
    hooks.WriteExposure(result.gain, result.exposureRows);
}

}  // namespace

void BuildFrameTables(const CameraSettings& settings, FrameTables& tables)
{
    BuildToneLut(settings.Gamma, settings.Contrast, tables.tone);
    BuildWbLut(settings.r, settings.g, settings.b, tables.wb);
}

void RunFramePipeline(std::uint8_t* raw, std::uint8_t* picture, std::int32_t width, std::int32_t height,
                      CameraSettings& settings, const DefectTable& defects, FrameTables& tables, FrameHooks& hooks)
{
    if (defects.count != 0)
        CorrectDefects(raw, width, height, defects);

    PictureStats stats;
    stats.gatherWindow = settings.AutoExposure != 0;
    stats.gatherTotal = settings.bAutoWB != 0;
    ReconstructColour(raw, picture, width, height, &stats);

    if (stats.gatherWindow)
        RunAutoExposure(stats, width, height, settings, hooks);

    if (stats.gatherTotal) {
        WhiteBalanceGains gains{settings.r, settings.g, settings.b};
        MeasureWhiteBalance(stats.total, gains);
        SettingsLock lock(hooks);
        settings.r = gains.red;
        settings.g = gains.green;
        settings.b = gains.blue;
        settings.bAutoWB = 0;
        BuildWbLut(gains.red, gains.green, gains.blue, tables.wb);
    }

    hooks.ReleaseRaw();

    SettingsLock lock(hooks);
    FinishParams params;
    params.wb = &tables.wb;
    params.tone = &tables.tone;
    if (settings.WhiteBlack != 0) {
        params.stage = ColourStage::Mono;
    } else if (settings.EnableSaturation != 0) {
        params.stage = ColourStage::WhiteBalanceMatrix;
        params.product = Multiply(FromArray(settings.ColourMatrix), SaturationMatrix(settings.Saturation));
    } else {
        params.stage = ColourStage::WhiteBalanceOnly;
    }
    params.reverseRows = settings.VFlip == 0;
    params.mirrorRows = settings.HFlip != 0;
    FinishPicture(picture, width, height, params);
}

}  // namespace kv20x
