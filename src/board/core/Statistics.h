#pragma once

#include "board/core/Post.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace velmora::board {

inline constexpr std::size_t kAveragedPosts = 20;

struct PitchClassMiss {
    double signedCents = 0;    // average of yours - exact: above 0 the player tunes this class sharp
    double absoluteCents = 0;  // average of |yours - exact|
};

struct MissProfile {
    std::size_t posts = 0;  // how many posts the averages are over (at most kAveragedPosts)
    std::array<PitchClassMiss, exercise::kPitchClasses> pitchClasses{};
};

// Over the last kAveragedPosts of the posts given oldest first.
MissProfile missProfile(std::span<const Post> postsOldestFirst);

// What of a name's posts its page shows: the scores of the newest `chartPoints` posts, and a page
// of `pageSize` posts older than post `beforeId` (0: from the newest).
struct NameQuery {
    std::size_t chartPoints = 100;
    std::int64_t beforeId = 0;
    std::size_t pageSize = 20;
};

struct PostScore {
    std::int64_t id = 0;
    int score = 0;
    std::int64_t postedAt = 0;
};

struct NameSummary {
    std::int64_t postCount = 0;
    std::optional<Post> first;
    std::optional<Post> best;  // highest score, ties to the earlier post
    std::optional<Post> last;
    std::vector<PostScore> scores;  // the newest posts' scores, oldest first
    std::vector<Post> page;         // newest first
    std::int64_t olderBefore = 0;   // the cursor of the next older page, 0 when none
    MissProfile miss;               // over the last kAveragedPosts
};

// From all of a name's posts, oldest first.
NameSummary summarize(std::span<const Post> postsOldestFirst, const NameQuery& query);

}  // namespace velmora::board
