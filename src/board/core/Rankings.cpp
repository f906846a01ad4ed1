#include "board/core/Rankings.h"

#include <algorithm>
#include <map>
#include <string_view>

namespace velmora::board {
namespace {

bool betterRow(const RankingRow& a, const RankingRow& b)
{
    if (a.score != b.score)
        return a.score > b.score;
    if (a.postedAt != b.postedAt)
        return a.postedAt < b.postedAt;
    return a.postId < b.postId;
}

bool newer(const RankingRow* a, const RankingRow* b)
{
    if (a->postedAt != b->postedAt)
        return a->postedAt > b->postedAt;
    return a->postId > b->postId;
}

}  // namespace

Ranking rank(RankingGroup group, std::span<const RankingRow> rows, std::size_t limit)
{
    Ranking ranking;
    ranking.group = group;
    std::map<std::string_view, std::vector<const RankingRow*>> byName;
    for (const RankingRow& row : rows)
        byName[row.nameKey].push_back(&row);

    for (auto& [key, posts] : byName) {
        const RankingRow* best = *std::min_element(posts.begin(), posts.end(),
                                                   [](const RankingRow* a, const RankingRow* b) { return betterRow(*a, *b); });
        ranking.best.push_back({*best});

        if (posts.size() < kMedianPosts)
            continue;
        std::partial_sort(posts.begin(), posts.begin() + kMedianPosts, posts.end(), newer);
        std::array<int, kMedianPosts> scores{};
        for (std::size_t i = 0; i < kMedianPosts; ++i)
            scores[i] = posts[i]->score;
        std::nth_element(scores.begin(), scores.begin() + kMedianPosts / 2, scores.end());
        const RankingRow& newest = *posts.front();
        ranking.median.push_back({newest.name, newest.nameKey, scores[kMedianPosts / 2], newest.postId, newest.postedAt});
    }

    std::sort(ranking.best.begin(), ranking.best.end(),
              [](const BestEntry& a, const BestEntry& b) { return betterRow(a.post, b.post); });
    std::sort(ranking.median.begin(), ranking.median.end(), [](const MedianEntry& a, const MedianEntry& b) {
        if (a.median != b.median)
            return a.median > b.median;
        if (a.reachedAt != b.reachedAt)
            return a.reachedAt < b.reachedAt;
        return a.lastPostId < b.lastPostId;
    });
    if (ranking.best.size() > limit)
        ranking.best.resize(limit);
    if (ranking.median.size() > limit)
        ranking.median.resize(limit);
    return ranking;
}

}  // namespace velmora::board
