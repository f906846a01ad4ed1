#pragma once

#include "editions/Edition.h"
#include "exercise/Levels.h"
#include "exercise/ReportParser.h"

#include <array>
#include <cstdint>
#include <string>

namespace velmora::board {

// One report on the board under one name.
struct Post {
    std::int64_t id = 0;
    std::string name;     // as shown, cleaned (Names.h)
    std::string nameKey;  // what names are compared by
    std::int64_t postedAt = 0;  // the server's clock, milliseconds since 1970-01-01 UTC
    Edition edition = Edition::Japanese;
    int levelIndex = 0;
    bool referenceUsed = false;
    int score = 0;
    std::array<int, exercise::kPitchClasses> user{};
    std::array<int, exercise::kPitchClasses> exact{};
    std::string device;
    std::string instrument;
    std::string startText;  // the player's times as the report writes them
    std::string endText;
    std::string durationText;
    std::string reportText;  // exactly as received
    std::string fingerprint;
    bool deletable = false;  // posted with a password
};

// A post of a parsed report; id, postedAt and deletable are the store's.
Post postOf(const exercise::ParsedReport& report, const std::string& name, const std::string& nameKey);

// Cents sharp of pitch class `pitchClass` after the player's correction: yours - exact.
inline int signedMiss(const Post& post, int pitchClass)
{
    return post.user[static_cast<std::size_t>(pitchClass)] - post.exact[static_cast<std::size_t>(pitchClass)];
}

// Higher score, or the same score posted earlier: ties go to the earlier post.
bool betterThan(const Post& a, const Post& b);

}  // namespace velmora::board
