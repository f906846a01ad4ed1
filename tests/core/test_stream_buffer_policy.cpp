// The sound server buffer's size over time, on a clock the test moves by hand.
#include "midi/synth/StreamBufferPolicy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace velmora::midi::synth;
using namespace std::chrono_literals;

namespace {

class FakeClock {
public:
    StreamBufferPolicy::TimePoint now() const { return m_now; }
    void advance(std::chrono::steady_clock::duration d) { m_now += d; }

private:
    StreamBufferPolicy::TimePoint m_now{std::chrono::hours(1)};
};

}  // namespace

TEST(StreamBufferPolicy, ABurstOfUnderrunsGrowsTheBufferOnceAndAQuietMinuteBringsItBack)
{
    FakeClock clock;
    StreamBufferPolicy policy;
    EXPECT_DOUBLE_EQ(policy.targetMilliseconds(), 10.0);

    // One stall makes the server report several underruns within milliseconds.
    EXPECT_TRUE(policy.underrun(clock.now()));
    for (int i = 0; i < 20; ++i) {
        clock.advance(10ms);
        EXPECT_FALSE(policy.underrun(clock.now()));
    }
    EXPECT_DOUBLE_EQ(policy.targetMilliseconds(), 15.0);

    // Still within the minute: it stays.
    clock.advance(59s);
    EXPECT_FALSE(policy.tick(clock.now()));
    EXPECT_DOUBLE_EQ(policy.targetMilliseconds(), 15.0);
    clock.advance(1s);
    EXPECT_TRUE(policy.tick(clock.now()));
    EXPECT_DOUBLE_EQ(policy.targetMilliseconds(), 10.0);

    // Never below where it started, however long it stays quiet.
    clock.advance(10min);
    EXPECT_FALSE(policy.tick(clock.now()));
    EXPECT_DOUBLE_EQ(policy.targetMilliseconds(), 10.0);
}

TEST(StreamBufferPolicy, ABusyMachineGrowsItOncePerSecondUpToTheCeilingThenItComesDownStepByStep)
{
    FakeClock clock;
    StreamBufferPolicy policy;
    std::vector<double> up;
    for (int i = 0; i < 100; ++i) {
        if (policy.underrun(clock.now()))
            up.push_back(policy.targetMilliseconds());
        clock.advance(250ms);
    }
    // 10 × 1.5^n, capped at 120 ms: seven steps in the first seconds, none after.
    EXPECT_EQ(up, (std::vector<double>{15.0, 22.5, 33.75, 50.625, 75.9375, 113.90625, 120.0}));

    // An underrun during the way down starts the quiet minute again.
    std::vector<double> down;
    std::vector<int> minutes;
    for (int s = 0; s < 10 * 60; ++s) {
        clock.advance(1s);
        if (s == 90)
            policy.underrun(clock.now());
        if (policy.tick(clock.now())) {
            down.push_back(policy.targetMilliseconds());
            minutes.push_back(s);
        }
    }
    // A minute after the last underrun it came down by the factor it went up by, from the cap
    // too; the underrun that followed grew it back to 120 ms, and from there it came down a
    // ÷1.5 step a minute until it was back where it started: six minutes after the last step
    // up it is at 10.5 ms, not at the 15 ms that retracing the capped step would leave.
    ASSERT_EQ(down.size(), 8u);
    EXPECT_DOUBLE_EQ(down[0], 80.0);
    for (std::size_t i = 1; i + 1 < down.size(); ++i)
        EXPECT_NEAR(down[i], 120.0 / std::pow(1.5, static_cast<double>(i)), 1e-9) << i;
    EXPECT_DOUBLE_EQ(down.back(), 10.0);
    EXPECT_EQ(minutes, (std::vector<int>{59, 150, 210, 270, 330, 390, 450, 510}));
}
