// One camera, several filter instances, and a filter that is only listed:
// a second instance is refused before it sends the camera anything, the
// first streams on undisturbed, queries never wait for the camera or touch
// it, and a refused start leaves the graph one can tear down.

#include "support/pin_fixture.h"

#include <tlhelp32.h>

#include <algorithm>
#include <thread>

#include <aclapi.h>
#include <sddl.h>

#include "device/camera_claim.h"
#include "device/device_link.h"
#include "device/integrity_label.h"

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

// Requests to the camera in a log (opening and closing the device are none).
int RequestsIn(const std::vector<simcam::LogEntry>& log)
{
    int requests = 0;
    for (const auto& entry : log)
        requests += entry.kind == simcam::LogKind::Control || entry.kind == simcam::LogKind::Delay;
    return requests;
}

// The claim's kernel object, as every instance of the module names it.
constexpr wchar_t kClaimName[] = L"Global\\KV20X camera __._vx41k-0";
constexpr DWORD kLow = SECURITY_MANDATORY_LOW_RID;
constexpr DWORD kMedium = SECURITY_MANDATORY_MEDIUM_RID;

// A thread that holds an object of the claim's name until it is told to let
// go: a claim another instance made, or an object a process made that could
// not open the camera.
class ClaimHolder {
public:
    // `security`: SDDL of a mutex made directly, or nullptr for the claim of
    // an instance whose camera has the integrity `cameraLevel`; `event`: an
    // object of another kind instead.
    ClaimHolder(const wchar_t* security, DWORD cameraLevel = kMedium, bool event = false)
    {
        m_thread = std::thread([=, this] {
            CameraClaim claim;
            HANDLE object = nullptr;
            if (event) {
                object = ::CreateEventW(nullptr, TRUE, FALSE, kClaimName);
            } else if (security) {
                PSECURITY_DESCRIPTOR descriptor = nullptr;
                ::ConvertStringSecurityDescriptorToSecurityDescriptorW(security, SDDL_REVISION_1, &descriptor,
                                                                       nullptr);
                SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
                object = ::CreateMutexW(&attributes, TRUE, kClaimName);
                ::LocalFree(descriptor);
            } else {
                m_made = claim.Acquire(kDevicePath, cameraLevel);
            }
            if (object)
                m_made = S_OK;
            ::SetEvent(m_ready.get());
            ::WaitForSingleObject(m_letGo.get(), 20000);
            if (object && !event)
                ::ReleaseMutex(object);
            if (object)
                ::CloseHandle(object);
        });
        ::WaitForSingleObject(m_ready.get(), 10000);
    }
    ~ClaimHolder()
    {
        ::SetEvent(m_letGo.get());
        m_thread.join();
    }
    HRESULT Made() const { return m_made; }

private:
    UniqueHandle m_ready{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle m_letGo{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HRESULT m_made = E_UNEXPECTED;
    std::thread m_thread;
};

// The claim's mandatory label and its access list as SDDL.
bool ClaimSecurityOf(HANDLE object, IntegrityLabel* label, std::wstring* accessList)
{
    if (!ReadIntegrityLabel(object, label))
        return false;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                          &descriptor) != ERROR_SUCCESS)
        return false;
    LPWSTR text = nullptr;
    ::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                           &text, nullptr);
    *accessList = text ? text : L"";
    ::LocalFree(text);
    ::LocalFree(descriptor);
    return true;
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
    EXPECT_EQ(RequestsIn(camera->Log()), 0) << "not a single request from the second instance";
    EXPECT_EQ(camera->OpenPorts(), 1) << "its device handle was closed again";
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
    ASSERT_EQ(mine.Acquire(kDevicePath, kMedium), S_OK);
    HRESULT other = S_OK;
    std::thread([&other] {
        CameraClaim theirs;
        other = theirs.Acquire(kDevicePath, kMedium);
    }).join();
    EXPECT_EQ(other, kCameraInUse);
    mine.Release();

    auto abandoned = std::make_unique<CameraClaim>();
    std::thread([&abandoned] { EXPECT_EQ(abandoned->Acquire(kDevicePath, kMedium), S_OK); }).join();
    EXPECT_EQ(mine.Acquire(kDevicePath, kMedium), S_OK) << "taken over from a thread that ended";
    std::thread([&abandoned] { abandoned.reset(); }).join();  // its handle only: the mutex is mine now
    mine.Release();
    CameraClaim elsewhere;
    EXPECT_EQ(elsewhere.Acquire("\\\\.\\vx41k-1", kMedium), S_OK) << "another camera is another claim";
}

// Which objects of the claim's name an instance that has opened the camera
// honours. Anything below the camera's integrity level, or closed to this
// process, could have been made by a process that cannot open the camera:
// it does not keep the camera from anyone (S_FALSE: the instance streams on
// its device handle alone).
TEST_F(Sharing, OnlyAClaimMadeForTheCameraIsHonoured)
{
    const struct {
        const char* what;
        const wchar_t* security;  // nullptr: an instance's own claim
        DWORD madeFor;            // the camera level the instance made it for
        bool event;
        DWORD camera;  // the level of the camera the claimant opened
        HRESULT expected;
    } cases[] = {
        {"another instance's claim", nullptr, kMedium, false, kMedium, kCameraInUse},
        {"another instance's claim on a camera open to low integrity", nullptr, kLow, false, kLow, kCameraInUse},
        {"a claim made for a low camera, this one medium", nullptr, kLow, false, kMedium, S_FALSE},
        {"labelled low, as a low-integrity process's object is", L"D:(A;;0x00100001;;;WD)S:(ML;;NW;;;LW)", 0, false,
         kMedium, S_FALSE},
        {"no label: a low-integrity process may still wait on it", L"D:(A;;0x00120001;;;WD)", 0, false, kMedium,
         S_FALSE},
        {"an access list that shuts everyone else out", L"D:(D;;GA;;;WD)", 0, false, kMedium, S_FALSE},
        {"an access list that lets this process only wait", L"D:(A;;0x00100000;;;WD)S:(ML;;NWNRNX;;;ME)", 0, false, kMedium,
         S_FALSE},
        {"an object of another kind", nullptr, 0, true, kMedium, S_FALSE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ClaimHolder holder(c.security, c.madeFor, c.event);
        ASSERT_EQ(holder.Made(), S_OK);
        HRESULT claimed = E_UNEXPECTED;
        bool held = true;
        std::thread([&] {
            CameraClaim claim;
            claimed = claim.Acquire(kDevicePath, c.camera);
            held = claim.Held();
        }).join();
        EXPECT_EQ(claimed, c.expected);
        EXPECT_EQ(held, c.expected == S_OK);
    }
    CameraClaim free;
    EXPECT_EQ(free.Acquire(kDevicePath, kMedium), S_OK) << "none made yet";
}

// The claim an instance makes: nothing below the camera's level may use it
// (not even to wait, which would hold it), and everyone from that level up
// may, app containers included (S-1-15-2-1), with the claim's rights only.
TEST_F(Sharing, TheClaimCarriesTheCamerasIntegrityLevelAndOpensToAppContainers)
{
    for (DWORD level : {kLow, kMedium}) {
        SCOPED_TRACE(level);
        CameraClaim claim;
        ASSERT_EQ(claim.Acquire(kDevicePath, level), S_OK);
        UniqueHandle object(::OpenMutexW(READ_CONTROL, FALSE, kClaimName));
        ASSERT_TRUE(object);
        IntegrityLabel label;
        std::wstring accessList;
        ASSERT_TRUE(ClaimSecurityOf(object.get(), &label, &accessList));
        EXPECT_EQ(label.level, level);
        EXPECT_EQ(label.policy, static_cast<DWORD>(SYSTEM_MANDATORY_LABEL_NO_WRITE_UP | SYSTEM_MANDATORY_LABEL_NO_READ_UP |
                                                   SYSTEM_MANDATORY_LABEL_NO_EXECUTE_UP));
        EXPECT_EQ(accessList, L"D:(A;;0x120001;;;WD)(A;;0x120001;;;AC)");
    }
}

// The pin claims at its camera's integrity level: on a camera whose device
// low-integrity processes may open, the claim is theirs to take as well.
TEST_F(Sharing, AStreamingInstanceClaimsAtItsCamerasLevel)
{
    ConnectToSink();
    for (DWORD level : {kLow, kMedium}) {
        SCOPED_TRACE(level);
        camera->SetIntegrityLevel(level);
        ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
        EXPECT_TRUE(sink.WaitForSamples(sink.ReceivedCount() + 1));
        UniqueHandle object(::OpenMutexW(READ_CONTROL, FALSE, kClaimName));
        IntegrityLabel label;
        std::wstring accessList;
        EXPECT_TRUE(object && ClaimSecurityOf(object.get(), &label, &accessList));
        EXPECT_EQ(label.level, level);
        EXPECT_EQ(sinkGraph.control->Stop(), S_OK);
    }
}

// A process that could not open the camera made the claim's object first and
// holds it for ever: the camera streams all the same.
TEST_F(Sharing, AnObjectMadeByAProcessThatCannotOpenTheCameraDoesNotBlockIt)
{
    for (const wchar_t* security : {L"D:(A;;0x00100001;;;WD)S:(ML;;NW;;;LW)", L"D:(D;;GA;;;WD)"}) {
        ClaimHolder squatter(security);
        ASSERT_EQ(squatter.Made(), S_OK);
        ConnectToSink();
        ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
        EXPECT_TRUE(sink.WaitForSamples(sink.ReceivedCount() + 2));
        EXPECT_EQ(sinkGraph.control->Stop(), S_OK);
        sinkGraph.Release();  // the graph takes the connection apart as it goes
        sink.Disconnect();
    }
}

// A driver that admits one handle at a time. The holder was killed: its
// thread has ended (the claim is free) but the system has not closed its
// device handle yet. The next start waits for the handle, a second at most,
// and reports a device that stays held as in use, never as missing.
TEST_F(Sharing, AKilledHoldersLingeringHandleIsWaitedForAndNeverNoCamera)
{
    camera->SetSingleHandle(true);
    for (const bool closes : {true, false}) {
        SCOPED_TRACE(closes ? "the handle closes" : "the handle stays");
        auto lingering = camera->CreatePort();
        ASSERT_EQ(lingering->Open(kDevicePath), DevicePort::OpenResult::Opened);
        auto abandoned = std::make_unique<CameraClaim>();
        std::thread([&abandoned] { EXPECT_EQ(abandoned->Acquire(kDevicePath, kMedium), S_OK); }).join();
        std::atomic<int> refused{0};
        // The handle closes right after the first refused open: the next try
        // finds the device free.
        camera->OnOpen([&](DevicePort::OpenResult result) {
            if (result == DevicePort::OpenResult::Refused && ++refused == 1 && closes)
                lingering.reset();
        });
        ConnectToSink();
        const auto before = std::chrono::steady_clock::now();
        const HRESULT paused = Filter()->Pause();
        const auto took = std::chrono::steady_clock::now() - before;
        camera->OnOpen(nullptr);
        if (closes) {
            EXPECT_EQ(paused, S_OK);
            EXPECT_TRUE(sink.WaitForSamples(sink.ReceivedCount() + 2));
        } else {
            EXPECT_EQ(paused, kCameraInUse);
            EXPECT_GE(refused, 2) << "the open was tried again";
            EXPECT_LT(took, milliseconds(5000));
        }
        EXPECT_EQ(Filter()->Stop(), S_OK);
        lingering.reset();
        abandoned.reset();
        sinkGraph.Release();  // the graph takes the connection apart as it goes
        sink.Disconnect();
    }
}

// The same driver while another instance streams: the second start is
// refused at once, without waiting for the device.
TEST_F(Sharing, ALiveHolderOfASingleHandleDeviceRefusesTheNextAtOnce)
{
    camera->SetSingleHandle(true);
    ConnectToSink();
    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
    ASSERT_TRUE(sink.WaitForSamples(1));
    SecondInstance second;
    second.Connect();
    camera->ClearLog();
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(second.Filter()->Pause(), kCameraInUse);
    EXPECT_LT(std::chrono::steady_clock::now() - before, milliseconds(1000));
    const auto log = camera->Log();
    EXPECT_LE(std::count_if(log.begin(), log.end(), [](const auto& e) { return e.kind == simcam::LogKind::Open; }), 1)
        << "not tried again";
    EXPECT_EQ(RequestsIn(log), 0);
    EXPECT_EQ(second.Filter()->Stop(), S_OK);
    EXPECT_EQ(sinkGraph.control->Stop(), S_OK);
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
