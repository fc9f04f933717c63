// Reliability of the filter on the in-process simulated camera: soak cycles,
// contention between streaming and every control, and the fault matrix.
// CI runs the short form; KV20X_RELIABILITY=long runs the long one.

#include "support/pin_fixture.h"

#include <random>

#include "reliability/reliability_support.h"
#include "settings/persistence.h"

namespace kv20x::test {
namespace {

using std::chrono::milliseconds;

class Reliability : public FilterFixture {
protected:
    void TearDown() override
    {
        Disconnect();
        FilterFixture::TearDown();
    }
    void Connect()
    {
        if (!sinkGraph.graph) {
            ASSERT_EQ(sinkGraph.Build(Filter()), S_OK);
        }
        ASSERT_EQ(Pin()->Connect(&checker, nullptr), S_OK);
        int size = 1;
        PinControl()->GetVideoSize(&size);
        checker.Expect(static_cast<long>(SizeModeImageBytes(size)));
    }
    void Disconnect()
    {
        if (pin && pin->IsConnected()) {
            Pin()->Disconnect();
            checker.Disconnect();
        }
    }
    // Stop, measured; true when it returned S_OK within a second.
    bool TimedStop(DWORD* ms = nullptr)
    {
        const ULONGLONG before = ::GetTickCount64();
        const HRESULT hr = sinkGraph.control->Stop();
        const DWORD took = static_cast<DWORD>(::GetTickCount64() - before);
        if (ms)
            *ms = took;
        return hr == S_OK && took < 1000;
    }
    CheckingSink checker;
};

// ---- Soak ------------------------------------------------------------------

class Soak : public Reliability, public ::testing::WithParamInterface<int> {
protected:
    int Processors() const override { return GetParam(); }
};
INSTANTIATE_TEST_SUITE_P(Modes, Soak, ::testing::Values(1, 2),
                         [](const auto& mode) { return mode.param == 1 ? "OneProcessor" : "TwoProcessors"; });

TEST_P(Soak, StopPauseRunStopCyclesDeliverEveryTimeAndLeakNothing)
{
    const int cycles = LongMode() ? 1000 : 100;
    constexpr int kWarmUp = 10;
    ProcessFigures baseline{};
    HandleTrend trend;
    DWORD slowestStop = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        // Mixed sizes: another size every ten cycles.
        if (cycle % 10 == 0) {
            Disconnect();
            ASSERT_EQ(PinControl()->SetVideoSize((cycle / 10) % 3), S_OK);
            Connect();
        }
        // The simulated camera logs every request and frame: emptied, so
        // that the figures are the module's and not the log's.
        camera->ClearLog();
        const long before = checker.received;
        checker.NewRun();
        ASSERT_EQ(Filter()->Pause(), S_OK) << "cycle " << cycle;
        ASSERT_TRUE(checker.WaitFor(before + 1, 10000)) << "paused, cycle " << cycle;
        ASSERT_EQ(Filter()->Run(0), S_OK);
        ASSERT_TRUE(checker.WaitFor(before + 2, 10000)) << "running, cycle " << cycle;
        const ULONGLONG stopping = ::GetTickCount64();
        ASSERT_EQ(Filter()->Stop(), S_OK);
        slowestStop = std::max(slowestStop, static_cast<DWORD>(::GetTickCount64() - stopping));
        trend.Note(cycle, cycles, Measure().handles);
        if (cycle + 1 == kWarmUp)
            baseline = Measure();
    }
    Disconnect();
    ASSERT_EQ(PinControl()->SetVideoSize(0), S_OK);  // the size of the baseline's connection
    Connect();
    const ProcessFigures final = Measure();
    const long handleGrowth = trend.Growth();
    const long long memoryGrowth =
        static_cast<long long>(final.privateBytes) - static_cast<long long>(baseline.privateBytes);
    std::printf("soak (%d processors): %d cycles, %ld frames, handles (highest of 10 cycles, early -> late) %lu -> %lu (%+ld), private memory %.1f -> %.1f MB "
                "(%+.2f MB), slowest stop %lu ms, %ld bad samples\n",
                GetParam(), cycles, checker.received.load(), static_cast<unsigned long>(trend.early),
                static_cast<unsigned long>(trend.late), handleGrowth, baseline.privateBytes / 1048576.0,
                final.privateBytes / 1048576.0, memoryGrowth / 1048576.0, static_cast<unsigned long>(slowestStop),
                checker.faults.load());
    EXPECT_EQ(checker.faults, 0);
    EXPECT_LT(slowestStop, 1000u);
    EXPECT_LE(handleGrowth, 4) << "handles flat after the first cycles";
    EXPECT_LE(memoryGrowth, 4ll << 20) << "private memory flat after the first cycles";
}

// ---- Contention ------------------------------------------------------------

class Contention : public Reliability, public ::testing::WithParamInterface<int> {
protected:
    int Processors() const override { return GetParam(); }
};
INSTANTIATE_TEST_SUITE_P(Modes, Contention, ::testing::Values(1, 2),
                         [](const auto& mode) { return mode.param == 1 ? "OneProcessor" : "TwoProcessors"; });

// One random call of every kind a control thread makes, in and out of range.
// The orientation calls set the default orientation only, so that the sink
// can check that every picture shows the chart upright. Answers that are documented
// whatever the state (a group beyond D is refused) are counted when wrong.
void RandomCall(std::mt19937& rng, IKV20X* camera, IAMVideoProcAmp* procAmp, IAMCameraControl* control,
                Breadcrumb& crumb, std::atomic<long>& wrongAnswers)
{
    auto any = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    BOOL flag = FALSE;
    BYTE a = 0, b = 0, c = 0;
    WORD rows = 0, gain = 0;
    long value = 0, flags = 0;
    switch (any(20)) {
    case 0: crumb.what = "SetWhiteBalance"; camera->SetWhiteBalance(any(2), any(256), any(256), any(256)); break;
    case 1: crumb.what = "GetWhiteBalance"; camera->GetWhiteBalance(&flag, &a, &b, &c); break;
    case 2:
        crumb.what = "SetExposure";
        camera->SetExposure(any(2), static_cast<BYTE>(any(256)), static_cast<WORD>(any(5000)),
                            static_cast<WORD>(any(100)));
        break;
    case 3: crumb.what = "GetExposure"; camera->GetExposure(&flag, &a, &rows, &gain); break;
    case 4: crumb.what = "SetSpeed"; camera->SetSpeed(static_cast<BYTE>(any(3))); break;
    case 5: crumb.what = "SetGamma"; camera->SetGamma(static_cast<BYTE>(any(256))); break;
    case 6: crumb.what = "SetContrast"; camera->SetContrast(static_cast<BYTE>(any(256))); break;
    case 7: crumb.what = "SetColorEnhancement"; camera->SetColorEnhancement(any(2), static_cast<BYTE>(any(256))); break;
    case 8: crumb.what = "SetMonoMode"; camera->SetMonoMode(any(2)); break;
    case 9: crumb.what = "SetVerticalFlip"; camera->SetVerticalFlip(TRUE); break;
    case 10: crumb.what = "SetHorizontalMirror"; camera->SetHorizontalMirror(TRUE); break;
    case 11: crumb.what = "SetPowerFrequency"; camera->SetPowerFrequency(any(2)); break;
    case 12: {
        crumb.what = "SelectParameterGroup";
        const BYTE group = static_cast<BYTE>(any(6));
        const HRESULT hr = camera->SelectParameterGroup(group);
        if (hr != (group < 4 ? S_OK : E_INVALIDARG))
            ++wrongAnswers;
        break;
    }
    case 13: crumb.what = "SaveSettings"; camera->SaveSettings(); break;
    case 14: crumb.what = "SetVideoSize"; camera->SetVideoSize(any(4)); break;
    case 15: crumb.what = "GetRowTime"; { LONG t; camera->GetRowTime(&t); } break;
    case 16:
        crumb.what = "IAMVideoProcAmp::Set";
        procAmp->Set(any(11), any(300) - 20, any(4));
        break;
    case 17: crumb.what = "IAMVideoProcAmp::Get"; procAmp->Get(any(11), &value, &flags); break;
    case 18: crumb.what = "IAMCameraControl::Set"; control->Set(CameraControl_Exposure, any(20) - 15, any(4)); break;
    default: crumb.what = "IAMCameraControl::Get"; control->Get(CameraControl_Exposure, &value, &flags); break;
    }
    crumb.what = "between calls";
    ++crumb.steps;
}

TEST_P(Contention, EveryControlWhileStreamingKeepsPicturesRightAndSavesOneRecord)
{
    const long frames = LongMode() ? 100000 : 3000;
    constexpr int kThreads = 4;
    ASSERT_EQ(PinControl()->SetVideoSize(2), S_OK);  // the smallest pictures: the most frames a second
    Connect();
    ComPtr<IAMVideoProcAmp> procAmp;
    ComPtr<IAMCameraControl> control;
    Filter()->QueryInterface(IID_IAMVideoProcAmp, reinterpret_cast<void**>(procAmp.GetAddressOf()));
    Filter()->QueryInterface(IID_IAMCameraControl, reinterpret_cast<void**>(control.GetAddressOf()));

    std::vector<Breadcrumb> crumbs(kThreads);
    std::atomic<bool> hammering{true};
    std::atomic<long> wrongAnswers{0};
    checker.CheckUpright(640, 480);
    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
    {
        HangWatchdog watchdog(checker.received, crumbs, 30000);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                std::mt19937 rng(static_cast<unsigned>(1000 + t));
                // Through the filter and through the pin, as applications and pages do.
                IKV20X* target = t % 2 ? PinControl() : FilterControl();
                while (hammering)
                    RandomCall(rng, target, procAmp.Get(), control.Get(), crumbs[static_cast<size_t>(t)],
                               wrongAnswers);
                ::CoUninitialize();
            });
        const bool enough = checker.WaitFor(frames, LongMode() ? 3600000 : 300000);
        hammering = false;
        for (auto& thread : threads)
            thread.join();
        EXPECT_TRUE(enough) << checker.received.load() << " frames";
    }
    EXPECT_FALSE(sinkGraph.HasEvent(EC_ERRORABORT, milliseconds(0)));
    EXPECT_TRUE(TimedStop());
    long calls = 0;
    for (const auto& crumb : crumbs)
        calls += crumb.steps;
    std::printf("contention (%d processors): %ld frames, %ld control calls from %d threads, %ld bad samples, "
                "%ld with the marker told from the ground\n",
                GetParam(), checker.received.load(), calls, kThreads, checker.faults.load(),
                checker.upright.load());
    EXPECT_EQ(checker.faults, 0) << "every picture of the right size, with contiguous times, the chart upright";
    // Many random settings leave white and grey alike (a long exposure, gamma
    // 0); a tenth of the pictures must still show the marker.
    EXPECT_GT(checker.upright, checker.received / 10) << "enough pictures showed the chart to tell";
    EXPECT_EQ(wrongAnswers, 0);
    checker.CheckUpright(0, 0);

    // The record in force, then what the release saves: the same, whole.
    BOOL autoWB = 0, autoExposure = 0, enhance = 0, mono = 0, upright = 0, mirror = 0, fifty = 0;
    BYTE r = 0, g = 0, b = 0, target = 0, speed = 0, gamma = 0, contrast = 0, saturation = 0, group = 0;
    WORD rows = 0, gain = 0;
    PinControl()->GetWhiteBalance(&autoWB, &r, &g, &b);
    PinControl()->GetExposure(&autoExposure, &target, &rows, &gain);
    PinControl()->GetSpeed(&speed);
    PinControl()->GetGamma(&gamma);
    PinControl()->GetContrast(&contrast);
    PinControl()->GetColorEnhancement(&enhance, &saturation);
    PinControl()->GetMonoMode(&mono);
    PinControl()->GetVerticalFlip(&upright);
    PinControl()->GetHorizontalMirror(&mirror);
    PinControl()->GetPowerFrequency(&fifty);
    PinControl()->GetParameterGroup(&group);
    procAmp.Reset();
    control.Reset();
    Disconnect();
    ReleaseEverything();
    const char* key = ParameterGroupKeyPath(group);
    const std::pair<const char*, long long> expected[] = {
        {"r", r}, {"g", g}, {"b", b}, {"AutoExposure", autoExposure}, {"AETarget", target},
        {"ExposureTime", rows}, {"AnalogGain", gain}, {"Gain", gain}, {"Speed", speed}, {"Gamma", gamma},
        {"Contrast", contrast}, {"EnableSaturation", enhance}, {"Saturation", saturation}, {"WhiteBlack", mono},
        {"VFlip", upright}, {"HFlip", mirror}, {"HZ", fifty}};
    for (const auto& [name, value] : expected)
        EXPECT_EQ(StoredDword(key, name), value) << name;
    EXPECT_EQ(StoredDword("Software\\ORBILUX \\KV20X\\dshow", "ParaTeam"), group);
    CreateFilter();
}

// ---- Fault matrix ------------------------------------------------------------

enum class Moment { Opening, Streaming, Stopping };
const char* MomentName(Moment m)
{
    return m == Moment::Opening ? "opening" : m == Moment::Streaming ? "streaming" : "stopping";
}

struct Fault {
    const char* name;
    // Puts the fault in place; `frame` is the first frame it may spoil.
    void (*apply)(simcam::SimulatedCamera&, int frame);
    bool errorWhenOpening;
    bool errorWhenStreaming;
    bool deviceLost;  // streaming: EC_DEVICE_LOST expected
    bool scheduled;   // strikes at a given frame; else at once, in whatever frame is on the wire
    bool shownByARequest = false;  // streaming: shows only when the module sends a control request
};

const Fault kFaults[] = {
    {"device missing", [](simcam::SimulatedCamera& c, int) { c.SetMissing(true); }, true, false, false, false},
    {"wrong chip", [](simcam::SimulatedCamera& c, int) { c.SetChipVersion(0x1234); }, true, false, false, false},
    {"failed status bytes", [](simcam::SimulatedCamera& c, int) { c.SetFaults(simcam::kFaultBadStatus); }, true,
     false, false, false},
    {"failing control calls", [](simcam::SimulatedCamera& c, int) { c.SetFaults(simcam::kFaultFailControl); },
     true, false, false, false},
    {"mid-frame join", [](simcam::SimulatedCamera& c, int) { c.SetFaults(simcam::kFaultJoinMidFrame); }, false,
     false, false, false},
    {"missing chunk", [](simcam::SimulatedCamera& c, int f) { c.SetFramePlan({.dropChunk = f}); }, false, false,
     false, true},
    {"extra chunk", [](simcam::SimulatedCamera& c, int f) { c.SetFramePlan({.extraChunk = f}); }, false, false,
     false, true},
    {"wrong final length", [](simcam::SimulatedCamera& c, int f) { c.SetFramePlan({.wrongFinal = f}); }, false,
     false, false, true},
    {"read failure", [](simcam::SimulatedCamera& c, int f) { c.SetFramePlan({.failRead = f, .failReadIndex = 1}); },
     true, true, false, true},
    {"stall", [](simcam::SimulatedCamera& c, int f) { c.SetFramePlan({.stallFrom = f}); }, true, true, false, true},
    {"vanishing", [](simcam::SimulatedCamera& c, int) { c.SetFaults(simcam::kFaultVanished); }, true, true, true, false},
    {"control requests hang", [](simcam::SimulatedCamera& c, int) { c.SetFaults(simcam::kFaultHangControl); }, true,
     true, false, false, true},
};

void ClearFaults(simcam::SimulatedCamera& camera)
{
    camera.SetMissing(false);
    camera.SetChipVersion(simcam::kDefaultChipVersion);
    camera.SetFaults(0);
    camera.SetFramePlan({});
}

struct Outcome {
    bool error = false;
    bool deviceLost = false;
    DWORD stopMs = 0;
    bool stopped = false;
    long wholeBefore = -1;  // frames the camera sent whole before the fault; -1 when none is known
    long delivered = 0;
    bool runsAgain = false;
    bool saved = false;
};

class FaultMatrix : public Reliability {};

TEST_F(FaultMatrix, EveryFaultAtEveryMomentInBothModes)
{
    std::printf("\n| fault | processors | moment | error expected | error seen | stop | frames whole before the "
                "fault / delivered | runs again | settings saved |\n|---|---|---|---|---|---|---|---|---|\n");
    int mismatches = 0;
    for (const Fault& fault : kFaults) {
        for (int processors : {1, 2}) {
            for (Moment moment : {Moment::Opening, Moment::Streaming, Moment::Stopping}) {
                SCOPED_TRACE(testing::Message() << fault.name << ", " << processors << ", " << MomentName(moment));
                // A fresh camera and filter for each case.
                Disconnect();
                ReleaseEverything();
                camera = simcam::SimulatedCamera::Create();
                camera->SetPacing(simcam::SimulatedCamera::Pacing::RealTime);
                UseCamera(camera);
                UseProcessorCount(processors);
                CreateFilter();
                ASSERT_EQ(PinControl()->SetVideoSize(2), S_OK);
                ASSERT_EQ(PinControl()->SetGamma(123), S_OK);
                checker.received = 0;
                Connect();

                Outcome out;
                if (moment == Moment::Opening) {
                    fault.apply(*camera, 0);
                    out.wholeBefore = 0;
                    const HRESULT hr = sinkGraph.control->Run();
                    FILTER_STATE state = State_Stopped;
                    Filter()->GetState(0, &state);
                    out.error = FAILED(hr) || state != State_Running ||
                                sinkGraph.HasEvent(EC_ERRORABORT, milliseconds(fault.errorWhenOpening ? 5000 : 600));
                } else {
                    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
                    ASSERT_TRUE(checker.WaitFor(2, 10000));
                    // A scheduled fault strikes the next frame but one; one
                    // that strikes at once may spoil the frame on the wire,
                    // but not those the camera had finished.
                    const int started = static_cast<int>(camera->Frames().size());
                    fault.apply(*camera, started + 1);
                    // A stop that comes first decides what arrives.
                    if (moment == Moment::Streaming)
                        out.wholeBefore = fault.scheduled ? started + 1 : started - 1;
                    // A register write, as a setter makes while the user moves a slider.
                    if (moment == Moment::Streaming && fault.shownByARequest) {
                        EXPECT_EQ(PinControl()->SetSpeed(0), S_OK);
                    }
                    if (moment == Moment::Streaming)
                        out.error = sinkGraph.HasEvent(EC_ERRORABORT,
                                                       milliseconds(fault.errorWhenStreaming ? 6000 : 800));
                }
                out.deviceLost = sinkGraph.Saw(EC_DEVICE_LOST);
                out.stopped = TimedStop(&out.stopMs);
                out.delivered = checker.received;
                if (moment == Moment::Stopping)
                    out.error = sinkGraph.Saw(EC_ERRORABORT);
                sinkGraph.seen.clear();

                // The fault gone: the same filter runs again.
                ClearFaults(*camera);
                checker.NewRun();
                const long before = checker.received;
                if (SUCCEEDED(sinkGraph.control->Run()))
                    out.runsAgain = checker.WaitFor(before + 2, 10000);
                TimedStop();
                Disconnect();
                ReleaseEverything();
                out.saved = StoredDword("Software\\ORBILUX \\KV20X\\dshow", "Gamma") == 123;
                CreateFilter();

                const bool errorExpected = moment == Moment::Opening     ? fault.errorWhenOpening
                                           : moment == Moment::Streaming ? fault.errorWhenStreaming
                                                                         : false;
                // Every frame read whole before the fault reached the sink.
                const bool wholeDelivered = out.wholeBefore < 0 || out.delivered >= out.wholeBefore;
                const bool ok = out.error == errorExpected && out.stopped && wholeDelivered && out.runsAgain &&
                                out.saved && (!fault.deviceLost || moment != Moment::Streaming || out.deviceLost);
                if (!ok)
                    ++mismatches;
                const std::string wholeText = out.wholeBefore < 0 ? "-" : std::to_string(out.wholeBefore);
                std::printf("| %s | %d | %s | %s | %s%s | %lu ms | %s / %ld | %s | %s |%s\n", fault.name, processors,
                            MomentName(moment), errorExpected ? "yes" : "no", out.error ? "yes" : "no",
                            out.deviceLost ? " (device lost)" : "", static_cast<unsigned long>(out.stopMs),
                            wholeText.c_str(), out.delivered, out.runsAgain ? "yes" : "no", out.saved ? "yes" : "no",
                            ok ? "" : " **unexpected**");
                EXPECT_EQ(out.error, errorExpected);
                EXPECT_TRUE(out.stopped) << out.stopMs << " ms";
                EXPECT_TRUE(wholeDelivered);
                EXPECT_TRUE(out.runsAgain);
                EXPECT_TRUE(out.saved);
                if (fault.deviceLost && moment == Moment::Streaming) {
                    EXPECT_TRUE(out.deviceLost);
                }
            }
        }
    }
    std::printf("\n%d unexpected outcomes\n", mismatches);
}

}  // namespace
}  // namespace kv20x::test
