#pragma once
// When a camera that has gone silent counts as stalled: the reader has been
// waiting for a whole frame for longer than the bound. The bound follows the
// settings (a few frame times), but the frame on the wire was exposed under
// the settings of its start, so the largest bound in force since the frame
// started applies: an exposure shortened in the middle of a long frame cannot
// time out the frame the camera is still sending.
//
// The bound is recorded by the events that change it, not by whoever looks:
// the frame's start (Start, FrameArrived, ReaderBusy) records the bound then
// in force, and a setter that changes it records the new one (BoundChanged).
// A watchdog that sleeps through a change still sees it.
//
// Time is whatever clock the caller gives, in milliseconds; the watchdog
// gives one that stands still while the system sleeps. Threads: the events
// may come from the reading thread and from setters on application threads
// while Check runs on the watchdog's; the shared values are atomics. A
// frame's start stores its time before its bound, and Check reads the bound
// before the time, so a check that overlaps a frame's start may see the new
// time with the previous (larger or equal) bound, never the old time with a
// new, shorter bound.

#include <atomic>
#include <cstdint>

namespace kv20x {

class StallDeadline {
public:
    struct Verdict {
        bool stalled;
        std::uint64_t waitMs;  // not stalled: how long until it is worth looking again
    };

    // The reader starts waiting for the first frame at `nowMs`, under `boundMs`.
    void Start(std::uint64_t nowMs, std::uint32_t boundMs);
    // A whole frame has arrived; the next one starts under `boundMs`.
    void FrameArrived(std::uint64_t nowMs, std::uint32_t boundMs);
    // The reader starts waiting for the camera (the clock starts if it was
    // idle), or stops waiting because it has nowhere to put a frame: time
    // in which the camera is not asked for a frame does not count.
    void ReaderBusy(std::uint64_t nowMs, std::uint32_t boundMs);
    void ReaderIdle();
    // A setter changed the bound: a longer one counts for the frame in flight.
    void BoundChanged(std::uint32_t boundMs);
    // Whether the reader has waited longer than the largest bound since the
    // frame started, `boundMs` being the current one.
    Verdict Check(std::uint64_t nowMs, std::uint32_t boundMs);

private:
    void BeginWait(std::uint64_t nowMs, std::uint32_t boundMs);

    std::atomic<std::uint64_t> m_waitingSince{0};
    std::atomic<std::uint32_t> m_largestBound{0};
    std::atomic<bool> m_reading{false};
};

}  // namespace kv20x
