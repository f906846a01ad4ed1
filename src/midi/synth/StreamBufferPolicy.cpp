#include "midi/synth/StreamBufferPolicy.h"

#include <algorithm>
#include <cmath>

namespace velmora::midi::synth {

StreamBufferPolicy::StreamBufferPolicy(PulseLatency latency)
    : m_latency(latency), m_target(latency.initialMilliseconds)
{
}

double StreamBufferPolicy::targetFor(int steps) const
{
    return std::min(m_latency.initialMilliseconds * std::pow(m_latency.growth, steps), m_latency.maximumMilliseconds);
}

bool StreamBufferPolicy::underrun(TimePoint now)
{
    m_lastEvent = now;
    if (m_lastGrowth && now - *m_lastGrowth < m_latency.growthSpacing)
        return false;
    if (m_target >= m_latency.maximumMilliseconds)
        return false;
    m_lastGrowth = now;
    m_target = targetFor(++m_steps);
    return true;
}

bool StreamBufferPolicy::tick(TimePoint now)
{
    if (m_steps == 0 || (m_lastEvent && now - *m_lastEvent < m_latency.quietPeriod))
        return false;
    m_lastEvent = now;
    // Counted in steps so that the way down lands exactly where the buffer started.
    m_target = targetFor(--m_steps);
    return true;
}

}  // namespace velmora::midi::synth
