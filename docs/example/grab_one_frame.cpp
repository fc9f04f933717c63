// grab_one_frame: opens the Quorl T5R 3.1M Camera, sets a manual exposure,
// grabs one 1024 x 768 frame and saves it as a 24-bit BMP.
//   grab_one_frame [picture.bmp]
// Links against strmiids, uuid, ole32 and oleaut32; needs settings/ikv20x.h.

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <wrl/client.h>

#include <cstdio>
#include <string>
#include <vector>

#include "settings/ikv20x.h"

using Microsoft::WRL::ComPtr;

namespace {

// Not every SDK declares these two class ids.
const CLSID kSampleGrabber = {0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
const CLSID kNullRenderer = {0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

// The camera among the video input devices, by its friendly name.
ComPtr<IBaseFilter> FindCamera()
{
    ComPtr<ICreateDevEnum> devices;
    ComPtr<IEnumMoniker> monikers;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&devices))) ||
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) != S_OK)
        return nullptr;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        VARIANT name;
        VariantInit(&name);
        bool match = SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag))) &&
                     SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR &&
                     std::wstring(name.bstrVal) == L"Quorl T5R 3.1M Camera";
        VariantClear(&name);
        ComPtr<IBaseFilter> camera;
        if (match && SUCCEEDED(moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&camera))))
            return camera;
    }
    return nullptr;
}

// Keeps a copy of the first sample the grabber sees.
class FirstFrame final : public ISampleGrabberCB {
public:
    FirstFrame() : done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~FirstFrame() { CloseHandle(done); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid != IID_IUnknown && iid != IID_ISampleGrabberCB)
            return *object = nullptr, E_NOINTERFACE;
        *object = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // lives on the stack, longer than the graph
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE* data, long length) override
    {
        if (WaitForSingleObject(done, 0) != WAIT_OBJECT_0) {
            picture.assign(data, data + length);
            SetEvent(done);
        }
        return S_OK;
    }
    std::vector<BYTE> picture;  // as delivered: RGB24, bottom-up rows
    HANDLE done;
};

bool SaveBmp(const char* path, const std::vector<BYTE>& picture, LONG width, LONG height)
{
    BITMAPINFOHEADER info{sizeof info, width, height, 1, 24, BI_RGB, static_cast<DWORD>(picture.size())};
    BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof file + sizeof info + picture.size()), 0, 0,
                          sizeof file + sizeof info};
    std::FILE* out = std::fopen(path, "wb");
    if (!out)
        return false;
    const bool written = std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&info, sizeof info, 1, out) == 1 &&
                         std::fwrite(picture.data(), 1, picture.size(), out) == picture.size();
    return std::fclose(out) == 0 && written;
}

int Grab(const char* path)
{
    ComPtr<IBaseFilter> camera = FindCamera();
    if (!camera) {
        std::fprintf(stderr, "the camera is not registered (regsvr32 KV20X.ax)\n");
        return 1;
    }
    // Manual exposure: 300 sensor rows at gain code 20, auto exposure off.
    ComPtr<IKV20X> control;
    if (FAILED(camera.As(&control)) || FAILED(control->SetVideoSize(1)) ||
        FAILED(control->SetExposure(FALSE, 100, 300, 20)))
        return 1;

    // camera -> Sample Grabber -> Null Renderer
    ComPtr<IGraphBuilder> graph;
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IBaseFilter> grabberFilter, renderer;
    ComPtr<ISampleGrabber> grabber;
    FirstFrame frame;
    AM_MEDIA_TYPE rgb24{};
    rgb24.majortype = MEDIATYPE_Video;
    rgb24.subtype = MEDIASUBTYPE_RGB24;
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph));
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&builder));
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(kSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&grabberFilter));
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(kNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&renderer));
    if (SUCCEEDED(hr))
        hr = builder->SetFiltergraph(graph.Get());
    for (auto [filter, name] : {std::pair{camera.Get(), L"Camera"}, std::pair{grabberFilter.Get(), L"Grabber"},
                                std::pair{renderer.Get(), L"Renderer"}})
        if (SUCCEEDED(hr))
            hr = graph->AddFilter(filter, name);
    if (SUCCEEDED(hr))
        hr = grabberFilter.As(&grabber);
    if (SUCCEEDED(hr))
        hr = grabber->SetMediaType(&rgb24);
    if (SUCCEEDED(hr))
        hr = grabber->SetCallback(&frame, 1);  // 1: BufferCB
    if (SUCCEEDED(hr))
        hr = builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera.Get(), grabberFilter.Get(),
                                   renderer.Get());
    // A live source stamps its own sample times: the graph needs no clock.
    ComPtr<IMediaFilter> timing;
    if (SUCCEEDED(hr))
        hr = graph.As(&timing);
    if (SUCCEEDED(hr))
        hr = timing->SetSyncSource(nullptr);
    ComPtr<IMediaControl> run;
    if (SUCCEEDED(hr))
        hr = graph.As(&run);
    if (SUCCEEDED(hr))
        hr = run->Run();
    if (FAILED(hr)) {
        std::fprintf(stderr, "cannot stream from the camera (0x%08lx)\n", hr);
        return 1;
    }
    const bool grabbed = WaitForSingleObject(frame.done, 10000) == WAIT_OBJECT_0;
    run->Stop();
    grabber->SetCallback(nullptr, 1);
    if (!grabbed) {
        std::fprintf(stderr, "no frame came within 10 s\n");
        return 1;
    }
    if (!SaveBmp(path, frame.picture, 1024, 768)) {
        std::fprintf(stderr, "cannot write %s\n", path);
        return 1;
    }
    std::printf("saved %s (1024 x 768)\n", path);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = Grab(argc > 1 ? argv[1] : "picture.bmp");
    CoUninitialize();
    return result;
}
