#include "board/http/Pages.h"

#include "board/http/Charts.h"
#include "board/http/HtmlWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>

namespace velmora::board {

namespace {

std::string decimal(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%+.1f", value);
    std::string out = text;
    if (out == "+0.0" || out == "-0.0")
        out = "0.0";
    return out;
}

std::string plain(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string withLanguage(std::string_view path, std::string_view code)
{
    std::string out(path);
    out += out.find('?') == std::string::npos ? '?' : '&';
    out += "lang=";
    out += code;
    return out;
}

void writeFrame(HtmlWriter& html, const PageContext& context, std::string_view title,
                const std::function<void(HtmlWriter&)>& content)
{
    const BoardTexts& t = context.texts();
    html.trustedMarkup("<!DOCTYPE html>\n");
    html.open("html", {{"lang", t.htmlLang}});
    html.open("head");
    html.empty("meta", {{"charset", "utf-8"}});
    html.empty("meta", {{"name", "viewport"}, {"content", "width=device-width, initial-scale=1"}});
    html.element("title", std::string(title) + " — " + std::string(t.siteTitle));
    html.empty("link", {{"rel", "stylesheet"}, {"href", "/style.css"}});
    html.close("head");
    html.open("body");
    html.open("header");
    html.open("p", {{"class", "site"}}).element("a", {{"href", "/"}}, t.siteTitle).close("p");
    html.open("nav");
    html.open("ul");
    html.open("li").element("a", {{"href", "/"}}, t.navBoard).close("li");
    html.open("li").element("a", {{"href", "/post"}}, t.navPost).close("li");
    html.open("li").element("a", {{"href", "/rankings"}}, t.navRankings).close("li");
    html.open("li", {{"class", "language"}})
        .element("a", {{"href", withLanguage(context.path, t.otherLanguageCode)}, {"lang", t.otherLanguageCode},
                       {"hreflang", t.otherLanguageCode}},
                 t.otherLanguage)
        .close("li");
    html.close("ul");
    html.close("nav");
    html.close("header");
    html.open("main");
    content(html);
    html.close("main");
    html.close("body");
    html.close("html");
}

std::string levelName(const BoardTexts& t, int levelIndex)
{
    return levelIndex >= 0 && levelIndex < 4 ? std::string(t.levelNames[levelIndex]) : std::to_string(levelIndex);
}

std::string postLink(std::int64_t id)
{
    return "/posts/" + std::to_string(id);
}

void writeHiddenToken(HtmlWriter& html, const PageContext& context)
{
    html.empty("input", {{"type", "hidden"}, {"name", "csrf"}, {"value", context.csrfToken}});
}

void writePostTable(HtmlWriter& html, const BoardTexts& t, const std::vector<Post>& posts, bool withName)
{
    html.open("table", {{"class", "posts"}});
    html.open("thead").open("tr");
    if (withName)
        html.element("th", {{"scope", "col"}}, t.columnName);
    html.element("th", {{"scope", "col"}, {"class", "number"}}, t.columnScore);
    html.element("th", {{"scope", "col"}}, t.columnLevel);
    html.element("th", {{"scope", "col"}}, t.columnInstrument);
    html.element("th", {{"scope", "col"}}, t.columnReference);
    html.element("th", {{"scope", "col"}}, t.columnDate);
    html.close("tr").close("thead");
    html.open("tbody");
    for (const Post& post : posts) {
        html.open("tr");
        if (withName)
            html.open("td").element("a", {{"href", nameLink(post.name)}}, post.name).close("td");
        html.open("td", {{"class", "number"}})
            .element("a", {{"href", postLink(post.id)}}, std::to_string(post.score))
            .close("td");
        html.element("td", levelName(t, post.levelIndex));
        html.element("td", post.instrument);
        html.element("td", post.referenceUsed ? t.referenceUsed : t.referenceNotUsed);
        html.open("td").element("a", {{"href", postLink(post.id)}}, formatPostedAt(post.postedAt)).close("td");
        html.close("tr");
    }
    html.close("tbody");
    html.close("table");
}

struct PageLinks {
    int page = 1;
    int pages = 1;
    std::int64_t total = 0;
    std::int64_t olderBefore = 0;
};

// Newer and older pages of a table of posts: `newest` is the first page's address, `older` the
// start of an address its cursor is added to.
void writePageLinks(HtmlWriter& html, const BoardTexts& t, const std::string& newest, const std::string& older,
                    const PageLinks& at)
{
    html.open("nav", {{"class", "pages"}});
    if (at.page > 1)
        html.element("a", {{"href", newest}, {"rel", "prev"}}, t.newer);
    html.element("span", fill(t.pageOf, {std::to_string(at.page), std::to_string(at.pages), std::to_string(at.total)}));
    if (at.olderBefore > 0)
        html.element("a",
                     {{"href", older + "before=" + std::to_string(at.olderBefore) + "&page=" + std::to_string(at.page + 1)},
                      {"rel", "next"}},
                     t.older);
    html.close("nav");
}

void writeNotice(HtmlWriter& html, const BoardTexts& t, int added, int duplicates)
{
    if (added <= 0 && duplicates <= 0)
        return;
    html.open("div", {{"class", "notice"}, {"role", "status"}});
    if (added == 1)
        html.element("p", t.postedOne);
    else if (added > 1)
        html.element("p", fill(t.postedMany, {std::to_string(added)}));
    if (duplicates > 0)
        html.element("p", fill(t.postedDuplicates, {std::to_string(duplicates)}));
    html.close("div");
}

}  // namespace

std::string formatPostedAt(std::int64_t millisecondsSinceEpoch)
{
    const std::time_t seconds = static_cast<std::time_t>(millisecondsSinceEpoch / 1000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &parts);
    return text;
}

std::string urlEncode(std::string_view text)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_'
            || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string nameLink(std::string_view name)
{
    return "/name?n=" + urlEncode(name);
}

std::string renderBoardPage(const PageContext& context, const BoardPageView& view)
{
    const BoardTexts& t = context.texts();
    HtmlWriter html;
    writeFrame(html, context, t.boardHeading, [&](HtmlWriter& h) {
        h.element("h1", t.boardHeading);
        if (view.posts.empty()) {
            h.element("p", {{"class", "empty"}}, t.boardEmpty);
            h.open("p").element("a", {{"href", "/post"}, {"class", "button"}}, t.navPost).close("p");
            return;
        }
        writePostTable(h, t, view.posts, true);
        writePageLinks(h, t, "/", "/?", {view.page, view.pages, view.total, view.olderBefore});
        h.open("p").element("a", {{"href", "/board.csv"}, {"download", "velmora-board.csv"}}, t.exportCsv).close("p");
    });
    return html.take();
}

std::string renderPostForm(const PageContext& context, const PostFormView& view)
{
    const BoardTexts& t = context.texts();
    HtmlWriter html;
    writeFrame(html, context, t.postHeading, [&](HtmlWriter& h) {
        h.element("h1", t.postHeading);
        if (!view.problems.empty()) {
            h.open("div", {{"class", "problems"}, {"role", "alert"}});
            h.element("h2", t.refusedTitle);
            h.open("ul");
            for (const std::string& problem : view.problems)
                h.element("li", problem);
            h.close("ul");
            h.close("div");
        }
        h.element("p", t.postHelp);
        h.open("form", {{"method", "post"}, {"action", "/post"}, {"enctype", "multipart/form-data"},
                        {"accept-charset", "utf-8"}});
        writeHiddenToken(h, context);
        h.open("p");
        h.element("label", {{"for", "name"}}, t.fieldName);
        h.empty("input", {{"type", "text"}, {"id", "name"}, {"name", "name"}, {"required", "required"},
                          {"maxlength", "40"}, {"autocomplete", "nickname"}, {"value", view.name}});
        h.close("p");
        h.open("p");
        h.element("label", {{"for", "report"}}, t.fieldReport);
        h.element("textarea", {{"id", "report"}, {"name", "report"}, {"required", "required"}, {"rows", "16"},
                               {"cols", "60"}, {"spellcheck", "false"}},
                  view.report);
        h.close("p");
        h.open("p");
        h.element("label", {{"for", "password"}}, t.fieldPassword);
        h.empty("input", {{"type", "password"}, {"id", "password"}, {"name", "password"}, {"maxlength", "128"},
                          {"autocomplete", "new-password"}, {"aria-describedby", "password-help"}});
        h.element("span", {{"id", "password-help"}, {"class", "help"}}, t.fieldPasswordHelp);
        h.close("p");
        // Left empty by people, who never see it; filled by robots that fill every field.
        h.open("p", {{"class", "hp"}, {"aria-hidden", "true"}});
        h.element("label", {{"for", "website"}}, t.fieldHoneypot);
        h.empty("input", {{"type", "text"}, {"id", "website"}, {"name", "website"}, {"tabindex", "-1"},
                          {"autocomplete", "off"}});
        h.close("p");
        h.open("p").element("button", {{"type", "submit"}}, t.postButton).close("p");
        h.close("form");
    });
    return html.take();
}

std::string renderPostPage(const PageContext& context, const PostPageView& view)
{
    const BoardTexts& t = context.texts();
    const Post& post = view.post;
    const std::string title = fill(t.postTitle, {std::to_string(post.id)});
    HtmlWriter html;
    writeFrame(html, context, title, [&](HtmlWriter& h) {
        writeNotice(h, t, view.added, view.duplicates);
        h.element("h1", title);
        h.open("dl", {{"class", "facts"}});
        h.element("dt", t.postBy);
        h.open("dd").element("a", {{"href", nameLink(post.name)}}, post.name).close("dd");
        h.element("dt", t.columnScore);
        h.element("dd", {{"class", "score"}}, std::to_string(post.score));
        h.element("dt", t.columnLevel);
        h.element("dd", levelName(t, post.levelIndex));
        h.element("dt", t.columnInstrument);
        h.element("dd", post.instrument);
        h.element("dt", t.columnReference);
        h.element("dd", post.referenceUsed ? t.referenceUsed : t.referenceNotUsed);
        h.element("dt", t.columnDate);
        h.element("dd", formatPostedAt(post.postedAt));
        h.close("dl");
        h.element("h2", t.missChartTitle);
        h.open("figure");
        std::array<double, exercise::kPitchClasses> miss{};
        for (int i = 0; i < exercise::kPitchClasses; ++i)
            miss[std::size_t(i)] = signedMiss(post, i);
        writeMissChart(h, miss, t.missChartTitle, t.sharp, t.flat);
        h.element("figcaption", t.missChartCaption);
        h.close("figure");
        h.element("h2", t.reportAsPosted);
        h.element("pre", {{"class", "report"}}, post.reportText);
        if (post.deletable)
            h.open("p").element("a", {{"href", postLink(post.id) + "/delete"}}, t.deleteLink).close("p");
    });
    return html.take();
}

std::string renderNamePage(const PageContext& context, const NamePageView& view)
{
    const BoardTexts& t = context.texts();
    const NameSummary& s = view.summary;
    const std::string title = fill(t.nameTitle, {view.name});
    HtmlWriter html;
    writeFrame(html, context, title, [&](HtmlWriter& h) {
        writeNotice(h, t, view.added, view.duplicates);
        h.element("h1", title);
        if (s.postCount == 0) {
            h.element("p", {{"class", "empty"}}, t.nameEmpty);
            return;
        }
        h.open("dl", {{"class", "facts"}});
        const auto fact = [&](std::string_view label, const std::optional<Post>& post) {
            if (!post)
                return;
            h.element("dt", label);
            h.open("dd")
                .element("a", {{"href", postLink(post->id)}}, std::to_string(post->score))
                .text(" (" + formatPostedAt(post->postedAt) + ")")
                .close("dd");
        };
        fact(t.firstScore, s.first);
        fact(t.bestScore, s.best);
        fact(t.lastScore, s.last);
        h.close("dl");

        h.element("h2", t.scoresOverTime);
        // The points only look at their labels: the labels must outlive them.
        std::vector<std::string> labels;
        for (const PostScore& score : s.scores)
            labels.push_back(formatPostedAt(score.postedAt).substr(0, 10));
        std::vector<ScorePoint> points;
        for (std::size_t i = 0; i < s.scores.size(); ++i)
            points.push_back({s.scores[i].score, labels[i]});
        h.open("figure");
        writeScoreChart(h, points, t.scoresOverTime);
        h.element("figcaption", fill(t.scoresChartCaption, {std::to_string(s.scores.size())}));
        h.close("figure");

        h.element("h2", fill(t.missTableHeading, {std::to_string(s.miss.posts)}));
        // A class counts as leaning one way when the average leans by 2 cents or more and by at
        // least half its average size, so one wild post in twenty does not make a tendency.
        struct Lean {
            int pitchClass;
            double cents;
        };
        std::vector<Lean> leans;
        const auto leaning = [](const PitchClassMiss& m) {
            return std::abs(m.signedCents) >= 2 && std::abs(m.signedCents) >= m.absoluteCents / 2;
        };
        for (int i = 0; i < exercise::kPitchClasses; ++i)
            if (leaning(s.miss.pitchClasses[std::size_t(i)]))
                leans.push_back({i, s.miss.pitchClasses[std::size_t(i)].signedCents});
        std::stable_sort(leans.begin(), leans.end(),
                         [](const Lean& a, const Lean& b) { return std::abs(a.cents) > std::abs(b.cents); });
        h.open("div", {{"class", "tendency"}});
        if (leans.empty())
            h.element("p", t.noTendency);
        for (std::size_t i = 0; i < leans.size() && i < 3; ++i)
            h.element("p", fill(leans[i].cents > 0 ? t.tendsSharp : t.tendsFlat,
                                {kPitchClassNames[std::size_t(leans[i].pitchClass)]}));
        h.close("div");
        std::array<double, exercise::kPitchClasses> averages{};
        for (int i = 0; i < exercise::kPitchClasses; ++i)
            averages[std::size_t(i)] = s.miss.pitchClasses[std::size_t(i)].signedCents;
        h.open("figure");
        writeMissChart(h, averages, t.columnAverageSigned, t.sharp, t.flat);
        h.close("figure");
        h.open("table", {{"class", "miss"}});
        h.open("thead").open("tr");
        h.element("th", {{"scope", "col"}}, t.columnPitch);
        h.element("th", {{"scope", "col"}, {"class", "number"}}, t.columnAverageSigned);
        h.element("th", {{"scope", "col"}, {"class", "number"}}, t.columnAverageAbsolute);
        h.element("th", {{"scope", "col"}}, t.columnTendency);
        h.close("tr").close("thead").open("tbody");
        for (int i = 0; i < exercise::kPitchClasses; ++i) {
            const PitchClassMiss& m = s.miss.pitchClasses[std::size_t(i)];
            h.open("tr");
            h.element("th", {{"scope", "row"}}, kPitchClassNames[std::size_t(i)]);
            h.element("td", {{"class", "number"}}, decimal(m.signedCents));
            h.element("td", {{"class", "number"}}, plain(m.absoluteCents));
            h.element("td", leaning(m) ? (m.signedCents > 0 ? t.sharp : t.flat) : t.onPitch);
            h.close("tr");
        }
        h.close("tbody").close("table");

        h.element("h2", t.allPostsOfName);
        writePostTable(h, t, s.page, false);
        const std::string here = "/name?n=" + urlEncode(view.name);
        writePageLinks(h, t, here, here + "&", {view.page, view.pages, s.postCount, s.olderBefore});
        h.open("p")
            .element("a", {{"href", "/name.csv?n=" + urlEncode(view.name)}, {"download", "velmora-name.csv"}}, t.exportCsv)
            .close("p");
    });
    return html.take();
}

std::string renderRankingsPage(const PageContext& context, const std::vector<Ranking>& rankings)
{
    const BoardTexts& t = context.texts();
    HtmlWriter html;
    writeFrame(html, context, t.rankingsHeading, [&](HtmlWriter& h) {
        h.element("h1", t.rankingsHeading);
        h.element("p", t.medianHelp);
        bool any = false;
        for (const Ranking& ranking : rankings) {
            if (ranking.best.empty())
                continue;
            any = true;
            const std::string group = fill(t.rankingGroup, {levelName(t, ranking.group.levelIndex),
                                                            ranking.group.referenceUsed ? t.referenceUsed
                                                                                        : t.referenceNotUsed});
            h.open("section", {{"class", "ranking"}});
            h.element("h2", group);
            h.open("table", {{"class", "rank"}});
            h.element("caption", t.bestScores);
            h.open("thead").open("tr");
            h.element("th", {{"scope", "col"}, {"class", "number"}}, t.columnRank);
            h.element("th", {{"scope", "col"}}, t.columnName);
            h.element("th", {{"scope", "col"}, {"class", "number"}}, t.columnScore);
            h.element("th", {{"scope", "col"}}, t.columnDate);
            h.close("tr").close("thead").open("tbody");
            int rank = 0;
            for (const BestEntry& entry : ranking.best) {
                h.open("tr");
                h.element("td", {{"class", "number"}}, std::to_string(++rank));
                h.open("td").element("a", {{"href", nameLink(entry.post.name)}}, entry.post.name).close("td");
                h.open("td", {{"class", "number"}})
                    .element("a", {{"href", postLink(entry.post.postId)}}, std::to_string(entry.post.score))
                    .close("td");
                h.element("td", formatPostedAt(entry.post.postedAt));
                h.close("tr");
            }
            h.close("tbody").close("table");
            if (!ranking.median.empty()) {
                h.open("table", {{"class", "rank"}});
                h.element("caption", t.medianScores);
                h.open("thead").open("tr");
                h.element("th", {{"scope", "col"}, {"class", "number"}}, t.columnRank);
                h.element("th", {{"scope", "col"}}, t.columnName);
                h.element("th", {{"scope", "col"}, {"class", "number"}}, t.columnMedian);
                h.close("tr").close("thead").open("tbody");
                rank = 0;
                for (const MedianEntry& entry : ranking.median) {
                    h.open("tr");
                    h.element("td", {{"class", "number"}}, std::to_string(++rank));
                    h.open("td").element("a", {{"href", nameLink(entry.name)}}, entry.name).close("td");
                    h.element("td", {{"class", "number"}}, std::to_string(entry.median));
                    h.close("tr");
                }
                h.close("tbody").close("table");
            }
            h.close("section");
        }
        if (!any)
            h.element("p", {{"class", "empty"}}, t.rankingsEmpty);
    });
    return html.take();
}

std::string renderDeleteForm(const PageContext& context, const DeleteFormView& view)
{
    const BoardTexts& t = context.texts();
    const std::string title = fill(t.deleteHeading, {std::to_string(view.post.id)});
    HtmlWriter html;
    writeFrame(html, context, title, [&](HtmlWriter& h) {
        h.element("h1", title);
        if (!view.problem.empty())
            h.open("div", {{"class", "problems"}, {"role", "alert"}}).element("p", view.problem).close("div");
        h.open("p")
            .text(std::string(t.postBy) + ": ")
            .element("a", {{"href", nameLink(view.post.name)}}, view.post.name)
            .text(" — " + std::string(t.columnScore) + " " + std::to_string(view.post.score) + " — ")
            .element("a", {{"href", postLink(view.post.id)}}, formatPostedAt(view.post.postedAt))
            .close("p");
        h.element("p", t.deleteHelp);
        h.open("form", {{"method", "post"}, {"action", postLink(view.post.id) + "/delete"}});
        writeHiddenToken(h, context);
        h.open("p");
        h.element("label", {{"for", "password"}}, t.fieldPassword);
        h.empty("input", {{"type", "password"}, {"id", "password"}, {"name", "password"}, {"required", "required"},
                          {"autocomplete", "current-password"}});
        h.close("p");
        h.open("p").element("button", {{"type", "submit"}}, t.deleteButton).close("p");
        h.close("form");
    });
    return html.take();
}

std::string renderDeletedPage(const PageContext& context)
{
    const BoardTexts& t = context.texts();
    HtmlWriter html;
    writeFrame(html, context, t.deleted, [&](HtmlWriter& h) {
        h.element("h1", t.deleted);
        h.open("p").element("a", {{"href", "/"}}, t.backToBoard).close("p");
    });
    return html.take();
}

std::string renderRefusal(const PageContext& context, std::string_view message)
{
    const BoardTexts& t = context.texts();
    HtmlWriter html;
    writeFrame(html, context, t.refusedTitle, [&](HtmlWriter& h) {
        h.element("h1", t.refusedTitle);
        h.element("p", {{"class", "refusal"}}, message);
        h.open("p").element("a", {{"href", "/"}}, t.backToBoard).close("p");
    });
    return html.take();
}

std::string_view styleSheet()
{
    return R"css(:root { color-scheme: light; }
body { font-family: "Noto Sans CJK JP", "Noto Sans JP", "Hiragino Sans", "Yu Gothic", sans-serif;
  margin: 0; color: #222; background: #fafaf7; line-height: 1.5; }
header { background: #27384a; color: #fff; padding: 0.5rem 1rem; display: flex; flex-wrap: wrap;
  align-items: center; gap: 0.5rem 2rem; }
header a { color: #fff; }
header .site { margin: 0; font-weight: bold; font-size: 1.15rem; }
header .site a { text-decoration: none; }
nav ul { list-style: none; margin: 0; padding: 0; display: flex; flex-wrap: wrap; gap: 0.25rem 1.25rem; }
nav .language { margin-left: 1rem; }
main { max-width: 60rem; margin: 0 auto; padding: 1rem; }
h1 { font-size: 1.5rem; }
h2 { font-size: 1.2rem; margin-top: 2rem; }
table { border-collapse: collapse; width: 100%; margin: 0.5rem 0 1rem; background: #fff; }
th, td { padding: 0.35rem 0.6rem; border-bottom: 1px solid #ddd; text-align: left; }
thead th { background: #eef1f4; }
.number { text-align: right; font-variant-numeric: tabular-nums; }
caption { text-align: left; font-weight: bold; padding: 0.25rem 0; }
.pages { display: flex; gap: 1.5rem; align-items: center; margin: 1rem 0; }
.facts { display: grid; grid-template-columns: max-content 1fr; gap: 0.25rem 1rem; }
.facts dt { font-weight: bold; }
.facts dd { margin: 0; }
.score { font-size: 1.4rem; font-weight: bold; }
figure { margin: 0.5rem 0 1rem; }
.chart { width: 100%; max-width: 40rem; height: auto; background: #fff; border: 1px solid #ddd; }
figcaption { font-size: 0.9rem; color: #555; }
pre.report { background: #fff; border: 1px solid #ddd; padding: 0.75rem; overflow-x: auto;
  font-family: "Noto Sans Mono CJK JP", "Noto Sans CJK JP", monospace; }
form p { display: flex; flex-direction: column; gap: 0.25rem; max-width: 40rem; }
input[type=text], input[type=password], textarea { font: inherit; padding: 0.4rem; border: 1px solid #888;
  border-radius: 3px; }
textarea { font-family: "Noto Sans Mono CJK JP", "Noto Sans CJK JP", monospace; }
button, .button { font: inherit; padding: 0.5rem 1.5rem; background: #27384a; color: #fff; border: none;
  border-radius: 3px; align-self: flex-start; text-decoration: none; cursor: pointer; }
.help { font-size: 0.9rem; color: #555; }
.hp { position: absolute; left: -10000px; width: 1px; height: 1px; overflow: hidden; }
.problems { border: 2px solid #b8432f; background: #fdf0ee; padding: 0.5rem 1rem; margin: 1rem 0; }
.problems h2 { margin-top: 0; }
.notice { border: 2px solid #3a7d44; background: #eef7ef; padding: 0.25rem 1rem; margin: 1rem 0; }
.tendency p { font-weight: bold; }
.refusal { font-size: 1.1rem; }
a { color: #1f5a96; }
:focus-visible { outline: 3px solid #e0a000; outline-offset: 2px; }
)css";
}

}  // namespace velmora::board
