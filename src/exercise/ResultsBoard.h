#pragma once

namespace velmora::exercise {

// The results bulletin board, opened with the system's browser.
inline constexpr const char* ResultsBoardAddress = "https://velmora.example.org/board/";

}  // namespace velmora::exercise
