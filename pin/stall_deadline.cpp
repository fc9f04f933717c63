#include "pin/stall_deadline.h"

namespace kv20x {

void StallDeadline::BeginWait(std::uint64_t nowMs, std::uint32_t boundMs)
{
    m_waitingSince = nowMs;
    m_largestBound = boundMs;
}

void StallDeadline::Start(std::uint64_t nowMs, std::uint32_t boundMs)
{
    BeginWait(nowMs, boundMs);
    m_reading = true;
}

void StallDeadline::FrameArrived(std::uint64_t nowMs, std::uint32_t boundMs)
{
    BeginWait(nowMs, boundMs);
}

void StallDeadline::ReaderBusy(std::uint64_t nowMs, std::uint32_t boundMs)
{
    if (!m_reading) {
        BeginWait(nowMs, boundMs);
        m_reading = true;
    }
}

void StallDeadline::ReaderIdle()
{
    m_reading = false;
}

void StallDeadline::BoundChanged(std::uint32_t boundMs)
{
    std::uint32_t largest = m_largestBound;
    while (boundMs > largest && !m_largestBound.compare_exchange_weak(largest, boundMs)) {
    }
}

StallDeadline::Verdict StallDeadline::Check(std::uint64_t nowMs, std::uint32_t boundMs)
{
    const std::uint32_t recorded = m_largestBound;
    const std::uint64_t since = m_waitingSince;
    const std::uint32_t bound = recorded > boundMs ? recorded : boundMs;
    if (!m_reading)
        return {false, bound};  // idle: looked at again one bound later
    const std::uint64_t deadline = since + bound;
    if (nowMs >= deadline)
        return {true, 0};
    return {false, deadline - nowMs};
}

}  // namespace kv20x
