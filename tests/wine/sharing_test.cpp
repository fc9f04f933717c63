// One camera, several filter instances, and a filter that is only listed:
// a second instance is refused before it sends the camera anything, the
// first streams on undisturbed, queries never wait for the camera or touch
// it, and a refused start leaves the graph one can tear down.

#include "support/pin_fixture.h"

#include <tlhelp32.h>

#include <thread>

#include "device/camera_claim.h"

namespace kv20x::test {
namespace {

using std::chrono::milliseconds;

// A second filter instance with a sink of its own, in a graph of its own.
struct SecondInstance {
    SecondInstance()
    {
        HRESULT hr = S_OK;
        filter = static_cast<CKV20X*>(CKV20X::CreateInstance(nullptr, &hr));
        filter->NonDelegatingAddRef();
    }
    ~SecondInstance()
    {
        graph.Release();
        if (filter->Pin()->IsConnected()) {
            static_cast<IPin*>(filter->Pin())->Disconnect();
            sink.Disconnect();
        }
        static_cast<IBaseFilter*>(filter)->Release();
    }
    IBaseFilter* Filter() { return static_cast<IBaseFilter*>(filter); }
    void Connect()
    {
        ASSERT_EQ(graph.Build(Filter()), S_OK);
        ASSERT_EQ(static_cast<IPin*>(filter->Pin())->Connect(&sink, nullptr), S_OK);
    }
    CKV20X* filter = nullptr;
    SinkGraph graph;
    TestSink sink;
};

int ThreadsOfThisProcess()
{
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{sizeof entry};
    int count = 0;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == ::GetCurrentProcessId();
    ::CloseHandle(snapshot);
    return count;
}

// Every query an application that only lists cameras makes: pins, formats,
// stream caps, every standard property, every IKV20X getter. Returns the
// first that did not answer S_OK, or S_OK.
HRESULT ListEverything(IBaseFilter* filter)
{
    HRESULT first = S_OK;
    const auto check = [&first](HRESULT hr) {
        if (hr != S_OK && first == S_OK)
            first = hr;
    };
    ComPtr<IEnumPins> pins;
    check(filter->EnumPins(&pins));
    ComPtr<IPin> out;
    check(pins->Next(1, &out, nullptr));
    ComPtr<IEnumMediaTypes> types;
    check(out->EnumMediaTypes(&types));
    AM_MEDIA_TYPE* type = nullptr;
    while (types->Next(1, &type, nullptr) == S_OK)
        DeleteMediaType(type);
    ComPtr<IAMStreamConfig> config;
    check(out->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(config.GetAddressOf())));
    for (int i = 0; i < 3; ++i) {
        VIDEO_STREAM_CONFIG_CAPS caps{};
        check(config->GetStreamCaps(i, &type, reinterpret_cast<BYTE*>(&caps)));
        DeleteMediaType(type);
    }
    check(config->GetFormat(&type));
    DeleteMediaType(type);
    ComPtr<IAMVideoProcAmp> procAmp;
    check(filter->QueryInterface(IID_IAMVideoProcAmp, reinterpret_cast<void**>(procAmp.GetAddressOf())));
    for (long property : {VideoProcAmp_Contrast, VideoProcAmp_Gamma, VideoProcAmp_Saturation, VideoProcAmp_ColorEnable,
                          VideoProcAmp_Gain}) {
        long min, max, step, def, caps, value, flags;
        check(procAmp->GetRange(property, &min, &max, &step, &def, &caps));
        check(procAmp->Get(property, &value, &flags));
    }
    ComPtr<IAMCameraControl> control;
    check(filter->QueryInterface(IID_IAMCameraControl, reinterpret_cast<void**>(control.GetAddressOf())));
    long min, max, step, def, caps, value, flags;
    check(control->GetRange(CameraControl_Exposure, &min, &max, &step, &def, &caps));
    check(control->Get(CameraControl_Exposure, &value, &flags));
    ComPtr<IKV20X> camera;
    check(filter->QueryInterface(IID_IKV20X, reinterpret_cast<void**>(camera.GetAddressOf())));
    int size;
    BOOL a, b;
    BYTE r, g, bl, t;
    WORD rows, gain;
    LONG rowTime;
    check(camera->GetVideoSize(&size));
    check(camera->GetWhiteBalance(&a, &r, &g, &bl));
    check(camera->GetExposure(&a, &t, &rows, &gain));
    check(camera->GetSpeed(&t));
    check(camera->GetGamma(&t));
    check(camera->GetContrast(&t));
    check(camera->GetColorEnhancement(&a, &t));
    check(camera->GetMonoMode(&a));
    check(camera->GetVerticalFlip(&a));
    check(camera->GetHorizontalMirror(&b));
    check(camera->GetPowerFrequency(&a));
    check(camera->GetParameterGroup(&t));
    check(camera->GetRowTime(&rowTime));
    return first;
}

class Sharing : public FilterFixture {};

TEST_F(Sharing, ASecondInstanceIsRefusedAtOnceAndTheFirstStreamsOnUndisturbed)
{
    ASSERT_EQ(PinControl()->SetExposure(FALSE, 100, 300, 20), S_OK);
    ConnectToSink();
    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
    ASSERT_TRUE(sink.WaitForSamples(3));

    SecondInstance second;
    second.Connect();
    camera->ClearLog();
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(second.Filter()->Pause(), kCameraInUse);
    EXPECT_LT(std::chrono::steady_clock::now() - before, milliseconds(1000));
    EXPECT_TRUE(camera->Log().empty()) << "not a single request from the second instance";
    FILTER_STATE state = State_Running;
    second.Filter()->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);
    EXPECT_EQ(second.Filter()->Stop(), S_OK);

    // The first goes on at its size and rate, without a gap.
    const size_t seen = sink.ReceivedCount();
    ASSERT_TRUE(sink.WaitForSamples(seen + 5));
    EXPECT_EQ(sinkGraph.control->Stop(), S_OK);
    const auto samples = sink.ReceivedSamples();
    for (size_t i = 1; i < samples.size(); ++i) {
        EXPECT_EQ(samples[i].start, samples[i - 1].stop);
        EXPECT_EQ(samples[i].stop - samples[i].start, FrameDuration100ns(1, 0, 300));
        EXPECT_EQ(samples[i].length, static_cast<long>(SizeModeImageBytes(1)));
    }
    EXPECT_FALSE(sinkGraph.Saw(EC_ERRORABORT));

    // The first has let go: the second streams.
    ASSERT_TRUE(SUCCEEDED(second.graph.control->Run()));
    EXPECT_TRUE(second.sink.WaitForSamples(2));
    EXPECT_EQ(second.graph.control->Stop(), S_OK);
}

// The claim itself: one holder at a time, and a holder's thread that ends
// without giving it back leaves it to the next.
TEST_F(Sharing, TheClaimGoesWithAHolderThatEnds)
{
    CameraClaim mine;
    ASSERT_EQ(mine.Acquire("\\\\.\\vx41k-0"), S_OK);
    HRESULT other = S_OK;
    std::thread([&other] {
        CameraClaim theirs;
        other = theirs.Acquire("\\\\.\\vx41k-0");
    }).join();
    EXPECT_EQ(other, kCameraInUse);
    mine.Release();

    std::thread([] {
        static CameraClaim abandoned;  // its thread ends holding it
        EXPECT_EQ(abandoned.Acquire("\\\\.\\vx41k-0"), S_OK);
    }).join();
    EXPECT_EQ(mine.Acquire("\\\\.\\vx41k-0"), S_OK) << "taken over from a thread that ended";
    mine.Release();
    CameraClaim elsewhere;
    EXPECT_EQ(elsewhere.Acquire("\\\\.\\vx41k-1"), S_OK) << "another camera is another claim";
}

// Creating and listing a filter: no thread, no device, nothing written.
TEST_F(Sharing, AFilterThatIsOnlyListedTouchesNothing)
{
    ReleaseEverything();
    ClearStoredSettings();
    camera->ClearLog();
    const int threads = ThreadsOfThisProcess();
    CreateFilter();
    EXPECT_EQ(ThreadsOfThisProcess(), threads) << "creating the filter starts no thread";
    EXPECT_EQ(ListEverything(Filter()), S_OK);
    EXPECT_TRUE(camera->Log().empty()) << "listing sends the camera nothing";
    EXPECT_EQ(camera->OpenPorts(), 0);
    HKEY key = nullptr;
    EXPECT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\ORBILUX ", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND)
        << "nothing is written to the registry";
    if (key)
        ::RegCloseKey(key);
    EXPECT_EQ(ThreadsOfThisProcess(), threads);
    ReleaseEverything();
    EXPECT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\ORBILUX ", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND)
        << "nor when it goes, unchanged";
    if (key)
        ::RegCloseKey(key);
    CreateFilter();
}

// A filter that was only listed does not put back, when it goes, what it
// loaded over what another instance has saved meanwhile.
TEST_F(Sharing, AListedFilterLeavesAnotherInstancesSavedSettingsAlone)
{
    SecondInstance changer;
    IKV20X* other = static_cast<IKV20X*>(changer.filter);
    ASSERT_EQ(other->SetGamma(170), S_OK);
    ASSERT_EQ(other->SaveSettings(), S_OK);
    ReleaseEverything();  // the listed one, which loaded gamma 100
    EXPECT_EQ(StoredDword("Software\\ORBILUX \\KV20X\\dshow", "Gamma"), 170);
    CreateFilter();
    BYTE gamma = 0;
    FilterControl()->GetGamma(&gamma);
    EXPECT_EQ(gamma, 170);
}

// No camera at all: every query answers as before, and the start fails
// with "no capture hardware".
TEST_F(Sharing, WithoutACameraQueriesAnswerAndTheStartSaysNoCaptureHardware)
{
    UseCamera(nullptr);
    ReleaseEverything();
    CreateFilter();
    EXPECT_EQ(ListEverything(Filter()), S_OK);
    ConnectToSink();
    EXPECT_EQ(Filter()->Pause(), VFW_E_NO_CAPTURE_HARDWARE);
    EXPECT_FALSE(pin->ThreadExists());
    EXPECT_EQ(Filter()->Stop(), S_OK);
    UseCamera(camera);
}

// A getter or a format query while a start waits in the camera's
// programming: it answers at once. The start is held at its first wait
// until the queries are done; a query that waited for it would never end.
TEST_F(Sharing, QueriesDoNotWaitForADeviceStartInProgress)
{
    UniqueHandle inStart(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle release(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    camera->OnDelay([&] {
        ::SetEvent(inStart.get());
        ::WaitForSingleObject(release.get(), 20000);
    });
    ConnectToSink();
    SecondInstance other;
    HRESULT paused = E_UNEXPECTED;
    std::thread starter([&] { paused = Filter()->Pause(); });
    ASSERT_EQ(::WaitForSingleObject(inStart.get(), 10000), WAIT_OBJECT_0);

    HRESULT listedHere = E_UNEXPECTED, listedThere = E_UNEXPECTED;
    UniqueHandle done(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::thread lister([&] {
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        listedHere = ListEverything(Filter());
        listedThere = ListEverything(other.Filter());
        ::CoUninitialize();
        ::SetEvent(done.get());
    });
    EXPECT_EQ(::WaitForSingleObject(done.get(), 10000), WAIT_OBJECT_0) << "a query waited for the device start";
    ::SetEvent(release.get());
    lister.join();
    starter.join();
    camera->OnDelay(nullptr);
    EXPECT_EQ(listedHere, S_OK);
    EXPECT_EQ(listedThere, S_OK);
    EXPECT_EQ(paused, S_OK);
    EXPECT_EQ(Filter()->Stop(), S_OK);
}

// The graph pauses the filters downstream first; when the source refuses,
// they are stopped again, so that the graph can take them apart. (A null
// renderer would answer its pause with S_FALSE, after which the graph reports
// the run as under way and its Stop cleans up: here the grabber alone, which
// answers S_OK, as capture applications' own sinks do.)
TEST_F(Sharing, ARefusedStartLeavesEveryFilterStopped)
{
    UseCamera(nullptr);
    ASSERT_EQ(grabberGraph.Build(Filter(), &collector), S_OK);
    ASSERT_EQ(grabberGraph.graph->RemoveFilter(grabberGraph.renderer.Get()), S_OK);
    ASSERT_EQ(grabberGraph.graph->ConnectDirect(FindPin(Filter(), PINDIR_OUTPUT).Get(),
                                                FindPin(grabberGraph.grabberFilter.Get(), PINDIR_INPUT).Get(), nullptr),
              S_OK);
    EXPECT_EQ(grabberGraph.control->Run(), VFW_E_NO_CAPTURE_HARDWARE);
    for (IBaseFilter* each : {grabberGraph.grabberFilter.Get(), Filter()}) {
        FILTER_STATE state = State_Running;
        EXPECT_EQ(each->GetState(0, &state), S_OK);
        EXPECT_EQ(state, State_Stopped);
    }
    // Taking the graph apart, as applications do, succeeds at once.
    EXPECT_EQ(grabberGraph.control->Stop(), S_OK);
    EXPECT_EQ(grabberGraph.graph->RemoveFilter(grabberGraph.grabberFilter.Get()), S_OK);
    EXPECT_EQ(grabberGraph.graph->RemoveFilter(Filter()), S_OK);
    UseCamera(camera);
}

}  // namespace
}  // namespace kv20x::test
