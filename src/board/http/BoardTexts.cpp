#include "board/http/BoardTexts.h"

#include <cctype>
#include <cstdlib>

namespace velmora::board {

namespace {

const BoardTexts kJapanese{
    .htmlLang = "ja",
    .siteTitle = "Velmora 結果報告掲示板",
    .navBoard = "掲示板",
    .navPost = "結果を投稿する",
    .navRankings = "ランキング",
    .otherLanguage = "English",
    .otherLanguageCode = "en",

    .boardHeading = "新しい投稿",
    .boardEmpty = "まだ投稿はありません。最初の結果を投稿してみましょう。",
    .columnName = "名前",
    .columnScore = "得点",
    .columnLevel = "難易度",
    .columnInstrument = "音色",
    .columnReference = "基準音",
    .columnDate = "投稿日時",
    .referenceUsed = "使用",
    .referenceNotUsed = "不使用",
    .newer = "← 最新の投稿へ",
    .older = "古い投稿 →",
    .pageOf = "{0} / {1} ページ（全 {2} 件）",
    .exportCsv = "CSV で書き出す",
    .levelNames = {"特級", "上級", "中級", "初級"},

    .postHeading = "結果を投稿する",
    .postHelp = "結果ウィンドウの「結果をクリップボードに出力」でコピーした報告を、そのまま貼り付けてください。"
                "複数の報告をまとめて貼り付けると、それぞれが一件の投稿になります。すでに同じ名前で投稿した報告は二重には投稿されません。",
    .fieldName = "名前",
    .fieldReport = "結果報告（複数可）",
    .fieldPassword = "削除用パスワード（任意）",
    .fieldPasswordHelp = "設定すると、あとでこのパスワードで投稿を削除できます。",
    .fieldHoneypot = "この欄は空のままにしてください",
    .postButton = "投稿する",
    .postedOne = "結果を投稿しました。",
    .postedMany = "{0} 件の結果を投稿しました。",
    .postedDuplicates = "{0} 件はすでに投稿済みのため、投稿しませんでした。",

    .postTitle = "投稿 #{0}",
    .postBy = "投稿者",
    .reportAsPosted = "投稿された報告",
    .missChartTitle = "音名ごとのずれ",
    .missChartCaption = "貴方の調律 − 正解の調律（セント）。上は高め、下は低め。",
    .deleteLink = "この投稿を削除する",

    .nameTitle = "{0} さんの記録",
    .nameEmpty = "この名前の投稿はありません。",
    .scoresOverTime = "得点の推移",
    .scoresChartCaption = "{0} 件の投稿、古い順",
    .firstScore = "最初",
    .bestScore = "最高",
    .lastScore = "最新",
    .missTableHeading = "音名ごとの傾向（直近 {0} 件）",
    .columnPitch = "音名",
    .columnAverageSigned = "平均のずれ（セント）",
    .columnAverageAbsolute = "平均の絶対ずれ（セント）",
    .columnTendency = "傾向",
    .sharp = "高め",
    .flat = "低め",
    .onPitch = "―",
    .tendsSharp = "{0} を高めに調律する傾向があります。",
    .tendsFlat = "{0} を低めに調律する傾向があります。",
    .noTendency = "目立った傾向はありません。",
    .allPostsOfName = "すべての投稿",

    .rankingsHeading = "ランキング",
    .rankingsEmpty = "まだランキングはありません。",
    .rankingGroup = "{0}・基準音{1}",
    .bestScores = "最高得点",
    .medianScores = "直近 5 回の中央値",
    .medianHelp = "5 回以上投稿した名前だけが載ります。同点は先に投稿した方が上です。",
    .columnRank = "順位",
    .columnMedian = "中央値",

    .deleteHeading = "投稿 #{0} を削除する",
    .deleteHelp = "投稿したときに設定した削除用パスワードを入力してください。",
    .deleteButton = "削除する",
    .deleted = "投稿を削除しました。",
    .backToBoard = "掲示板に戻る",

    .refusedTitle = "受け付けられませんでした",
    .notFound = "お探しのページは見つかりませんでした。投稿が削除されたか、アドレスが間違っている可能性があります。",
    .formExpired = "フォームの有効期限が切れたか、別のページから送信されました。フォームを開き直して、もう一度送信してください。",
    .tooLarge = "送信された内容が大きすぎます（上限 {0} KiB）。報告をいくつかに分けて投稿してください。",
    .lengthRequired = "長さの分からない送信は受け付けていません。ブラウザーのフォームから送信してください。",
    .badRequest = "リクエストを読み取れませんでした。ブラウザーのフォームから送信し直してください。",
    .rateLimited = "短い間に送信が多すぎます。{0} 秒ほど待ってから、もう一度お試しください。",
    .honeypotFilled = "この投稿は自動送信と判断されたため受け付けられませんでした。ブラウザーのフォームから送信してください。",
    .nameMissing = "名前を入力してください。",
    .nameTooLong = "名前が長すぎます。{0} 文字以内にしてください。",
    .reportMissing = "結果報告を貼り付けてください。",
    .passwordTooLong = "パスワードが長すぎます。{0} 文字以内にしてください。",
    .noPassword = "この投稿には削除用パスワードが設定されていないため、削除できません。",
    .wrongPassword = "パスワードが違います。投稿したときのパスワードを入力してください。",
    .unavailable = "掲示板のデータベースに接続できません。しばらく待ってから、もう一度お試しください。",
    .internalError = "掲示板の内部でエラーが起きました。しばらく待ってから、もう一度お試しください。",
    .reportProblemAt = "{0} 件目の報告の {1} 行目: {2}",
    .problemNotAReport = "Velmora の結果報告ではありません。結果ウィンドウでコピーした報告をそのまま貼り付けてください。",
    .problemRowMissing = "行が足りないか、順番が違います。報告を途中まで、または書き換えて貼り付けていないか確かめてください。",
    .problemNotAStep = "値が難易度の刻みの倍数ではありません。報告が書き換えられていないか確かめてください。",
    .problemOutOfRange = "値が難易度の範囲を超えています。報告が書き換えられていないか確かめてください。",
    .problemScore = "得点が 100 − Σ|貴方の調律 − 正解の調律| と合いません。報告が書き換えられていないか確かめてください。",
    .problemEndBeforeStart = "調律終了時刻が開始時刻より前になっています。",
    .problemDuration = "所要時間が開始時刻と終了時刻の差と合いません。",
    .problemVersion = "知らないバージョンの行です。Velmora のプログラムが書いた報告だけを投稿できます。",
    .problemOther = "報告を読み取れませんでした。",
};

const BoardTexts kEnglish{
    .htmlLang = "en",
    .siteTitle = "Velmora results board",
    .navBoard = "Board",
    .navPost = "Post a result",
    .navRankings = "Rankings",
    .otherLanguage = "日本語",
    .otherLanguageCode = "ja",

    .boardHeading = "Latest posts",
    .boardEmpty = "No posts yet. Be the first to post a result.",
    .columnName = "Name",
    .columnScore = "Score",
    .columnLevel = "Level",
    .columnInstrument = "Instrument",
    .columnReference = "Reference tone",
    .columnDate = "Posted",
    .referenceUsed = "used",
    .referenceNotUsed = "not used",
    .newer = "← Newest posts",
    .older = "Older posts →",
    .pageOf = "Page {0} of {1} ({2} posts)",
    .exportCsv = "Export as CSV",
    .levelNames = {"1 Cent", "3 Cent", "5 Cent", "10 Cent"},

    .postHeading = "Post a result",
    .postHelp = "Paste the report exactly as the results window's copy button put it on the clipboard. "
                "Several reports pasted together become one post each; a report you already posted under the same name is not posted twice.",
    .fieldName = "Name",
    .fieldReport = "Report(s)",
    .fieldPassword = "Password for deleting (optional)",
    .fieldPasswordHelp = "With a password you can delete the post later.",
    .fieldHoneypot = "Leave this field empty",
    .postButton = "Post",
    .postedOne = "Your result is posted.",
    .postedMany = "{0} results posted.",
    .postedDuplicates = "{0} were already on the board and were not posted again.",

    .postTitle = "Post #{0}",
    .postBy = "Posted by",
    .reportAsPosted = "The report as posted",
    .missChartTitle = "Miss per pitch class",
    .missChartCaption = "Your tuning − the exact tuning, in cents. Up is sharp, down is flat.",
    .deleteLink = "Delete this post",

    .nameTitle = "Results of {0}",
    .nameEmpty = "No posts under this name.",
    .scoresOverTime = "Scores over time",
    .scoresChartCaption = "{0} posts, oldest first",
    .firstScore = "First",
    .bestScore = "Best",
    .lastScore = "Last",
    .missTableHeading = "Per pitch class over the last {0} posts",
    .columnPitch = "Pitch class",
    .columnAverageSigned = "Average miss (cents)",
    .columnAverageAbsolute = "Average absolute miss (cents)",
    .columnTendency = "Tendency",
    .sharp = "sharp",
    .flat = "flat",
    .onPitch = "–",
    .tendsSharp = "You tune {0} sharp.",
    .tendsFlat = "You tune {0} flat.",
    .noTendency = "No pitch class stands out.",
    .allPostsOfName = "All posts",

    .rankingsHeading = "Rankings",
    .rankingsEmpty = "No rankings yet.",
    .rankingGroup = "{0}, reference tone {1}",
    .bestScores = "Best score",
    .medianScores = "Median of the last five posts",
    .medianHelp = "Only names with at least five posts. Ties go to the earlier post.",
    .columnRank = "Rank",
    .columnMedian = "Median",

    .deleteHeading = "Delete post #{0}",
    .deleteHelp = "Enter the password you gave when you posted.",
    .deleteButton = "Delete",
    .deleted = "The post is deleted.",
    .backToBoard = "Back to the board",

    .refusedTitle = "Not accepted",
    .notFound = "There is no such page. The post may have been deleted, or the address is mistyped.",
    .formExpired = "The form has expired or was sent from another page. Open the form again and send it once more.",
    .tooLarge = "What you sent is too large (at most {0} KiB). Post the reports in several parts.",
    .lengthRequired = "Requests without a length are not accepted. Send the form from your browser.",
    .badRequest = "The request could not be read. Send the form again from your browser.",
    .rateLimited = "Too many requests in a short time. Wait about {0} seconds and try again.",
    .honeypotFilled = "This post looked automated and was not accepted. Send the form from your browser.",
    .nameMissing = "Enter a name.",
    .nameTooLong = "The name is too long. Use at most {0} characters.",
    .reportMissing = "Paste a report.",
    .passwordTooLong = "The password is too long. Use at most {0} characters.",
    .noPassword = "This post has no password, so it cannot be deleted.",
    .wrongPassword = "Wrong password. Enter the password you gave when you posted.",
    .unavailable = "The board cannot reach its database. Wait a moment and try again.",
    .internalError = "Something went wrong inside the board. Wait a moment and try again.",
    .reportProblemAt = "Report {0}, line {1}: {2}",
    .problemNotAReport = "This is not a Velmora result report. Paste the report exactly as the results window copied it.",
    .problemRowMissing = "A line is missing or out of order. Check that the whole report was pasted unchanged.",
    .problemNotAStep = "A value is not a multiple of the level's step. Check that the report was not changed.",
    .problemOutOfRange = "A value is outside the level's range. Check that the report was not changed.",
    .problemScore = "The score is not 100 − Σ|your tuning − exact tuning|. Check that the report was not changed.",
    .problemEndBeforeStart = "The end time is before the start time.",
    .problemDuration = "The duration does not match the start and end times.",
    .problemVersion = "Unknown version line. Only reports written by the Velmora program can be posted.",
    .problemOther = "The report could not be read.",
};

// The quality of a language in Accept-Language, -1 when it is not named ("*" counts for both).
double quality(std::string_view header, std::string_view language)
{
    double best = -1;
    std::size_t start = 0;
    while (start <= header.size()) {
        std::size_t end = header.find(',', start);
        if (end == std::string_view::npos)
            end = header.size();
        std::string_view item = header.substr(start, end - start);
        start = end + 1;
        std::string_view tag = item.substr(0, item.find(';'));
        while (!tag.empty() && std::isspace(static_cast<unsigned char>(tag.front())))
            tag.remove_prefix(1);
        while (!tag.empty() && std::isspace(static_cast<unsigned char>(tag.back())))
            tag.remove_suffix(1);
        std::string primary(tag.substr(0, tag.find('-')));
        for (char& c : primary)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (primary != language && primary != "*")
            continue;
        double q = 1.0;
        const std::size_t qAt = item.find("q=");
        if (qAt != std::string_view::npos)
            q = std::strtod(std::string(item.substr(qAt + 2)).c_str(), nullptr);
        if (primary == "*")
            q -= 0.0001;  // an explicit name wins over the wildcard at the same quality
        if (q > best)
            best = q;
    }
    return best;
}

}  // namespace

const BoardTexts& boardTexts(Language language)
{
    return language == Language::Japanese ? kJapanese : kEnglish;
}

std::string fill(std::string_view pattern, std::initializer_list<std::string_view> values)
{
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '{' && i + 2 < pattern.size() && pattern[i + 2] == '}'
            && pattern[i + 1] >= '0' && pattern[i + 1] <= '9') {
            const std::size_t index = static_cast<std::size_t>(pattern[i + 1] - '0');
            if (index < values.size())
                out += *(values.begin() + index);
            i += 2;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

Language chooseLanguage(std::string_view choice, std::string_view acceptLanguage)
{
    if (choice == "ja")
        return Language::Japanese;
    if (choice == "en")
        return Language::English;
    const double ja = quality(acceptLanguage, "ja");
    const double en = quality(acceptLanguage, "en");
    if (ja > 0 && ja > en)
        return Language::Japanese;
    return Language::English;
}

std::string_view languageCode(Language language)
{
    return language == Language::Japanese ? "ja" : "en";
}

}  // namespace velmora::board
