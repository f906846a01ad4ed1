#include "exercise/ReportParser.h"

#include "editions/Catalogue.h"
#include "exercise/Report.h"
#include "exercise/Scoring.h"

#include <QCryptographicHash>
#include <QDate>
#include <QTime>

#include <cstdlib>
#include <span>
#include <variant>

namespace velmora::exercise {
namespace {

constexpr std::int64_t kSecondsPerDay = 86'400;

struct Line {
    std::string_view text;  // without its line end and trailing blanks
    std::size_t begin = 0;  // byte offsets in the paste, the line end included in `end`
    std::size_t end = 0;
    int number = 0;         // 1-based
};

bool isBlank(std::string_view text)
{
    return text.find_first_not_of(" \t") == std::string_view::npos;
}

// CR LF, LF or a lone CR ends a line; blanks before the line end are not part of the line.
std::vector<Line> splitLines(std::string_view paste)
{
    std::vector<Line> lines;
    std::size_t at = 0;
    int number = 0;
    while (at < paste.size()) {
        std::size_t stop = paste.find_first_of("\r\n", at);
        std::size_t next = stop;
        if (stop == std::string_view::npos)
            stop = next = paste.size();
        else if (paste[stop] == '\r' && stop + 1 < paste.size() && paste[stop + 1] == '\n')
            next = stop + 2;
        else
            next = stop + 1;
        std::string_view text = paste.substr(at, stop - at);
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
            text.remove_suffix(1);
        lines.push_back({text, at, next, ++number});
        at = next;
    }
    return lines;
}

// The first line holding bytes that are not UTF-8, or a control character other than tab, CR
// and LF (a database would refuse NUL; the rest have no place in a report); 0 if none.
int firstLineNotText(std::string_view paste)
{
    int line = 1;
    std::size_t i = 0;
    while (i < paste.size()) {
        const auto c = static_cast<unsigned char>(paste[i]);
        if (c < 0x80) {
            if (c == '\n' || (c == '\r' && !(i + 1 < paste.size() && paste[i + 1] == '\n')))
                ++line;
            else if ((c < 0x20 && c != '\t' && c != '\r') || c == 0x7F)
                return line;
            ++i;
            continue;
        }
        int length = 0;
        char32_t code = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            code = c & 0x07;
        } else {
            return line;
        }
        if (i + std::size_t(length) > paste.size())
            return line;
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(paste[i + std::size_t(k)]);
            if ((next & 0xC0) != 0x80)
                return line;
            code = (code << 6) | (next & 0x3F);
        }
        const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
        if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || (code >= 0x80 && code < 0xA0))
            return line;
        i += std::size_t(length);
    }
    return 0;
}

std::string_view t(Edition edition, TextKey key)
{
    return text(edition, key);
}

bool takePrefix(std::string_view& text, std::string_view prefix)
{
    if (!text.starts_with(prefix))
        return false;
    text.remove_prefix(prefix.size());
    return true;
}

// The value exactly as the program writes a number: "-" and digits, no "+", no leading zero.
std::optional<int> value(std::string_view text)
{
    const std::optional<int> parsed = parseFieldValue(text);
    if (!parsed || fieldText(*parsed) != text)
        return std::nullopt;
    return parsed;
}

struct Times {
    QDateTime start;
    QDateTime end;
    int durationSeconds = 0;
};

bool twoDigitYears(const QString& dateFormat)
{
    return dateFormat.contains(u"yy") && !dateFormat.contains(u"yyyy");
}

QString withPlainSpaces(QString text)
{
    // Newer locale data puts a narrow no-break space before AM/PM; pasting often turns it into a
    // space. Both sides are compared with plain spaces.
    text.replace(QChar(0x202F), u' ');
    text.replace(QChar(0x00A0), u' ');
    return text;
}

std::optional<QDate> readDate(const QString& text, const ReportDateFormat& format)
{
    QDate date = format.locale.toDate(text, format.formats.shortDate);
    if (!date.isValid())
        return std::nullopt;
    if (twoDigitYears(format.formats.shortDate) && date.year() < 2000)
        date = date.addYears(100);  // Qt reads "26" as 1926; the program's reports are this century's
    if (withPlainSpaces(format.locale.toString(date, format.formats.shortDate)) != text)
        return std::nullopt;
    return date;
}

std::optional<QTime> readTime(const QString& text, const QLocale& locale, const QString& timeFormat)
{
    const QTime time = locale.toTime(text, timeFormat);
    if (!time.isValid() || withPlainSpaces(locale.toString(time, timeFormat)) != text)
        return std::nullopt;
    return time;
}

// How much of `text` from `from` has the shape of `format` (digits where numbers go, a word
// where a name goes, the literals as they are): a cheap look before Qt's parser, which is slow,
// and where the date ends. Unknown for fields it does not know.
struct Shape {
    enum { Mismatch, Length, Unknown } kind = Unknown;
    qsizetype length = 0;
};

Shape shapeOf(const QString& text, qsizetype from, const QString& format)
{
    qsizetype at = from;
    auto digits = [&](int least, int most) {
        int count = 0;
        while (count < most && at < text.size() && text[at].isDigit()) {
            ++at;
            ++count;
        }
        return count >= least;
    };
    auto word = [&] {
        const qsizetype start = at;
        while (at < text.size() && !text[at].isDigit() && text[at] != u' ')
            ++at;
        return at > start;
    };
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i];
        if (c == u'\'') {
            // Quoted literal text; '' is one quote.
            qsizetype end = i + 1;
            QString literal;
            while (end < format.size()) {
                if (format[end] == u'\'') {
                    if (end + 1 < format.size() && format[end + 1] == u'\'') {
                        literal += u'\'';
                        end += 2;
                        continue;
                    }
                    break;
                }
                literal += format[end++];
            }
            if (end == i + 1 && end < format.size())
                literal = QStringLiteral("'");
            if (text.mid(at, literal.size()) != literal)
                return {Shape::Mismatch};
            at += literal.size();
            i = end + 1;
            continue;
        }
        qsizetype run = 1;
        while (i + run < format.size() && format[i + run] == c)
            ++run;
        // "AP", "ap": one AM/PM field.
        if ((c == u'a' || c == u'A') && run == 1 && i + 1 < format.size() &&
            (format[i + 1] == u'p' || format[i + 1] == u'P'))
            run = 2;
        bool matches = true;
        switch (c.unicode()) {
        case u'd':
        case u'M':
            matches = run == 1 ? digits(1, 2) : run == 2 ? digits(2, 2) : word();
            break;
        case u'y':
            if (run != 2 && run != 4)
                return {Shape::Unknown};
            matches = digits(int(run), int(run));
            break;
        case u'h':
        case u'H':
        case u'm':
        case u's':
            matches = run == 1 ? digits(1, 2) : run == 2 ? digits(2, 2) : false;
            break;
        case u'z':
            matches = run == 1 ? digits(1, 3) : digits(3, 3);
            break;
        case u'a':
        case u'A':
            matches = word();
            break;
        default:
            if (c.isLetter() && c.unicode() < 0x80)
                return {Shape::Unknown};  // a field this look does not know
            for (qsizetype k = 0; k < run; ++k, ++at)
                if (at >= text.size() || text[at] != c)
                    return {Shape::Mismatch};
            break;
        }
        if (!matches)
            return {Shape::Mismatch};
        i += run;
    }
    return {Shape::Length, at - from};
}

// The date alone when the time of day was 0:00:00 to the second, else date, one space, time.
// Read in UTC: the player's zone is unknown, and the server's DST gaps must not touch it.
std::optional<QDateTime> readDateTime(std::string_view written, const ReportDateFormat& format)
{
    const QString text = withPlainSpaces(QString::fromUtf8(written.data(), qsizetype(written.size())));
    const QString timeFormat = withPlainSpaces(format.formats.longTime);
    const Shape date = shapeOf(text, 0, withPlainSpaces(format.formats.shortDate));
    if (date.kind == Shape::Mismatch)
        return std::nullopt;
    if (date.kind == Shape::Length) {
        if (date.length == text.size()) {
            if (const auto day = readDate(text, format))
                return QDateTime(*day, QTime(0, 0), Qt::UTC);
            return std::nullopt;
        }
        if (text[date.length] != u' ')
            return std::nullopt;
        const Shape time = shapeOf(text, date.length + 1, timeFormat);
        if (time.kind == Shape::Mismatch || (time.kind == Shape::Length && date.length + 1 + time.length != text.size()))
            return std::nullopt;
        const auto day = readDate(text.left(date.length), format);
        const auto clock = day ? readTime(text.mid(date.length + 1), format.locale, format.formats.longTime) : std::nullopt;
        if (day && clock && clock->msecsSinceStartOfDay() >= 1000)
            return QDateTime(*day, *clock, Qt::UTC);
        return std::nullopt;
    }
    if (const auto date = readDate(text, format))
        return QDateTime(*date, QTime(0, 0), Qt::UTC);
    for (qsizetype space = text.indexOf(u' '); space >= 0; space = text.indexOf(u' ', space + 1)) {
        const auto date = readDate(text.left(space), format);
        if (!date)
            continue;
        const auto time = readTime(text.mid(space + 1), format.locale, format.formats.longTime);
        if (time && time->msecsSinceStartOfDay() >= 1000)
            return QDateTime(*date, *time, Qt::UTC);
    }
    return std::nullopt;
}

// How precisely the long time format shows a time: the steps of its smallest field.
std::int64_t resolutionSeconds(const QString& timeFormat)
{
    if (timeFormat.contains(u's'))
        return 1;
    if (timeFormat.contains(u'm'))
        return 60;
    return 3600;
}

struct TimeCheck {
    std::optional<Times> times;
    ReportProblem problem = ReportProblem::UnreadableTime;
    int lineInReport = 0;
};

// Start and end must be read by one format (one player's machine wrote both). Where several
// read them, the one that makes the shortest exercise wins, then the earlier in the list: "11/5/08"
// to "12/5/08" is a day in Australia rather than a month in the United States.
TimeCheck checkTimes(std::string_view startText, std::string_view endText, std::string_view durationText,
                     std::span<const ReportDateFormat> formats)
{
    constexpr int kStartLine = 22, kEndLine = 23, kDurationLine = 24;
    const QString durationString =
        withPlainSpaces(QString::fromUtf8(durationText.data(), qsizetype(durationText.size())));
    bool startReadable = false;
    bool endBeforeStart = false;
    bool durationMismatch = false;
    bool durationUnreadable = false;
    std::optional<Times> best;
    for (const ReportDateFormat& format : formats) {
        const auto start = readDateTime(startText, format);
        const auto end = readDateTime(endText, format);
        startReadable = startReadable || start;
        if (!start || !end)
            continue;
        if (*end < *start) {
            endBeforeStart = true;
            continue;
        }
        const auto duration = readTime(durationString, format.locale, format.formats.longTime);
        if (!duration) {
            durationUnreadable = true;
            continue;
        }
        // Start and end are shown to the resolution of the time format, so the time taken lies
        // within one such step either side of their difference; it is shown modulo a day.
        const std::int64_t step = resolutionSeconds(format.formats.longTime);
        const std::int64_t difference = start->secsTo(*end);
        const std::int64_t shown = duration->msecsSinceStartOfDay() / 1000;
        bool matches = false;
        for (std::int64_t candidate = difference - step; candidate <= difference + step && !matches; ++candidate)
            matches = candidate >= 0 && (candidate % kSecondsPerDay) / step * step == shown / step * step;
        if (!matches) {
            durationMismatch = true;
            continue;
        }
        if (!best || difference < best->start.secsTo(best->end))
            best = Times{*start, *end, int(shown)};
    }
    if (best)
        return {best, ReportProblem::UnreadableTime, 0};
    if (endBeforeStart)
        return {std::nullopt, ReportProblem::EndBeforeStart, kEndLine};
    if (durationMismatch)
        return {std::nullopt, ReportProblem::DurationMismatch, kDurationLine};
    if (durationUnreadable)
        return {std::nullopt, ReportProblem::UnreadableTime, kDurationLine};
    return {std::nullopt, ReportProblem::UnreadableTime, startReadable ? kEndLine : kStartLine};
}

// Reads one report starting at lines[first] (its opening rule); on success `next` is the index
// after its closing rule.
struct Reader {
    const std::vector<Line>& lines;
    std::string_view paste;
    std::span<const ReportDateFormat> formats;
    int reportNumber = 0;

    ReportError error(ReportProblem problem, std::size_t index, int lineInReport) const
    {
        const int line = index < lines.size() ? lines[index].number
                                              : (lines.empty() ? 0 : lines.back().number + 1);
        return {problem, reportNumber, line, lineInReport};
    }

    std::variant<ParsedReport, ReportError> read(std::size_t first, std::size_t& next) const
    {
        auto lineAt = [&](int lineInReport) -> std::optional<std::string_view> {
            const std::size_t index = first + std::size_t(lineInReport - 1);
            if (index >= lines.size())
                return std::nullopt;
            return lines[index].text;
        };
        auto missing = [&](int lineInReport) {
            return error(ReportProblem::RowMissing, first + std::size_t(lineInReport - 1), lineInReport);
        };
        auto at = [&](ReportProblem problem, int lineInReport) {
            return error(problem, first + std::size_t(lineInReport - 1), lineInReport);
        };

        ParsedReport report;
        report.firstLine = lines[first].number;
        const auto heading = lineAt(2);
        if (!heading)
            return at(ReportProblem::NotAReport, 1);
        if (*heading == t(Edition::Japanese, TextKey::RptHeading))
            report.edition = Edition::Japanese;
        else if (*heading == t(Edition::English, TextKey::RptHeading))
            report.edition = Edition::English;
        else
            return at(ReportProblem::NotAReport, 2);
        const Edition edition = report.edition;

        for (int pitchClass = 0; pitchClass < kPitchClasses; ++pitchClass) {
            const int number = 3 + pitchClass;
            auto row = lineAt(number);
            if (!row || !takePrefix(*row, reportRowPrefix(pitchClass)))
                return missing(number);
            const std::string_view gap = t(edition, TextKey::RptGap);
            const std::size_t split = row->find(gap);
            if (split == std::string_view::npos)
                return at(ReportProblem::UnreadableValue, number);
            const auto user = value(row->substr(0, split));
            const auto exact = value(row->substr(split + gap.size()));
            if (!user || !exact)
                return at(ReportProblem::UnreadableValue, number);
            report.user[std::size_t(pitchClass)] = *user;
            report.exact[std::size_t(pitchClass)] = *exact;
        }
        auto labelled = [&](int number, TextKey label) -> std::optional<std::string_view> {
            auto line = lineAt(number);
            if (!line || !takePrefix(*line, t(edition, label)))
                return std::nullopt;
            return line;
        };
        if (lineAt(15) != std::string_view())
            return missing(15);
        const auto score = labelled(16, TextKey::RptScore);
        if (!score)
            return missing(16);
        const auto scoreValue = value(*score);
        if (!scoreValue)
            return at(ReportProblem::UnreadableValue, 16);
        report.score = *scoreValue;
        if (lineAt(17) != std::string_view())
            return missing(17);
        const auto device = labelled(18, TextKey::RptDevice);
        if (!device)
            return missing(18);
        report.device = *device;
        const auto instrument = labelled(19, TextKey::RptInstrument);
        if (!instrument)
            return missing(19);
        report.instrument = *instrument;
        const auto level = labelled(20, TextKey::RptLevel);
        if (!level)
            return missing(20);
        report.levelIndex = -1;
        for (int index = 0; index < int(kLevels.size()); ++index)
            if (*level == t(edition, levelNameKey(index)))
                report.levelIndex = index;
        if (report.levelIndex < 0)
            return at(ReportProblem::UnknownLevel, 20);
        const auto reference = labelled(21, TextKey::RptReference);
        if (!reference)
            return missing(21);
        if (*reference == t(edition, TextKey::RptReferenceUsed))
            report.referenceUsed = true;
        else if (*reference == t(edition, TextKey::RptReferenceNotUsed))
            report.referenceUsed = false;
        else
            return at(ReportProblem::UnreadableValue, 21);
        const auto start = labelled(22, TextKey::RptStart);
        if (!start)
            return missing(22);
        const auto end = labelled(23, TextKey::RptEnd);
        if (!end)
            return missing(23);
        const auto duration = labelled(24, TextKey::RptDuration);
        if (!duration)
            return missing(24);
        report.startText = *start;
        report.endText = *end;
        report.durationText = *duration;
        const auto version = lineAt(25);
        if (!version || *version == t(edition, TextKey::RptRule))
            return missing(25);
        if (*version != t(edition, TextKey::RptVersion))
            return at(ReportProblem::UnknownVersion, 25);
        report.versionLine = *version;
        if (lineAt(26) != t(edition, TextKey::RptRule))
            return missing(26);

        const Level& rules = kLevels[std::size_t(report.levelIndex)];
        // Exact corrections are the negated hidden offsets, (r - centre) * step for a draw r.
        const int exactLowest = -(rules.drawRange - 1 - rules.drawCentre) * rules.step;
        const int exactHighest = rules.drawCentre * rules.step;
        for (int pitchClass = 0; pitchClass < kPitchClasses; ++pitchClass) {
            const int user = report.user[std::size_t(pitchClass)];
            const int exact = report.exact[std::size_t(pitchClass)];
            if (user % rules.step != 0 || exact % rules.step != 0)
                return at(ReportProblem::ValueOffStep, 3 + pitchClass);
            if (user < rules.minimum * rules.step || user > rules.maximum * rules.step || exact < exactLowest ||
                exact > exactHighest)
                return at(ReportProblem::ValueOutOfRange, 3 + pitchClass);
        }
        if (computeScore(report.user, report.exact) != report.score)
            return at(ReportProblem::ScoreMismatch, 16);

        const TimeCheck times = checkTimes(report.startText, report.endText, report.durationText, formats);
        if (!times.times)
            return at(times.problem, times.lineInReport);
        report.start = times.times->start;
        report.end = times.times->end;
        report.durationSeconds = times.times->durationSeconds;

        const Line& last = lines[first + kReportLineCount - 1];
        report.text = std::string(paste.substr(lines[first].begin, last.end - lines[first].begin));
        std::vector<std::string> canonical;
        canonical.reserve(kReportLineCount);
        for (std::size_t i = first; i < first + kReportLineCount; ++i)
            canonical.emplace_back(lines[i].text);
        report.canonicalText = joinCrLf(canonical);
        report.fingerprint =
            QCryptographicHash::hash(QByteArrayView(report.canonicalText.data(), qsizetype(report.canonicalText.size())),
                                     QCryptographicHash::Sha256)
                .toHex()
                .toStdString();
        next = first + kReportLineCount;
        return report;
    }
};

}  // namespace

std::string_view problemName(ReportProblem problem)
{
    switch (problem) {
    case ReportProblem::NotText: return "not-text";
    case ReportProblem::NotAReport: return "not-a-report";
    case ReportProblem::RowMissing: return "row-missing";
    case ReportProblem::UnreadableValue: return "unreadable-value";
    case ReportProblem::UnknownLevel: return "unknown-level";
    case ReportProblem::ValueOffStep: return "value-off-step";
    case ReportProblem::ValueOutOfRange: return "value-out-of-range";
    case ReportProblem::ScoreMismatch: return "score-mismatch";
    case ReportProblem::UnreadableTime: return "unreadable-time";
    case ReportProblem::EndBeforeStart: return "end-before-start";
    case ReportProblem::DurationMismatch: return "duration-mismatch";
    case ReportProblem::UnknownVersion: return "unknown-version";
    }
    return "unknown";
}

const std::vector<ReportDateFormat>& usualReportDateFormats()
{
    static const std::vector<ReportDateFormat> formats = [] {
        std::vector<ReportDateFormat> list;
        auto add = [&list](const QLocale& locale) { list.push_back({locale, localeDateTimeFormats(locale)}); };
        const QLocale japanese(QLocale::Japanese, QLocale::Japan);
        add(japanese);
        list.push_back({japanese, {QStringLiteral("yyyy/MM/dd"), QStringLiteral("H:mm:ss")}});
        add(QLocale(QLocale::English, QLocale::UnitedStates));
        add(QLocale(QLocale::English, QLocale::UnitedKingdom));
        add(QLocale(QLocale::English, QLocale::Canada));
        add(QLocale(QLocale::English, QLocale::Australia));
        add(QLocale(QLocale::German, QLocale::Germany));
        add(QLocale(QLocale::French, QLocale::France));
        add(QLocale::c());
        return list;
    }();
    return formats;
}

ParseResult parseReports(std::string_view paste)
{
    return parseReports(paste, usualReportDateFormats());
}

ParseResult parseReports(std::string_view paste, std::span<const ReportDateFormat> dateFormats)
{
    ParseResult result;
    if (const int line = firstLineNotText(paste)) {
        result.error = ReportError{ReportProblem::NotText, 0, line, 0};
        return result;
    }
    // A byte-order mark some editors put at the start is not part of the report.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    std::size_t skipped = 0;
    if (paste.starts_with(kByteOrderMark))
        skipped = kByteOrderMark.size();
    std::vector<Line> lines = splitLines(paste.substr(skipped));
    for (Line& line : lines) {
        line.begin += skipped;
        line.end += skipped;
    }

    Reader reader{lines, paste, dateFormats, 0};
    std::size_t index = 0;
    while (true) {
        while (index < lines.size() && isBlank(lines[index].text))
            ++index;
        if (index >= lines.size())
            break;
        reader.reportNumber = int(result.reports.size()) + 1;
        if (lines[index].text != t(Edition::Japanese, TextKey::RptRule)) {
            result.error = ReportError{ReportProblem::NotAReport, reader.reportNumber, lines[index].number, 0};
            break;
        }
        std::size_t next = index;
        auto read = reader.read(index, next);
        if (auto* error = std::get_if<ReportError>(&read)) {
            result.error = *error;
            break;
        }
        result.reports.push_back(std::move(std::get<ParsedReport>(read)));
        index = next;
    }
    if (!result.error && result.reports.empty())
        result.error = ReportError{ReportProblem::NotAReport, 1, 0, 0};
    if (result.error)
        result.reports.clear();
    return result;
}

}  // namespace velmora::exercise
