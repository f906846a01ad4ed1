// Draws the hint window's picture for both editions: a treble staff carrying the tuning order of
// the small-circle method, from the standard A through the twelve steps of the hint text, with
// coloured bars for the octave, the wide fourths and the narrow fifths, a title and a legend.
// It is written as a baseline JFIF 1.01 colour JPEG of 936 x 184 pixels.
//
// Usage: make_hint_picture [resources-folder]
//   (writes <folder>/japanese/HintPicture.jpg and <folder>/english/HintPicture.jpg)

#include "editions/Catalogue.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRawFont>
#include <QString>

#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 936;
constexpr int kHeight = 184;

// Staff geometry: five lines kSpace apart, the lowest one (E4) at kBottomLine.
constexpr double kSpace = 12.0;
constexpr double kBottomLine = 122.0;
constexpr double kTopLine = kBottomLine - 4 * kSpace;
constexpr double kStaffLeft = 8.0;
constexpr double kStaffRight = 928.0;

const QColor kInk(0, 0, 0);
const QColor kTitleGreen(0, 128, 0);
const QColor kTitleBlue(0, 0, 192);
const QColor kOctaveBlue(30, 80, 220);
const QColor kFourthOlive(128, 128, 0);
const QColor kFifthYellow(240, 200, 0);
const QColor kStepNumberGrey(90, 90, 90);

enum class Interval { Octave, WideFourth, NarrowFifth };

QColor colourOf(Interval interval)
{
    switch (interval) {
    case Interval::Octave:
        return kOctaveBlue;
    case Interval::WideFourth:
        return kFourthOlive;
    case Interval::NarrowFifth:
        return kFifthYellow;
    }
    return kInk;
}

struct Pitch {
    int letter = 0;      // 0..6 for C..B
    int accidental = 0;  // -1 flat, +1 sharp
    int octave = 4;

    // Diatonic position counted in staff steps; E4, the bottom line, is 30.
    int staffStep() const { return octave * 7 + letter; }
    double y() const { return kBottomLine - (staffStep() - 30) * kSpace / 2.0; }
};

// "A4", "F#4", "Bb3".
Pitch pitch(std::string_view name)
{
    static constexpr std::string_view kLetters = "CDEFGAB";
    Pitch p;
    p.letter = static_cast<int>(kLetters.find(name.front()));
    std::size_t i = 1;
    if (name[i] == '#' || name[i] == 'b') {
        p.accidental = name[i] == '#' ? 1 : -1;
        ++i;
    }
    p.octave = name[i] - '0';
    return p;
}

// One step of the hint text: the note tuned from an earlier one, and the notes it is checked with.
// D#4 is written E-flat where it meets B-flat, so every interval reads as a true fourth or fifth.
struct Step {
    const char* from;
    const char* tuned;
    Interval interval;
    std::vector<const char*> references;
};

const std::vector<Step>& tuningSteps()
{
    static const std::vector<Step> steps{
        {"A4", "A3", Interval::Octave, {}},
        {"A4", "E4", Interval::WideFourth, {}},
        {"A3", "D4", Interval::WideFourth, {}},
        {"E4", "B3", Interval::WideFourth, {}},
        {"B3", "F#4", Interval::NarrowFifth, {"A3", "D4"}},
        {"F#4", "C#4", Interval::WideFourth, {"A3"}},
        {"C#4", "G#4", Interval::NarrowFifth, {"B3", "E4"}},
        {"G#4", "D#4", Interval::WideFourth, {"B3"}},
        {"Eb4", "Bb3", Interval::WideFourth, {"D4"}},
        {"Bb3", "F4", Interval::NarrowFifth, {"A4", "C#4"}},
        {"F4", "C4", Interval::WideFourth, {"E4", "A4"}},
        {"C4", "G4", Interval::NarrowFifth, {"B3", "D4"}},
    };
    return steps;
}

QString qtext(velmora::Edition edition, velmora::TextKey key)
{
    const std::string_view text = velmora::text(edition, key);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

enum class HeadSize { Large, Small };

double headWidth(HeadSize size) { return size == HeadSize::Large ? 15.0 : 10.0; }

// A filled, slightly tilted oval note head centred on (x, y).
void drawHead(QPainter& p, double x, double y, HeadSize size)
{
    const double w = headWidth(size);
    const double h = size == HeadSize::Large ? 11.0 : 7.5;
    p.save();
    p.translate(x, y);
    p.rotate(-20.0);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawEllipse(QRectF(-w / 2, -h / 2, w, h));
    p.restore();
}

// Short lines through or below a head outside the staff: C4 and A3 sit on ledger lines.
void drawLedgers(QPainter& p, double x, const Pitch& note, HeadSize size)
{
    const double half = headWidth(size) / 2 + 4.0;
    p.setPen(QPen(kInk, 1.2));
    for (int step = 28; step >= note.staffStep(); step -= 2) {
        const double y = kBottomLine + (30 - step) * kSpace / 2.0;
        p.drawLine(QPointF(x - half, y), QPointF(x + half, y));
    }
}

// Sharp and flat drawn as strokes, centred at (x, y), scaled for large or small heads.
void drawAccidental(QPainter& p, double x, double y, int accidental, HeadSize size)
{
    const double k = size == HeadSize::Large ? 1.0 : 0.75;
    p.save();
    p.translate(x, y);
    p.scale(k, k);
    if (accidental > 0) {
        p.setPen(QPen(kInk, 1.1));
        p.drawLine(QPointF(-1.8, -10.5), QPointF(-1.8, 9.0));
        p.drawLine(QPointF(1.8, -9.0), QPointF(1.8, 10.5));
        p.setPen(QPen(kInk, 2.6, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(QPointF(-4.0, -2.2), QPointF(4.0, -4.6));
        p.drawLine(QPointF(-4.0, 4.6), QPointF(4.0, 2.2));
    } else if (accidental < 0) {
        p.setPen(QPen(kInk, 1.2));
        p.drawLine(QPointF(-2.5, -13.0), QPointF(-2.5, 4.0));
        QPainterPath bowl;
        bowl.moveTo(-2.5, 4.0);
        bowl.cubicTo(1.0, 1.5, 5.0, -1.0, 3.5, -3.5);
        bowl.cubicTo(2.5, -5.0, -0.5, -3.5, -2.5, -1.5);
        bowl.cubicTo(-0.5, -2.8, 1.8, -3.0, 1.8, -1.8);
        bowl.cubicTo(1.8, -0.2, 0.0, 1.8, -2.5, 4.0);
        p.setPen(QPen(kInk, 1.0));
        p.setBrush(kInk);
        p.drawPath(bowl);
    }
    p.restore();
}

void drawNote(QPainter& p, double x, const Pitch& note, HeadSize size)
{
    drawLedgers(p, x, note, size);
    drawHead(p, x, note.y(), size);
    if (note.accidental != 0)
        drawAccidental(p, x - headWidth(size) / 2 - (size == HeadSize::Large ? 7.0 : 5.5), note.y(), note.accidental, size);
}

// Small heads of one chord: a head a second above its neighbour moves to the right of it, and
// accidentals that would touch each other step further to the left, top one nearest the chord.
void drawSmallChord(QPainter& p, double x, std::vector<Pitch> notes)
{
    std::sort(notes.begin(), notes.end(), [](const Pitch& a, const Pitch& b) { return a.staffStep() > b.staffStep(); });
    std::vector<bool> shifted(notes.size(), false);
    for (std::size_t i = notes.size(); i-- > 1;) {
        const std::size_t upper = i - 1;
        shifted[upper] = !shifted[i] && notes[upper].staffStep() - notes[i].staffStep() == 1;
    }
    std::vector<std::pair<int, int>> placed;  // staff step and column of each accidental so far
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const Pitch& note = notes[i];
        const double headX = shifted[i] ? x + headWidth(HeadSize::Small) : x;
        drawLedgers(p, headX, note, HeadSize::Small);
        drawHead(p, headX, note.y(), HeadSize::Small);
        if (note.accidental == 0)
            continue;
        int column = 0;
        while (std::any_of(placed.begin(), placed.end(), [&](const auto& a) {
            return a.second == column && std::abs(a.first - note.staffStep()) < 6;
        }))
            ++column;
        placed.emplace_back(note.staffStep(), column);
        drawAccidental(p, x - headWidth(HeadSize::Small) / 2 - 5.5 - 7.0 * column, note.y(), note.accidental, HeadSize::Small);
    }
}

// The clef from a music font when one is installed, scaled so that its curl wraps the G line.
std::optional<QPainterPath> clefGlyphPath()
{
    static constexpr char32_t kTrebleClef = 0x1D11E;
    for (const char* family : {"FreeSerif", "Noto Music", "DejaVu Sans", "Symbola"}) {
        QFont font(QString::fromLatin1(family));
        font.setPixelSize(100);
        const QRawFont raw = QRawFont::fromFont(font);
        if (!raw.isValid() || raw.familyName() != QString::fromLatin1(family) || !raw.supportsCharacter(kTrebleClef))
            continue;
        QPainterPath path;
        path.addText(0, 0, font, QString::fromUcs4(&kTrebleClef, 1));
        if (!path.isEmpty())
            return path;
    }
    return std::nullopt;
}

// Drawn by hand when no font has the clef: spiral round G4, a tall S through the staff, a tail.
QPainterPath clefOutlinePath()
{
    const double s = kSpace;
    const double g = kBottomLine - s;  // the G line
    QPainterPath path;
    path.moveTo(0.5 * s, g + 0.1 * s);
    path.cubicTo(-0.4 * s, g + 0.2 * s, -0.4 * s, g - 0.9 * s, 0.5 * s, g - 0.9 * s);
    path.cubicTo(1.6 * s, g - 0.9 * s, 1.7 * s, g + 1.0 * s, 0.4 * s, g + 1.0 * s);
    path.cubicTo(-1.0 * s, g + 1.0 * s, -1.3 * s, g - 1.0 * s, -0.4 * s, g - 1.9 * s);
    path.cubicTo(0.4 * s, g - 2.7 * s, 1.4 * s, g - 3.5 * s, 1.2 * s, g - 4.6 * s);
    path.cubicTo(1.1 * s, g - 5.4 * s, 0.4 * s, g - 5.5 * s, 0.2 * s, g - 4.6 * s);
    path.lineTo(0.9 * s, g + 2.4 * s);
    path.cubicTo(1.0 * s, g + 3.2 * s, 0.0 * s, g + 3.4 * s, -0.3 * s, g + 2.8 * s);
    return path;
}

void drawClef(QPainter& p, double left)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    if (std::optional<QPainterPath> glyph = clefGlyphPath()) {
        // A treble clef reaches about one and a half spaces above the staff and one and a half below.
        const QRectF box = glyph->boundingRect();
        const double top = kTopLine - 1.5 * kSpace;
        const double bottom = kBottomLine + 1.6 * kSpace;
        const double scale = (bottom - top) / box.height();
        p.translate(left, top);
        p.scale(scale, scale);
        p.translate(-box.left(), -box.top());
        p.setPen(Qt::NoPen);
        p.setBrush(kInk);
        p.drawPath(*glyph);
    } else {
        p.translate(left + 1.4 * kSpace, 0);
        p.setPen(QPen(kInk, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(clefOutlinePath());
        p.setBrush(kInk);
        p.drawEllipse(QPointF(-0.3 * kSpace, kBottomLine - kSpace + 2.6 * kSpace), 3.2, 3.2);
    }
    p.restore();
}

// A coloured bracket joining the two notes of a tuned interval, under the staff when the new
// note lies below the one it is tuned from, over it when it lies above.
void drawIntervalBar(QPainter& p, double x1, double x2, Interval interval, bool below)
{
    const double barY = below ? kBottomLine + 3.2 * kSpace : kTopLine - 0.9 * kSpace;
    const double tick = below ? -5.0 : 5.0;
    const double barHeight = 5.0;
    const QColor colour = colourOf(interval);
    QPainterPath bracket;
    const double top = below ? barY : barY - barHeight;
    bracket.addRect(QRectF(x1 - 5, top, x2 - x1 + 10, barHeight));
    bracket.addRect(QRectF(x1 - 5, below ? barY + tick : barY, 2.5, 5.0));
    bracket.addRect(QRectF(x2 + 2.5, below ? barY + tick : barY, 2.5, 5.0));
    p.setPen(QPen(colour.darker(135), 0.8));
    p.setBrush(colour);
    p.drawPath(bracket.simplified());
}

void drawLegend(QPainter& p, velmora::Edition edition, const QFont& font)
{
    using velmora::TextKey;
    p.setFont(font);
    const QFontMetricsF metrics(font);
    constexpr double kGap = 16.0;
    constexpr double kMarkWidth = 24.0;

    struct Entry {
        QString label;
        std::optional<HeadSize> head;
        std::optional<Interval> bar;
    };
    const std::array<std::vector<Entry>, 2> rows{{
        {{qtext(edition, TextKey::HintPictureLegendTuned), HeadSize::Large, std::nullopt},
         {qtext(edition, TextKey::HintPictureLegendReference), HeadSize::Small, std::nullopt}},
        {{qtext(edition, TextKey::HintPictureLegendOctave), std::nullopt, Interval::Octave},
         {qtext(edition, TextKey::HintPictureLegendFourth), std::nullopt, Interval::WideFourth},
         {qtext(edition, TextKey::HintPictureLegendFifth), std::nullopt, Interval::NarrowFifth}},
    }};

    double widest = 0.0;
    std::array<double, 2> widths{};
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (const Entry& e : rows[r])
            widths[r] += kMarkWidth + 6.0 + metrics.horizontalAdvance(e.label) + kGap;
        widths[r] -= kGap;
        widest = std::max(widest, widths[r]);
    }
    const double left = kWidth - 10.0 - widest;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const double midY = 14.0 + 19.0 * static_cast<double>(r);
        double x = left;
        for (const Entry& e : rows[r]) {
            if (e.head) {
                drawHead(p, x + kMarkWidth / 2, midY, *e.head);
            } else if (e.bar) {
                p.setPen(QPen(colourOf(*e.bar).darker(135), 0.8));
                p.setBrush(colourOf(*e.bar));
                p.drawRect(QRectF(x, midY - 2.5, kMarkWidth, 5.0));
            }
            x += kMarkWidth + 6.0;
            p.setPen(kInk);
            p.drawText(QPointF(x, midY + metrics.ascent() / 2.0 - metrics.descent() / 2.0 + 0.5), e.label);
            x += metrics.horizontalAdvance(e.label) + kGap;
        }
    }
}

void drawTitle(QPainter& p, velmora::Edition edition, QFont font)
{
    font.setPixelSize(20);
    font.setBold(true);
    p.setFont(font);
    const QFontMetricsF metrics(font);
    const QString first = qtext(edition, velmora::TextKey::HintPictureTitleFirst);
    const QString second = qtext(edition, velmora::TextKey::HintPictureTitleSecond);
    const QPointF origin(12.0, 6.0 + metrics.ascent());
    p.setPen(kTitleGreen);
    p.drawText(origin, first);
    p.setPen(kTitleBlue);
    p.drawText(origin + QPointF(metrics.horizontalAdvance(first), 0.0), second);
}

QImage drawPicture(velmora::Edition edition)
{
    QImage image(kWidth, kHeight, QImage::Format_RGB888);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QFont textFont(QStringLiteral("Noto Sans CJK JP"));
    textFont.setPixelSize(13);

    drawTitle(p, edition, textFont);
    drawLegend(p, edition, textFont);

    p.setPen(QPen(kInk, 1.0));
    for (int line = 0; line < 5; ++line) {
        const double y = kBottomLine - line * kSpace;
        p.drawLine(QPointF(kStaffLeft, y), QPointF(kStaffRight, y));
    }
    p.setPen(QPen(kInk, 1.6));
    p.drawLine(QPointF(kStaffLeft, kTopLine), QPointF(kStaffLeft, kBottomLine));
    p.drawLine(QPointF(kStaffRight, kTopLine), QPointF(kStaffRight, kBottomLine));
    drawClef(p, kStaffLeft + 8.0);

    QFont numberFont(QStringLiteral("DejaVu Sans"));
    numberFont.setPixelSize(11);
    p.setFont(numberFont);
    const QFontMetricsF numberMetrics(numberFont);
    const double numberBaseline = kHeight - 5.0;
    auto label = [&](double x, const QString& text) {
        p.setPen(kStepNumberGrey);
        p.drawText(QPointF(x - numberMetrics.horizontalAdvance(text) / 2.0, numberBaseline), text);
    };

    // The standard A, before the first step.
    const double firstColumn = 86.0;
    drawNote(p, firstColumn, pitch("A4"), HeadSize::Large);
    label(firstColumn, QStringLiteral("A4=440Hz"));

    const auto& steps = tuningSteps();
    const double columnWidth = (kStaffRight - 30.0 - 150.0) / static_cast<double>(steps.size() - 1);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        const double centre = 150.0 + columnWidth * static_cast<double>(i);
        const double smallX = centre - 16.0;
        const double largeX = centre + 18.0;
        const Pitch from = pitch(step.from);
        const Pitch tuned = pitch(step.tuned);

        std::vector<Pitch> small{from};
        for (const char* reference : step.references)
            small.push_back(pitch(reference));
        const bool below = tuned.staffStep() < from.staffStep();
        drawIntervalBar(p, smallX, largeX, step.interval, below);
        drawSmallChord(p, smallX, small);
        drawNote(p, largeX, tuned, HeadSize::Large);
        label(centre, QString::number(static_cast<int>(i) + 1));
    }
    p.end();
    return image;
}

struct CompressDeleter {
    void operator()(jpeg_compress_struct* c) const
    {
        jpeg_destroy_compress(c);
        delete c;
    }
};

bool writeJpeg(const QImage& image, const std::string& path)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    jpeg_error_mgr errors{};
    std::unique_ptr<jpeg_compress_struct, CompressDeleter> cinfo(new jpeg_compress_struct{});
    cinfo->err = jpeg_std_error(&errors);
    jpeg_create_compress(cinfo.get());

    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(cinfo.get(), &buffer, &size);
    cinfo->image_width = static_cast<JDIMENSION>(rgb.width());
    cinfo->image_height = static_cast<JDIMENSION>(rgb.height());
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_RGB;
    jpeg_set_defaults(cinfo.get());
    jpeg_set_quality(cinfo.get(), 92, TRUE);
    cinfo->optimize_coding = FALSE;
    cinfo->write_JFIF_header = TRUE;
    cinfo->JFIF_major_version = 1;
    cinfo->JFIF_minor_version = 1;
    cinfo->density_unit = 1;  // dots per inch
    cinfo->X_density = 96;
    cinfo->Y_density = 96;

    jpeg_start_compress(cinfo.get(), TRUE);
    while (cinfo->next_scanline < cinfo->image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb.constScanLine(static_cast<int>(cinfo->next_scanline)));
        jpeg_write_scanlines(cinfo.get(), &row, 1);
    }
    jpeg_finish_compress(cinfo.get());
    cinfo.reset();

    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(buffer), static_cast<std::streamsize>(size));
    std::free(buffer);
    if (!file) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return false;
    }
    std::printf("%s: %lu bytes\n", path.c_str(), size);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const std::string folder = argc > 1 ? argv[1] : "resources";
    bool ok = writeJpeg(drawPicture(velmora::Edition::Japanese), folder + "/japanese/HintPicture.jpg");
    ok = writeJpeg(drawPicture(velmora::Edition::English), folder + "/english/HintPicture.jpg") && ok;
    return ok ? 0 : 1;
}
