#include "board/core/Statistics.h"

#include <algorithm>
#include <cstdlib>

namespace velmora::board {

MissProfile missProfile(std::span<const Post> postsOldestFirst)
{
    MissProfile profile;
    const std::span<const Post> last = postsOldestFirst.last(std::min(postsOldestFirst.size(), kAveragedPosts));
    profile.posts = last.size();
    if (last.empty())
        return profile;
    for (int pitchClass = 0; pitchClass < exercise::kPitchClasses; ++pitchClass) {
        double signedSum = 0;
        double absoluteSum = 0;
        for (const Post& post : last) {
            const int miss = signedMiss(post, pitchClass);
            signedSum += miss;
            absoluteSum += std::abs(miss);
        }
        PitchClassMiss& average = profile.pitchClasses[std::size_t(pitchClass)];
        average.signedCents = signedSum / double(last.size());
        average.absoluteCents = absoluteSum / double(last.size());
    }
    return profile;
}

NameSummary summarize(std::span<const Post> postsOldestFirst, std::size_t recentLimit)
{
    NameSummary summary;
    summary.postCount = std::int64_t(postsOldestFirst.size());
    if (postsOldestFirst.empty())
        return summary;
    summary.first = postsOldestFirst.front();
    summary.last = postsOldestFirst.back();
    summary.best = *std::min_element(postsOldestFirst.begin(), postsOldestFirst.end(),
                                     [](const Post& a, const Post& b) { return betterThan(a, b); });
    const std::span<const Post> recent = postsOldestFirst.last(std::min(postsOldestFirst.size(), recentLimit));
    summary.recent.assign(recent.begin(), recent.end());
    summary.miss = missProfile(postsOldestFirst);
    return summary;
}

}  // namespace velmora::board
