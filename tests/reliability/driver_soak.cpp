// Soak through the registered module and the simulated camera driver: the
// camera as applications find it, stop -> pause -> run -> stop cycles at
// mixed sizes, with the process's handles and private memory measured.
//   driver_soak <cycles>
// Prints one line of figures; exits 0 when every cycle delivered frames,
// every stop completed within a second and the figures stayed flat.

#include <windows.h>
#include <dshow.h>

#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "reliability/reliability_support.h"

using Microsoft::WRL::ComPtr;
using namespace kv20x::test;

namespace {

ComPtr<IBaseFilter> FindCamera()
{
    ComPtr<ICreateDevEnum> devices;
    ComPtr<IEnumMoniker> monikers;
    if (FAILED(::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                  reinterpret_cast<void**>(devices.GetAddressOf()))) ||
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) != S_OK)
        return nullptr;
    IMoniker* moniker = nullptr;
    ComPtr<IBaseFilter> camera;
    while (!camera && monikers->Next(1, &moniker, nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        VARIANT name;
        ::VariantInit(&name);
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                             reinterpret_cast<void**>(bag.GetAddressOf()))) &&
            SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR &&
            std::wstring(name.bstrVal) == L"Quorl T5R 3.1M Camera")
            moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(camera.GetAddressOf()));
        ::VariantClear(&name);
        moniker->Release();
    }
    return camera;
}

// Connects the camera's pin to the sink at size `index` (0..2).
bool ConnectAtSize(IPin* out, IAMStreamConfig* config, CheckingSink& sink, int index)
{
    out->Disconnect();
    sink.Disconnect();
    AM_MEDIA_TYPE* type = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps{};
    if (FAILED(config->GetStreamCaps(index, &type, reinterpret_cast<BYTE*>(&caps))))
        return false;
    const bool set = SUCCEEDED(config->SetFormat(type)) && out->Connect(&sink, type) == S_OK;
    sink.Expect(static_cast<long>(type->lSampleSize));
    ::CoTaskMemFree(type->pbFormat);
    if (type->pUnk)
        type->pUnk->Release();
    ::CoTaskMemFree(type);
    return set;
}

int Soak(int cycles)
{
    ComPtr<IBaseFilter> camera = FindCamera();
    if (!camera) {
        std::printf("driver soak: the camera is not registered\n");
        return 2;
    }
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaFilter> timing;
    ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                       reinterpret_cast<void**>(graph.GetAddressOf()));
    graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(control.GetAddressOf()));
    graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(timing.GetAddressOf()));
    timing->SetSyncSource(nullptr);
    graph->AddFilter(camera.Get(), L"Camera");
    ComPtr<IPin> out = kv20x::tools::FindPin(camera.Get(), PINDIR_OUTPUT);
    ComPtr<IAMStreamConfig> config;
    out->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(config.GetAddressOf()));

    CheckingSink sink;
    constexpr int kWarmUp = 10;
    ProcessFigures baseline{};
    HandleTrend trend;
    DWORD slowestStop = 0;
    int failures = 0;
    for (int cycle = 0; cycle < cycles && failures == 0; ++cycle) {
        // The three sizes in turn, a new one every five cycles.
        if (cycle % 5 == 0 && !ConnectAtSize(out.Get(), config.Get(), sink, (cycle / 5) % 3)) {
            std::printf("cycle %d: cannot connect\n", cycle);
            ++failures;
            break;
        }
        const long before = sink.received;
        sink.NewRun();
        control->Pause();
        if (!sink.WaitFor(before + 1, 10000)) {
            std::printf("cycle %d: no frame while paused\n", cycle);
            ++failures;
        }
        control->Run();
        if (!sink.WaitFor(before + 2, 10000)) {
            std::printf("cycle %d: no frame while running\n", cycle);
            ++failures;
        }
        const ULONGLONG stopping = ::GetTickCount64();
        if (control->Stop() != S_OK) {
            std::printf("cycle %d: stop failed\n", cycle);
            ++failures;
        }
        slowestStop = std::max(slowestStop, static_cast<DWORD>(::GetTickCount64() - stopping));
        trend.Note(cycle, cycles, Measure().handles);
        if (cycle + 1 == kWarmUp)
            baseline = Measure();
    }
    ConnectAtSize(out.Get(), config.Get(), sink, 0);  // the baseline's size
    const ProcessFigures final = Measure();
    const long handleGrowth = trend.Growth();
    const double memoryGrowth = (static_cast<double>(final.privateBytes) - static_cast<double>(baseline.privateBytes)) /
                                1048576.0;
    std::printf("driver soak: %d cycles, %ld frames, handles (highest of 10 cycles, early -> late) %lu -> %lu (%+ld), private memory %.1f -> %.1f MB "
                "(%+.2f MB), slowest stop %lu ms, %ld bad samples\n",
                cycles, sink.received.load(), static_cast<unsigned long>(trend.early),
                static_cast<unsigned long>(trend.late), handleGrowth, baseline.privateBytes / 1048576.0,
                final.privateBytes / 1048576.0, memoryGrowth, static_cast<unsigned long>(slowestStop),
                sink.faults.load());
    out->Disconnect();
    sink.Disconnect();
    control.Reset();
    timing.Reset();
    graph.Reset();
    const bool flat = handleGrowth <= 4 && memoryGrowth <= 4.0;
    return failures == 0 && sink.faults == 0 && slowestStop < 1000 && flat ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 100;
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const int result = Soak(cycles);
    ::CoUninitialize();
    return result;
}
