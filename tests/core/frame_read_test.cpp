#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <thread>
#include <vector>

#include "device/frame_read.h"
#include "simulated_camera.h"

namespace kv20x {
namespace {

// A port whose reads complete with scripted lengths, in the order queued.
// Read n fills its buffer with the byte n, so the destination tells which
// reads were copied where.
class ScriptedPort final : public DevicePort {
public:
    struct Transfer {
        bool ok;
        std::uint32_t bytes;
    };
    explicit ScriptedPort(std::vector<Transfer> script) : m_script(std::move(script)) {}

    OpenResult Open(const char*) override { return OpenResult::Opened; }
    bool Control(std::uint32_t, const void*, std::uint32_t, void*, std::uint32_t, std::uint32_t*) override
    {
        return true;
    }
    bool ControlTimedOut() const override { return false; }
    bool QueueRead(int slot, void* buffer, std::uint32_t bytes) override
    {
        EXPECT_LT(m_next, m_script.size()) << "more reads queued than scripted";
        m_pending.push_back({slot, static_cast<std::uint8_t*>(buffer), bytes, m_next++});
        queuedSlots.push_back(slot);
        return true;
    }
    bool WaitRead(int slot, std::uint32_t* transferred) override
    {
        EXPECT_FALSE(m_pending.empty());
        if (m_pending.empty())
            return false;
        const Pending read = m_pending.front();
        EXPECT_EQ(read.slot, slot) << "reads must be collected in the order queued";
        m_pending.pop_front();
        waitedReads.push_back(read.number);
        const Transfer t = read.number < m_script.size() ? m_script[read.number] : Transfer{false, 0};
        *transferred = t.ok ? std::min(t.bytes, read.capacity) : 0;
        std::memset(read.buffer, static_cast<int>(read.number), *transferred);
        return t.ok;
    }
    void CancelReads() override {}
    void Delay(std::uint32_t) override {}

    std::size_t Outstanding() const { return m_pending.size(); }

    std::vector<int> queuedSlots;
    std::vector<std::size_t> waitedReads;

private:
    struct Pending {
        int slot;
        std::uint8_t* buffer;
        std::uint32_t capacity;
        std::size_t number;
    };
    std::vector<Transfer> m_script;
    std::deque<Pending> m_pending;
    std::size_t m_next = 0;
};

using Script = std::vector<ScriptedPort::Transfer>;

// The link holds 2 MB of read buffers: it lives on the heap, as in the pin.
struct Reader {
    Reader(SizeMode size, Script script)
        : link(std::make_unique<DeviceLink>(std::make_unique<ScriptedPort>(std::move(script))))
    {
        SetReadGeometry(*link, size);
        destination.assign(link->frameSize, 0xEE);
    }
    ScriptedPort& port() { return static_cast<ScriptedPort&>(*link->port); }
    int Read() { return FrameRead(*link, destination.data()); }
    // The number of the read whose data sits at chunk `i` of the destination.
    int ChunkSource(std::uint32_t i) const { return destination[i * link->chunkSize]; }

    std::unique_ptr<DeviceLink> link;
    std::vector<std::uint8_t> destination;
};

Script Chunks(int count, std::uint32_t bytes)
{
    return Script(static_cast<std::size_t>(count), ScriptedPort::Transfer{true, bytes});
}

Script Join(std::initializer_list<Script> parts)
{
    Script all;
    for (const Script& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Found by the fuzzer: with fewer reads to a frame than ring slots, a driver
// that sends whole chunks could have them copied past the frame's end.
TEST(FrameRead, ChunksBeyondASmallFrameAreRejectedNotCopied)
{
    auto link = std::make_unique<DeviceLink>(std::make_unique<ScriptedPort>(Chunks(8, 16)));
    link->chunkSize = 16;
    link->frameSize = 24;  // one whole chunk and a remainder of 8
    std::vector<std::uint8_t> destination(link->frameSize);
    EXPECT_EQ(FrameRead(*link, destination.data()), kFrameReadRejected);
    EXPECT_EQ(static_cast<ScriptedPort&>(*link->port).Outstanding(), 0u) << "drained";
}

TEST(FrameRead, FullSizeFrameIsSixChunksAndAZeroLengthEnd)
{
    Reader r(0, Join({Chunks(6, 0x80000), Chunks(1, 0)}));
    EXPECT_EQ(r.Read(), kFrameReadComplete);
    for (std::uint32_t i = 0; i < 6; ++i)
        EXPECT_EQ(r.ChunkSource(i), static_cast<int>(i));
    EXPECT_EQ(r.port().Outstanding(), 0u);
    EXPECT_EQ(r.port().queuedSlots, (std::vector<int>{0, 1, 2, 3, 0, 1, 2}));
}

TEST(FrameRead, AFullSeventhTransferRejectsTheFrame)
{
    Reader r(0, Chunks(7, 0x80000));
    EXPECT_EQ(r.Read(), kFrameReadRejected);
    EXPECT_EQ(r.port().Outstanding(), 0u);
}

TEST(FrameRead, VgaFrameEndsWithAShortTransferOfTheRemainder)
{
    Reader good(2, Join({Chunks(3, 81920), Chunks(1, 61440)}));
    EXPECT_EQ(good.Read(), kFrameReadComplete);
    EXPECT_EQ(good.destination[3 * 81920], 3);
    EXPECT_EQ(good.destination.back(), 3);

    Reader wrong(2, Chunks(4, 81920));
    EXPECT_EQ(wrong.Read(), kFrameReadRejected);
}

TEST(FrameRead, JoiningMidFrameResynchronisesOnTheEarlyCompletion)
{
    // Two chunks of a frame already under way, its zero-length end, then a
    // whole frame.
    Reader r(1, Join({Chunks(2, 0x20000), Chunks(1, 0), Chunks(6, 0x20000), Chunks(1, 0)}));
    EXPECT_EQ(r.Read(), kFrameReadComplete);
    for (std::uint32_t i = 0; i < 6; ++i)
        EXPECT_EQ(r.ChunkSource(i), static_cast<int>(3 + i));
    EXPECT_EQ(r.port().Outstanding(), 0u);
}

TEST(FrameRead, ResynchronisationRefillsTheRingBehindTheReadsInFlight)
{
    // 640 x 480 keeps exactly four reads queued. An early completion in slot
    // 2 leaves one read in flight (slot 3); the ring is refilled with slot 0,
    // slot 1, then slot 2 itself, and the next frame starts in slot 3.
    Reader r(2, Join({Chunks(2, 81920), Chunks(1, 1000), Chunks(3, 81920), Chunks(1, 61440)}));
    EXPECT_EQ(r.Read(), kFrameReadComplete);
    EXPECT_EQ(r.port().queuedSlots, (std::vector<int>{0, 1, 2, 3, 0, 1, 2}));
    for (std::uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ(r.ChunkSource(i), static_cast<int>(3 + i));
    EXPECT_EQ(r.destination.back(), 6);
}

TEST(FrameRead, TwoEarlyCompletionsInOneCallRejectThenTheNextCallStartsAfresh)
{
    Script script = Join({Chunks(1, 0x20000), Chunks(1, 0), Chunks(2, 0x20000), Chunks(1, 1000)});
    // Reads still queued when the call gives up, then a whole frame.
    script = Join({script, Chunks(3, 0x20000), Chunks(6, 0x20000), Chunks(1, 0)});
    Reader r(1, script);
    EXPECT_EQ(r.Read(), kFrameReadRejected);
    EXPECT_EQ(r.port().Outstanding(), 0u);
    const std::size_t consumed = r.port().waitedReads.size();
    EXPECT_EQ(consumed, 8u);
    // The reads drained at the end of the first call are lost; the second
    // call starts in slot 0 with read 8, the first of a whole frame.
    EXPECT_EQ(r.Read(), kFrameReadComplete);
    for (std::uint32_t i = 0; i < 6; ++i)
        EXPECT_EQ(r.ChunkSource(i), static_cast<int>(8 + i));
}

TEST(FrameRead, AFailureMidFrameIsReportedAfterTheQueuedReadsDrain)
{
    Script script = Join({Chunks(2, 0x20000), Script{{false, 0}}, Chunks(4, 0x20000)});
    Reader r(1, script);
    EXPECT_EQ(r.Read(), kFrameReadFailed);
    EXPECT_EQ(r.port().Outstanding(), 0u);
    // Read 2 failed with reads 3, 4 and 5 in flight; all three are collected.
    EXPECT_EQ(r.port().waitedReads, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5}));
}

class SimulatedFrameRead : public ::testing::Test {
protected:
    std::unique_ptr<DeviceLink> StartStreaming(SizeMode size)
    {
        settings.eKV20XSize = size;
        auto port = camera->CreatePort();
        EXPECT_EQ(port->Open(kDevicePath), DevicePort::OpenResult::Opened);
        auto link = StartDevice(std::move(port), settings, defects);
        EXPECT_TRUE(link);
        if (link) {
            EXPECT_TRUE(StartStream(*link));
        }
        return link;
    }
    std::vector<std::uint8_t> Expected(std::size_t frameIndex) const
    {
        const auto frames = camera->Frames();
        EXPECT_LT(frameIndex, frames.size());
        const simcam::FrameInfo& f = frames.at(frameIndex);
        std::vector<std::uint8_t> raw(f.width * f.height);
        camera->RenderFrame(f, raw.data());
        return raw;
    }

    std::shared_ptr<simcam::SimulatedCamera> camera = simcam::SimulatedCamera::Create();
    CameraSettings settings;
    DefectTable defects;
};

TEST_F(SimulatedFrameRead, WholeFramesOfEverySizeArriveIntact)
{
    for (SizeMode size : {0, 1, 2}) {
        auto link = StartStreaming(size);
        ASSERT_TRUE(link);
        camera->ClearLog();
        std::vector<std::uint8_t> frame(link->frameSize);
        for (std::size_t n = 0; n < 2; ++n) {
            ASSERT_EQ(FrameRead(*link, frame.data()), kFrameReadComplete) << "size " << size;
            EXPECT_TRUE(frame == Expected(n)) << "size " << size << " frame " << n;
        }
        StopDevice(std::move(link));
    }
}

TEST_F(SimulatedFrameRead, StreamJoinedMidFrameStillYieldsAWholeFrame)
{
    camera->SetFaults(simcam::kFaultJoinMidFrame);
    auto link = StartStreaming(1);
    camera->ClearLog();
    std::vector<std::uint8_t> frame(link->frameSize);
    ASSERT_EQ(FrameRead(*link, frame.data()), kFrameReadComplete);
    const auto frames = camera->Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(frame == Expected(1));
}

TEST_F(SimulatedFrameRead, AShortFrameIsSkippedByTheOneResynchronisation)
{
    for (SizeMode size : {1, 2}) {
        camera->SetFramePlan({.dropChunk = 0});
        auto link = StartStreaming(size);
        camera->ClearLog();
        std::vector<std::uint8_t> frame(link->frameSize);
        EXPECT_EQ(FrameRead(*link, frame.data()), kFrameReadComplete) << "size " << size;
        EXPECT_TRUE(frame == Expected(1)) << "size " << size;
        StopDevice(std::move(link));
    }
}

TEST_F(SimulatedFrameRead, ATooLongFrameIsRejectedAndTheStreamRecovers)
{
    for (const auto plan : {simcam::FramePlan{.extraChunk = 0}, simcam::FramePlan{.wrongFinal = 0}}) {
        for (SizeMode size : {0, 1, 2}) {
            camera->SetFramePlan(plan);
            auto link = StartStreaming(size);
            std::vector<std::uint8_t> frame(link->frameSize);
            EXPECT_EQ(FrameRead(*link, frame.data()), kFrameReadRejected) << "size " << size;
            EXPECT_EQ(FrameRead(*link, frame.data()), kFrameReadComplete) << "size " << size;
            StopDevice(std::move(link));
        }
    }
}

TEST_F(SimulatedFrameRead, AFailedTransferIsReportedAndTheLinkStaysUsable)
{
    camera->SetFramePlan({.failRead = 0, .failReadIndex = 3});
    auto link = StartStreaming(1);
    std::vector<std::uint8_t> frame(link->frameSize);
    EXPECT_EQ(FrameRead(*link, frame.data()), kFrameReadFailed);
    EXPECT_NE(FrameRead(*link, frame.data()), kFrameReadFailed);
}

TEST_F(SimulatedFrameRead, CancellationReleasesAReaderOfAStalledCamera)
{
    camera->SetFramePlan({.stallFrom = 1});
    auto link = StartStreaming(2);
    std::vector<std::uint8_t> frame(link->frameSize);
    EXPECT_EQ(FrameRead(*link, frame.data()), kFrameReadComplete);
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        link->port->CancelReads();
    });
    EXPECT_EQ(FrameRead(*link, frame.data()), kFrameReadFailed);
    stopper.join();
    // Cancellation sticks: later reads fail at once.
    EXPECT_EQ(FrameRead(*link, frame.data()), kFrameReadFailed);
}

TEST_F(SimulatedFrameRead, VanishedCameraFailsTheRead)
{
    auto link = StartStreaming(2);
    camera->SetFaults(simcam::kFaultVanished);
    std::vector<std::uint8_t> frame(link->frameSize);
    EXPECT_EQ(FrameRead(*link, frame.data()), kFrameReadFailed);
}

}  // namespace
}  // namespace kv20x
