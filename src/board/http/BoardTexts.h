#pragma once

#include <string>
#include <string_view>

namespace velmora::board {

enum class Language { Japanese, English };

// Every text the board's pages show, in one language. Texts with {0}, {1} take values through fill().
struct BoardTexts {
    std::string_view htmlLang;
    std::string_view siteTitle;
    std::string_view navBoard;
    std::string_view navPost;
    std::string_view navRankings;
    std::string_view otherLanguage;      // the switch's label, in the other language
    std::string_view otherLanguageCode;

    // The board
    std::string_view boardHeading;
    std::string_view boardEmpty;
    std::string_view columnName;
    std::string_view columnScore;
    std::string_view columnLevel;
    std::string_view columnInstrument;
    std::string_view columnReference;
    std::string_view columnDate;
    std::string_view referenceUsed;
    std::string_view referenceNotUsed;
    std::string_view newer;              // back to the first page
    std::string_view older;
    std::string_view pageOf;             // {0} page, {1} pages, {2} posts
    std::string_view exportCsv;
    std::string_view levelNames[4];

    // Posting
    std::string_view postHeading;
    std::string_view postHelp;
    std::string_view fieldName;
    std::string_view fieldReport;
    std::string_view fieldPassword;
    std::string_view fieldPasswordHelp;
    std::string_view fieldHoneypot;
    std::string_view postButton;
    std::string_view postedOne;
    std::string_view postedMany;         // {0} posted
    std::string_view postedDuplicates;   // {0} already on the board

    // One post
    std::string_view postTitle;          // {0} number
    std::string_view postBy;
    std::string_view reportAsPosted;
    std::string_view missChartTitle;
    std::string_view missChartCaption;
    std::string_view deleteLink;

    // One name
    std::string_view nameTitle;          // {0} name
    std::string_view nameEmpty;
    std::string_view scoresOverTime;
    std::string_view scoresChartCaption; // {0} posts
    std::string_view firstScore;
    std::string_view bestScore;
    std::string_view lastScore;
    std::string_view missTableHeading;   // {0} posts counted
    std::string_view columnPitch;
    std::string_view columnAverageSigned;
    std::string_view columnAverageAbsolute;
    std::string_view columnTendency;
    std::string_view sharp;
    std::string_view flat;
    std::string_view onPitch;
    std::string_view tendsSharp;         // {0} pitch class
    std::string_view tendsFlat;          // {0} pitch class
    std::string_view noTendency;
    std::string_view allPostsOfName;

    // Rankings
    std::string_view rankingsHeading;
    std::string_view rankingsEmpty;
    std::string_view rankingGroup;       // {0} level, {1} reference used / not used
    std::string_view bestScores;
    std::string_view medianScores;
    std::string_view medianHelp;
    std::string_view columnRank;
    std::string_view columnMedian;

    // Deleting
    std::string_view deleteHeading;      // {0} number
    std::string_view deleteHelp;
    std::string_view deleteButton;
    std::string_view deleted;
    std::string_view backToBoard;

    // Refusals: a title and what to do
    std::string_view refusedTitle;
    std::string_view notFound;
    std::string_view formExpired;
    std::string_view tooLarge;           // {0} limit in KiB
    std::string_view lengthRequired;
    std::string_view badRequest;
    std::string_view rateLimited;        // {0} seconds
    std::string_view honeypotFilled;
    std::string_view nameMissing;
    std::string_view nameTooLong;        // {0} characters
    std::string_view reportMissing;
    std::string_view passwordTooLong;    // {0} characters
    std::string_view noPassword;
    std::string_view wrongPassword;
    std::string_view unavailable;
    std::string_view internalError;
    std::string_view reportProblemAt;    // {0} report number, {1} line number, {2} the problem
    std::string_view problemNotAReport;
    std::string_view problemRowMissing;
    std::string_view problemNotAStep;
    std::string_view problemOutOfRange;
    std::string_view problemScore;
    std::string_view problemEndBeforeStart;
    std::string_view problemDuration;
    std::string_view problemVersion;
    std::string_view problemOther;
};

const BoardTexts& boardTexts(Language language);

// Replaces {0}, {1}, ... with the values, as given; the caller escapes the result when it writes it.
std::string fill(std::string_view pattern, std::initializer_list<std::string_view> values);

// The page's language: an explicit choice (the switch's query value or its cookie, "ja" or "en")
// first, then the best of Japanese and English in Accept-Language by quality, English when it
// names neither.
Language chooseLanguage(std::string_view choice, std::string_view acceptLanguage);
std::string_view languageCode(Language language);

}  // namespace velmora::board
