#include "pin/stall_watchdog.h"

namespace kv20x {

StallWatchdog::StallWatchdog() : m_stop(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

StallWatchdog::~StallWatchdog()
{
    Stop();
}

bool StallWatchdog::Start(std::function<DWORD()> boundMs, std::function<void()> action)
{
    Stop();
    if (!m_stop)
        return false;
    m_boundMs = std::move(boundMs);
    m_action = std::move(action);
    m_fired = false;
    // The stream starts with the reader waiting for the first frame.
    m_lastFrame = ::GetTickCount64();
    m_reading = true;
    ::ResetEvent(m_stop.get());
    m_thread.reset(::CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr));
    return static_cast<bool>(m_thread);
}

void StallWatchdog::FrameArrived()
{
    m_lastFrame = ::GetTickCount64();
}

void StallWatchdog::ReaderBusy()
{
    if (!m_reading) {
        m_lastFrame = ::GetTickCount64();
        m_reading = true;
    }
}

void StallWatchdog::ReaderIdle()
{
    m_reading = false;
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
        const DWORD bound = m_boundMs();
        const bool reading = m_reading;
        const ULONGLONG deadline = reading ? m_lastFrame.load() + bound : ::GetTickCount64() + bound;
        const ULONGLONG now = ::GetTickCount64();
        if (reading && now >= deadline) {
            m_fired = true;
            m_action();
            return;
        }
        // Woken early only by Stop; a frame that arrives meanwhile moves the
        // deadline, which the next round reads. An idle reader is looked at
        // again one bound later.
        if (::WaitForSingleObject(m_stop.get(), static_cast<DWORD>(deadline - now)) == WAIT_OBJECT_0)
            return;
    }
}

}  // namespace kv20x
