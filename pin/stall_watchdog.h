#pragma once
// Notices a camera that has gone silent while the graph streams: when the
// reader has been waiting for the camera and no whole frame has arrived for
// the bound (StallDeadline's rules: the largest bound since the last frame,
// idle time not counted), it runs its action once, on a thread of its own.
// The capture pin's action cancels the reads in flight, which ends the
// stream the way a read failure does. Its clock is the unbiased interrupt
// time, which stands still while the system sleeps: a stream that a sleep
// and resume interrupted is not taken for a stalled one.
//
// Threads and locking: Start and Stop come from the streaming worker; Stop
// joins the watchdog thread, so the action never outlives the run it
// watches. FrameArrived, ReaderBusy, ReaderIdle and BoundChanged may come
// from any thread: StallDeadline keeps what they change in atomics.
// m_boundMs is given at construction and never changes, so any thread may
// call it; m_action is set by Start before the thread that alone calls it
// exists. m_fired is an atomic; m_stop is a manual-reset event.

#include <windows.h>

#include <atomic>
#include <functional>

#include "base/handles.h"
#include "pin/stall_deadline.h"

namespace kv20x {

class StallWatchdog {
public:
    // `boundMs` gives the bound in force; it is asked afresh at every check
    // and event (the frame duration follows the settings), from any thread.
    explicit StallWatchdog(std::function<DWORD()> boundMs);
    ~StallWatchdog();
    StallWatchdog(const StallWatchdog&) = delete;
    StallWatchdog& operator=(const StallWatchdog&) = delete;

    // Starts watching from now; `action` runs at most once. False when no
    // thread could be started: the run goes on unwatched.
    bool Start(std::function<void()> action);
    // A whole frame has arrived.
    void FrameArrived();
    // The reader starts waiting for the camera (the clock starts if it was
    // idle), or stops waiting because it has nowhere to put a frame.
    void ReaderBusy();
    void ReaderIdle();
    // A setter changed what the bound depends on (size, clock, exposure):
    // a longer bound counts at once for the frame in flight.
    void BoundChanged();
    // Ends the watch and joins its thread. Safe when not started.
    void Stop();
    // Whether the action ran during the last watch.
    bool Fired() const { return m_fired; }

private:
    static DWORD WINAPI ThreadProc(LPVOID self);
    void Watch();

    const std::function<DWORD()> m_boundMs;
    std::function<void()> m_action;
    StallDeadline m_deadline;
    std::atomic<bool> m_fired{false};
    UniqueHandle m_stop;
    UniqueHandle m_thread;
};

}  // namespace kv20x
