// kv20x-capture: records video from the Quorl T5R 3.1M Camera to an AVI file
// through the platform's filter graph, using only public interfaces and the
// camera's client header. Run `kv20x-capture --help` for the options.
//
// Threads: the main thread builds and runs the graph and reports progress;
// the streaming thread hands every sample to the collector below (under its
// lock) on its way to the AVI multiplexer.

#include <windows.h>
#include <dshow.h>
#include <olectl.h>
#include <qedit.h>
#include <ks.h>
#include <ksmedia.h>

#include <wrl/client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <utility>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/sample_picture.h"
#include "capture/stream_file_sink.h"
#include "common/png_writer.h"
#include "settings/ikv20x.h"

using Microsoft::WRL::ComPtr;
using kv20x::tools::FindPin;
using kv20x::tools::kClsidNullRenderer;
using kv20x::tools::kClsidSampleGrabber;

namespace {

constexpr wchar_t kCameraName[] = L"Quorl T5R 3.1M Camera";

enum ExitCode {
    kOk = 0,
    kFailed = 1,
    kUsage = 2,
    kNotRegistered = 3,
    kNotConnected = 4,
    kCameraFailed = 5,
    kOutputFailed = 6,
    kInUse = 7,
};

// What the module answers a start with when another application streams
// from the camera (the platform's own answer for a camera in use).
constexpr HRESULT kCameraInUse = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);

struct Options {
    bool list = false;
    bool settings = false;
    bool controls = false;
    std::wstring device = kCameraName;
    int width = 1024, height = 768;
    const kv20x::tools::SampleFormatInfo* format = &kv20x::tools::kSampleFormats[0];
    double seconds = 3;
    long frames = 0;  // 0: record for `seconds`
    std::string output = "capture.avi";
    std::string snapshot;
    double stallSeconds = 3;
    int gamma = -1, contrast = -1, saturation = -1, exposure = -1, gain = -1, speed = -1, hz = -1;
    int mono = -1, mirror = -1, upright = -1;
};

void Usage()
{
    std::printf(
        "usage: kv20x-capture [options]\n"
        "  --list                 list the video input devices\n"
        "  --device NAME          the camera (default \"Quorl T5R 3.1M Camera\")\n"
        "  --size WxH             2048x1536, 1024x768 (default) or 640x480\n"
        "  --format F             rgb24 (default), rgb32, yuy2, nv12 or i420\n"
        "  --seconds N            record N seconds (default 3)\n"
        "  --frames N             record N frames instead\n"
        "  --output FILE          the AVI file (default capture.avi); --output none records nothing\n"
        "  --snapshot FILE        save the last frame, as PNG or (.bmp) BMP\n"
        "  --settings             show the camera's property pages first\n"
        "  --controls             list the standard camera properties (range, default, value, auto) and stop\n"
        "  --gamma N --contrast N --saturation N --speed 0|1 --hz 50|60\n"
        "  --exposure ROWS --gain N   manual exposure (auto exposure off)\n"
        "  --mono --mirror 0|1 --upright 0|1\n"
        "  --stall-timeout S      give up when no frame comes for S seconds (default 3)\n"
        "exit codes: 0 recorded, 2 usage, 3 camera not registered, 4 camera not connected,\n"
        "            5 the camera failed while recording, 6 the files could not be written,\n"
        "            7 the camera is in use by another application\n");
}

bool ParseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool value = i + 1 < argc;
        auto number = [&](int& target) {
            if (!value)
                return false;
            target = std::atoi(argv[++i]);
            return true;
        };
        if (a == "--list")
            o.list = true;
        else if (a == "--settings")
            o.settings = true;
        else if (a == "--controls")
            o.controls = true;
        else if (a == "--mono")
            o.mono = 1;
        else if (a == "--device" && value) {
            const std::string name = argv[++i];
            o.device.assign(name.begin(), name.end());
        } else if (a == "--size" && value) {
            if (std::sscanf(argv[++i], "%dx%d", &o.width, &o.height) != 2)
                return false;
        } else if (a == "--format" && value) {
            o.format = kv20x::tools::FindSampleFormat(argv[++i]);
            if (!o.format)
                return false;
        } else if (a == "--seconds" && value)
            o.seconds = std::atof(argv[++i]);
        else if (a == "--frames" && value)
            o.frames = std::atol(argv[++i]);
        else if (a == "--output" && value)
            o.output = argv[++i];
        else if (a == "--snapshot" && value)
            o.snapshot = argv[++i];
        else if (a == "--stall-timeout" && value)
            o.stallSeconds = std::atof(argv[++i]);
        else if (!((a == "--gamma" && number(o.gamma)) || (a == "--contrast" && number(o.contrast)) ||
                   (a == "--saturation" && number(o.saturation)) || (a == "--exposure" && number(o.exposure)) ||
                   (a == "--gain" && number(o.gain)) || (a == "--speed" && number(o.speed)) ||
                   (a == "--hz" && number(o.hz)) || (a == "--mirror" && number(o.mirror)) ||
                   (a == "--upright" && number(o.upright))))
            return false;
    }
    return true;
}

// Counts the samples, notes gaps in their times, and keeps the latest
// picture for the snapshot.
class Collector final : public kv20x::tools::StackGrabberCallback {
public:
    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample* sample) override
    {
        REFERENCE_TIME start = 0, stop = 0;
        const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        std::lock_guard lock(m_lock);
        if (m_frames > 0 && timed && start != m_lastStop)
            ++m_gaps;
        m_lastStop = stop;
        ++m_frames;
        m_arrived = ::GetTickCount();
        if (data)
            m_latest.assign(data, data + sample->GetActualDataLength());
        return S_OK;
    }

    long Frames()
    {
        std::lock_guard lock(m_lock);
        return m_frames;
    }
    long Gaps()
    {
        std::lock_guard lock(m_lock);
        return m_gaps;
    }
    DWORD LastArrival()
    {
        std::lock_guard lock(m_lock);
        return m_arrived;
    }
    std::vector<BYTE> Latest()
    {
        std::lock_guard lock(m_lock);
        return m_latest;
    }

private:
    std::mutex m_lock;
    long m_frames = 0;
    long m_gaps = 0;
    REFERENCE_TIME m_lastStop = 0;
    DWORD m_arrived = 0;
    std::vector<BYTE> m_latest;
};

template <typename T>
HRESULT Create(const GUID& clsid, const IID& iid, ComPtr<T>& out)
{
    return ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(out.ReleaseAndGetAddressOf()));
}

// The video input devices: their names, and the filter of the one asked for.
ComPtr<IBaseFilter> OpenDevice(const Options& o, bool printNames)
{
    ComPtr<ICreateDevEnum> devices;
    ComPtr<IEnumMoniker> monikers;
    if (FAILED(Create(CLSID_SystemDeviceEnum, IID_ICreateDevEnum, devices)) ||
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) != S_OK)
        return nullptr;
    ComPtr<IBaseFilter> found;
    IMoniker* moniker = nullptr;
    while (monikers->Next(1, &moniker, nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(bag.GetAddressOf()));
        VARIANT name;
        ::VariantInit(&name);
        if (bag && SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR) {
            if (printNames)
                std::printf("  %ls\n", name.bstrVal);
            if (!found && o.device == name.bstrVal)
                moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(found.GetAddressOf()));
        }
        ::VariantClear(&name);
        moniker->Release();
    }
    return found;
}

// Chooses the size among the pin's capabilities.
// The camera's type of that size and format, set for the next connection.
HRESULT ChooseType(IAMStreamConfig* config, int width, int height, const GUID& subtype, REFERENCE_TIME* frameTime)
{
    int count = 0, size = 0;
    config->GetNumberOfCapabilities(&count, &size);
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* type = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        if (config->GetStreamCaps(i, &type, reinterpret_cast<BYTE*>(&caps)) != S_OK || !type)
            continue;
        const auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
        HRESULT hr = S_FALSE;
        if (info && type->subtype == subtype && info->bmiHeader.biWidth == width &&
            info->bmiHeader.biHeight == height) {
            hr = config->SetFormat(type);
            *frameTime = info->AvgTimePerFrame;
        }
        ::CoTaskMemFree(type->pbFormat);
        ::CoTaskMemFree(type);
        if (hr != S_FALSE)
            return hr;
    }
    return E_INVALIDARG;
}

// The mains frequency of the video-proc-amp property set: 1 = 50 Hz, 2 = 60 Hz.
constexpr GUID kVideoProcAmpPropertySet = {0xC6E13360, 0x30AC, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};
constexpr DWORD kPowerLineFrequency = KSPROPERTY_VIDEOPROCAMP_POWERLINE_FREQUENCY;

template <typename Interface>
ComPtr<Interface> Query(IUnknown* object, REFIID iid)
{
    ComPtr<Interface> result;
    if (object)
        object->QueryInterface(iid, reinterpret_cast<void**>(result.GetAddressOf()));
    return result;
}

// The settings asked for on the command line. What the platform's standard
// interfaces can express goes through them, as any application would set
// it; the clock and an exposure in rows need the camera's own interface.
void ApplySettings(IBaseFilter* camera, IPin* capture, const Options& o)
{
    const auto procAmp = Query<IAMVideoProcAmp>(camera, IID_IAMVideoProcAmp);
    const auto video = Query<IAMVideoControl>(camera, IID_IAMVideoControl);
    const auto properties = Query<IKsPropertySet>(camera, IID_IKsPropertySet);
    const auto own = Query<IKV20X>(camera, IID_IKV20X);
    auto manual = [&](long property, int value) {
        if (value >= 0 && procAmp && FAILED(procAmp->Set(property, value, VideoProcAmp_Flags_Manual)))
            std::fprintf(stderr, "kv20x-capture: the camera refused %d for property %ld\n", value, property);
    };
    manual(VideoProcAmp_Gamma, o.gamma);
    manual(VideoProcAmp_Contrast, o.contrast);
    manual(VideoProcAmp_Saturation, o.saturation);
    if (o.mono >= 0)
        manual(VideoProcAmp_ColorEnable, o.mono ? 0 : 1);
    if ((o.mirror >= 0 || o.upright >= 0) && video) {
        long mode = 0;
        video->GetMode(capture, &mode);
        if (o.mirror >= 0)
            mode = o.mirror ? mode | VideoControlFlag_FlipHorizontal : mode & ~VideoControlFlag_FlipHorizontal;
        if (o.upright >= 0)
            mode = o.upright ? mode & ~VideoControlFlag_FlipVertical : mode | VideoControlFlag_FlipVertical;
        video->SetMode(capture, mode);
    }
    if (o.hz >= 0 && properties) {
        KSPROPERTY_VIDEOPROCAMP_S data{};
        data.Value = o.hz == 50 ? 1 : 2;
        data.Flags = KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL;
        properties->Set(kVideoProcAmpPropertySet, kPowerLineFrequency, nullptr, 0, &data, sizeof data);
    }
    if (o.speed >= 0 && own)
        own->SetSpeed(static_cast<BYTE>(o.speed));
    if (o.exposure >= 0 && own) {
        BOOL automatic = TRUE;
        BYTE target = 100;
        WORD rows = 300, gain = 20;
        own->GetExposure(&automatic, &target, &rows, &gain);
        own->SetExposure(FALSE, target, static_cast<WORD>(o.exposure), o.gain >= 0 ? static_cast<WORD>(o.gain) : gain);
    } else {
        manual(VideoProcAmp_Gain, o.gain);  // a manual gain turns the auto exposure off
    }
}

// Every standard property the camera has, as a user would check it.
void PrintControls(IBaseFilter* camera, IPin* capture)
{
    auto print = [](const char* name, HRESULT range, long min, long max, long def, long caps, long value, long flags) {
        if (range == E_PROP_ID_UNSUPPORTED)
            return;
        if (FAILED(range)) {
            std::printf("  %-22s error 0x%08lx\n", name, range);
            return;
        }
        std::printf("  %-22s %5ld .. %-5ld default %-5ld value %-5ld %s%s\n", name, min, max, def, value,
                    (caps & VideoProcAmp_Flags_Auto) ? "auto-capable, " : "",
                    (flags & VideoProcAmp_Flags_Auto) ? "auto" : "manual");
    };
    struct Property {
        long id;
        const char* name;
    };
    static const Property procAmpNames[] = {
        {VideoProcAmp_Brightness, "Brightness"}, {VideoProcAmp_Contrast, "Contrast"},
        {VideoProcAmp_Hue, "Hue"}, {VideoProcAmp_Saturation, "Saturation"},
        {VideoProcAmp_Sharpness, "Sharpness"}, {VideoProcAmp_Gamma, "Gamma"},
        {VideoProcAmp_ColorEnable, "ColorEnable"}, {VideoProcAmp_WhiteBalance, "WhiteBalance"},
        {VideoProcAmp_BacklightCompensation, "BacklightCompensation"}, {VideoProcAmp_Gain, "Gain"}};
    static const Property cameraNames[] = {{CameraControl_Pan, "Pan"},   {CameraControl_Tilt, "Tilt"},
                                           {CameraControl_Roll, "Roll"}, {CameraControl_Zoom, "Zoom"},
                                           {CameraControl_Exposure, "Exposure (log2 s)"},
                                           {CameraControl_Iris, "Iris"}, {CameraControl_Focus, "Focus"}};
    // Both interfaces have the same GetRange and Get.
    auto list = [&print](const char* title, auto* controls, const auto& names) {
        if (!controls)
            return;
        std::printf("%s:\n", title);
        for (const Property& p : names) {
            long min = 0, max = 0, step = 0, def = 0, caps = 0, value = 0, flags = 0;
            const HRESULT hr = controls->GetRange(p.id, &min, &max, &step, &def, &caps);
            if (SUCCEEDED(hr))
                controls->Get(p.id, &value, &flags);
            print(p.name, hr, min, max, def, caps, value, flags);
        }
    };
    list("IAMVideoProcAmp", Query<IAMVideoProcAmp>(camera, IID_IAMVideoProcAmp).Get(), procAmpNames);
    list("IAMCameraControl", Query<IAMCameraControl>(camera, IID_IAMCameraControl).Get(), cameraNames);
    if (const auto video = Query<IAMVideoControl>(camera, IID_IAMVideoControl)) {
        long caps = 0, mode = 0;
        video->GetCaps(capture, &caps);
        video->GetMode(capture, &mode);
        std::printf("IAMVideoControl:\n  %-22s %s (can: %s%s)\n  %-22s %s\n", "FlipHorizontal",
                    (mode & VideoControlFlag_FlipHorizontal) ? "on" : "off",
                    (caps & VideoControlFlag_FlipHorizontal) ? "horizontal " : "",
                    (caps & VideoControlFlag_FlipVertical) ? "vertical" : "", "FlipVertical",
                    (mode & VideoControlFlag_FlipVertical) ? "on" : "off");
    }
    if (const auto properties = Query<IKsPropertySet>(camera, IID_IKsPropertySet)) {
        KSPROPERTY_VIDEOPROCAMP_S data{};
        DWORD returned = 0;
        if (SUCCEEDED(properties->Get(kVideoProcAmpPropertySet, kPowerLineFrequency, nullptr, 0, &data, sizeof data,
                                      &returned)))
            std::printf("Power-line frequency:\n  %-22s %s (50 Hz or 60 Hz)\n", "PowerLineFrequency",
                        data.Value == 1 ? "50 Hz" : data.Value == 2 ? "60 Hz" : "other");
    }
}

// Connects the multiplexer's output to a file at `path`.
HRESULT ConnectFile(IGraphBuilder* graph, IBaseFilter* mux, const wchar_t* path, ComPtr<IBaseFilter>& writer,
                    std::unique_ptr<kv20x::tools::StreamFileSink>& ownSink)
{
    ComPtr<IPin> muxOut = FindPin(mux, PINDIR_OUTPUT);
    ComPtr<IFileSinkFilter> fileSink;
    HRESULT hr = Create(CLSID_FileWriter, IID_IBaseFilter, writer);
    ComPtr<IPin> writerIn = SUCCEEDED(hr) ? FindPin(writer.Get(), PINDIR_INPUT) : nullptr;
    ComPtr<IUnknown> stream;
    if (writerIn && SUCCEEDED(writerIn->QueryInterface(IID_IStream, reinterpret_cast<void**>(stream.GetAddressOf()))) &&
        SUCCEEDED(writer->QueryInterface(IID_IFileSinkFilter, reinterpret_cast<void**>(fileSink.GetAddressOf())))) {
        hr = fileSink->SetFileName(path, nullptr);
        if (SUCCEEDED(hr))
            hr = graph->AddFilter(writer.Get(), L"File Writer");
        if (SUCCEEDED(hr))
            hr = graph->ConnectDirect(muxOut.Get(), writerIn.Get(), nullptr);
        return hr;
    }
    writer.Reset();
    ownSink = std::make_unique<kv20x::tools::StreamFileSink>(path);
    if (!ownSink->Valid())
        return HRESULT_FROM_WIN32(::GetLastError());
    return muxOut->Connect(ownSink.get(), nullptr);
}

void ShowPages(IUnknown* object)
{
    ComPtr<ISpecifyPropertyPages> pages;
    if (FAILED(object->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(pages.GetAddressOf()))))
        return;
    CAUUID list{};
    if (FAILED(pages->GetPages(&list)))
        return;
    IUnknown* objects[1] = {object};
    ::OleCreatePropertyFrame(nullptr, 0, 0, kCameraName, 1, objects, list.cElems, list.pElems, 0, 0, nullptr);
    ::CoTaskMemFree(list.pElems);
}

// A sample of the recorded format as the file type of `path` asks: a
// 24-bit BMP, or a PNG.
bool WriteSnapshot(const std::string& path, const std::vector<BYTE>& sample, kv20x::tools::SampleFormat format,
                   int width, int height)
{
    std::vector<std::uint8_t> bgr;  // top-down
    if (!kv20x::tools::SampleToTopDownBgr(format, sample, width, height, bgr))
        return false;
    const size_t stride = static_cast<size_t>(width) * 3;
    const bool bmp = path.size() > 4 && _stricmp(path.c_str() + path.size() - 4, ".bmp") == 0;
    if (bmp) {
        BITMAPFILEHEADER file{};
        BITMAPINFOHEADER info{};
        info.biSize = sizeof info;
        info.biWidth = width;
        info.biHeight = height;  // bottom-up rows follow
        info.biPlanes = 1;
        info.biBitCount = 24;
        info.biSizeImage = static_cast<DWORD>(stride * height);
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof file + sizeof info;
        file.bfSize = file.bfOffBits + info.biSizeImage;
        std::FILE* out = std::fopen(path.c_str(), "wb");
        if (!out)
            return false;
        std::fwrite(&file, sizeof file, 1, out);
        std::fwrite(&info, sizeof info, 1, out);
        for (int y = height - 1; y >= 0; --y)
            std::fwrite(bgr.data() + stride * y, 1, stride, out);
        return std::fclose(out) == 0;
    }
    for (size_t i = 0; i < bgr.size(); i += 3)
        std::swap(bgr[i], bgr[i + 2]);
    return kv20x::tools::PngWriter::Write(path.c_str(), bgr.data(), static_cast<std::uint32_t>(width),
                                          static_cast<std::uint32_t>(height));
}

int Record(const Options& o)
{
    if (o.list) {
        std::printf("video input devices:\n");
        OpenDevice(o, true);
        return kOk;
    }
    ComPtr<IBaseFilter> camera = OpenDevice(o, false);
    if (!camera) {
        std::fprintf(stderr, "kv20x-capture: \"%ls\" is not among the video input devices: is the module "
                             "registered (regsvr32 KV20X.ax)?\n", o.device.c_str());
        return kNotRegistered;
    }

    // Declared first, gone last: the multiplexer may write to it until the
    // graph goes.
    std::unique_ptr<kv20x::tools::StreamFileSink> ownSink;
    ComPtr<IGraphBuilder> graph;
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IBaseFilter> grabberFilter, mux, writer, renderer;
    ComPtr<ISampleGrabber> grabber;
    HRESULT hr = Create(CLSID_FilterGraph, IID_IGraphBuilder, graph);
    if (SUCCEEDED(hr))
        hr = Create(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, builder);
    if (SUCCEEDED(hr))
        hr = builder->SetFiltergraph(graph.Get());
    if (SUCCEEDED(hr))
        hr = graph->AddFilter(camera.Get(), kCameraName);
    if (FAILED(hr)) {
        std::fprintf(stderr, "kv20x-capture: cannot build the capture graph (0x%08lx)\n", hr);
        return kFailed;
    }
    // No reference clock: the samples carry their own times, which is all the
    // multiplexer needs.
    ComPtr<IMediaFilter> timing;
    graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(timing.GetAddressOf()));
    timing->SetSyncSource(nullptr);

    ComPtr<IPin> capture;
    hr = builder->FindPin(camera.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, FALSE, 0, &capture);
    ComPtr<IAMStreamConfig> config;
    if (SUCCEEDED(hr))
        hr = builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera.Get(), IID_IAMStreamConfig,
                                    reinterpret_cast<void**>(config.GetAddressOf()));
    REFERENCE_TIME frameTime = 0;
    if (SUCCEEDED(hr) &&
        FAILED(ChooseType(config.Get(), o.width, o.height, kv20x::tools::SubtypeOf(*o.format), &frameTime))) {
        std::fprintf(stderr, "kv20x-capture: the camera has no size %dx%d in %s\n", o.width, o.height,
                     o.format->name);
        return kUsage;
    }
    if (FAILED(hr)) {
        std::fprintf(stderr, "kv20x-capture: the camera has no capture pin (0x%08lx)\n", hr);
        return kFailed;
    }

    ApplySettings(camera.Get(), capture.Get(), o);
    if (o.controls) {
        PrintControls(camera.Get(), capture.Get());
        return kOk;
    }
    if (o.settings) {
        ShowPages(camera.Get());
        ShowPages(capture.Get());
    }

    // The frames go two ways: whole to the file, and a copy past the
    // collector, which counts them and keeps the latest for the snapshot.
    //   camera -> Smart Tee -capture-> AVI Mux -> file
    //                       -preview-> Sample Grabber -> Null Renderer
    // Without a file: camera -> Sample Grabber -> Null Renderer.
    Collector collector;
    const bool recording = o.output != "none";
    ComPtr<IBaseFilter> tee;
    hr = Create(kClsidSampleGrabber, IID_IBaseFilter, grabberFilter);
    if (SUCCEEDED(hr))
        hr = grabberFilter->QueryInterface(__uuidof(ISampleGrabber), reinterpret_cast<void**>(grabber.GetAddressOf()));
    if (SUCCEEDED(hr)) {
        AM_MEDIA_TYPE wanted{};
        wanted.majortype = MEDIATYPE_Video;
        wanted.subtype = kv20x::tools::SubtypeOf(*o.format);
        grabber->SetMediaType(&wanted);
        grabber->SetBufferSamples(FALSE);
        grabber->SetCallback(&collector, 0);
        hr = graph->AddFilter(grabberFilter.Get(), L"Frames");
    }
    if (SUCCEEDED(hr))
        hr = Create(kClsidNullRenderer, IID_IBaseFilter, renderer);
    if (SUCCEEDED(hr))
        hr = graph->AddFilter(renderer.Get(), L"Null");
    ComPtr<IPin> toPreview = capture;
    if (SUCCEEDED(hr) && recording) {
        wchar_t full[MAX_PATH];
        const std::wstring wide(o.output.begin(), o.output.end());
        ::GetFullPathNameW(wide.c_str(), MAX_PATH, full, nullptr);
        hr = Create(CLSID_SmartTee, IID_IBaseFilter, tee);
        if (SUCCEEDED(hr))
            hr = graph->AddFilter(tee.Get(), L"Tee");
        if (SUCCEEDED(hr))
            hr = graph->ConnectDirect(capture.Get(), FindPin(tee.Get(), PINDIR_INPUT).Get(), nullptr);
        if (SUCCEEDED(hr))
            hr = Create(CLSID_AviDest, IID_IBaseFilter, mux);
        if (SUCCEEDED(hr))
            hr = graph->AddFilter(mux.Get(), L"AVI Mux");
        // Full interleaving: the one mode this platform's multiplexer runs.
        ComPtr<IConfigInterleaving> interleaving;
        if (SUCCEEDED(hr) && SUCCEEDED(mux->QueryInterface(IID_IConfigInterleaving,
                                                           reinterpret_cast<void**>(interleaving.GetAddressOf()))))
            interleaving->put_Mode(INTERLEAVE_FULL);
        // Wired by hand: the capture graph builder here cannot make the file.
        if (SUCCEEDED(hr))
            hr = ConnectFile(graph.Get(), mux.Get(), full, writer, ownSink);
        if (SUCCEEDED(hr))
            hr = graph->ConnectDirect(FindPin(tee.Get(), PINDIR_OUTPUT, L"Capture").Get(), FindPin(mux.Get(), PINDIR_INPUT).Get(),
                                      nullptr);
        toPreview = FindPin(tee.Get(), PINDIR_OUTPUT, L"Preview");
    }
    if (SUCCEEDED(hr))
        hr = graph->ConnectDirect(toPreview.Get(), FindPin(grabberFilter.Get(), PINDIR_INPUT).Get(), nullptr);
    if (SUCCEEDED(hr))
        hr = graph->ConnectDirect(FindPin(grabberFilter.Get(), PINDIR_OUTPUT).Get(),
                                  FindPin(renderer.Get(), PINDIR_INPUT).Get(), nullptr);
    if (FAILED(hr)) {
        std::fprintf(stderr, "kv20x-capture: cannot connect the recording graph (0x%08lx)\n", hr);
        return recording ? kOutputFailed : kFailed;
    }

    ComPtr<IMediaControl> media;
    ComPtr<IMediaEvent> events;
    graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(media.GetAddressOf()));
    graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(events.GetAddressOf()));
    hr = media->Run();
    // This platform's graph may report success although a filter refused to
    // start (a renderer that answered its pause with S_FALSE hides the
    // refusal); the camera's own state tells, and asked again the camera
    // gives its reason.
    FILTER_STATE cameraState = State_Stopped;
    if (SUCCEEDED(hr) && SUCCEEDED(camera->GetState(0, &cameraState)) && cameraState == State_Stopped) {
        hr = camera->Pause();
        camera->Stop();
        if (SUCCEEDED(hr))
            hr = E_FAIL;
    }
    if (FAILED(hr)) {
        media->Stop();
        if (hr == kCameraInUse) {
            std::fprintf(stderr, "kv20x-capture: the camera is in use by another application (0x%08lx): close it "
                                 "and try again\n", hr);
            return kInUse;
        }
        if (hr == VFW_E_NO_CAPTURE_HARDWARE) {
            std::fprintf(stderr, "kv20x-capture: camera not connected: there is no device \\\\.\\vx41k-0 (plug the "
                                 "camera in, or start its driver)\n");
            return kNotConnected;
        }
        std::fprintf(stderr, "kv20x-capture: the camera could not be started (0x%08lx): it does not answer as "
                             "this camera does\n", hr);
        return kCameraFailed;
    }

    const DWORD started = ::GetTickCount();
    DWORD lastReport = started;
    int result = kOk;
    for (;;) {
        long code = 0;
        LONG_PTR p1 = 0, p2 = 0;
        if (events->GetEvent(&code, &p1, &p2, 50) == S_OK) {
            events->FreeEventParams(code, p1, p2);
            if (code == EC_DEVICE_LOST && p2 == 0) {
                std::fprintf(stderr, "kv20x-capture: the camera was unplugged while recording (device lost)\n");
                result = kCameraFailed;
                break;
            }
            if (code == EC_ERRORABORT && static_cast<HRESULT>(p1) == HRESULT_FROM_WIN32(ERROR_TIMEOUT)) {
                std::fprintf(stderr, "kv20x-capture: the camera stopped sending frames (the module timed out)\n");
                result = kCameraFailed;
                break;
            }
            if (code == EC_ERRORABORT) {
                std::fprintf(stderr, "kv20x-capture: the camera failed while recording (0x%08lx): the graph "
                                     "stopped with an error\n", static_cast<HRESULT>(p1));
                result = kCameraFailed;
                break;
            }
        }
        const DWORD now = ::GetTickCount();
        const long frames = collector.Frames();
        if (now - lastReport >= 1000) {
            lastReport = now;
            const double elapsed = (now - started) / 1000.0;
            std::printf("recording: %ld frames, %.1f fps, %ld dropped\n", frames, frames / elapsed, collector.Gaps());
            std::fflush(stdout);
        }
        const DWORD quiet = now - (frames > 0 ? collector.LastArrival() : started);
        if (quiet > static_cast<DWORD>(o.stallSeconds * 1000)) {
            std::fprintf(stderr, "kv20x-capture: the camera stopped sending frames (none for %.1f s)\n",
                         quiet / 1000.0);
            result = kCameraFailed;
            break;
        }
        if (o.frames > 0 ? frames >= o.frames : now - started >= static_cast<DWORD>(o.seconds * 1000))
            break;
    }
    const DWORD stopping = ::GetTickCount();
    media->Stop();
    const DWORD stopped = ::GetTickCount();
    grabber->SetCallback(nullptr, 0);
    if (ownSink) {
        if (ownSink->Failed()) {
            std::fprintf(stderr, "kv20x-capture: writing %s failed\n", o.output.c_str());
            result = kOutputFailed;
        }
        ownSink->Close();
    }

    const long frames = collector.Frames();
    const double elapsed = (stopping - started) / 1000.0;
    std::printf("stopped in %lu ms\n", static_cast<unsigned long>(stopped - stopping));
    if (recording)
        std::printf("%s: %ld frames of %dx%d %s in %.1f s (%.1f fps, frame time %.1f ms, %ld dropped)\n",
                    o.output.c_str(), frames, o.width, o.height, o.format->name, elapsed,
                    elapsed > 0 ? frames / elapsed : 0.0,
                    frameTime / 10000.0, collector.Gaps());
    if (!o.snapshot.empty()) {
        if (WriteSnapshot(o.snapshot, collector.Latest(), o.format->format, o.width, o.height)) {
            std::printf("%s: the last frame\n", o.snapshot.c_str());
        } else {
            std::fprintf(stderr, "kv20x-capture: cannot write the snapshot %s\n", o.snapshot.c_str());
            if (result == kOk)
                result = frames > 0 ? kOutputFailed : kCameraFailed;
        }
    }
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            Usage();
            return kOk;
        }
    if (!ParseOptions(argc, argv, options)) {
        Usage();
        return kUsage;
    }
    ::CoInitialize(nullptr);  // a single-threaded apartment: the property frame needs one
    const int result = Record(options);
    ::CoUninitialize();
    return result;
}
