#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace velmora::board {

inline constexpr std::size_t kMedianPosts = 5;

// Posts are ranked only against posts of the same level and reference-tone use.
struct RankingGroup {
    int levelIndex = 0;
    bool referenceUsed = false;
    friend bool operator==(const RankingGroup&, const RankingGroup&) = default;
};

struct RankingRow {
    std::int64_t postId = 0;
    std::string name;
    std::string nameKey;
    int score = 0;
    std::int64_t postedAt = 0;
};

struct BestEntry {
    RankingRow post;  // the name's best post, the earliest of equal scores
};

struct MedianEntry {
    std::string name;  // as shown in the name's newest post
    std::string nameKey;
    int median = 0;                // of the scores of the name's last kMedianPosts posts
    std::int64_t lastPostId = 0;   // the newest of those posts
    std::int64_t reachedAt = 0;    // its time: of equal medians the one reached earlier ranks first
};

struct Ranking {
    RankingGroup group;
    std::vector<BestEntry> best;      // one per name, best first
    std::vector<MedianEntry> median;  // names with at least kMedianPosts posts, best first
};

// `rows` are the group's posts, or any part of them that holds each name's best post and last
// kMedianPosts posts (what the store gives); at most `limit` entries in each list.
Ranking rank(RankingGroup group, std::span<const RankingRow> rows, std::size_t limit);

}  // namespace velmora::board
