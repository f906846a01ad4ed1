#include "board/core/Names.h"

#include <QString>
#include <QList>
#include <QStringDecoder>

#include <unicode/uchar.h>
#include <unicode/unorm2.h>

namespace velmora::board {
namespace {

// Characters that draw nothing or reorder what follows: controls (Cc), format characters (Cf:
// the bidi embeddings, overrides and isolates, zero-width space and joiners, word joiner,
// byte-order mark, soft hyphen) and the rest of Unicode's default-ignorable ones (Hangul
// fillers, variation selectors). A name could otherwise look like another or flip the page.
bool invisible(char32_t code)
{
    switch (QChar::category(code)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
        return true;
    default:
        return u_hasBinaryProperty(UChar32(code), UCHAR_DEFAULT_IGNORABLE_CODE_POINT);
    }
}

bool blank(char32_t code)
{
    return QChar::isSpace(code) || QChar::category(code) == QChar::Separator_Line ||
           QChar::category(code) == QChar::Separator_Paragraph;
}

// Blanks trimmed, runs of them one ASCII space.
QString collapsed(const QList<uint>& codes)
{
    QString result;
    bool pendingBlank = false;
    for (uint code : codes) {
        if (blank(code)) {
            pendingBlank = !result.isEmpty();
            continue;
        }
        if (pendingBlank)
            result += u' ';
        pendingBlank = false;
        result += QString::fromUcs4(reinterpret_cast<const char32_t*>(&code), 1);
    }
    return result;
}

// NFKC with full case folding ("ß" is "ss", "ﬁ" is "fi"), as Unicode defines for comparing
// identifiers; Qt's own folding is the simple one.
QString nfkcCasefold(const QString& text)
{
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* normalizer = unorm2_getNFKCCasefoldInstance(&status);
    if (U_FAILURE(status))
        return text.normalized(QString::NormalizationForm_KC).toCaseFolded();
    const auto* source = reinterpret_cast<const UChar*>(text.utf16());
    const int32_t needed = unorm2_normalize(normalizer, source, int32_t(text.size()), nullptr, 0, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status))
        return text.normalized(QString::NormalizationForm_KC).toCaseFolded();
    QString result(needed, Qt::Uninitialized);
    status = U_ZERO_ERROR;
    unorm2_normalize(normalizer, source, int32_t(text.size()), reinterpret_cast<UChar*>(result.data()), needed, &status);
    if (U_FAILURE(status))
        return text.normalized(QString::NormalizationForm_KC).toCaseFolded();
    return result;
}

}  // namespace

CleanedName cleanName(std::string_view raw)
{
    CleanedName name;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder(QByteArrayView(raw.data(), qsizetype(raw.size())));
    if (decoder.hasError()) {
        name.problem = NameProblem::NotText;
        return name;
    }
    QList<uint> visible;
    for (uint code : decoded.toUcs4())
        if (!invisible(code))
            visible.push_back(code);
    const QString shown = collapsed(visible);
    name.shown = shown.toStdString();
    const QString key = nfkcCasefold(shown);
    QList<uint> keyCodes;
    for (uint code : key.toUcs4())
        if (!invisible(code))
            keyCodes.push_back(code);
    name.key = collapsed(keyCodes).toStdString();
    if (name.key.empty())
        name.problem = NameProblem::Empty;
    else if (shown.toUcs4().size() > kMaxNameLength)
        name.problem = NameProblem::TooLong;
    return name;
}

}  // namespace velmora::board
