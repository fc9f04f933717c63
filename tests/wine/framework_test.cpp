// Conformance of the framework in the platform's own Filter Graph: a pattern
// source built on it, Wine's Sample Grabber and Null Renderer downstream.
// Every test releases everything and checks that nothing is left alive.

#include <gtest/gtest.h>

#include <thread>

#include "framework/unknown.h"
#include "support/graph_helpers.h"
#include "support/test_source.h"

namespace kv20x::test {
namespace {

class FrameworkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        source = TestSource::Create();
        pin = source->pin;
    }
    void TearDown() override
    {
        graph.Release();
        EXPECT_EQ(source->AsFilter()->Release(), 0u) << "a reference is left over";
        EXPECT_EQ(LiveObjectCount(), 0);
    }
    void BuildAndConnect()
    {
        ASSERT_EQ(graph.Build(source->AsFilter(), &collector), S_OK);
        ASSERT_EQ(graph.ConnectAll(source->AsFilter()), S_OK);
    }
    IPin* Pin() { return static_cast<IPin*>(pin); }

    ComApartment com;
    TestSource* source = nullptr;
    PatternPin* pin = nullptr;
    SampleCollector collector;
    GrabberGraph graph;
};

TEST_F(FrameworkTest, StreamsSamplesWithTheTimesTheSourceGave)
{
    BuildAndConnect();
    ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
    ASSERT_TRUE(collector.WaitFor(5));
    ASSERT_EQ(graph.control->Stop(), S_OK);
    const auto samples = collector.Samples();
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(samples[i].timeResult, S_OK);
        EXPECT_EQ(samples[i].start, static_cast<REFERENCE_TIME>(i) * kTestFrameTime);
        EXPECT_EQ(samples[i].stop, static_cast<REFERENCE_TIME>(i + 1) * kTestFrameTime);
        EXPECT_TRUE(samples[i].syncPoint);
        EXPECT_EQ(samples[i].length, 320 * 240 * 3);
    }
    EXPECT_EQ(pin->Events(), (std::vector<std::string>{"active", "create", "start play", "run", "inactive", "destroy"}));
}

TEST_F(FrameworkTest, PauseRunStopAndRunAgain)
{
    BuildAndConnect();
    ASSERT_TRUE(SUCCEEDED(graph.control->Pause()));
    // The renderer holds the first sample while paused; it has passed the
    // grabber by then.
    ASSERT_TRUE(collector.WaitFor(1)) << "a source delivers while paused";
    ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
    ASSERT_EQ(graph.control->Stop(), S_OK);
    collector.Clear();
    ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
    ASSERT_TRUE(collector.WaitFor(2));
    EXPECT_EQ(collector.Samples()[0].start, 0) << "a new run starts its times afresh";
    ASSERT_EQ(graph.control->Stop(), S_OK);
}

TEST_F(FrameworkTest, FillFailureEndsTheStreamWithAnErrorEvent)
{
    pin->frameLimit = 3;
    pin->failAtLimit = E_UNEXPECTED;
    BuildAndConnect();
    ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
    LONG_PTR code = 0;
    EXPECT_EQ(graph.WaitForEvent(EC_ERRORABORT, std::chrono::seconds(10), &code), EC_ERRORABORT);
    EXPECT_EQ(static_cast<HRESULT>(code), E_UNEXPECTED);
    EXPECT_EQ(collector.Count(), 3u);
    EXPECT_EQ(graph.control->Stop(), S_OK);
}

TEST_F(FrameworkTest, EndOfFramesCompletesTheStreamAndTheWorkerStillAnswers)
{
    pin->frameLimit = 2;
    BuildAndConnect();
    ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
    EXPECT_EQ(graph.WaitForEvent(EC_COMPLETE, std::chrono::seconds(10)), EC_COMPLETE);
    // Back in the command loop: a second CMD_INIT is not for it.
    EXPECT_EQ(static_cast<HRESULT>(pin->CallWorker(CSourceStream::CMD_INIT)), E_NOTIMPL);
    EXPECT_EQ(graph.control->Stop(), S_OK);
}

TEST_F(FrameworkTest, ConnectionChecks)
{
    ASSERT_EQ(graph.Build(source->AsFilter(), &collector), S_OK);
    ComPtr<IPin> grabberIn = FindPin(graph.grabberFilter.Get(), PINDIR_INPUT);
    ComPtr<IPin> grabberOut = FindPin(graph.grabberFilter.Get(), PINDIR_OUTPUT);

    EXPECT_EQ(Pin()->Connect(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(Pin()->Connect(grabberOut.Get(), nullptr), VFW_E_INVALID_DIRECTION);

    ASSERT_EQ(source->AsFilter()->Pause(), S_OK) << "an unconnected pin does not stop a pause";
    EXPECT_EQ(pin->Events(), std::vector<std::string>{}) << "nor is it told";
    EXPECT_EQ(Pin()->Connect(grabberIn.Get(), nullptr), VFW_E_NOT_STOPPED);
    ASSERT_EQ(source->AsFilter()->Stop(), S_OK);

    ASSERT_EQ(Pin()->Connect(grabberIn.Get(), nullptr), S_OK);
    EXPECT_EQ(Pin()->Connect(grabberIn.Get(), nullptr), VFW_E_ALREADY_CONNECTED);
    ComPtr<IPin> peer;
    EXPECT_EQ(Pin()->ConnectedTo(&peer), S_OK);
    EXPECT_EQ(peer.Get(), grabberIn.Get());
    AM_MEDIA_TYPE type{};
    EXPECT_EQ(Pin()->ConnectionMediaType(&type), S_OK);
    EXPECT_EQ(type.subtype, MEDIASUBTYPE_RGB24);
    FreeMediaType(type);

    EXPECT_EQ(Pin()->Disconnect(), S_OK);
    grabberIn->Disconnect();
    EXPECT_EQ(Pin()->Disconnect(), S_FALSE);
    EXPECT_EQ(Pin()->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(peer.Get(), nullptr);
    EXPECT_EQ(Pin()->ConnectionMediaType(&type), VFW_E_NOT_CONNECTED);
}

TEST_F(FrameworkTest, AFullySpecifiedTypeIsTheOnlyOneTried)
{
    ASSERT_EQ(graph.Build(source->AsFilter(), &collector), S_OK);
    ComPtr<IPin> grabberIn = FindPin(graph.grabberFilter.Get(), PINDIR_INPUT);
    CMediaType wrong;
    pin->GetMediaType(&wrong);
    reinterpret_cast<VIDEOINFOHEADER*>(wrong.pbFormat)->bmiHeader.biWidth = 100;
    pin->checkCalls = 0;
    EXPECT_EQ(Pin()->Connect(grabberIn.Get(), &wrong), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(pin->checkCalls, 1);

    // A partial type (major type only) lets the pin offer its own.
    CMediaType partial;
    partial.majortype = MEDIATYPE_Video;
    EXPECT_EQ(Pin()->Connect(grabberIn.Get(), &partial), S_OK);
    EXPECT_EQ(Pin()->Disconnect(), S_OK);
    grabberIn->Disconnect();
}

TEST_F(FrameworkTest, FindPinByNumber)
{
    ComPtr<IPin> found;
    EXPECT_EQ(source->FindPin(L"1", &found), S_OK);
    EXPECT_EQ(found.Get(), Pin());
    EXPECT_EQ(source->FindPin(L"0", &found), VFW_E_NOT_FOUND);
    EXPECT_EQ(found.Get(), nullptr);
    EXPECT_EQ(source->FindPin(L"2", &found), VFW_E_NOT_FOUND);
    EXPECT_EQ(source->FindPin(L"Pattern", &found), VFW_E_NOT_FOUND);
    EXPECT_EQ(source->FindPin(L"1", nullptr), E_POINTER);
    LPWSTR id = nullptr;
    ASSERT_EQ(Pin()->QueryId(&id), S_OK);
    EXPECT_STREQ(id, L"1");
    ::CoTaskMemFree(id);
    found.Reset();
}

TEST_F(FrameworkTest, PinEnumeratorFollowsTheFiltersPinList)
{
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(source->EnumPins(&pins), S_OK);
    IPin* got[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(pins->Next(2, got, nullptr), E_INVALIDARG);
    EXPECT_EQ(pins->Next(2, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(got[0], Pin());
    got[0]->Release();
    EXPECT_EQ(pins->Skip(1), S_FALSE);
    EXPECT_EQ(pins->Reset(), S_OK);
    EXPECT_EQ(pins->Skip(1), S_OK);
    // More than remains: what remains is skipped, and S_FALSE says so.
    ASSERT_EQ(pins->Reset(), S_OK);
    EXPECT_EQ(pins->Skip(5), S_FALSE);
    EXPECT_EQ(pins->Next(1, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);

    // A second pin changes the version: Skip and Clone refuse, Next starts
    // over without repeating the pin already handed out.
    ASSERT_EQ(pins->Reset(), S_OK);
    ASSERT_EQ(pins->Next(1, got, &fetched), S_OK);
    got[0]->Release();
    source->AddPatternPin(L"Second");
    ComPtr<IEnumPins> clone;
    EXPECT_EQ(pins->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(pins->Clone(&clone), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(clone.Get(), nullptr);
    ASSERT_EQ(pins->Next(2, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    PIN_INFO info;
    got[0]->QueryPinInfo(&info);
    EXPECT_STREQ(info.achName, L"Second");
    info.pFilter->Release();
    got[0]->Release();

    ASSERT_EQ(pins->Reset(), S_OK);
    ASSERT_EQ(pins->Clone(&clone), S_OK);
    EXPECT_EQ(clone->Next(2, got, &fetched), S_OK);
    got[0]->Release();
    got[1]->Release();
}

TEST_F(FrameworkTest, MediaTypeEnumeratorAndItsVersion)
{
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(Pin()->EnumMediaTypes(&types), S_OK);
    AM_MEDIA_TYPE* got[2] = {};
    ULONG fetched = 0;
    ASSERT_EQ(types->Next(2, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(got[0]->formattype, FORMAT_VideoInfo);
    EXPECT_EQ(got[0]->cbFormat, sizeof(VIDEOINFOHEADER));
    DeleteMediaType(got[0]);
    EXPECT_EQ(types->Skip(0), S_OK);
    EXPECT_EQ(types->Reset(), S_OK);
    EXPECT_EQ(types->Skip(1), S_OK);
    EXPECT_EQ(types->Skip(1), S_FALSE);
    // A count that would wrap the position still skips only what remains.
    EXPECT_EQ(types->Skip(0xFFFFFFFFu), S_FALSE);
    EXPECT_EQ(types->Next(1, got, &fetched), S_FALSE);
    EXPECT_EQ(types->Reset(), S_OK);
    EXPECT_EQ(types->Skip(0xFFFFFFFFu), S_FALSE);
    EXPECT_EQ(types->Next(1, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);

    pin->ChangeMediaTypes();
    ComPtr<IEnumMediaTypes> clone;
    EXPECT_EQ(types->Next(1, got, &fetched), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(types->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(types->Clone(&clone), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(types->Reset(), S_OK);
    ASSERT_EQ(types->Clone(&clone), S_OK);
    EXPECT_EQ(clone->Next(1, got, nullptr), S_OK);
    DeleteMediaType(got[0]);
}

TEST_F(FrameworkTest, ActiveOnAnUnconnectedPinStartsNoThread)
{
    EXPECT_EQ(pin->Active(), S_OK);
    EXPECT_FALSE(pin->ThreadExists());
    EXPECT_EQ(pin->Inactive(), S_OK);
    EXPECT_EQ(pin->Events(), (std::vector<std::string>{"active", "inactive"}));
}

TEST_F(FrameworkTest, AFailedStartCanBeRetriedOnTheSameFilter)
{
    BuildAndConnect();
    pin->createFailures = 1;
    EXPECT_EQ(source->Pause(), kCreateRefused);
    EXPECT_FALSE(pin->ThreadExists()) << "the ended worker is joined and released";
    EXPECT_EQ(pin->Events(), (std::vector<std::string>{"active", "create", "destroy"}));
    graph.control->Stop();

    // The camera is there now: a second pause starts a fresh worker.
    pin->ClearEvents();
    ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
    EXPECT_TRUE(collector.WaitFor(2));
    EXPECT_EQ(graph.control->Stop(), S_OK);
}

TEST_F(FrameworkTest, StopDuringTheFrameLoopEndsTheWorker)
{
    BuildAndConnect();
    ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
    ASSERT_TRUE(collector.WaitFor(3));
    ASSERT_EQ(graph.control->Stop(), S_OK);
    EXPECT_FALSE(pin->ThreadExists());
    const auto events = pin->Events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], "inactive");
    EXPECT_EQ(events.back(), "destroy");
    // No worker left to talk to.
    EXPECT_EQ(static_cast<HRESULT>(pin->CallWorker(CSourceStream::CMD_STOP)), E_FAIL);
}

TEST_F(FrameworkTest, FilterStateMachine)
{
    BuildAndConnect();
    FILTER_STATE state;
    EXPECT_EQ(source->GetState(0, nullptr), E_POINTER);
    EXPECT_EQ(source->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    EXPECT_EQ(source->Run(0), S_OK);
    auto events = pin->Events();
    std::erase(events, "start play");  // the worker's own, at any moment after "create"
    EXPECT_EQ(events, (std::vector<std::string>{"active", "create", "run"}));
    EXPECT_EQ(source->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    pin->inactiveFailure = E_ABORT;
    EXPECT_EQ(source->Stop(), E_ABORT);
    EXPECT_EQ(source->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped) << "a failing pin still leaves the filter stopped";
    pin->inactiveFailure = S_OK;
}

TEST_F(FrameworkTest, FilterInfoClockAndClassId)
{
    ASSERT_EQ(graph.Build(source->AsFilter(), nullptr), S_OK);
    FILTER_INFO info;
    ASSERT_EQ(source->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"Source");
    EXPECT_NE(info.pGraph, nullptr);
    info.pGraph->Release();
    CLSID clsid;
    EXPECT_EQ(source->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, kClsidTestSource);
    ComPtr<IReferenceClock> clock;
    EXPECT_EQ(source->GetSyncSource(&clock), S_OK);
    REFERENCE_TIME now = 0;
    if (!clock) {
        EXPECT_EQ(source->StreamTime(&now), VFW_E_NO_CLOCK);
    }
    EXPECT_EQ(source->QueryVendorInfo(nullptr), E_NOTIMPL);
    EXPECT_EQ(source->Register(), S_FALSE);
    EXPECT_EQ(source->Unregister(), S_FALSE);

    // A long name is cut to 127 characters.
    const std::wstring longName(300, L'x');
    ASSERT_EQ(source->JoinFilterGraph(nullptr, longName.c_str()), S_OK);
    ASSERT_EQ(source->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(std::wstring(info.achName), std::wstring(127, L'x'));
    EXPECT_EQ(info.pGraph, nullptr);
    EXPECT_EQ(source->NotifyEvent(EC_COMPLETE, 0, 0), E_NOTIMPL);
    // Leave the graph's view consistent for its own release.
    source->JoinFilterGraph(graph.graph.Get(), L"Source");
}

TEST_F(FrameworkTest, InterfacesAndIdentity)
{
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(source->QueryInterface(IID_IUnknown, &unknown), S_OK);
    ComPtr<IMediaFilter> media;
    EXPECT_EQ(source->QueryInterface(IID_IMediaFilter, &media), S_OK);
    ComPtr<IPersist> persist;
    EXPECT_EQ(source->QueryInterface(IID_IPersist, &persist), S_OK);
    ComPtr<IAMovieSetup> setup;
    EXPECT_EQ(source->QueryInterface(IID_IAMovieSetup, &setup), S_OK);
    ComPtr<IPin> notAPin;
    EXPECT_EQ(source->QueryInterface(IID_IPin, &notAPin), E_NOINTERFACE);
    EXPECT_EQ(source->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

    ComPtr<IQualityControl> quality;
    ASSERT_EQ(Pin()->QueryInterface(IID_IQualityControl, &quality), S_OK);
    EXPECT_EQ(quality->Notify(nullptr, Quality{}), E_NOTIMPL);
    EXPECT_EQ(quality->SetSink(nullptr), S_OK);
    EXPECT_EQ(Pin()->EndOfStream(), E_UNEXPECTED);
    EXPECT_EQ(Pin()->BeginFlush(), E_UNEXPECTED);
    EXPECT_EQ(Pin()->EndFlush(), E_UNEXPECTED);
    EXPECT_EQ(Pin()->QueryInternalConnections(nullptr, nullptr), E_NOTIMPL);
    PIN_DIRECTION direction;
    EXPECT_EQ(Pin()->QueryDirection(&direction), S_OK);
    EXPECT_EQ(direction, PINDIR_OUTPUT);

    // A pin counts its references with its filter's.
    const ULONG before = source->AddRef();
    const ULONG throughPin = Pin()->AddRef();
    EXPECT_EQ(throughPin, before + 1);
    Pin()->Release();
    source->Release();
}

TEST_F(FrameworkTest, AWorkerThatCannotBeStartedLeavesTheAllocatorDecommitted)
{
    BuildAndConnect();
    pin->refuseThread = true;
    EXPECT_EQ(source->Pause(), E_FAIL);
    EXPECT_FALSE(pin->ThreadExists());
    ASSERT_NE(pin->Allocator(), nullptr);
    IMediaSample* sample = nullptr;
    EXPECT_EQ(pin->Allocator()->GetBuffer(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    EXPECT_EQ(sample, nullptr);
    source->Stop();

    pin->refuseThread = false;
    ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
    EXPECT_TRUE(collector.WaitFor(1));
    EXPECT_EQ(graph.control->Stop(), S_OK);
}

// A worker that only answers: it waits for a command, then reports whether
// CheckRequest without an out-pointer saw it.
class CheckingWorker final : public CAMThread {
public:
    DWORD ThreadProc() override
    {
        ::WaitForSingleObject(GetRequestHandle(), INFINITE);
        const BOOL seen = CheckRequest(nullptr);
        DWORD command = 0;
        const BOOL seenWithPointer = CheckRequest(&command);
        GetRequest();
        Reply(seen && seenWithPointer && command == 42 ? 1 : 0);
        return 0;
    }
};

// A worker that ends without answering anything, as every thread but one
// does when the process exits before the host releases its graph.
class VanishingWorker final : public CAMThread {
public:
    DWORD ThreadProc() override { return 0; }
};

TEST(AMThread, ACommandToAWorkerThatHasEndedFailsInsteadOfWaiting)
{
    VanishingWorker worker;
    ASSERT_TRUE(worker.Create());
    DWORD answer = 0;
    MustFinish([&] { answer = worker.CallWorker(CSourceStream::CMD_STOP); }, "CallWorker");
    EXPECT_EQ(static_cast<HRESULT>(answer), E_FAIL);
    EXPECT_EQ(::WaitForSingleObject(worker.GetRequestHandle(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "no command is left waiting";
    worker.Close();
    EXPECT_FALSE(worker.ThreadExists());
}

// The system ended the worker in the middle of a frame (process exit); the
// host then releases its graph, which stops the filter.
TEST_F(FrameworkTest, AGraphReleasedAfterItsWorkerWasEndedLetsGo)
{
    UniqueHandle filling(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle never(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    pin->filling = filling.get();
    pin->fillGate = never.get();
    BuildAndConnect();
    ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
    ASSERT_EQ(::WaitForSingleObject(filling.get(), 10000), WAIT_OBJECT_0);
    ASSERT_TRUE(::TerminateThread(pin->Worker(), 0));
    ASSERT_EQ(::WaitForSingleObject(pin->Worker(), 10000), WAIT_OBJECT_0);
    MustFinish([this] { graph.Release(); }, "releasing the graph");
    EXPECT_FALSE(pin->ThreadExists());
    pin->fillGate = nullptr;
}

TEST(AMThread, CheckRequestReportsAWaitingCommandWithoutAnOutPointer)
{
    CheckingWorker worker;
    ASSERT_TRUE(worker.Create());
    EXPECT_EQ(worker.CallWorker(42), 1u);
    worker.Close();
}

TEST_F(FrameworkTest, CheckRequestReportsACommandWithoutAnOutPointer)
{
    BuildAndConnect();
    ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
    ASSERT_TRUE(collector.WaitFor(1));
    // The test thread plays the worker's side for a moment: nothing waits
    // while the loop runs, so a poll sees no command.
    EXPECT_FALSE(pin->CheckRequest(nullptr));
    ASSERT_EQ(graph.control->Stop(), S_OK);
}

}  // namespace
}  // namespace kv20x::test
