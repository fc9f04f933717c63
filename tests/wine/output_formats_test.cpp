// The capture pin's formats, buffer sizing and configuration interfaces.

#include "support/pin_fixture.h"

#include <ks.h>

#include <cstring>
#include <vector>

#include "pin/media_subtypes.h"
#include "pin/video_format.h"
#include "settings/class_ids.h"
#include "support/pipeline_oracle.h"

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

// A well-formed type of `format`.
CMediaType TypeOf(PictureFormat format, LONG width, LONG height)
{
    const PictureLayout layout = LayoutOf(format, width, height);
    CMediaType type = Rgb24(width, height);
    auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat);
    info->bmiHeader.biBitCount = layout.bitCount;
    info->bmiHeader.biCompression = layout.compression;
    info->bmiHeader.biSizeImage = layout.imageBytes;
    type.subtype = SubtypeOf(format);
    type.SetSampleSize(layout.imageBytes);
    return type;
}

constexpr PictureFormat kFormats[] = {PictureFormat::Rgb24, PictureFormat::Yuy2, PictureFormat::Nv12,
                                      PictureFormat::I420, PictureFormat::Rgb32};

const VIDEOINFOHEADER* Info(const AM_MEDIA_TYPE* type)
{
    return reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
}

TEST_F(OutputFormats, OffersEveryFormatAtTheThreeSizesRgb24FirstButAcceptsOnlyTheCurrentSize)
{
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(Pin()->EnumMediaTypes(&types), S_OK);
    const LONG sizes[3][2] = {{2048, 1536}, {1024, 768}, {640, 480}};
    const struct {
        GUID subtype;
        WORD bitCount;
        DWORD compression;
        DWORD bytesPerTwoPixels;
    } formats[] = {
        {MEDIASUBTYPE_RGB24, 24, BI_RGB, 6},
        {FourCharacterCodeSubtype(MAKEFOURCC('Y', 'U', 'Y', '2')), 16, MAKEFOURCC('Y', 'U', 'Y', '2'), 4},
        {FourCharacterCodeSubtype(MAKEFOURCC('N', 'V', '1', '2')), 12, MAKEFOURCC('N', 'V', '1', '2'), 3},
        {FourCharacterCodeSubtype(MAKEFOURCC('I', '4', '2', '0')), 12, MAKEFOURCC('I', '4', '2', '0'), 3},
        {MEDIASUBTYPE_RGB32, 32, BI_RGB, 8},
    };
    for (const auto& format : formats) {
        for (const auto& size : sizes) {
            SCOPED_TRACE(testing::Message() << format.bitCount << " bits, " << size[0]);
            AM_MEDIA_TYPE* type = nullptr;
            ASSERT_EQ(types->Next(1, &type, nullptr), S_OK);
            EXPECT_EQ(type->majortype, MEDIATYPE_Video);
            EXPECT_EQ(type->subtype, format.subtype);
            EXPECT_EQ(type->formattype, FORMAT_VideoInfo);
            EXPECT_TRUE(type->bFixedSizeSamples);
            EXPECT_FALSE(type->bTemporalCompression);
            EXPECT_EQ(type->pUnk, nullptr);
            ASSERT_EQ(type->cbFormat, sizeof(VIDEOINFOHEADER));
            const BITMAPINFOHEADER& header = Info(type)->bmiHeader;
            EXPECT_EQ(header.biSize, 40u);
            EXPECT_EQ(header.biWidth, size[0]);
            EXPECT_EQ(header.biHeight, size[1]) << "positive: bottom-up RGB, YUV as the platform describes it";
            EXPECT_EQ(header.biPlanes, 1);
            EXPECT_EQ(header.biBitCount, format.bitCount);
            EXPECT_EQ(header.biCompression, format.compression);
            EXPECT_EQ(header.biSizeImage, static_cast<DWORD>(size[0] * size[1] / 2 * format.bytesPerTwoPixels));
            EXPECT_EQ(type->lSampleSize, header.biSizeImage);
            EXPECT_EQ(Info(type)->AvgTimePerFrame,
                      FrameDuration100ns(static_cast<SizeMode>(&size - sizes), 0, 300));
            EXPECT_EQ(Pin()->QueryAccept(type), size[0] == 1024 ? S_OK : S_FALSE);
            DeleteMediaType(type);
        }
    }
    AM_MEDIA_TYPE* none = nullptr;
    EXPECT_EQ(types->Next(1, &none, nullptr), S_FALSE);
    CMediaType past;
    EXPECT_EQ(pin->GetMediaType(15, &past), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(pin->GetMediaType(-1, &past), E_INVALIDARG);
    // I420 also answers to its other name.
    CMediaType iyuv = TypeOf(PictureFormat::I420, 1024, 768);
    iyuv.subtype = MEDIASUBTYPE_IYUV;
    reinterpret_cast<VIDEOINFOHEADER*>(iyuv.pbFormat)->bmiHeader.biCompression = MAKEFOURCC('I', 'Y', 'U', 'V');
    EXPECT_EQ(Pin()->QueryAccept(&iyuv), S_OK);
}

// Every format streams the picture RGB24 would, converted by the documented
// rule, in samples of its own size; and every one reaches the next
// connection through SetFormat, a connected pin reconnecting for it.
TEST_F(OutputFormats, EveryFormatStreamsTheRgb24PictureConvertedByTheRule)
{
    ASSERT_EQ(FilterControl()->SetExposure(FALSE, 100, 300, 20), S_OK);
    ASSERT_EQ(PinControl()->SetVideoSize(2), S_OK);
    for (const PictureFormat format : kFormats) {
        SCOPED_TRACE(PictureFormatName(format));
        const PictureLayout layout = LayoutOf(format, 640, 480);
        collector.Clear();
        collector.KeepData(2);
        ASSERT_EQ(grabberGraph.Build(Filter(), &collector, SubtypeOf(format)), S_OK);
        ASSERT_EQ(grabberGraph.ConnectAll(Filter()), S_OK);
        AM_MEDIA_TYPE connected{};
        ASSERT_EQ(Pin()->ConnectionMediaType(&connected), S_OK);
        EXPECT_EQ(connected.subtype, SubtypeOf(format));
        FreeMediaType(connected);
        camera->ClearLog();
        ASSERT_TRUE(SUCCEEDED(grabberGraph.control->Run()));
        ASSERT_TRUE(collector.WaitFor(2));
        grabberGraph.control->Stop();
        const auto samples = collector.Samples();
        const auto frames = camera->Frames();
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(samples[i].length, static_cast<long>(layout.imageBytes));
            CameraSettings settings;
            settings.AutoExposure = 0;
            const oracle::Bytes rgb = ExpectedPicture(*camera, frames[i], 2, settings);
            EXPECT_TRUE(samples[i].data == oracle::Convert(rgb, 640, 480, format)) << "sample " << i;
        }
        grabberGraph.Release();
        static_cast<IPin*>(pin)->Disconnect();
    }

    // Chosen with SetFormat: the next connection has it, and a connected,
    // stopped pin is connected again with another.
    IAMStreamConfig* config = static_cast<IAMStreamConfig*>(pin);
    CMediaType nv12 = TypeOf(PictureFormat::Nv12, 640, 480);
    ASSERT_EQ(config->SetFormat(&nv12), S_OK);
    AM_MEDIA_TYPE* current = nullptr;
    ASSERT_EQ(config->GetFormat(&current), S_OK);
    EXPECT_EQ(current->subtype, nv12.subtype);
    DeleteMediaType(current);
    const CMediaType rgb = TypeOf(PictureFormat::Rgb24, 640, 480);
    EXPECT_EQ(pin->CheckMediaType(&rgb), E_INVALIDARG) << "the format chosen is the only one now";
    ASSERT_EQ(grabberGraph.Build(Filter(), &collector, GUID_NULL), S_OK);
    ASSERT_EQ(grabberGraph.ConnectAll(Filter()), S_OK);
    for (const PictureFormat format : {PictureFormat::I420, PictureFormat::Rgb32, PictureFormat::Yuy2}) {
        CMediaType next = TypeOf(format, 640, 480);
        ASSERT_EQ(config->SetFormat(&next), S_OK) << PictureFormatName(format);
        AM_MEDIA_TYPE now{};
        ASSERT_EQ(Pin()->ConnectionMediaType(&now), S_OK);
        EXPECT_EQ(now.subtype, SubtypeOf(format));
        FreeMediaType(now);
    }
    collector.Clear();
    ASSERT_TRUE(SUCCEEDED(grabberGraph.control->Run()));
    ASSERT_TRUE(collector.WaitFor(1));
    grabberGraph.control->Stop();
    EXPECT_EQ(collector.Samples()[0].length, 640 * 480 * 2) << "YUY2 after the reconnections";
}

// The bad input of every new format, as for RGB24: refused by every entry
// point that takes a type, with nothing changed.
TEST_F(OutputFormats, MalformedTypesOfEveryFormatAreRefusedEverywhere)
{
    IAMStreamConfig* config = static_cast<IAMStreamConfig*>(pin);
    const struct {
        const char* what;
        void (*spoil)(CMediaType&);
    } cases[] = {
        {"bit count of another format", [](CMediaType& t) { ++reinterpret_cast<VIDEOINFOHEADER*>(t.pbFormat)->bmiHeader.biBitCount; }},
        {"image one byte short", [](CMediaType& t) { --reinterpret_cast<VIDEOINFOHEADER*>(t.pbFormat)->bmiHeader.biSizeImage; }},
        {"image 4 GB", [](CMediaType& t) { reinterpret_cast<VIDEOINFOHEADER*>(t.pbFormat)->bmiHeader.biSizeImage = 0xFFFFFFFF; }},
        {"negative height", [](CMediaType& t) { reinterpret_cast<VIDEOINFOHEADER*>(t.pbFormat)->bmiHeader.biHeight = -768; }},
        {"odd size", [](CMediaType& t) {
             auto& h = reinterpret_cast<VIDEOINFOHEADER*>(t.pbFormat)->bmiHeader;
             h.biWidth = 1023;
             h.biHeight = 767;
         }},
        {"a stride that does not fit", [](CMediaType& t) {
             reinterpret_cast<VIDEOINFOHEADER*>(t.pbFormat)->rcTarget = RECT{0, 0, 2048, 768};
         }},
        {"part of the picture", [](CMediaType& t) {
             reinterpret_cast<VIDEOINFOHEADER*>(t.pbFormat)->rcSource = RECT{0, 0, 512, 384};
         }},
        {"VideoInfo2 format type", [](CMediaType& t) { t.formattype = FORMAT_VideoInfo2; }},
        {"a block too short", [](CMediaType& t) { t.cbFormat = sizeof(VIDEOINFOHEADER) - 1; }},
        {"absurd frame time", [](CMediaType& t) { reinterpret_cast<VIDEOINFOHEADER*>(t.pbFormat)->AvgTimePerFrame = 1; }},
    };
    for (const PictureFormat format : kFormats) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << PictureFormatName(format) << ": " << c.what);
            CMediaType type = TypeOf(format, 1024, 768);
            c.spoil(type);
            EXPECT_EQ(pin->CheckMediaType(&type), E_INVALIDARG);
            EXPECT_EQ(Pin()->QueryAccept(&type), S_FALSE);
            EXPECT_EQ(pin->SetMediaType(&type), E_INVALIDARG);
            EXPECT_EQ(config->SetFormat(&type), E_INVALIDARG);
            EXPECT_NE(Pin()->Connect(&sink, &type), S_OK);
            EXPECT_FALSE(pin->IsConnected());
        }
    }
    AM_MEDIA_TYPE* current = nullptr;
    ASSERT_EQ(config->GetFormat(&current), S_OK);
    EXPECT_EQ(current->subtype, MEDIASUBTYPE_RGB24) << "nothing refused changed the format";
    EXPECT_EQ(Info(current)->bmiHeader.biWidth, 1024);
    DeleteMediaType(current);
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
    EXPECT_EQ(count, 15);
    EXPECT_EQ(size, static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)));
    EXPECT_EQ(config->GetNumberOfCapabilities(nullptr, nullptr), S_OK);

    VIDEO_STREAM_CONFIG_CAPS caps;
    AM_MEDIA_TYPE* type = nullptr;
    EXPECT_EQ(config->GetStreamCaps(15, &type, reinterpret_cast<BYTE*>(&caps)), S_FALSE);
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

    // One entry for each type the pin offers, in the same order, with the
    // same rate range at a size whatever the format.
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(Pin()->EnumMediaTypes(&types), S_OK);
    for (int index = 0; index < 15; ++index) {
        AM_MEDIA_TYPE* enumerated = nullptr;
        ASSERT_EQ(types->Next(1, &enumerated, nullptr), S_OK);
        ASSERT_EQ(config->GetStreamCaps(index, &type, reinterpret_cast<BYTE*>(&caps)), S_OK);
        EXPECT_EQ(type->subtype, enumerated->subtype) << index;
        EXPECT_EQ(Info(type)->bmiHeader.biWidth, Info(enumerated)->bmiHeader.biWidth) << index;
        EXPECT_EQ(caps.InputSize.cx, Info(type)->bmiHeader.biWidth);
        EXPECT_EQ(caps.MinBitsPerSecond, type->lSampleSize * 8);
        VIDEO_STREAM_CONFIG_CAPS rgb{};
        ASSERT_EQ(config->GetStreamCaps(index % 3, nullptr, reinterpret_cast<BYTE*>(&rgb)), S_OK);
        EXPECT_EQ(caps.MinFrameInterval, rgb.MinFrameInterval);
        EXPECT_EQ(caps.MaxFrameInterval, rgb.MaxFrameInterval);
        DeleteMediaType(type);
        DeleteMediaType(enumerated);
    }
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

CMediaType WithRate(CMediaType type, REFERENCE_TIME frameTime)
{
    reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame = frameTime;
    return type;
}

REFERENCE_TIME FrameTimeOf(const AM_MEDIA_TYPE* type)
{
    return Info(type)->AvgTimePerFrame;
}

// The rates an application asks for at a size, from what the caps offer:
// both ends, the middle, and 15 and 30 frames/s where the range holds them.
std::vector<REFERENCE_TIME> RatesToAskFor(const VIDEO_STREAM_CONFIG_CAPS& caps)
{
    std::vector<REFERENCE_TIME> rates = {caps.MinFrameInterval, caps.MaxFrameInterval,
                                         (caps.MinFrameInterval + caps.MaxFrameInterval) / 2};
    for (const REFERENCE_TIME common : {333333LL, 666667LL})
        if (common > caps.MinFrameInterval && common < caps.MaxFrameInterval)
            rates.push_back(common);
    return rates;
}

// What GetStreamCaps advertises is honoured: every rate asked for connects,
// GetFormat, the connection and the samples all say it, and the samples come
// at that rate (their times are the camera's, frames held back included).
TEST_F(OutputFormats, EveryAdvertisedRateConnectsAndIsKept)
{
    IAMStreamConfig* config = static_cast<IAMStreamConfig*>(pin);
    ConnectToGrabber();
    for (int index = 0; index < kSizeModeCount; ++index) {
        AM_MEDIA_TYPE* offered = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps{};
        ASSERT_EQ(config->GetStreamCaps(index, &offered, reinterpret_cast<BYTE*>(&caps)), S_OK);
        const CMediaType base(*offered);
        DeleteMediaType(offered);
        for (const REFERENCE_TIME rate : RatesToAskFor(caps)) {
            SCOPED_TRACE(testing::Message() << "size " << index << ", " << rate << " x 100 ns");
            CMediaType asked = WithRate(base, rate);
            ASSERT_EQ(config->SetFormat(&asked), S_OK);
            AM_MEDIA_TYPE* format = nullptr;
            ASSERT_EQ(config->GetFormat(&format), S_OK);
            EXPECT_EQ(FrameTimeOf(format), rate);
            EXPECT_EQ(Info(format)->bmiHeader.biWidth, SizeModeWidth(index));
            DeleteMediaType(format);
            AM_MEDIA_TYPE connected{};
            ASSERT_EQ(Pin()->ConnectionMediaType(&connected), S_OK);
            EXPECT_EQ(FrameTimeOf(&connected), rate);
            FreeMediaType(connected);

            collector.Clear();
            ASSERT_TRUE(SUCCEEDED(grabberGraph.control->Run()));
            ASSERT_TRUE(collector.WaitFor(11));
            grabberGraph.control->Stop();
            const auto samples = collector.Samples();
            for (size_t i = 1; i < samples.size(); ++i)
                ASSERT_EQ(samples[i].start, samples[i - 1].stop) << i;
            // Ten intervals after the first sample, which always goes out.
            const double average = (samples[10].stop - samples[0].stop) / 10.0;
            EXPECT_NEAR(average, static_cast<double>(rate), 0.12 * static_cast<double>(rate));
        }
        // Just past either end of the range is refused, and nothing changes.
        for (const REFERENCE_TIME outside : {caps.MinFrameInterval * 97 / 100, caps.MaxFrameInterval * 103 / 100}) {
            CMediaType refused = WithRate(base, outside);
            EXPECT_EQ(config->SetFormat(&refused), E_INVALIDARG) << outside;
        }
    }
}

// A type handed back as the pin offered it asks for no rate: a clock chosen
// afterwards (the tool's --speed, the setup page) is the one that runs.
TEST_F(OutputFormats, ATypeHandedBackAsOfferedLeavesTheClockToTheSettings)
{
    IAMStreamConfig* config = static_cast<IAMStreamConfig*>(pin);
    AM_MEDIA_TYPE* offered = nullptr;
    ASSERT_EQ(config->GetStreamCaps(1, &offered, nullptr), S_OK);
    EXPECT_EQ(FrameTimeOf(offered), FrameDuration100ns(1, 0, 300));
    ASSERT_EQ(config->SetFormat(offered), S_OK);
    DeleteMediaType(offered);
    ASSERT_EQ(PinControl()->SetSpeed(1), S_OK);
    ASSERT_EQ(Pin()->Connect(&sink, nullptr), S_OK);
    BYTE speed = 0;
    PinControl()->GetSpeed(&speed);
    EXPECT_EQ(speed, 1);
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(Pin()->ConnectionMediaType(&connected), S_OK);
    EXPECT_EQ(FrameTimeOf(&connected), FrameDuration100ns(1, 1, 300));
    FreeMediaType(connected);
    ComPtr<IAMVideoControl> video;
    ASSERT_EQ(Filter()->QueryInterface(IID_PPV_ARGS(&video)), S_OK);
    LONGLONG actual = 0;
    ASSERT_EQ(video->GetCurrentActualFrameRate(Pin(), &actual), S_OK);
    EXPECT_EQ(actual, FrameDuration100ns(1, 1, 300)) << "nothing held back";
}

// With auto exposure off, the exposure sets the shortest frame; the range
// advertised follows it and its shortest interval is still kept.
TEST_F(OutputFormats, AManualExposureShiftsTheRangeAndItsEndIsKept)
{
    IAMStreamConfig* config = static_cast<IAMStreamConfig*>(pin);
    ASSERT_EQ(FilterControl()->SetExposure(FALSE, 100, 800, 20), S_OK);
    for (int index = 0; index < kSizeModeCount; ++index) {
        VIDEO_STREAM_CONFIG_CAPS caps{};
        AM_MEDIA_TYPE* offered = nullptr;
        ASSERT_EQ(config->GetStreamCaps(index, &offered, reinterpret_cast<BYTE*>(&caps)), S_OK);
        EXPECT_EQ(caps.MinFrameInterval, FrameDuration100ns(index, 1, 800)) << index;
        CMediaType fastest = WithRate(CMediaType(*offered), caps.MinFrameInterval);
        DeleteMediaType(offered);
        EXPECT_EQ(config->SetFormat(&fastest), S_OK) << index;
        BYTE speed = 0;
        PinControl()->GetSpeed(&speed);
        EXPECT_EQ(speed, 1) << "the fast clock";
    }
    // 640 x 480: 800 rows make 40 ms the shortest; 30 frames/s is past it.
    CMediaType thirty = WithRate(Rgb24(640, 480), 333333);
    EXPECT_EQ(config->SetFormat(&thirty), E_INVALIDARG);
}

// One rate, one answer: a type's rate is checked wherever a type comes in,
// the connection keeps what was agreed, and GetFormat reports the connection.
TEST_F(OutputFormats, TheConnectionsRateIsCheckedKeptAndReported)
{
    IAMStreamConfig* config = static_cast<IAMStreamConfig*>(pin);
    ASSERT_EQ(PinControl()->SetVideoSize(2), S_OK);
    // 640 x 480 offers 25 ms to 362 ms.
    for (const REFERENCE_TIME absurd : {1LL, 100000LL, 240000LL, 3800000LL, 100000000LL}) {
        const CMediaType type = WithRate(Rgb24(640, 480), absurd);
        EXPECT_EQ(pin->CheckMediaType(&type), E_INVALIDARG) << absurd;
        EXPECT_EQ(Pin()->QueryAccept(&type), S_FALSE) << absurd;
        EXPECT_EQ(pin->SetMediaType(&type), E_INVALIDARG) << absurd;
        EXPECT_NE(Pin()->Connect(&sink, &type), S_OK) << absurd;
        EXPECT_FALSE(pin->IsConnected());
    }

    // No rate: the camera's own pace at the current clock goes into the
    // connection.
    const CMediaType none = WithRate(Rgb24(640, 480), 0);
    ASSERT_EQ(Pin()->Connect(&sink, &none), S_OK);
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(Pin()->ConnectionMediaType(&connected), S_OK);
    EXPECT_EQ(FrameTimeOf(&connected), FrameDuration100ns(2, 0, 300));
    FreeMediaType(connected);
    static_cast<IPin*>(pin)->Disconnect();
    sink.Disconnect();

    // 30 frames/s, connected directly: the fast clock, held back to 30.
    const CMediaType thirty = WithRate(Rgb24(640, 480), 333333);
    ASSERT_EQ(Pin()->Connect(&sink, &thirty), S_OK);
    BYTE speed = 0;
    PinControl()->GetSpeed(&speed);
    EXPECT_EQ(speed, 1);
    AM_MEDIA_TYPE* format = nullptr;
    ASSERT_EQ(config->GetFormat(&format), S_OK);
    EXPECT_EQ(FrameTimeOf(format), 333333) << "the connection's type, not one rebuilt from the settings";
    DeleteMediaType(format);
    ComPtr<IAMVideoControl> video;
    ASSERT_EQ(Filter()->QueryInterface(IID_PPV_ARGS(&video)), S_OK);
    LONGLONG actual = 0;
    ASSERT_EQ(video->GetCurrentActualFrameRate(Pin(), &actual), S_OK);
    EXPECT_EQ(actual, 333333);

    // A later change of clock leaves the connection as agreed; the rate
    // delivered is the camera's when it becomes slower than the connection's.
    ASSERT_EQ(PinControl()->SetSpeed(0), S_OK);
    ASSERT_EQ(config->GetFormat(&format), S_OK);
    EXPECT_EQ(FrameTimeOf(format), 333333);
    DeleteMediaType(format);
    ASSERT_EQ(video->GetCurrentActualFrameRate(Pin(), &actual), S_OK);
    EXPECT_EQ(actual, FrameDuration100ns(2, 0, 300));
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
