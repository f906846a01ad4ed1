#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmora::board {

inline constexpr int kMaxNameLength = 40;  // characters, after cleaning

enum class NameProblem {
    NotText,  // not UTF-8
    Empty,    // nothing left after cleaning
    TooLong,
};

struct CleanedName {
    std::string shown;  // control, bidi and zero-width characters removed, blanks trimmed and runs of them made one space
    std::string key;    // the shown name after NFKC and case folding: "ＡＢＣ" and "abc" are one name
    std::optional<NameProblem> problem;
    bool ok() const { return !problem.has_value(); }
};

CleanedName cleanName(std::string_view raw);

}  // namespace velmora::board
