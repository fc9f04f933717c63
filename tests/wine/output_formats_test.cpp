// The capture pin's formats, buffer sizing and configuration interfaces.

#include "support/pin_fixture.h"

#include <ks.h>

#include <cstring>

#include "settings/class_ids.h"

namespace kv20x::test {
namespace {

class OutputFormats : public FilterFixture {
protected:
    // What a fresh memory allocator grants after the pin sized it.
    ALLOCATOR_PROPERTIES Granted(long buffers)
    {
        ComPtr<IMemAllocator> allocator;
        ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                           reinterpret_cast<void**>(allocator.GetAddressOf()));
        ALLOCATOR_PROPERTIES request{buffers, 0, 1, 0}, granted{};
        if (allocator && pin->DecideBufferSize(allocator.Get(), &request) == S_OK)
            allocator->GetProperties(&granted);
        return granted;
    }
};

CMediaType Rgb24(LONG width, LONG height)
{
    CMediaType type;
    auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    std::memset(info, 0, sizeof *info);
    info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info->bmiHeader.biWidth = width;
    info->bmiHeader.biHeight = height;
    info->bmiHeader.biPlanes = 1;
    info->bmiHeader.biBitCount = 24;
    info->bmiHeader.biSizeImage = static_cast<DWORD>(width * (height < 0 ? -height : height) * 3);
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_RGB24;
    type.formattype = FORMAT_VideoInfo;
    type.SetSampleSize(info->bmiHeader.biSizeImage);
    return type;
}

const VIDEOINFOHEADER* Info(const AM_MEDIA_TYPE* type)
{
    return reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
}

TEST_F(OutputFormats, OffersTheThreeSizesInOrderButAcceptsOnlyTheCurrentOne)
{
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(Pin()->EnumMediaTypes(&types), S_OK);
    const LONG sizes[3][2] = {{2048, 1536}, {1024, 768}, {640, 480}};
    for (const auto& size : sizes) {
        AM_MEDIA_TYPE* type = nullptr;
        ASSERT_EQ(types->Next(1, &type, nullptr), S_OK);
        EXPECT_EQ(type->majortype, MEDIATYPE_Video);
        EXPECT_EQ(type->subtype, MEDIASUBTYPE_RGB24);
        EXPECT_EQ(type->formattype, FORMAT_VideoInfo);
        EXPECT_TRUE(type->bFixedSizeSamples);
        EXPECT_FALSE(type->bTemporalCompression);
        EXPECT_EQ(type->pUnk, nullptr);
        ASSERT_EQ(type->cbFormat, sizeof(VIDEOINFOHEADER));
        const BITMAPINFOHEADER& header = Info(type)->bmiHeader;
        EXPECT_EQ(header.biSize, 40u);
        EXPECT_EQ(header.biWidth, size[0]);
        EXPECT_EQ(header.biHeight, size[1]);
        EXPECT_EQ(header.biPlanes, 1);
        EXPECT_EQ(header.biBitCount, 24);
        EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
        EXPECT_EQ(header.biSizeImage, static_cast<DWORD>(size[0] * size[1] * 3));
        EXPECT_EQ(type->lSampleSize, header.biSizeImage);
        EXPECT_EQ(Info(type)->AvgTimePerFrame, FrameDuration100ns(static_cast<SizeMode>(&size - sizes), 0, 300));
        EXPECT_EQ(Pin()->QueryAccept(type), size[0] == 1024 ? S_OK : S_FALSE);
        DeleteMediaType(type);
    }
    AM_MEDIA_TYPE* none = nullptr;
    EXPECT_EQ(types->Next(1, &none, nullptr), S_FALSE);
    CMediaType past;
    EXPECT_EQ(pin->GetMediaType(3, &past), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(pin->GetMediaType(-1, &past), E_INVALIDARG);
}

TEST_F(OutputFormats, ATopDownOrVariableOrOtherDepthTypeIsRefused)
{
    const CMediaType topDown = Rgb24(1024, -768);
    EXPECT_EQ(pin->CheckMediaType(&topDown), E_INVALIDARG);
    EXPECT_EQ(Pin()->QueryAccept(&topDown), S_FALSE);
    EXPECT_EQ(pin->SetMediaType(&topDown), E_INVALIDARG);

    CMediaType variable = Rgb24(1024, 768);
    variable.bFixedSizeSamples = FALSE;
    EXPECT_EQ(pin->CheckMediaType(&variable), E_INVALIDARG);

    CMediaType sixteen = Rgb24(1024, 768);
    reinterpret_cast<VIDEOINFOHEADER*>(sixteen.pbFormat)->bmiHeader.biBitCount = 16;
    EXPECT_EQ(pin->SetMediaType(&sixteen), E_INVALIDARG);
}

// Each way a header can lie, through every entry point that takes a type.
TEST_F(OutputFormats, MalformedHeadersAreRefusedEverywhere)
{
    IAMStreamConfig* config = static_cast<IAMStreamConfig*>(pin);
    const struct {
        const char* what;
        void (*spoil)(VIDEOINFOHEADER&);
    } cases[] = {
        {"32 bits", [](VIDEOINFOHEADER& v) { v.bmiHeader.biBitCount = 32; }},
        {"0 bits", [](VIDEOINFOHEADER& v) { v.bmiHeader.biBitCount = 0; }},
        {"YUY2 compression", [](VIDEOINFOHEADER& v) { v.bmiHeader.biCompression = MAKEFOURCC('Y', 'U', 'Y', '2'); }},
        {"two planes", [](VIDEOINFOHEADER& v) { v.bmiHeader.biPlanes = 2; }},
        {"biSize 0", [](VIDEOINFOHEADER& v) { v.bmiHeader.biSize = 0; }},
        {"biSize past the block", [](VIDEOINFOHEADER& v) { v.bmiHeader.biSize = 0xFFFFFFFF; }},
        {"biSize one past the block", [](VIDEOINFOHEADER& v) { v.bmiHeader.biSize = 41; }},
        {"top-down", [](VIDEOINFOHEADER& v) { v.bmiHeader.biHeight = -768; }},
        {"image one byte short", [](VIDEOINFOHEADER& v) { v.bmiHeader.biSizeImage = 1024 * 768 * 3 - 1; }},
        {"image 2 GB", [](VIDEOINFOHEADER& v) { v.bmiHeader.biSizeImage = 0x7FFFFFFF; }},
        {"image 4 GB", [](VIDEOINFOHEADER& v) { v.bmiHeader.biSizeImage = 0xFFFFFFFF; }},
        {"negative frame time", [](VIDEOINFOHEADER& v) { v.AvgTimePerFrame = -1; }},
        {"absurd frame time", [](VIDEOINFOHEADER& v) { v.AvgTimePerFrame = 0x7FFFFFFFFFFFFFFFLL; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CMediaType type = Rgb24(1024, 768);
        c.spoil(*reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat));
        EXPECT_EQ(pin->CheckMediaType(&type), E_INVALIDARG);
        EXPECT_EQ(Pin()->QueryAccept(&type), S_FALSE);
        EXPECT_EQ(pin->SetMediaType(&type), E_INVALIDARG);
        EXPECT_EQ(config->SetFormat(&type), E_INVALIDARG);
        EXPECT_NE(Pin()->Connect(&sink, &type), S_OK);
        EXPECT_FALSE(pin->IsConnected());
    }
    int size = -1;
    PinControl()->GetVideoSize(&size);
    EXPECT_EQ(size, 1) << "nothing refused changed the size";

    // What stays accepted: no stated image size, a larger one within reason,
    // no frame time preference.
    CMediaType lenient = Rgb24(1024, 768);
    auto& info = *reinterpret_cast<VIDEOINFOHEADER*>(lenient.pbFormat);
    info.bmiHeader.biSizeImage = 0;
    info.AvgTimePerFrame = 0;
    EXPECT_EQ(pin->CheckMediaType(&lenient), S_OK);
    info.bmiHeader.biSizeImage = 2 * 1024 * 768 * 3;
    EXPECT_EQ(pin->CheckMediaType(&lenient), S_OK);
}

TEST_F(OutputFormats, ALargeStatedImageSizeGivesBuffersOfThatSizeAndNoMore)
{
    CMediaType roomy = Rgb24(1024, 768);
    reinterpret_cast<VIDEOINFOHEADER*>(roomy.pbFormat)->bmiHeader.biSizeImage = 1024 * 768 * 3 + 4096;
    ASSERT_EQ(Pin()->Connect(&sink, &roomy), S_OK);
    EXPECT_EQ(Granted(0).cbBuffer, 1024 * 768 * 3 + 4096);
}

TEST_F(OutputFormats, MalformedTypesAreRefusedWithoutReadingPastTheirBlock)
{
    CMediaType shortBlock = Rgb24(1024, 768);
    shortBlock.cbFormat = sizeof(VIDEOINFOHEADER) - 1;
    EXPECT_EQ(pin->CheckMediaType(&shortBlock), E_INVALIDARG);
    EXPECT_EQ(pin->SetMediaType(&shortBlock), E_INVALIDARG);
    EXPECT_EQ(PinControl()->GetVideoSize(nullptr), E_FAIL);
    shortBlock.cbFormat = sizeof(VIDEOINFOHEADER);

    CMediaType otherFormat = Rgb24(1024, 768);
    otherFormat.formattype = FORMAT_VideoInfo2;
    EXPECT_EQ(pin->CheckMediaType(&otherFormat), E_INVALIDARG);
    EXPECT_EQ(pin->SetMediaType(&otherFormat), E_INVALIDARG);
    EXPECT_EQ(static_cast<IAMStreamConfig*>(pin)->SetFormat(&otherFormat), E_INVALIDARG);

    CMediaType noBlock = Rgb24(1024, 768);
    noBlock.ResetFormatBuffer();
    EXPECT_EQ(pin->CheckMediaType(&noBlock), E_INVALIDARG);
    EXPECT_EQ(pin->SetMediaType(&noBlock), E_INVALIDARG);
    EXPECT_EQ(static_cast<IAMStreamConfig*>(pin)->SetFormat(&noBlock), E_INVALIDARG);
    EXPECT_EQ(pin->CheckMediaType(nullptr), E_POINTER);
    EXPECT_EQ(static_cast<IAMStreamConfig*>(pin)->SetFormat(nullptr), E_POINTER);
}

TEST_F(OutputFormats, StreamCapsOfEachSize)
{
    IAMStreamConfig* config = static_cast<IAMStreamConfig*>(pin);
    int count = 0, size = 0;
    EXPECT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(size, static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)));
    EXPECT_EQ(config->GetNumberOfCapabilities(nullptr, nullptr), S_OK);

    VIDEO_STREAM_CONFIG_CAPS caps;
    AM_MEDIA_TYPE* type = nullptr;
    EXPECT_EQ(config->GetStreamCaps(3, &type, reinterpret_cast<BYTE*>(&caps)), S_FALSE);
    EXPECT_EQ(config->GetStreamCaps(-1, &type, reinterpret_cast<BYTE*>(&caps)), E_INVALIDARG);

    std::memset(&caps, 0xCD, sizeof caps);
    ASSERT_EQ(config->GetStreamCaps(2, nullptr, reinterpret_cast<BYTE*>(&caps)), S_OK);
    EXPECT_EQ(caps.guid, FORMAT_VideoInfo);
    EXPECT_EQ(caps.VideoStandard, 0u);
    EXPECT_EQ(caps.InputSize.cx, 640);
    EXPECT_EQ(caps.InputSize.cy, 480);
    EXPECT_EQ(caps.MaxOutputSize.cx, 640);
    EXPECT_EQ(caps.CropGranularityX, 0);
    EXPECT_EQ(caps.MinBitsPerSecond, 7372800);
    EXPECT_EQ(caps.MaxBitsPerSecond, 221184000);
    // Honest frame intervals: 640 x 480 runs between 25 ms and 362 ms.
    EXPECT_EQ(caps.MinFrameInterval, 250000);
    EXPECT_EQ(caps.MaxFrameInterval, 3620000);

    ASSERT_EQ(config->GetStreamCaps(0, &type, reinterpret_cast<BYTE*>(&caps)), S_OK);
    EXPECT_EQ(caps.MaxBitsPerSecond, 0x7FFFFFFF) << "2,264,924,160 does not fit the field";
    EXPECT_EQ(caps.MinFrameInterval, 830000);
    EXPECT_EQ(Info(type)->bmiHeader.biWidth, 2048);
    DeleteMediaType(type);
}

TEST_F(OutputFormats, SetFormatChoosesTheSizeOfTheNextConnection)
{
    IAMStreamConfig* config = static_cast<IAMStreamConfig*>(pin);
    CMediaType svga = Rgb24(800, 600);
    EXPECT_EQ(config->SetFormat(&svga), E_INVALIDARG);
    CMediaType vga = Rgb24(640, 480);
    ASSERT_EQ(config->SetFormat(&vga), S_OK);
    int size = -1;
    PinControl()->GetVideoSize(&size);
    EXPECT_EQ(size, 2);
    AM_MEDIA_TYPE* current = nullptr;
    ASSERT_EQ(config->GetFormat(&current), S_OK);
    EXPECT_EQ(Info(current)->bmiHeader.biWidth, 640);
    DeleteMediaType(current);
    // From now on the connection takes no other size.
    const CMediaType half = Rgb24(1024, 768);
    EXPECT_EQ(pin->SetMediaType(&half), E_INVALIDARG);
    EXPECT_EQ(pin->SetMediaType(&vga), S_OK);
}

TEST_F(OutputFormats, SetFormatOnAConnectedStoppedPinReconnectsAtTheNewSize)
{
    ConnectToGrabber();
    IAMStreamConfig* config = static_cast<IAMStreamConfig*>(pin);
    CMediaType vga = Rgb24(640, 480);
    ASSERT_TRUE(SUCCEEDED(grabberGraph.control->Run()));
    EXPECT_EQ(config->SetFormat(&vga), VFW_E_WRONG_STATE);
    grabberGraph.control->Stop();

    CMediaType half = Rgb24(1024, 768);
    EXPECT_EQ(config->SetFormat(&half), S_OK) << "the size in use: nothing to do";
    ASSERT_EQ(config->SetFormat(&vga), S_OK);
    int size = -1;
    PinControl()->GetVideoSize(&size);
    EXPECT_EQ(size, 2);
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(Pin()->ConnectionMediaType(&connected), S_OK);
    EXPECT_EQ(Info(&connected)->bmiHeader.biWidth, 640);
    FreeMediaType(connected);

    // And it streams at that size.
    collector.Clear();
    collector.KeepData(1);
    ASSERT_TRUE(SUCCEEDED(grabberGraph.control->Run()));
    ASSERT_TRUE(collector.WaitFor(1));
    grabberGraph.control->Stop();
    EXPECT_EQ(collector.Samples()[0].data.size(), 640u * 480u * 3u);
}

TEST_F(OutputFormats, SetFormatThatCannotReconnectReportsTheFailureAndKeepsTheConnection)
{
    // Connected by hand, outside any graph: there is nobody to reconnect it.
    ASSERT_EQ(Pin()->Connect(&sink, nullptr), S_OK);
    IAMStreamConfig* config = static_cast<IAMStreamConfig*>(pin);
    CMediaType vga = Rgb24(640, 480);
    EXPECT_EQ(config->SetFormat(&vga), VFW_E_NOT_IN_GRAPH);
    int size = -1;
    PinControl()->GetVideoSize(&size);
    EXPECT_EQ(size, 1);
    ASSERT_TRUE(pin->IsConnected());
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(Pin()->ConnectionMediaType(&connected), S_OK);
    EXPECT_EQ(Info(&connected)->bmiHeader.biWidth, 1024);
    FreeMediaType(connected);
}

// 640 x 480 at 300 rows: 45 ms a frame on the normal clock, 25 ms on the fast.
TEST_F(OutputFormats, SetFormatSetsTheFrameRateItIsAskedFor)
{
    IAMStreamConfig* config = static_cast<IAMStreamConfig*>(pin);
    ASSERT_EQ(FilterControl()->SetExposure(FALSE, 100, 300, 20), S_OK);
    const auto withRate = [](REFERENCE_TIME frameTime) {
        CMediaType type = Rgb24(640, 480);
        reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame = frameTime;
        return type;
    };
    const auto speed = [this] {
        BYTE s = 9;
        PinControl()->GetSpeed(&s);
        return s;
    };
    const auto formatFrameTime = [config] {
        AM_MEDIA_TYPE* current = nullptr;
        EXPECT_EQ(config->GetFormat(&current), S_OK);
        const REFERENCE_TIME t = current ? Info(current)->AvgTimePerFrame : -1;
        DeleteMediaType(current);
        return t;
    };
    const struct {
        REFERENCE_TIME requested;
        HRESULT result;
        int speedAfter;
    } steps[] = {
        {10000000 / 40, S_OK, 1},   // 40 frames/s: the fast clock
        {0, S_OK, 1},               // no preference: the rate stays
        {10000000 / 22, S_OK, 0},   // 22 frames/s: the normal clock (45 ms)
        {10000000 / 30, E_INVALIDARG, 0},  // 30 frames/s: neither clock comes within 10 %
        {10000000 / 5, E_INVALIDARG, 0},
        {260000, S_OK, 1},          // 26 ms: the fast clock's 25 ms is near enough
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.requested);
        CMediaType type = withRate(step.requested);
        EXPECT_EQ(config->SetFormat(&type), step.result);
        EXPECT_EQ(speed(), step.speedAfter);
        EXPECT_EQ(formatFrameTime(), FrameDuration100ns(2, static_cast<std::uint8_t>(step.speedAfter), 300))
            << "GetFormat shows the rate in force";
    }

    // Connected and stopped: the connection is made again with the new rate,
    // and the samples are stamped with it.
    CMediaType normal = withRate(450000);
    ASSERT_EQ(config->SetFormat(&normal), S_OK);
    ConnectToGrabber();
    CMediaType fast = withRate(250000);
    ASSERT_EQ(config->SetFormat(&fast), S_OK);
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(Pin()->ConnectionMediaType(&connected), S_OK);
    EXPECT_EQ(Info(&connected)->AvgTimePerFrame, FrameDuration100ns(2, 1, 300));
    EXPECT_EQ(Info(&connected)->bmiHeader.biWidth, 640);
    FreeMediaType(connected);
    collector.Clear();
    ASSERT_TRUE(SUCCEEDED(grabberGraph.control->Run()));
    ASSERT_TRUE(collector.WaitFor(2));
    CMediaType refusedWhileRunning = withRate(450000);
    EXPECT_EQ(config->SetFormat(&refusedWhileRunning), VFW_E_WRONG_STATE);
    grabberGraph.control->Stop();
    const auto samples = collector.Samples();
    EXPECT_EQ(samples[1].stop - samples[1].start, FrameDuration100ns(2, 1, 300));
    EXPECT_EQ(camera->Register(10), 0x8000) << "the sensor ran on the fast clock";
}

TEST_F(OutputFormats, BufferSizing)
{
    ConnectToGrabber();
    ALLOCATOR_PROPERTIES granted = Granted(0);
    EXPECT_EQ(granted.cBuffers, 3);
    EXPECT_EQ(granted.cbBuffer, 2359296);
    ComPtr<IMemAllocator> allocator;
    ASSERT_EQ(::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                 reinterpret_cast<void**>(allocator.GetAddressOf())),
              S_OK);
    ALLOCATOR_PROPERTIES request{5, 0, 1, 0};
    ASSERT_EQ(pin->DecideBufferSize(allocator.Get(), &request), S_OK);
    allocator->GetProperties(&granted);
    EXPECT_EQ(granted.cBuffers, 5);
    EXPECT_EQ(pin->DecideBufferSize(nullptr, &request), E_POINTER);
    EXPECT_EQ(pin->DecideBufferSize(allocator.Get(), nullptr), E_POINTER);
}

TEST_F(OutputFormats, PinCategoryIsCapture)
{
    IKsPropertySet* properties = static_cast<IKsPropertySet*>(pin);
    DWORD returned = 0;
    EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 0, &returned), S_OK);
    EXPECT_EQ(returned, 16u);
    GUID category = GUID_NULL;
    BYTE small[12];
    EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, small, sizeof small, &returned),
              E_UNEXPECTED);
    EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof category, nullptr),
              S_OK);
    EXPECT_EQ(category, PIN_CATEGORY_CAPTURE);
    EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 0, nullptr), E_POINTER);
    EXPECT_EQ(properties->Get(AMPROPSETID_Pin, 1, nullptr, 0, &category, sizeof category, &returned),
              E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(properties->Get(GUID_NULL, 0, nullptr, 0, &category, sizeof category, &returned), E_PROP_SET_UNSUPPORTED);
    DWORD support = 0;
    EXPECT_EQ(properties->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, &support), S_OK);
    EXPECT_EQ(support, static_cast<DWORD>(KSPROPERTY_SUPPORT_GET));
    EXPECT_EQ(properties->QuerySupported(GUID_NULL, 0, &support), E_PROP_SET_UNSUPPORTED);
    EXPECT_EQ(properties->Set(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof category),
              E_NOTIMPL);
}

TEST_F(OutputFormats, PinPagesAndQuality)
{
    CAUUID pages{};
    ASSERT_EQ(static_cast<ISpecifyPropertyPages*>(pin)->GetPages(&pages), S_OK);
    ASSERT_EQ(pages.cElems, 1u);
    EXPECT_EQ(pages.pElems[0], kClsidSizePage);
    ::CoTaskMemFree(pages.pElems);
    EXPECT_EQ(static_cast<ISpecifyPropertyPages*>(pin)->GetPages(nullptr), E_POINTER);
    EXPECT_EQ(static_cast<IQualityControl*>(pin)->Notify(Filter(), Quality{}), E_FAIL);
    PIN_INFO info;
    ASSERT_EQ(Pin()->QueryPinInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"Out");
    info.pFilter->Release();
}

}  // namespace
}  // namespace kv20x::test
