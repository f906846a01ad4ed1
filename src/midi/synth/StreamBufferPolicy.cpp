#include "midi/synth/StreamBufferPolicy.h"

#include <algorithm>

namespace velmora::midi::synth {

StreamBufferPolicy::StreamBufferPolicy(PulseLatency latency)
    : m_latency(latency), m_target(latency.initialMilliseconds)
{
}

bool StreamBufferPolicy::underrun(TimePoint now)
{
    m_lastEvent = now;
    if (m_lastGrowth && now - *m_lastGrowth < m_latency.growthSpacing)
        return false;
    if (m_target >= m_latency.maximumMilliseconds)
        return false;
    m_lastGrowth = now;
    m_target = std::min(m_target * m_latency.growth, m_latency.maximumMilliseconds);
    return true;
}

bool StreamBufferPolicy::tick(TimePoint now)
{
    if (m_target <= m_latency.initialMilliseconds || (m_lastEvent && now - *m_lastEvent < m_latency.quietPeriod))
        return false;
    m_lastEvent = now;
    // From the cap too a whole step, not the remainder of the last step up, which the cap cut
    // short; the last step lands exactly where the buffer started.
    m_target = std::max(m_target / m_latency.growth, m_latency.initialMilliseconds);
    return true;
}

}  // namespace velmora::midi::synth
