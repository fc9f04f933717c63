// What it costs an application to list the camera: create the filter,
// enumerate its pins and formats with their stream caps, and read every
// standard property and every IKV20X getter, then release it; with the
// camera present and with none. Medians of many rounds, in microseconds.
// Windows program; run it under Wine:
//   /usr/lib/wine/wine64 build/x64/bench/listing_cost.exe [rounds]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <wrl/client.h>

#include "filter/capture_filter.h"
#include "pin/capture_pin.h"
#include "support/test_camera_port.h"

using namespace kv20x;
using Microsoft::WRL::ComPtr;

namespace {

using Clock = std::chrono::steady_clock;

double Us(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::micro>(to - from).count();
}

void EnumerateFormats(IBaseFilter* filter)
{
    ComPtr<IEnumPins> pins;
    filter->EnumPins(&pins);
    ComPtr<IPin> out;
    pins->Next(1, &out, nullptr);
    ComPtr<IEnumMediaTypes> types;
    out->EnumMediaTypes(&types);
    AM_MEDIA_TYPE* type = nullptr;
    while (types->Next(1, &type, nullptr) == S_OK)
        DeleteMediaType(type);
    ComPtr<IAMStreamConfig> config;
    out->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(config.GetAddressOf()));
    int count = 0, size = 0;
    config->GetNumberOfCapabilities(&count, &size);
    for (int i = 0; i < count; ++i) {
        VIDEO_STREAM_CONFIG_CAPS caps{};
        if (config->GetStreamCaps(i, &type, reinterpret_cast<BYTE*>(&caps)) == S_OK)
            DeleteMediaType(type);
    }
}

void ReadEveryControl(IBaseFilter* filter)
{
    ComPtr<IAMVideoProcAmp> procAmp;
    filter->QueryInterface(IID_IAMVideoProcAmp, reinterpret_cast<void**>(procAmp.GetAddressOf()));
    long min, max, step, def, caps, value, flags;
    for (long property = VideoProcAmp_Brightness; property <= VideoProcAmp_Gain; ++property) {
        procAmp->GetRange(property, &min, &max, &step, &def, &caps);
        procAmp->Get(property, &value, &flags);
    }
    ComPtr<IAMCameraControl> control;
    filter->QueryInterface(IID_IAMCameraControl, reinterpret_cast<void**>(control.GetAddressOf()));
    for (long property = CameraControl_Pan; property <= CameraControl_Focus; ++property) {
        control->GetRange(property, &min, &max, &step, &def, &caps);
        control->Get(property, &value, &flags);
    }
    ComPtr<IKV20X> camera;
    filter->QueryInterface(IID_IKV20X, reinterpret_cast<void**>(camera.GetAddressOf()));
    int size;
    BOOL a;
    BYTE r, g, b;
    WORD rows, gain;
    LONG rowTime;
    camera->GetVideoSize(&size);
    camera->GetWhiteBalance(&a, &r, &g, &b);
    camera->GetExposure(&a, &r, &rows, &gain);
    camera->GetSpeed(&r);
    camera->GetGamma(&r);
    camera->GetContrast(&r);
    camera->GetColorEnhancement(&a, &r);
    camera->GetMonoMode(&a);
    camera->GetVerticalFlip(&a);
    camera->GetHorizontalMirror(&a);
    camera->GetPowerFrequency(&a);
    camera->GetParameterGroup(&r);
    camera->GetRowTime(&rowTime);
}

double Median(std::vector<double> v)
{
    std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::printf("%-16s %12s %12s %12s %12s %12s   (us, median of %d)\n", "camera", "create", "formats", "controls",
                "release", "all", rounds);
    for (bool present : {true, false}) {
        auto camera = simcam::SimulatedCamera::Create();
        test::UseCamera(present ? camera : nullptr);
        std::vector<double> create, formats, controls, release, all;
        for (int i = 0; i < rounds; ++i) {
            const auto t0 = Clock::now();
            HRESULT hr = S_OK;
            auto* filter = static_cast<CKV20X*>(CKV20X::CreateInstance(nullptr, &hr));
            filter->NonDelegatingAddRef();
            auto* asFilter = static_cast<IBaseFilter*>(filter);
            const auto t1 = Clock::now();
            EnumerateFormats(asFilter);
            const auto t2 = Clock::now();
            ReadEveryControl(asFilter);
            const auto t3 = Clock::now();
            asFilter->Release();
            const auto t4 = Clock::now();
            create.push_back(Us(t0, t1));
            formats.push_back(Us(t1, t2));
            controls.push_back(Us(t2, t3));
            release.push_back(Us(t3, t4));
            all.push_back(Us(t0, t4));
        }
        std::printf("%-16s %12.1f %12.1f %12.1f %12.1f %12.1f   (camera asked %zu times)\n",
                    present ? "present" : "absent", Median(create), Median(formats), Median(controls),
                    Median(release), Median(all), camera->Log().size());
    }
    test::UseCamera(nullptr);
    ::CoUninitialize();
    return 0;
}
