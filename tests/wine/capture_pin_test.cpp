// The capture pin streaming from the simulated camera through the real
// Filter Graph: pictures, sample times, both modes, and every way a stream
// can end.

#include <atomic>
#include <thread>

#include "device/device_link.h"
#include "support/pin_fixture.h"

namespace kv20x::test {
namespace {

using std::chrono::milliseconds;

// Runs each test with one processor (frames read on the worker) and with two
// (a capture thread).
class CapturePin : public FilterFixture, public ::testing::WithParamInterface<int> {
protected:
    int Processors() const override { return GetParam(); }
    void TurnAutoExposureOff() { ASSERT_EQ(PinControl()->SetExposure(FALSE, 100, 300, 20), S_OK); }
};

INSTANTIATE_TEST_SUITE_P(Modes, CapturePin, ::testing::Values(1, 2),
                         [](const auto& mode) { return mode.param == 1 ? "OneProcessor" : "TwoProcessors"; });

TEST_P(CapturePin, StreamsEverySizeWithContiguousTimesAndExactPictures)
{
    TurnAutoExposureOff();
    for (SizeMode size : {0, 1, 2}) {
        SCOPED_TRACE(size);
        ASSERT_EQ(PinControl()->SetVideoSize(size), S_OK);
        collector.Clear();
        collector.KeepData(3);
        ConnectToGrabber();
        EXPECT_EQ(pin->UsesCaptureThread(), GetParam() > 1);
        camera->ClearLog();
        ASSERT_TRUE(SUCCEEDED(grabberGraph.control->Run()));
        ASSERT_TRUE(collector.WaitFor(3));
        grabberGraph.control->Stop();

        const auto samples = collector.Samples();
        const auto frames = camera->Frames();
        const REFERENCE_TIME duration = FrameDuration100ns(size, 0, 300);
        ASSERT_GE(frames.size(), 3u);
        CameraSettings settings;
        settings.AutoExposure = 0;
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(samples[i].start, static_cast<REFERENCE_TIME>(i) * duration);
            EXPECT_EQ(samples[i].stop, static_cast<REFERENCE_TIME>(i + 1) * duration);
            EXPECT_TRUE(samples[i].syncPoint);
            ASSERT_EQ(samples[i].data.size(), SizeModeImageBytes(size));
            EXPECT_EQ(frames[i].width, static_cast<std::uint32_t>(SizeModeWidth(size)));
            EXPECT_TRUE(samples[i].data == ExpectedPicture(*camera, frames[i], size, settings)) << "sample " << i;
        }
        grabberGraph.Release();
    }
}

TEST_P(CapturePin, ARejectedFrameGivesNoSampleAndTheStreamGoesOn)
{
    TurnAutoExposureOff();
    camera->SetFramePlan({.extraChunk = 1});
    collector.KeepData(3);
    ConnectToGrabber();
    ASSERT_TRUE(SUCCEEDED(grabberGraph.control->Run()));
    ASSERT_TRUE(collector.WaitFor(3));
    grabberGraph.control->Stop();
    const auto samples = collector.Samples();
    const auto frames = camera->Frames();
    // Frame 1 arrived one chunk too long; its tail made frame 2 lose its
    // start, so the third sample shows frame 3.
    CameraSettings settings;
    settings.AutoExposure = 0;
    EXPECT_TRUE(samples[0].data == ExpectedPicture(*camera, frames[0], 1, settings));
    EXPECT_TRUE(samples[1].data == ExpectedPicture(*camera, frames[2], 1, settings));
    EXPECT_EQ(samples[1].start, samples[0].stop) << "times stay contiguous over a dropped frame";
}

TEST_P(CapturePin, FirstSampleOfEveryRunStartsAtZero)
{
    ConnectToGrabber();
    for (int run = 0; run < 2; ++run) {
        collector.Clear();
        ASSERT_TRUE(SUCCEEDED(grabberGraph.control->Run()));
        ASSERT_TRUE(collector.WaitFor(2));
        grabberGraph.control->Stop();
        const auto samples = collector.Samples();
        EXPECT_EQ(samples[0].start, 0);
        EXPECT_EQ(samples[1].start, samples[0].stop);
    }
}

TEST_P(CapturePin, AutoExposureDrivesTheSensorAndTheSampleTimesFollow)
{
    // A bright target for the chart: the exposure steps lengthen the
    // exposure and raise the gain.
    ASSERT_EQ(PinControl()->SetExposure(TRUE, 200, 300, 20), S_OK);
    ConnectToGrabber();
    camera->ClearLog();
    ASSERT_TRUE(SUCCEEDED(grabberGraph.control->Run()));
    ASSERT_TRUE(collector.WaitFor(12));
    grabberGraph.control->Stop();
    const auto writes = camera->RegisterWrites();
    // Gain, then exposure, for every step (the device start writes them the
    // other way round).
    size_t steps = 0;
    for (size_t i = 0; i + 1 < writes.size(); ++i)
        if (writes[i].reg == 53 && writes[i + 1].reg == 9)
            ++steps;
    EXPECT_GE(steps, 3u);
    BOOL autoExposure = FALSE;
    BYTE target = 0;
    WORD rows = 0, gain = 0;
    PinControl()->GetExposure(&autoExposure, &target, &rows, &gain);
    EXPECT_GT(rows + gain, 300 + 20);
    const auto samples = collector.Samples();
    for (size_t i = 1; i < samples.size(); ++i)
        EXPECT_EQ(samples[i].start, samples[i - 1].stop);
}

TEST_P(CapturePin, OneShotWhiteBalanceIsServedByExactlyOneFrame)
{
    TurnAutoExposureOff();
    ConnectToGrabber();
    ASSERT_TRUE(SUCCEEDED(grabberGraph.control->Run()));
    ASSERT_TRUE(collector.WaitFor(1));
    ASSERT_EQ(PinControl()->SetWhiteBalance(TRUE, 64, 64, 64), S_OK);
    BOOL pending = TRUE;
    BYTE r = 0, g = 0, b = 0;
    for (int poll = 0; poll < 2000 && pending; ++poll) {
        ::Sleep(1);
        PinControl()->GetWhiteBalance(&pending, &r, &g, &b);
    }
    EXPECT_FALSE(pending);
    // The chart's grey ground through the sensor's weak red and blue: the
    // estimate lifts both.
    EXPECT_EQ(g, 64);
    EXPECT_GT(r, 80);
    EXPECT_GT(b, 80);
    const size_t seen = collector.Count();
    ASSERT_TRUE(collector.WaitFor(seen + 3));
    BYTE r2 = 0, g2 = 0, b2 = 0;
    PinControl()->GetWhiteBalance(&pending, &r2, &g2, &b2);
    EXPECT_EQ(r2, r) << "no later frame measures again";
    EXPECT_EQ(b2, b);
    grabberGraph.control->Stop();
}

TEST_P(CapturePin, ASampleBufferSmallerThanThePictureEndsTheStreamWithAnError)
{
    sink.shortBy = 1024;
    ConnectToSink();
    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
    LONG_PTR code = 0;
    EXPECT_TRUE(sinkGraph.HasEvent(EC_ERRORABORT, milliseconds(5000), &code));
    EXPECT_EQ(static_cast<HRESULT>(code), E_FAIL);
    EXPECT_EQ(sink.endOfStream, 1);
    EXPECT_EQ(sink.ReceivedCount(), 0u);
    sinkGraph.control->Stop();
}

TEST_P(CapturePin, StopReturnsPromptlyFromAStalledCameraAndSendsNothing)
{
    camera->SetFramePlan({.stallFrom = 2});
    ConnectToSink();
    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
    sink.WaitForSamples(2);
    ASSERT_EQ(sink.ReceivedCount(), 2u);
    ::Sleep(200);  // the reads of frame 2 are now pending for good
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(sinkGraph.control->Stop(), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - before, milliseconds(1000));
    EXPECT_EQ(sink.endOfStream, 0) << "a stop is no end of stream";
    EXPECT_FALSE(sinkGraph.HasEvent(EC_ERRORABORT, milliseconds(100)));
    EXPECT_FALSE(camera->Streaming());
}

TEST_P(CapturePin, FramesReadWholeBeforeAReadFailureAreDeliveredThenTheStreamEnds)
{
    TurnAutoExposureOff();
    // Frame 2's second read fails. With a capture thread, the pump is held
    // in its first delivery until the camera has failed that read, so that
    // frame 1 is certainly waiting on the ready list when the failure comes.
    UniqueHandle readFailed(::CreateEventA(nullptr, TRUE, GetParam() == 1, nullptr));
    camera->OnReadFailure([event = readFailed.get()] { ::SetEvent(event); });
    camera->SetFramePlan({.failRead = 2, .failReadIndex = 1});
    sink.holdFirstReceive = readFailed.get();
    sink.keepData = 3;
    ConnectToSink();
    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
    LONG_PTR code = 0;
    EXPECT_TRUE(sinkGraph.HasEvent(EC_ERRORABORT, milliseconds(10000), &code));
    EXPECT_EQ(static_cast<HRESULT>(code), E_FAIL);
    EXPECT_EQ(sink.endOfStream, 1);
    EXPECT_EQ(sinkGraph.control->Stop(), S_OK);
    camera->OnReadFailure(nullptr);

    const auto samples = sink.ReceivedSamples();
    const auto frames = camera->Frames();
    ASSERT_EQ(samples.size(), 2u) << "exactly frames 0 and 1";
    ASSERT_GE(frames.size(), 2u);
    CameraSettings settings;
    settings.AutoExposure = 0;
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(frames[i].ordinal, i);
        EXPECT_TRUE(samples[i].data == ExpectedPicture(*camera, frames[i], 1, settings)) << "sample " << i;
    }
    EXPECT_EQ(samples[1].start, samples[0].stop);
}

TEST_P(CapturePin, TheNextStartAfterAReadFailureIsHealthy)
{
    camera->SetFramePlan({.failRead = 2, .failReadIndex = 1});
    ConnectToSink();
    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
    EXPECT_TRUE(sinkGraph.HasEvent(EC_ERRORABORT, milliseconds(10000)));
    EXPECT_EQ(sinkGraph.control->Stop(), S_OK);
    const size_t before = sink.ReceivedCount();

    camera->SetFramePlan({});
    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
    EXPECT_TRUE(sink.WaitForSamples(before + 5));
    EXPECT_EQ(sinkGraph.control->Stop(), S_OK);
    EXPECT_EQ(sink.endOfStream, 1) << "the healthy run ends by the stop alone";
}

TEST_P(CapturePin, ASampleThePeerDeclinesEndsTheLoopQuietly)
{
    // S_FALSE from Receive: the peer wants no more. No error, no end of
    // stream: the stop comes from the application.
    sink.receiveResult = S_FALSE;
    ConnectToSink();
    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
    ASSERT_TRUE(sink.WaitForSamples(1));
    EXPECT_FALSE(sinkGraph.HasEvent(EC_ERRORABORT, milliseconds(300)));
    EXPECT_EQ(sink.ReceivedCount(), 1u) << "the loop delivered nothing after it";
    EXPECT_EQ(sink.endOfStream, 0);
    EXPECT_EQ(sinkGraph.control->Stop(), S_OK);
}

TEST_P(CapturePin, ACameraThatVanishesIsReportedAsLostAndStreamsAgainWhenItIsBack)
{
    // Paced by the clock: the pump waits for a frame most of the time.
    camera->SetPacing(simcam::SimulatedCamera::Pacing::RealTime);
    ConnectToSink();
    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
    ASSERT_TRUE(sink.WaitForSamples(1));
    camera->SetFaults(simcam::kFaultVanished);
    LONG_PTR code = 0;
    EXPECT_TRUE(sinkGraph.HasEvent(EC_ERRORABORT, milliseconds(1000), &code));
    EXPECT_EQ(static_cast<HRESULT>(code), E_FAIL);
    EXPECT_EQ(sink.endOfStream, 1);
    ASSERT_TRUE(sinkGraph.Saw(EC_DEVICE_LOST));
    ComPtr<IUnknown> identity;
    Filter()->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity.GetAddressOf()));
    for (const auto& e : sinkGraph.seen)
        if (e.code == EC_DEVICE_LOST) {
            EXPECT_EQ(e.param1, reinterpret_cast<LONG_PTR>(identity.Get())) << "the filter's IUnknown";
            EXPECT_EQ(e.param2, 0) << "removed";
        }
    EXPECT_EQ(sinkGraph.control->Stop(), S_OK);

    // Plugged in again: the same filter streams on the next run.
    camera->SetFaults(0);
    const size_t before = sink.ReceivedCount();
    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
    EXPECT_TRUE(sink.WaitForSamples(before + 2));
    EXPECT_EQ(sinkGraph.control->Stop(), S_OK);
}

TEST_P(CapturePin, AReadFailureOfACameraThatStillAnswersIsNoDeviceLoss)
{
    camera->SetFramePlan({.failRead = 1, .failReadIndex = 0});
    ConnectToSink();
    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
    EXPECT_TRUE(sinkGraph.HasEvent(EC_ERRORABORT, milliseconds(5000)));
    EXPECT_FALSE(sinkGraph.Saw(EC_DEVICE_LOST));
    EXPECT_EQ(sinkGraph.control->Stop(), S_OK);
}

TEST_P(CapturePin, ACameraThatGoesSilentEndsTheStreamWithATimeOut)
{
    // Two frames, then nothing: the stall watchdog gives up after 3 s.
    camera->SetFramePlan({.stallFrom = 2});
    ConnectToSink();
    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
    LONG_PTR code = 0;
    EXPECT_TRUE(sinkGraph.HasEvent(EC_ERRORABORT, milliseconds(10000), &code));
    EXPECT_EQ(static_cast<HRESULT>(code), HRESULT_FROM_WIN32(ERROR_TIMEOUT));
    EXPECT_EQ(sink.endOfStream, 1);
    EXPECT_EQ(sink.ReceivedCount(), 2u);
    EXPECT_FALSE(sinkGraph.Saw(EC_DEVICE_LOST)) << "the camera still answers";
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(sinkGraph.control->Stop(), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - before, milliseconds(1000));

    camera->SetFramePlan({});
    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
    EXPECT_TRUE(sink.WaitForSamples(5)) << "the same filter runs again";
    EXPECT_EQ(sinkGraph.control->Stop(), S_OK);
}

// A camera that stops answering control requests while frames still come:
// the request is withdrawn after its time limit, the stream ends as for a
// stall, and the stop is prompt.
TEST_P(CapturePin, ACameraThatStopsAnsweringRequestsEndsTheStreamWithATimeOut)
{
    TurnAutoExposureOff();
    ConnectToSink();
    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
    ASSERT_TRUE(sink.WaitForSamples(2));
    camera->SetFaults(simcam::kFaultHangControl);
    // The user moves the exposure: the write is not answered.
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(PinControl()->SetExposure(FALSE, 100, 400, 20), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - before, milliseconds(DevicePort::kControlTimeoutMs + 500));
    LONG_PTR code = 0;
    EXPECT_TRUE(sinkGraph.HasEvent(EC_ERRORABORT, milliseconds(5000), &code));
    EXPECT_EQ(static_cast<HRESULT>(code), HRESULT_FROM_WIN32(ERROR_TIMEOUT));
    EXPECT_EQ(sink.endOfStream, 1);
    EXPECT_FALSE(sinkGraph.Saw(EC_DEVICE_LOST)) << "a camera that sends frames is there";
    const auto stopping = std::chrono::steady_clock::now();
    EXPECT_EQ(sinkGraph.control->Stop(), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, milliseconds(1000));

    camera->SetFaults(0);
    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
    EXPECT_TRUE(sink.WaitForSamples(sink.ReceivedCount() + 3)) << "the next start has a fresh handle";
    EXPECT_EQ(sinkGraph.control->Stop(), S_OK);
}

// The pump is inside the auto exposure's register write, holding the
// device lock, when the camera stops answering; the stop comes then.
TEST_P(CapturePin, StopReturnsWithinASecondWhileThePumpWaitsForTheCamera)
{
    ASSERT_EQ(PinControl()->SetExposure(TRUE, 200, 300, 20), S_OK);  // far from the target: a write every frame
    UniqueHandle held(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    camera->OnControlHeld([&held] { ::SetEvent(held.get()); });
    ConnectToSink();
    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
    ASSERT_TRUE(sink.WaitForSamples(1));
    camera->SetFaults(simcam::kFaultHangControl);
    ASSERT_EQ(::WaitForSingleObject(held.get(), 5000), WAIT_OBJECT_0);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(sinkGraph.control->Stop(), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - before, milliseconds(1000));
    EXPECT_FALSE(camera->Streaming() && camera->OpenPorts() > 0) << "the camera was closed";
    camera->OnControlHeld(nullptr);
    camera->SetFaults(0);
}

// A downstream allocator with larger buffers than a picture: each sample
// says how much of its buffer the picture fills.
TEST_P(CapturePin, SamplesCarryThePictureLengthInLargerBuffers)
{
    sink.shortBy = -4096;
    ConnectToSink();
    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
    ASSERT_TRUE(sink.WaitForSamples(3));
    EXPECT_EQ(sinkGraph.control->Stop(), S_OK);
    for (const auto& sample : sink.ReceivedSamples())
        EXPECT_EQ(sample.length, static_cast<long>(SizeModeImageBytes(1)));
}

TEST_P(CapturePin, ADownstreamFilterThatHoldsThePumpIsNoStall)
{
    // The first delivery is held for longer than the stall bound: the
    // reader has nowhere to put frames, and that is not the camera's fault.
    UniqueHandle release(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    sink.holdFirstReceive = release.get();
    ConnectToSink();
    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
    EXPECT_FALSE(sinkGraph.HasEvent(EC_ERRORABORT, milliseconds(3600)));
    ::SetEvent(release.get());
    EXPECT_TRUE(sink.WaitForSamples(4));
    EXPECT_FALSE(sinkGraph.HasEvent(EC_ERRORABORT, milliseconds(100)));
    EXPECT_EQ(sinkGraph.control->Stop(), S_OK);
}

TEST_P(CapturePin, ACameraThatIsMissingFailsThePauseUntilItIsThere)
{
    ConnectToSink();
    UseCamera(nullptr);
    EXPECT_EQ(Filter()->Pause(), VFW_E_NO_CAPTURE_HARDWARE);
    EXPECT_FALSE(pin->ThreadExists());
    Filter()->Stop();
    UseCamera(camera);
    ASSERT_EQ(Filter()->Run(0), S_OK);
    sink.WaitForSamples(2);
    EXPECT_GE(sink.ReceivedCount(), 2u);
    EXPECT_EQ(Filter()->Stop(), S_OK);
}

TEST_P(CapturePin, StoppingShutsTheCameraDownInOrder)
{
    ConnectToSink();
    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
    sink.WaitForSamples(2);
    camera->ClearLog();
    ASSERT_EQ(sinkGraph.control->Stop(), S_OK);
    std::vector<std::string> words;
    for (const auto& entry : camera->Log())
        if (entry.kind != simcam::LogKind::Control || entry.request != 0x0B || entry.index == 7)
            words.push_back(entry.kind == simcam::LogKind::Cancel  ? "CANCEL"
                            : entry.kind == simcam::LogKind::Close ? "CLOSE"
                            : entry.request == 0x01               ? "SC" + std::to_string(entry.value)
                                                                   : "W7=" + std::to_string(entry.value));
    // Reads cancelled, then streaming off, the sensor idle, the device closed.
    ASSERT_GE(words.size(), 5u);
    EXPECT_EQ(words.front(), "CANCEL");
    EXPECT_EQ(std::vector<std::string>(words.end() - 4, words.end()),
              (std::vector<std::string>{"SC1", "SC0", "W7=0", "CLOSE"}));
}

TEST_P(CapturePin, ReleasingAStreamingFilterStopsItCleanly)
{
    // No graph: nothing but the host's release can stop the filter.
    ASSERT_EQ(Pin()->Connect(&sink, nullptr), S_OK);
    ASSERT_EQ(Filter()->Run(0), S_OK);
    sink.WaitForSamples(2);
    // The host drops its last reference without stopping.
    ReleaseEverything();
    EXPECT_FALSE(camera->Streaming());
}

// Clients with sample callbacks ask the pin for its media type and format on
// the streaming thread, also while the graph stops. Here the callback waits
// until the stop has decommitted the allocator (which the stop does under
// the filter's state lock) before it asks: a stop that went on to wait for
// the worker under that lock would never end.
TEST_P(CapturePin, AStopEndsWhileASampleCallbackAsksForTheMediaType)
{
    UniqueHandle decommitted(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle inCallback(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::atomic<bool> armed{false};
    std::atomic<int> answered{0}, failed{0};
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(Pin()->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(config.GetAddressOf())), S_OK);
    sink.ownAllocator = true;
    sink.decommit.onDecommit = [&decommitted] { ::SetEvent(decommitted.get()); };
    sink.onReceive = [&] {
        if (armed.exchange(false)) {
            ::SetEvent(inCallback.get());
            ::WaitForSingleObject(decommitted.get(), 10000);
        }
        AM_MEDIA_TYPE connection{};
        const HRESULT connected = Pin()->ConnectionMediaType(&connection);
        FreeMediaType(connection);
        AM_MEDIA_TYPE* format = nullptr;
        const HRESULT formatted = config->GetFormat(&format);
        DeleteMediaType(format);
        ++(connected == S_OK && formatted == S_OK ? answered : failed);
    };
    ConnectToSink();
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        ::ResetEvent(decommitted.get());
        ::ResetEvent(inCallback.get());
        armed = true;
        ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
        ASSERT_EQ(::WaitForSingleObject(inCallback.get(), 10000), WAIT_OBJECT_0);
        HRESULT stopped = E_UNEXPECTED;
        MustFinish([&] { stopped = sinkGraph.control->Stop(); }, "Stop during a sample callback");
        EXPECT_EQ(stopped, S_OK);
        EXPECT_FALSE(pin->ThreadExists());
    }
    EXPECT_EQ(failed, 0);
    EXPECT_GE(answered, 5);
    sink.onReceive = nullptr;
    sink.decommit.onDecommit = nullptr;
}

// An allocator whose Decommit fails at the stop: the stop says so, and the
// worker ends all the same, closing the camera and giving the claim back, so
// that the next start streams.
TEST_P(CapturePin, AFailingDecommitStillEndsTheWorkerAndFreesTheCamera)
{
    sink.ownAllocator = true;
    ConnectToSink();
    ASSERT_EQ(Filter()->Run(0), S_OK);
    EXPECT_TRUE(sink.WaitForSamples(2));
    sink.decommit.result = E_ABORT;
    EXPECT_EQ(Filter()->Stop(), E_ABORT);
    sink.decommit.result = S_OK;
    EXPECT_FALSE(pin->ThreadExists()) << "the worker ended";
    EXPECT_EQ(camera->OpenPorts(), 0) << "the camera was closed";
    HRESULT claimed = E_UNEXPECTED;
    std::thread([&claimed] {
        CameraClaim next;
        claimed = next.Acquire(kDevicePath, DevicePort::kMediumIntegrity);
    }).join();
    EXPECT_EQ(claimed, S_OK) << "the claim was given back";
    const size_t before = sink.ReceivedCount();
    EXPECT_EQ(Filter()->Run(0), S_OK) << "the next start";
    EXPECT_TRUE(sink.WaitForSamples(before + 2));
    EXPECT_EQ(Filter()->Stop(), S_OK);
}

// With a second processor but no thread to be had, frames are read on the
// worker instead.
class CaptureThreadRefused : public FilterFixture {
protected:
    void SetUp() override
    {
        FilterFixture::SetUp();
        RefuseCaptureThreads(true);
    }
    void TearDown() override
    {
        RefuseCaptureThreads(false);
        FilterFixture::TearDown();
    }
};

TEST_F(CaptureThreadRefused, FramesAreReadOnTheWorkerInstead)
{
    ASSERT_EQ(PinControl()->SetExposure(FALSE, 100, 300, 20), S_OK);
    EXPECT_TRUE(pin->UsesCaptureThread());
    sink.keepData = 2;
    ConnectToSink();
    ASSERT_TRUE(SUCCEEDED(sinkGraph.control->Run()));
    ASSERT_TRUE(sink.WaitForSamples(2));
    EXPECT_EQ(sinkGraph.control->Stop(), S_OK);
    EXPECT_FALSE(pin->UsesCaptureThread());
    const auto samples = sink.ReceivedSamples();
    const auto frames = camera->Frames();
    CameraSettings settings;
    settings.AutoExposure = 0;
    EXPECT_TRUE(samples[0].data == ExpectedPicture(*camera, frames[0], 1, settings));
    EXPECT_TRUE(samples[1].data == ExpectedPicture(*camera, frames[1], 1, settings));
}

}  // namespace
}  // namespace kv20x::test
