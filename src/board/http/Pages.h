#pragma once

#include "board/core/Post.h"
#include "board/core/Rankings.h"
#include "board/core/Statistics.h"
#include "board/http/BoardTexts.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::board {

// What every page needs besides its content.
struct PageContext {
    Language language = Language::English;
    std::string path;       // the page's path and query without the language choice, for the switch
    std::string csrfToken;  // for the page's forms
    const BoardTexts& texts() const { return boardTexts(language); }
};

struct BoardPageView {
    std::vector<Post> posts;
    std::int64_t total = 0;
    int page = 1;              // 1-based, for the reader
    int pages = 1;
    std::int64_t olderBefore = 0;  // the cursor of the next older page, 0 when none
};
std::string renderBoardPage(const PageContext& context, const BoardPageView& view);

struct PostFormView {
    std::string name;         // what was typed, when the form comes back with a problem
    std::string report;
    std::vector<std::string> problems;  // already in the page's language
};
std::string renderPostForm(const PageContext& context, const PostFormView& view);

struct PostPageView {
    Post post;
    int added = 0;       // posts just made by the paste that led here, 0 when just visiting
    int duplicates = 0;
};
std::string renderPostPage(const PageContext& context, const PostPageView& view);

struct NamePageView {
    std::string name;
    NameSummary summary;
    int page = 1;  // of the table of posts, 1-based
    int pages = 1;
    int added = 0;
    int duplicates = 0;
};
std::string renderNamePage(const PageContext& context, const NamePageView& view);

std::string renderRankingsPage(const PageContext& context, const std::vector<Ranking>& rankings);

struct DeleteFormView {
    Post post;
    std::string problem;
};
std::string renderDeleteForm(const PageContext& context, const DeleteFormView& view);
std::string renderDeletedPage(const PageContext& context);

// A refusal: what happened and what to do, in the page's language.
std::string renderRefusal(const PageContext& context, std::string_view message);

// The board's one stylesheet (the pages allow no inline styles).
std::string_view styleSheet();

// Dates as the board shows them: UTC, ISO order.
std::string formatPostedAt(std::int64_t millisecondsSinceEpoch);
// The link to a name's page.
std::string nameLink(std::string_view name);
// Percent-encoding for a query value.
std::string urlEncode(std::string_view text);

}  // namespace velmora::board
