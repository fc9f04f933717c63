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

// The step's result is applied under the settings lock, and only while auto
// exposure is still on: a manual exposure set since this frame's demosaic
// began must not be overwritten by it.
void RunAutoExposure(const PictureStats& stats, std::int32_t width, std::int32_t height, CameraSettings& settings,
                     FrameHooks& hooks)
{
    const std::uint8_t luma = MeasureLuma(stats.window, width, height);
    SettingsLock lock(hooks);
    if (settings.AutoExposure == 0)
        return;
    AutoExposureState state{settings.AETarget,       settings.AnalogGain,  settings.AeExposure,
                            settings.AeSmoothedLuma, settings.FlickerStep, static_cast<std::uint16_t>(height)};
    const AutoExposureResult result = AutoExposureStep(state, luma);
    settings.AeSmoothedLuma = state.smoothed;
    settings.AeExposure = state.exposure;
    if (!result.write)
        return;
    settings.AnalogGain = result.gain;
    settings.ExposureTime = result.exposureRows;
    hooks.WriteExposure(result.gain, result.exposureRows);
}

// A pending one-shot white balance, served from this frame's sums unless it
// was withdrawn (or gains were set by hand) since the frame began.
void RunOneShotWhiteBalance(const PictureStats& stats, CameraSettings& settings, FrameTables& tables,
                            FrameHooks& hooks)
{
    SettingsLock lock(hooks);
    if (settings.bAutoWB == 0)
        return;
    WhiteBalanceGains gains{settings.r, settings.g, settings.b};
    MeasureWhiteBalance(stats.total, gains);
    settings.r = gains.red;
    settings.g = gains.green;
    settings.b = gains.blue;
    settings.bAutoWB = 0;
    BuildWbLut(gains.red, gains.green, gains.blue, tables.wb);
}

}  // namespace

void BuildFrameTables(const CameraSettings& settings, FrameTables& tables)
{
    BuildToneLut(settings.Gamma, settings.Contrast, tables.tone);
    BuildWbLut(settings.r, settings.g, settings.b, tables.wb);
}

bool RunFramePipeline(std::uint8_t* raw, const PictureTarget& target, std::int32_t width, std::int32_t height,
                      CameraSettings& settings, const DefectTable& defects, FrameTables& tables, FrameHooks& hooks,
                      SimdLevel level)
{
    const PictureLayout layout = LayoutOf(target.format, width, height);
    if (!layout.valid || width < 3 || height < 3 || !target.picture || (layout.planesBytes != 0 && !target.planes))
        return false;
    // The RGB formats' planes sit at the start of each picture row.
    std::uint8_t* const planes = layout.planesBytes != 0 ? target.planes : target.picture;
    const std::size_t planesStride = layout.planesBytes != 0 ? static_cast<std::size_t>(width) * 3
                                                              : layout.planes[0].stride;

    if (defects.count != 0)
        CorrectDefects(raw, width, height, defects);

    PictureStats stats;
    stats.gatherWindow = settings.AutoExposure != 0;
    stats.gatherTotal = settings.bAutoWB != 0;
    ReconstructColour(raw, planes, planesStride, width, height, &stats, level);

    if (stats.gatherWindow)
        RunAutoExposure(stats, width, height, settings, hooks);

    if (stats.gatherTotal)
        RunOneShotWhiteBalance(stats, settings, tables, hooks);

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
    // The sensor's first row is shown at the top when VFlip is 0: last in
    // memory for the bottom-up formats, first for the top-down ones.
    params.reverseRows = (settings.VFlip == 0) == layout.bottomUp;
    params.mirrorRows = settings.HFlip != 0;
    FinishPicture(target, width, height, params, level);
    return true;
}

void RunFramePipeline(std::uint8_t* raw, std::uint8_t* picture, std::int32_t width, std::int32_t height,
                      CameraSettings& settings, const DefectTable& defects, FrameTables& tables, FrameHooks& hooks,
                      SimdLevel level)
{
    RunFramePipeline(raw, PictureTarget{PictureFormat::Rgb24, picture, nullptr}, width, height, settings, defects,
                     tables, hooks, level);
}

}  // namespace kv20x
