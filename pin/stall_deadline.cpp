#include "pin/stall_deadline.h"

namespace kv20x {

void StallDeadline::Start(std::uint64_t nowMs)
{
    m_waitingSince = nowMs;
    m_reading = true;
    ++m_waits;
}

void StallDeadline::FrameArrived(std::uint64_t nowMs)
{
    m_waitingSince = nowMs;
    ++m_waits;
}

void StallDeadline::ReaderBusy(std::uint64_t nowMs)
{
    if (!m_reading) {
        m_waitingSince = nowMs;
        ++m_waits;
        m_reading = true;
    }
}

void StallDeadline::ReaderIdle()
{
    m_reading = false;
}

StallDeadline::Verdict StallDeadline::Check(std::uint64_t nowMs, std::uint32_t boundMs)
{
    const std::uint32_t wait = m_waits;
    if (wait != m_checkedWait) {
        m_checkedWait = wait;
        m_largestBound = boundMs;
    } else if (boundMs > m_largestBound) {
        m_largestBound = boundMs;
    }
    if (!m_reading)
        return {false, boundMs};  // idle: looked at again one bound later
    const std::uint64_t deadline = m_waitingSince + m_largestBound;
    if (nowMs >= deadline)
        return {true, 0};
    return {false, deadline - nowMs};
}

}  // namespace kv20x
