#pragma once
// When a camera that has gone silent counts as stalled: the reader has been
// waiting for a whole frame for longer than the bound. The bound follows the
// settings (a few frame times), but the frame on the wire was exposed under
// the settings of its start, so the largest bound asked for since the last
// whole frame applies: an exposure shortened in the middle of a long frame
// cannot time out the frame the camera is still sending.
//
// Time is whatever clock the caller gives, in milliseconds; the watchdog
// gives one that stands still while the system sleeps. Threads: FrameArrived,
// ReaderBusy and ReaderIdle may come from the reading thread while Check runs
// on the watchdog's; the shared values are atomics, and the largest bound is
// Check's own.

#include <atomic>
#include <cstdint>

namespace kv20x {

class StallDeadline {
public:
    struct Verdict {
        bool stalled;
        std::uint64_t waitMs;  // not stalled: how long until it is worth looking again
    };

    // The reader starts waiting for the first frame at `nowMs`.
    void Start(std::uint64_t nowMs);
    // A whole frame has arrived.
    void FrameArrived(std::uint64_t nowMs);
    // The reader starts waiting for the camera (the clock starts if it was
    // idle), or stops waiting because it has nowhere to put a frame: time
    // in which the camera is not asked for a frame does not count.
    void ReaderBusy(std::uint64_t nowMs);
    void ReaderIdle();
    // Whether the reader has waited longer than the largest bound since the
    // last frame, `boundMs` being the current one.
    Verdict Check(std::uint64_t nowMs, std::uint32_t boundMs);

private:
    std::atomic<std::uint64_t> m_waitingSince{0};
    std::atomic<std::uint32_t> m_waits{0};  // a new wait for a frame began (counted)
    std::atomic<bool> m_reading{false};
    std::uint32_t m_checkedWait = 0;
    std::uint32_t m_largestBound = 0;
};

}  // namespace kv20x
