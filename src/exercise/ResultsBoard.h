#pragma once

namespace velmora::exercise {

// The results bulletin board, opened with the system's browser, unless the settings file's
// "board" address names another (a class's own board, a board on this computer).
inline constexpr const char* ResultsBoardAddress = "https://velmora.example.org/board/";

}  // namespace velmora::exercise
