// Frames per second through the real capture pin: the simulated camera sends
// frames as fast as they are read, the pin runs its whole frame path (frame
// read, hand-off, pipeline into the sample, sample times) and delivers to a
// sink that takes every sample at once. Printed against the camera's own
// frame rate at the default settings, per size, with and without the
// capture thread. Windows program; run it under Wine:
//   /usr/lib/wine/wine64 build/x64/bench/pin_throughput.exe [seconds]

#include <cstdio>
#include <cstdlib>

#include "filter/capture_filter.h"
#include "pin/capture_pin.h"
#include "support/test_camera_port.h"
#include "support/test_sink.h"

using namespace kv20x;

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ORBILUX ");
    std::printf("%-11s %-12s %10s %10s %8s\n", "size", "mode", "pin fps", "camera fps", "margin");
    for (SizeMode size : {0, 1, 2}) {
        for (int processors : {1, 2}) {
            auto camera = simcam::SimulatedCamera::Create();
            test::UseCamera(camera);
            test::UseProcessorCount(processors);
            HRESULT hr = S_OK;
            auto* filter = static_cast<CKV20X*>(CKV20X::CreateInstance(nullptr, &hr));
            filter->NonDelegatingAddRef();
            IKV20X* control = static_cast<IKV20X*>(filter->Pin());
            control->SetVideoSize(size);
            test::TestSink sink;
            IPin* pin = static_cast<IPin*>(filter->Pin());
            pin->Connect(&sink, nullptr);
            auto* asFilter = static_cast<IBaseFilter*>(filter);
            asFilter->Run(0);
            const DWORD start = ::GetTickCount();
            const size_t first = sink.ReceivedCount();
            ::Sleep(static_cast<DWORD>(seconds * 1000));
            const size_t frames = sink.ReceivedCount() - first;
            const double elapsed = (::GetTickCount() - start) / 1000.0;
            asFilter->Stop();
            pin->Disconnect();
            sink.Disconnect();
            asFilter->Release();
            const double pinFps = frames / elapsed;
            const double cameraFps = 1e7 / static_cast<double>(FrameDuration100ns(size, 0, 300));
            std::printf("%4dx%-6d %-12s %10.1f %10.1f %7.1fx\n", SizeModeWidth(size), SizeModeHeight(size),
                        processors > 1 ? "thread" : "single", pinFps, cameraFps, pinFps / cameraFps);
        }
    }
    test::UseCamera(nullptr);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ORBILUX ");
    ::CoUninitialize();
    return 0;
}
