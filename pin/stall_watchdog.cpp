#include "pin/stall_watchdog.h"

namespace kv20x {

namespace {

// Milliseconds of the system's running time, sleep and hibernation left out.
std::uint64_t AwakeMs()
{
    ULONGLONG unbiased = 0;
    ::QueryUnbiasedInterruptTime(&unbiased);
    return unbiased / 10000;
}

}  // namespace

StallWatchdog::StallWatchdog(std::function<DWORD()> boundMs)
    : m_boundMs(std::move(boundMs)), m_stop(::CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
}

StallWatchdog::~StallWatchdog()
{
    Stop();
}

bool StallWatchdog::Start(std::function<void()> action)
{
    Stop();
    if (!m_stop)
        return false;
    m_action = std::move(action);
    m_fired = false;
    // The stream starts with the reader waiting for the first frame.
    m_deadline.Start(AwakeMs(), m_boundMs());
    ::ResetEvent(m_stop.get());
    m_thread.reset(::CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr));
    return static_cast<bool>(m_thread);
}

void StallWatchdog::FrameArrived()
{
    m_deadline.FrameArrived(AwakeMs(), m_boundMs());
}

void StallWatchdog::ReaderBusy()
{
    m_deadline.ReaderBusy(AwakeMs(), m_boundMs());
}

void StallWatchdog::BoundChanged()
{
    m_deadline.BoundChanged(m_boundMs());
}

void StallWatchdog::ReaderIdle()
{
    m_deadline.ReaderIdle();
}

void StallWatchdog::Stop()
{
    if (!m_thread)
        return;
    ::SetEvent(m_stop.get());
    ::WaitForSingleObject(m_thread.get(), INFINITE);
    m_thread.reset();
}

DWORD WINAPI StallWatchdog::ThreadProc(LPVOID self)
{
    static_cast<StallWatchdog*>(self)->Watch();
    return 0;
}

void StallWatchdog::Watch()
{
    for (;;) {
        const StallDeadline::Verdict verdict = m_deadline.Check(AwakeMs(), m_boundMs());
        if (verdict.stalled) {
            m_fired = true;
            m_action();
            return;
        }
        // Woken early only by Stop; a frame that arrives or a bound that
        // grows meanwhile moves the deadline, which the next round reads.
        const DWORD waitMs = verdict.waitMs > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(verdict.waitMs);
        if (::WaitForSingleObject(m_stop.get(), waitMs) == WAIT_OBJECT_0)
            return;
    }
}

}  // namespace kv20x
