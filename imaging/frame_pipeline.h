#pragma once
// One raw frame through the whole image pipeline, in the fixed order:
//   1. defect repair on the raw frame          5. colour stage (grey, or white
//   2. colour reconstruction into the picture     balance with or without matrix)
//   3. one auto exposure step                  6. tone curve
//   4. a pending one-shot white balance        7. vertical flip, horizontal mirror,
//                                                 and the picture format
// Steps 5 to 7 share one pass over the picture. The caller supplies the
// buffers and, through FrameHooks, the device writes and the settings lock,
// so that this code stays free of device and platform code.

#include <cstdint>

#include "imaging/colour_tables.h"
#include "imaging/picture_format.h"
#include "imaging/simd_level.h"
#include "settings/defect_table.h"
#include "settings/camera_settings.h"

namespace kv20x {

// Tables derived from the settings, rebuilt when their settings change.
struct FrameTables {
    ToneLut tone;  // from Gamma and Contrast
    WbLut wb;      // from r, g, b
};

class FrameHooks {
public:
    // Auto exposure chose a new gain code and exposure: write the gain
    // (register 53) and then the exposure (register 9).
    virtual void WriteExposure(std::uint16_t analogGain, std::uint16_t exposureRows) = 0;
    // The raw frame is no longer read; its buffer may be refilled.
    virtual void ReleaseRaw() = 0;
    // The settings lock: held while the auto exposure step's result is applied
    // and written, around a one-shot white balance, and for the whole of
    // steps 5 to 7.
    virtual void LockSettings() = 0;
    virtual void UnlockSettings() = 0;

protected:
    ~FrameHooks() = default;
};

// Runs steps 1 to 7 on `raw` (width x height, modified by the defect repair)
// into the picture of `target` in its format (picture_format.h: layout and
// colour rule). Reads the settings afresh; the auto exposure and the
// one-shot white balance write their results back, under the settings lock
// and only if their flag is still set then. The pixel work runs in the
// kernels of `level` (the best this processor has unless a test or
// benchmark asks for another).
//
// The RGB formats keep the colour planes between steps 2 and 5 in the
// picture itself; the YUV formats need target.planes, a buffer of
// LayoutOf(format, width, height).planesBytes that the caller allocates once
// for the stream. Returns false, having touched nothing and called no hook,
// when the format cannot be made at this size (odd sizes of the YUV
// formats), the size is below 3 x 3, or a YUV format has no planes buffer.
bool RunFramePipeline(std::uint8_t* raw, const PictureTarget& target, std::int32_t width, std::int32_t height,
                      CameraSettings& settings, const DefectTable& defects, FrameTables& tables, FrameHooks& hooks,
                      SimdLevel level = BestSimdLevel());

// RGB24 into `picture` (width x height x 3 bytes), which also holds the
// planes between the steps.
void RunFramePipeline(std::uint8_t* raw, std::uint8_t* picture, std::int32_t width, std::int32_t height,
                      CameraSettings& settings, const DefectTable& defects, FrameTables& tables, FrameHooks& hooks,
                      SimdLevel level = BestSimdLevel());

// Rebuilds both tables from the settings (tone from Gamma and Contrast,
// white balance from r, g, b).
void BuildFrameTables(const CameraSettings& settings, FrameTables& tables);

}  // namespace kv20x
