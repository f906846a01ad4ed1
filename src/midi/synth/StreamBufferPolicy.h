#pragma once

#include <chrono>
#include <optional>

namespace velmora::midi::synth {

// How much the sound server keeps queued for the synthesizer. The buffer starts small for a
// quick key, grows by `growth` after an underrun (at most once per `growthSpacing`, so that one
// stall or a suspend costs one step and not one per callback it caused), at most to
// `maximumMilliseconds`, and comes down by the same factor for every `quietPeriod` without an
// underrun, never below where it started.
struct PulseLatency {
    double initialMilliseconds = 10.0;
    double maximumMilliseconds = 120.0;
    double growth = 1.5;
    std::chrono::steady_clock::duration growthSpacing = std::chrono::seconds(1);
    std::chrono::steady_clock::duration quietPeriod = std::chrono::seconds(60);
};

// The buffer's size over time; the caller passes the time in, so the policy runs on any clock.
class StreamBufferPolicy {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    explicit StreamBufferPolicy(PulseLatency latency = {});

    double targetMilliseconds() const { return m_target; }
    // An underrun was heard at `now`; true when the target grew.
    bool underrun(TimePoint now);
    // Time has passed; true when the target came down a step.
    bool tick(TimePoint now);

private:
    PulseLatency m_latency;
    double m_target;
    std::optional<TimePoint> m_lastGrowth;
    // The last underrun or step down: the quiet period counts from here.
    std::optional<TimePoint> m_lastEvent;
};

}  // namespace velmora::midi::synth
