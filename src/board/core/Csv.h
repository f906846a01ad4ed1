#pragma once

#include "board/core/Post.h"

#include <string>
#include <string_view>

namespace velmora::board {

// RFC 4180 with CR LF. A text cell that a spreadsheet would take for a formula (=, +, -, @, tab,
// CR at its start) gets a leading apostrophe; numbers are left alone.
std::string csvHeader();
std::string csvRow(const Post& post);
// One cell, quoted when it must be.
std::string csvCell(std::string_view text);

}  // namespace velmora::board
