#include "pin/frame_pacer.h"

namespace kv20x {

void FramePacer::Reset(std::int64_t interval)
{
    m_interval = interval > 0 ? interval : 0;
    m_cameraTime = 0;
    m_lastStop = 0;
    m_due = 0;
}

bool FramePacer::Take(std::int64_t duration, std::int64_t* start, std::int64_t* stop)
{
    m_cameraTime += duration > 0 ? duration : 0;
    if (m_cameraTime < m_due)
        return false;
    m_due += m_interval;
    if (m_due < m_cameraTime)
        m_due = m_cameraTime;
    *start = m_lastStop;
    *stop = m_cameraTime;
    m_lastStop = m_cameraTime;
    return true;
}

}  // namespace kv20x
