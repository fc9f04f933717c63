// The platform's standard camera interfaces on the filter: ranges, the same
// settings as IKV20X in the interfaces' own units, refusals, and what they
// do to the streamed picture.

#include "support/pin_fixture.h"

#include <ks.h>
#include <ksmedia.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "settings/standard_units.h"

namespace kv20x::test {
namespace {

constexpr GUID kVideoProcAmpSet = {0xC6E13360, 0x30AC, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};

class StandardControls : public FilterFixture {
protected:
    void SetUp() override
    {
        FilterFixture::SetUp();
        ASSERT_EQ(Filter()->QueryInterface(IID_IAMVideoProcAmp, reinterpret_cast<void**>(procAmp.GetAddressOf())), S_OK);
        ASSERT_EQ(Filter()->QueryInterface(IID_IAMCameraControl, reinterpret_cast<void**>(camera_.GetAddressOf())), S_OK);
        ASSERT_EQ(Filter()->QueryInterface(IID_IAMVideoControl, reinterpret_cast<void**>(video.GetAddressOf())), S_OK);
        ASSERT_EQ(Filter()->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void**>(properties.GetAddressOf())),
                  S_OK);
    }
    void TearDown() override
    {
        ReleaseInterfaces();
        FilterFixture::TearDown();
    }
    void ReleaseInterfaces()
    {
        procAmp.Reset();
        camera_.Reset();
        video.Reset();
        properties.Reset();
    }
    long ProcAmp(long property, long* flags = nullptr)
    {
        long value = -999, f = 0;
        EXPECT_EQ(procAmp->Get(property, &value, &f), S_OK);
        if (flags)
            *flags = f;
        return value;
    }

    ComPtr<IAMVideoProcAmp> procAmp;
    ComPtr<IAMCameraControl> camera_;
    ComPtr<IAMVideoControl> video;
    ComPtr<IKsPropertySet> properties;
};

TEST_F(StandardControls, RangesAndDefaultsAreThoseOfTheSettings)
{
    const struct {
        long property, min, max, defaultValue, caps;
    } expected[] = {
        {VideoProcAmp_Contrast, 0, 100, 30, VideoProcAmp_Flags_Manual},
        {VideoProcAmp_Gamma, 10, 250, 100, VideoProcAmp_Flags_Manual},
        {VideoProcAmp_Saturation, 0, 255, 100, VideoProcAmp_Flags_Manual},
        {VideoProcAmp_ColorEnable, 0, 1, 1, VideoProcAmp_Flags_Manual},
        {VideoProcAmp_Gain, 0, 80, 20, VideoProcAmp_Flags_Auto | VideoProcAmp_Flags_Manual},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.property);
        long min = 0, max = 0, step = 0, def = 0, caps = 0;
        ASSERT_EQ(procAmp->GetRange(e.property, &min, &max, &step, &def, &caps), S_OK);
        EXPECT_EQ(min, e.min);
        EXPECT_EQ(max, e.max);
        EXPECT_EQ(step, 1);
        EXPECT_EQ(def, e.defaultValue);
        EXPECT_EQ(caps, e.caps);
        EXPECT_EQ(ProcAmp(e.property), e.defaultValue) << "a fresh camera holds the defaults";
    }
    // 1024 x 768 at the normal clock: 85 us rows.
    long min = 0, max = 0, step = 0, def = 0, caps = 0;
    ASSERT_EQ(camera_->GetRange(CameraControl_Exposure, &min, &max, &step, &def, &caps), S_OK);
    EXPECT_EQ(min, -12);  // 2^-12 s = 2.9 rows
    EXPECT_EQ(max, -2);   // 2^-2 s = 2941 rows
    EXPECT_EQ(def, -5);   // 300 rows = 25.5 ms
    EXPECT_EQ(caps, CameraControl_Flags_Auto | CameraControl_Flags_Manual);

    for (long unsupported : std::initializer_list<long>{VideoProcAmp_Brightness, VideoProcAmp_Hue, VideoProcAmp_Sharpness,
                             VideoProcAmp_WhiteBalance, VideoProcAmp_BacklightCompensation, 99}) {
        EXPECT_EQ(procAmp->GetRange(unsupported, &min, &max, &step, &def, &caps), E_PROP_ID_UNSUPPORTED);
        EXPECT_EQ(procAmp->Set(unsupported, 0, VideoProcAmp_Flags_Manual), E_PROP_ID_UNSUPPORTED);
    }
    for (long unsupported : std::initializer_list<long>{CameraControl_Pan, CameraControl_Tilt, CameraControl_Roll, CameraControl_Zoom,
                             CameraControl_Iris, CameraControl_Focus}) {
        long value = 0, flags = 0;
        EXPECT_EQ(camera_->Get(unsupported, &value, &flags), E_PROP_ID_UNSUPPORTED);
    }
    EXPECT_EQ(procAmp->GetRange(VideoProcAmp_Gamma, nullptr, &max, &step, &def, &caps), E_POINTER);
    EXPECT_EQ(procAmp->Get(VideoProcAmp_Gamma, nullptr, &caps), E_POINTER);
}

TEST_F(StandardControls, ASetThroughOneInterfaceIsReadThroughTheOther)
{
    ASSERT_EQ(procAmp->Set(VideoProcAmp_Contrast, 55, VideoProcAmp_Flags_Manual), S_OK);
    BYTE contrast = 0;
    FilterControl()->GetContrast(&contrast);
    EXPECT_EQ(contrast, 55);
    ASSERT_EQ(FilterControl()->SetGamma(180), S_OK);
    EXPECT_EQ(ProcAmp(VideoProcAmp_Gamma), 180);
    ASSERT_EQ(procAmp->Set(VideoProcAmp_Saturation, 200, VideoProcAmp_Flags_Manual), S_OK);
    BOOL enabled = FALSE;
    BYTE saturation = 0;
    FilterControl()->GetColorEnhancement(&enabled, &saturation);
    EXPECT_TRUE(enabled) << "only the saturation changes";
    EXPECT_EQ(saturation, 200);
    ASSERT_EQ(procAmp->Set(VideoProcAmp_ColorEnable, 0, VideoProcAmp_Flags_Manual), S_OK);
    BOOL mono = FALSE;
    FilterControl()->GetMonoMode(&mono);
    EXPECT_TRUE(mono);
    FilterControl()->SetMonoMode(FALSE);
    EXPECT_EQ(ProcAmp(VideoProcAmp_ColorEnable), 1);

    // Saved with the settings like any IKV20X change.
    ReleaseInterfaces();
    ReleaseEverything();
    EXPECT_EQ(StoredDword("Software\\ORBILUX \\KV20X\\dshow", "Contrast"), 55);
    EXPECT_EQ(StoredDword("Software\\ORBILUX \\KV20X\\dshow", "Saturation"), 200);
    CreateFilter();
}

TEST_F(StandardControls, GainAndExposureShareTheAutoExposureFlag)
{
    long flags = 0;
    EXPECT_EQ(ProcAmp(VideoProcAmp_Gain, &flags), 20);
    EXPECT_EQ(flags, VideoProcAmp_Flags_Auto);

    ASSERT_EQ(procAmp->Set(VideoProcAmp_Gain, 33, VideoProcAmp_Flags_Manual), S_OK);
    BOOL autoExposure = TRUE;
    BYTE target = 0;
    WORD rows = 0, gain = 0;
    FilterControl()->GetExposure(&autoExposure, &target, &rows, &gain);
    EXPECT_FALSE(autoExposure) << "a manual gain turns the auto exposure off";
    EXPECT_EQ(gain, 33);
    EXPECT_EQ(rows, 300);
    long value = 0;
    ASSERT_EQ(camera_->Get(CameraControl_Exposure, &value, &flags), S_OK);
    EXPECT_EQ(flags, CameraControl_Flags_Manual);

    ASSERT_EQ(camera_->Set(CameraControl_Exposure, 0, CameraControl_Flags_Auto), S_OK);
    FilterControl()->GetExposure(&autoExposure, &target, &rows, &gain);
    EXPECT_TRUE(autoExposure);
    EXPECT_EQ(gain, 33) << "switching to auto keeps the values the camera starts from";
    EXPECT_EQ(ProcAmp(VideoProcAmp_Gain, &flags), 33);
    EXPECT_EQ(flags, VideoProcAmp_Flags_Auto);
}

TEST_F(StandardControls, RefusedValuesChangeNothing)
{
    const struct {
        long property, value, flags;
    } refused[] = {
        {VideoProcAmp_Contrast, 101, VideoProcAmp_Flags_Manual},
        {VideoProcAmp_Contrast, -1, VideoProcAmp_Flags_Manual},
        {VideoProcAmp_Gamma, 9, VideoProcAmp_Flags_Manual},
        {VideoProcAmp_Gamma, 251, VideoProcAmp_Flags_Manual},
        {VideoProcAmp_Saturation, 256, VideoProcAmp_Flags_Manual},
        {VideoProcAmp_ColorEnable, 2, VideoProcAmp_Flags_Manual},
        {VideoProcAmp_Gain, -1, VideoProcAmp_Flags_Manual},
        {VideoProcAmp_Gain, 81, VideoProcAmp_Flags_Manual},
        {VideoProcAmp_Contrast, 50, VideoProcAmp_Flags_Auto},  // no auto contrast
        {VideoProcAmp_Contrast, 50, 0},
        {VideoProcAmp_Gain, 30, VideoProcAmp_Flags_Auto | VideoProcAmp_Flags_Manual},
    };
    for (const auto& r : refused)
        EXPECT_EQ(procAmp->Set(r.property, r.value, r.flags), E_INVALIDARG) << r.property << " " << r.value;
    long min = 0, max = 0, step = 0, def = 0, caps = 0;
    camera_->GetRange(CameraControl_Exposure, &min, &max, &step, &def, &caps);
    EXPECT_EQ(camera_->Set(CameraControl_Exposure, min - 1, CameraControl_Flags_Manual), E_INVALIDARG);
    EXPECT_EQ(camera_->Set(CameraControl_Exposure, max + 1, CameraControl_Flags_Manual), E_INVALIDARG);

    EXPECT_EQ(ProcAmp(VideoProcAmp_Contrast), 30);
    EXPECT_EQ(ProcAmp(VideoProcAmp_Gamma), 100);
    EXPECT_EQ(ProcAmp(VideoProcAmp_Saturation), 100);
    EXPECT_EQ(ProcAmp(VideoProcAmp_ColorEnable), 1);
    long flags = 0;
    EXPECT_EQ(ProcAmp(VideoProcAmp_Gain, &flags), 20);
    EXPECT_EQ(flags, VideoProcAmp_Flags_Auto);
    long value = 0;
    camera_->Get(CameraControl_Exposure, &value, &flags);
    EXPECT_EQ(value, def);
    EXPECT_EQ(flags, CameraControl_Flags_Auto);
}

// Whatever IKV20X stored (it keeps any byte or word it is given) and
// wherever the auto exposure drove the gain, Get reports a value inside
// GetRange, and a Set of it succeeds: "switch to manual at the current value".
TEST_F(StandardControls, EveryGetLiesInItsRangeAndASetOfItSucceeds)
{
    const struct {
        BYTE gamma, contrast, saturation;
        WORD rows, gain;
    } states[] = {
        {100, 30, 100, 300, 20}, {0, 255, 0, 1, 0}, {255, 101, 255, 65535, 200}, {9, 0, 1, 4000, 80},
        {251, 100, 128, 0, 81},
    };
    const long procAmpProperties[] = {VideoProcAmp_Contrast, VideoProcAmp_Gamma, VideoProcAmp_Saturation,
                                      VideoProcAmp_ColorEnable, VideoProcAmp_Gain};
    for (const auto& state : states) {
        for (BOOL autoExposure : {TRUE, FALSE}) {
            SCOPED_TRACE(testing::Message() << "gamma " << int(state.gamma) << " gain " << state.gain << " rows "
                                            << state.rows << " auto " << autoExposure);
            ASSERT_EQ(FilterControl()->SetGamma(state.gamma), S_OK);
            ASSERT_EQ(FilterControl()->SetContrast(state.contrast), S_OK);
            ASSERT_EQ(FilterControl()->SetColorEnhancement(TRUE, state.saturation), S_OK);
            ASSERT_EQ(FilterControl()->SetExposure(autoExposure, 100, state.rows, state.gain), S_OK);
            for (long property : procAmpProperties) {
                long min = 0, max = 0, step = 0, def = 0, caps = 0, value = -1, flags = 0;
                ASSERT_EQ(procAmp->GetRange(property, &min, &max, &step, &def, &caps), S_OK);
                ASSERT_EQ(procAmp->Get(property, &value, &flags), S_OK);
                EXPECT_GE(value, min) << property;
                EXPECT_LE(value, max) << property;
                EXPECT_EQ(procAmp->Set(property, value, VideoProcAmp_Flags_Manual), S_OK) << property;
            }
            long min = 0, max = 0, step = 0, def = 0, caps = 0, value = 0, flags = 0;
            ASSERT_EQ(camera_->GetRange(CameraControl_Exposure, &min, &max, &step, &def, &caps), S_OK);
            ASSERT_EQ(camera_->Get(CameraControl_Exposure, &value, &flags), S_OK);
            EXPECT_GE(value, min);
            EXPECT_LE(value, max);
            EXPECT_EQ(camera_->Set(CameraControl_Exposure, value, CameraControl_Flags_Manual), S_OK);
        }
    }
    // The auto exposure's lowest gain is the range's bottom, and is kept as it is.
    ASSERT_EQ(FilterControl()->SetExposure(TRUE, 100, 300, 0), S_OK);
    long value = -1, flags = 0;
    ASSERT_EQ(procAmp->Get(VideoProcAmp_Gain, &value, &flags), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(flags, VideoProcAmp_Flags_Auto);
    ASSERT_EQ(procAmp->Set(VideoProcAmp_Gain, value, VideoProcAmp_Flags_Manual), S_OK);
    ReleaseInterfaces();
    ReleaseEverything();
    EXPECT_EQ(StoredDword("Software\\ORBILUX \\KV20X\\dshow", "AnalogGain"), 0);
    CreateFilter();
    BOOL autoExposure = TRUE;
    BYTE target = 0;
    WORD rows = 0, gain = 9;
    FilterControl()->GetExposure(&autoExposure, &target, &rows, &gain);
    EXPECT_EQ(gain, 0) << "a saved 0 reloads as 0";
}

TEST_F(StandardControls, ExposureRoundTripsAtEverySizeAndSpeed)
{
    for (SizeMode size : {0, 1, 2}) {
        for (BYTE speed : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "size " << size << " speed " << int(speed));
            ASSERT_EQ(FilterControl()->SetVideoSize(size), S_OK);
            ASSERT_EQ(FilterControl()->SetSpeed(speed), S_OK);
            const std::int32_t rowTime = ComputeExposureTiming(size, speed, 1).rowTime;
            long min = 0, max = 0, step = 0, def = 0, caps = 0;
            ASSERT_EQ(camera_->GetRange(CameraControl_Exposure, &min, &max, &step, &def, &caps), S_OK);
            EXPECT_LE(1.5 * rowTime, std::ldexp(1e6, static_cast<int>(min))) << "the shortest step is 2 rows or more";
            EXPECT_GE(4000.0 * rowTime, std::ldexp(1e6, static_cast<int>(max))) << "the longest fits in 4000 rows";
            for (long v = min; v <= max; ++v) {
                ASSERT_EQ(camera_->Set(CameraControl_Exposure, v, CameraControl_Flags_Manual), S_OK);
                long back = 0, flags = 0;
                ASSERT_EQ(camera_->Get(CameraControl_Exposure, &back, &flags), S_OK);
                EXPECT_EQ(back, v);
                BOOL autoExposure = TRUE;
                BYTE target = 0;
                WORD rows = 0, gain = 0;
                FilterControl()->GetExposure(&autoExposure, &target, &rows, &gain);
                const double exact = std::ldexp(1e6 / rowTime, static_cast<int>(v));
                EXPECT_LE(std::fabs(rows - exact), 0.5) << "the nearest row count to 2^" << v << " s";
            }
        }
    }
}

TEST_F(StandardControls, MainsFrequencyThroughTheKernelStreamingProperty)
{
    DWORD support = 0;
    ASSERT_EQ(properties->QuerySupported(kVideoProcAmpSet, KSPROPERTY_VIDEOPROCAMP_POWERLINE_FREQUENCY, &support), S_OK);
    EXPECT_EQ(support, static_cast<DWORD>(KSPROPERTY_SUPPORT_GET | KSPROPERTY_SUPPORT_SET));

    KSPROPERTY_VIDEOPROCAMP_S data{};
    data.Value = 2;  // 60 Hz
    data.Flags = KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL;
    ASSERT_EQ(properties->Set(kVideoProcAmpSet, KSPROPERTY_VIDEOPROCAMP_POWERLINE_FREQUENCY, nullptr, 0, &data,
                              sizeof data),
              S_OK);
    BOOL fiftyHertz = TRUE;
    FilterControl()->GetPowerFrequency(&fiftyHertz);
    EXPECT_FALSE(fiftyHertz);

    // Instance data of every shape callers pass: the whole structure
    // (Chromium), the bytes after the KSPROPERTY header (the kernel-streaming
    // proxy's convention: 12 or 16 of them), or a few bytes of anything.
    KSPROPERTY_VIDEOPROCAMP_S instance = data;
    const auto* afterHeader = reinterpret_cast<BYTE*>(&instance) + sizeof(KSPROPERTY);
    const struct {
        void* bytes;
        DWORD count;
    } shapes[] = {{&instance, sizeof instance}, {const_cast<BYTE*>(afterHeader), 12},
                  {const_cast<BYTE*>(afterHeader), 16}, {&instance, 4}, {&instance, 0}};
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape.count);
        data.Value = data.Value == 1 ? 2 : 1;
        ASSERT_EQ(properties->Set(kVideoProcAmpSet, KSPROPERTY_VIDEOPROCAMP_POWERLINE_FREQUENCY, shape.bytes,
                                  shape.count, &data, sizeof data),
                  S_OK);
        FilterControl()->GetPowerFrequency(&fiftyHertz);
        EXPECT_EQ(fiftyHertz, data.Value == 1);
        KSPROPERTY_VIDEOPROCAMP_S back{};
        DWORD got = 0;
        ASSERT_EQ(properties->Get(kVideoProcAmpSet, KSPROPERTY_VIDEOPROCAMP_POWERLINE_FREQUENCY, shape.bytes,
                                  shape.count, &back, sizeof back, &got),
                  S_OK);
        EXPECT_EQ(back.Value, data.Value);
    }
    data.Value = 1;
    ASSERT_EQ(properties->Set(kVideoProcAmpSet, KSPROPERTY_VIDEOPROCAMP_POWERLINE_FREQUENCY, nullptr, 0, &data,
                              sizeof data),
              S_OK);

    // The size query (no data), and buffers too short.
    DWORD needed = 0;
    EXPECT_EQ(properties->Get(kVideoProcAmpSet, KSPROPERTY_VIDEOPROCAMP_POWERLINE_FREQUENCY, nullptr, 0, nullptr, 0,
                              &needed),
              S_OK);
    EXPECT_EQ(needed, sizeof(KSPROPERTY_VIDEOPROCAMP_S));
    EXPECT_EQ(properties->Get(kVideoProcAmpSet, KSPROPERTY_VIDEOPROCAMP_POWERLINE_FREQUENCY, nullptr, 0, nullptr, 0,
                              nullptr),
              E_POINTER);
    KSPROPERTY_VIDEOPROCAMP_S small{};
    EXPECT_EQ(properties->Get(kVideoProcAmpSet, KSPROPERTY_VIDEOPROCAMP_POWERLINE_FREQUENCY, nullptr, 0, &small, 8,
                              &needed),
              E_INVALIDARG);
    EXPECT_EQ(properties->Set(kVideoProcAmpSet, KSPROPERTY_VIDEOPROCAMP_POWERLINE_FREQUENCY, nullptr, 0, nullptr, 0),
              E_POINTER);

    for (LONG refused : {0L, 3L, 7L}) {
        data.Value = refused;
        EXPECT_EQ(properties->Set(kVideoProcAmpSet, KSPROPERTY_VIDEOPROCAMP_POWERLINE_FREQUENCY, nullptr, 0, &data,
                                  sizeof data),
                  E_INVALIDARG);
    }
    EXPECT_EQ(properties->Set(kVideoProcAmpSet, KSPROPERTY_VIDEOPROCAMP_POWERLINE_FREQUENCY, nullptr, 0, &data, 4),
              E_INVALIDARG);
    // A caller's own declaration without the tail padding is enough.
    data.Value = 2;
    EXPECT_EQ(properties->Set(kVideoProcAmpSet, KSPROPERTY_VIDEOPROCAMP_POWERLINE_FREQUENCY, nullptr, 0, &data, 36),
              S_OK);
    data.Value = 1;
    EXPECT_EQ(properties->Set(kVideoProcAmpSet, KSPROPERTY_VIDEOPROCAMP_POWERLINE_FREQUENCY, nullptr, 0, &data, 36),
              S_OK);
    FilterControl()->GetPowerFrequency(&fiftyHertz);
    EXPECT_TRUE(fiftyHertz) << "refusals changed nothing";

    KSPROPERTY_VIDEOPROCAMP_S got{};
    DWORD returned = 0;
    ASSERT_EQ(properties->Get(kVideoProcAmpSet, KSPROPERTY_VIDEOPROCAMP_POWERLINE_FREQUENCY, nullptr, 0, &got,
                              sizeof got, &returned),
              S_OK);
    EXPECT_EQ(returned, sizeof got);
    EXPECT_EQ(got.Value, 1);
    EXPECT_EQ(got.Capabilities, static_cast<ULONG>(KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL));
    EXPECT_EQ(properties->Get(kVideoProcAmpSet, KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, nullptr, 0, &got, sizeof got,
                              &returned),
              E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(properties->Get(AMPROPSETID_Pin, 0, nullptr, 0, &got, sizeof got, &returned), E_PROP_SET_UNSUPPORTED);
}

TEST_F(StandardControls, FlipsAndFrameRatesThroughVideoControl)
{
    IPin* out = Pin();
    long caps = 0;
    ASSERT_EQ(video->GetCaps(out, &caps), S_OK);
    EXPECT_EQ(caps, VideoControlFlag_FlipHorizontal | VideoControlFlag_FlipVertical);
    long mode = -1;
    ASSERT_EQ(video->GetMode(out, &mode), S_OK);
    EXPECT_EQ(mode, VideoControlFlag_FlipHorizontal) << "mirrored and upright by default";
    EXPECT_EQ(video->SetMode(out, VideoControlFlag_Trigger), E_INVALIDARG);
    EXPECT_EQ(video->GetCaps(nullptr, &caps), E_POINTER);
    EXPECT_EQ(video->GetCaps(&sink, &caps), E_INVALIDARG) << "another pin";

    // Frame rates: what the stream caps and the media type report.
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(out->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(config.GetAddressOf())), S_OK);
    for (int index = 0; index < 3; ++index) {
        AM_MEDIA_TYPE* type = nullptr;
        VIDEO_STREAM_CONFIG_CAPS streamCaps{};
        ASSERT_EQ(config->GetStreamCaps(index, &type, reinterpret_cast<BYTE*>(&streamCaps)), S_OK);
        const REFERENCE_TIME current = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->AvgTimePerFrame;
        DeleteMediaType(type);
        LONGLONG fastest = 0;
        ASSERT_EQ(video->GetMaxAvailableFrameRate(out, index, streamCaps.MaxOutputSize, &fastest), S_OK);
        EXPECT_EQ(fastest, streamCaps.MinFrameInterval);
        // The list: both ends of the range the caps offer, and the common
        // rates between them, shortest first; every one can be set.
        long count = 0;
        ASSERT_EQ(video->GetFrameRateList(out, index, streamCaps.MaxOutputSize, &count, nullptr), S_OK);
        LONGLONG* list = nullptr;
        long listed = 0;
        ASSERT_EQ(video->GetFrameRateList(out, index, streamCaps.MaxOutputSize, &listed, &list), S_OK);
        ASSERT_EQ(listed, count) << "the count alone, for a null list";
        ASSERT_GE(listed, 2);
        EXPECT_EQ(list[0], streamCaps.MinFrameInterval);
        EXPECT_EQ(list[listed - 1], streamCaps.MaxFrameInterval);
        for (long i = 1; i < listed; ++i)
            EXPECT_GT(list[i], list[i - 1]);
        EXPECT_EQ(std::count(list, list + listed, 333333), index == 2 ? 1 : 0) << "30 frames/s where it fits";
        EXPECT_EQ(std::count(list, list + listed, 666667), index == 0 ? 0 : 1) << "15 frames/s where it fits";
        EXPECT_GE(current, streamCaps.MinFrameInterval);
        EXPECT_LE(current, streamCaps.MaxFrameInterval);
        const std::vector<LONGLONG> rates(list, list + listed);
        ::CoTaskMemFree(list);
        for (LONGLONG rate : rates) {
            AM_MEDIA_TYPE* settable = nullptr;
            ASSERT_EQ(config->GetStreamCaps(index, &settable, reinterpret_cast<BYTE*>(&streamCaps)), S_OK);
            reinterpret_cast<VIDEOINFOHEADER*>(settable->pbFormat)->AvgTimePerFrame = rate;
            EXPECT_EQ(config->SetFormat(settable), S_OK) << "every listed rate can be set: " << rate;
            DeleteMediaType(settable);
        }
        ASSERT_EQ(FilterControl()->SetSpeed(0), S_OK);
        list = nullptr;
        EXPECT_EQ(video->GetFrameRateList(out, index, SIZE{800, 600}, &count, &list), E_INVALIDARG);
        EXPECT_EQ(list, nullptr);
        EXPECT_EQ(video->GetFrameRateList(out, index, streamCaps.MaxOutputSize, nullptr, &list), E_POINTER);
    }
    ASSERT_EQ(FilterControl()->SetVideoSize(1), S_OK);
    LONGLONG duration = 0;
    EXPECT_EQ(video->GetCurrentActualFrameRate(out, &duration), VFW_E_NOT_CONNECTED);

    // Upside down and not mirrored: the streamed picture shows it.
    ASSERT_EQ(video->SetMode(out, VideoControlFlag_FlipVertical), S_OK);
    BOOL upright = TRUE, mirror = TRUE;
    FilterControl()->GetVerticalFlip(&upright);
    FilterControl()->GetHorizontalMirror(&mirror);
    EXPECT_FALSE(upright);
    EXPECT_FALSE(mirror);
    ASSERT_EQ(FilterControl()->SetExposure(FALSE, 100, 300, 20), S_OK);
    collector.KeepData(1);
    ConnectToGrabber();
    ASSERT_EQ(video->GetCurrentActualFrameRate(out, &duration), S_OK);
    EXPECT_EQ(duration, FrameDuration100ns(1, 0, 300));
    camera->ClearLog();
    ASSERT_TRUE(SUCCEEDED(grabberGraph.control->Run()));
    ASSERT_TRUE(collector.WaitFor(1));
    grabberGraph.control->Stop();
    CameraSettings settings;
    settings.AutoExposure = 0;
    settings.VFlip = 0;
    settings.HFlip = 0;
    EXPECT_TRUE(collector.Samples()[0].data == ExpectedPicture(*camera, camera->Frames()[0], 1, settings));
}

}  // namespace
}  // namespace kv20x::test
