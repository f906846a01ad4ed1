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

struct NameSummary {
    std::int64_t postCount = 0;
    std::optional<Post> first;
    std::optional<Post> best;  // highest score, ties to the earlier post
    std::optional<Post> last;
    std::vector<Post> recent;  // the newest posts, oldest first (the store says how many)
    MissProfile miss;          // over the last kAveragedPosts
};

// From all of a name's posts, oldest first; `recentLimit` of them are kept in `recent`.
NameSummary summarize(std::span<const Post> postsOldestFirst, std::size_t recentLimit);

}  // namespace velmora::board
