#include "board/core/Post.h"

namespace velmora::board {

Post postOf(const exercise::ParsedReport& report, const std::string& name, const std::string& nameKey)
{
    Post post;
    post.name = name;
    post.nameKey = nameKey;
    post.edition = report.edition;
    post.levelIndex = report.levelIndex;
    post.referenceUsed = report.referenceUsed;
    post.score = report.score;
    post.user = report.user;
    post.exact = report.exact;
    post.device = report.device;
    post.instrument = report.instrument;
    post.startText = report.startText;
    post.endText = report.endText;
    post.durationText = report.durationText;
    post.reportText = report.text;
    post.fingerprint = report.fingerprint;
    return post;
}

bool betterThan(const Post& a, const Post& b)
{
    if (a.score != b.score)
        return a.score > b.score;
    if (a.postedAt != b.postedAt)
        return a.postedAt < b.postedAt;
    return a.id < b.id;
}

}  // namespace velmora::board
