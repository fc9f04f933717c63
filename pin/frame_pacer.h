#pragma once
// Keeps a connection's frame rate when the camera runs faster than asked:
// every frame the camera sends advances the camera's own time by its
// duration, and a frame is delivered only once that time has reached the
// next delivery's due time, so that on average one frame goes out per
// interval, never more. Delivered samples are stamped contiguously on the
// camera's time: a sample lasts from the end of the previous delivered
// frame to the end of its own, dropped frames included.
//
// With no interval, or a camera slower than the interval, every frame is
// delivered. The due time never falls behind the camera's time, so a slow
// spell is not made up afterwards by a burst.
//
// Threads: used by the streaming worker only.

#include <cstdint>

namespace kv20x {

class FramePacer {
public:
    // A new run from time 0; `interval` in 100 ns units, 0 for every frame.
    void Reset(std::int64_t interval);

    // A frame lasting `duration` has arrived: whether to deliver it, and
    // then its sample times.
    bool Take(std::int64_t duration, std::int64_t* start, std::int64_t* stop);

    std::int64_t Interval() const { return m_interval; }

private:
    std::int64_t m_interval = 0;
    std::int64_t m_cameraTime = 0;  // the end of the last frame the camera sent
    std::int64_t m_lastStop = 0;    // the end of the last delivered sample
    std::int64_t m_due = 0;         // the camera time at which the next frame may go
};

}  // namespace kv20x
