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

NameSummary summarize(std::span<const Post> postsOldestFirst, const NameQuery& query)
{
    NameSummary summary;
    summary.postCount = std::int64_t(postsOldestFirst.size());
    if (postsOldestFirst.empty())
        return summary;
    summary.first = postsOldestFirst.front();
    summary.last = postsOldestFirst.back();
    summary.best = *std::min_element(postsOldestFirst.begin(), postsOldestFirst.end(),
                                     [](const Post& a, const Post& b) { return betterThan(a, b); });
    for (const Post& post : postsOldestFirst.last(std::min(postsOldestFirst.size(), query.chartPoints)))
        summary.scores.push_back({post.id, post.score, post.postedAt});
    for (auto post = postsOldestFirst.rbegin(); post != postsOldestFirst.rend(); ++post) {
        if (query.beforeId > 0 && post->id >= query.beforeId)
            continue;
        if (summary.page.size() == query.pageSize) {
            summary.olderBefore = summary.page.empty() ? 0 : summary.page.back().id;
            break;
        }
        summary.page.push_back(*post);
    }
    summary.miss = missProfile(postsOldestFirst);
    return summary;
}

}  // namespace velmora::board
