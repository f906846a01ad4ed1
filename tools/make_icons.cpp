// Draws the main icon of both editions at 32 x 32 and writes it as an indexed PNG and as a
// Windows icon file beside it:
//   japanese: 16 colours, the product name on two lines ("Vel" blue over "mora" red) on yellow;
//   english: 256 colours, a black grand piano with its lid open on a yellow-to-orange ground.
// The same drawings in full colour at the sizes a desktop launcher asks for go to
// launcher/<edition>/icon-<size>.png.
//
// Usage: make_icons [resources-folder]

#include <QColor>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRawFont>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 32;

const QColor kYellow(255, 255, 0);
const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);

QRgb mix(QColor a, QColor b, double t)
{
    return qRgb(static_cast<int>(std::lround(a.red() + (b.red() - a.red()) * t)),
                static_cast<int>(std::lround(a.green() + (b.green() - a.green()) * t)),
                static_cast<int>(std::lround(a.blue() + (b.blue() - a.blue()) * t)));
}

QString serifFamily()
{
    for (const char* family : {"DejaVu Serif", "FreeSerif", "Noto Serif CJK JP"}) {
        QFont font(QString::fromLatin1(family));
        if (QRawFont::fromFont(font).familyName() == QString::fromLatin1(family))
            return QString::fromLatin1(family);
    }
    return QStringLiteral("serif");
}

// Text as an outline stretched to fill a box, so that a short word still reads large.
QPainterPath fittedText(const QString& text, const QRectF& box)
{
    QFont font(serifFamily());
    font.setPixelSize(100);
    font.setBold(true);
    QPainterPath path;
    path.addText(0, 0, font, text);
    const QRectF bounds = path.boundingRect();
    QTransform fit;
    fit.translate(box.left(), box.top());
    fit.scale(box.width() / bounds.width(), box.height() / bounds.height());
    fit.translate(-bounds.left(), -bounds.top());
    return fit.map(path);
}

// Antialiased drawing reduced to a fixed palette: each pixel takes the nearest entry.
QImage toPalette(const QImage& image, const QList<QRgb>& palette)
{
    QImage indexed(image.size(), QImage::Format_Indexed8);
    indexed.setColorTable(palette);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            int best = 0;
            int bestDistance = 1 << 30;
            for (int i = 0; i < palette.size(); ++i) {
                const int dr = qRed(c) - qRed(palette[i]);
                const int dg = qGreen(c) - qGreen(palette[i]);
                const int db = qBlue(c) - qBlue(palette[i]);
                const int distance = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
                if (distance < bestDistance) {
                    bestDistance = distance;
                    best = i;
                }
            }
            indexed.setPixel(x, y, static_cast<uint>(best));
        }
    }
    return indexed;
}

// The designs are drawn in a 32 x 32 box onto a painter set up for `pixels` square.
using Design = void (*)(QPainter&, int pixels);

void paintJapanese(QPainter& p, int pixels)
{
    p.fillRect(QRect(0, 0, pixels, pixels), kYellow);
    p.scale(pixels / double(kSize), pixels / double(kSize));
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawPath(fittedText(QStringLiteral("Vel"), QRectF(3.0, 1.5, 26.0, 13.0)));
    p.setBrush(kRed);
    p.drawPath(fittedText(QStringLiteral("mora"), QRectF(1.0, 17.5, 30.0, 12.5)));
}

// Drawn eight times larger and scaled down, so edges become blends of the design's colours.
QImage render(Design design, int size)
{
    constexpr int kScale = 8;
    QImage big(size * kScale, size * kScale, QImage::Format_RGB32);
    QPainter p(&big);
    p.setRenderHint(QPainter::Antialiasing);
    design(p, big.width());
    p.end();
    return big.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage japaneseIcon()
{
    const QImage small = render(paintJapanese, kSize);

    // Sixteen colours: the three of the design, the blends between each ink and the ground,
    // and a darker shade of each ink for the cores of the strokes.
    QList<QRgb> palette{kYellow.rgb(), kBlue.rgb(), kRed.rgb()};
    for (double t : {0.15, 0.3, 0.45, 0.6, 0.75, 0.88})
        palette.append(mix(kYellow, kBlue, t));
    for (double t : {0.2, 0.4, 0.6, 0.8})
        palette.append(mix(kYellow, kRed, t));
    palette.append(qRgb(0, 0, 160));
    palette.append(qRgb(180, 0, 0));
    palette.append(qRgb(255, 255, 255));
    return toPalette(small, palette);
}

QPainterPath grandPiano()
{
    // Seen from the audience side in a 32 x 32 box, keyboard on the left: the case on three legs
    // with the pedal lyre, and the lid propped open, highest over the keyboard and falling
    // towards the tail with the curve of the case.
    QPainterPath piano;
    piano.setFillRule(Qt::WindingFill);

    QPainterPath body;
    body.moveTo(4.0, 16.5);
    body.lineTo(27.0, 16.5);
    body.cubicTo(29.5, 16.5, 30.8, 17.5, 30.8, 19.0);
    body.cubicTo(30.8, 20.5, 29.5, 21.3, 27.0, 21.3);
    body.lineTo(4.0, 21.3);
    body.closeSubpath();
    piano.addPath(body);
    piano.addRect(QRectF(1.0, 17.2, 4.0, 2.8));  // keybed

    QPainterPath lid;
    lid.moveTo(29.5, 16.2);
    lid.lineTo(7.5, 9.5);
    lid.lineTo(9.5, 2.0);
    lid.cubicTo(14.0, 3.0, 17.0, 6.5, 21.0, 9.0);
    lid.cubicTo(25.0, 11.5, 29.5, 12.0, 31.0, 15.0);
    lid.closeSubpath();
    piano.addPath(lid);

    QPainterPath prop;  // the lid stick, leaning back
    prop.moveTo(11.0, 16.6);
    prop.lineTo(9.0, 10.0);
    prop.lineTo(10.2, 10.0);
    prop.lineTo(12.3, 16.6);
    prop.closeSubpath();
    piano.addPath(prop);
    piano.addRect(QRectF(5.5, 13.8, 1.2, 3.0));  // music desk

    for (double x : {5.0, 26.0}) {
        piano.addRect(QRectF(x, 21.0, 2.4, 7.0));
        piano.addRect(QRectF(x - 0.5, 27.6, 3.4, 1.4));
    }
    piano.addRect(QRectF(14.6, 21.0, 1.4, 5.8));
    piano.addRect(QRectF(13.0, 26.4, 4.6, 1.6));
    return piano;
}

void paintEnglish(QPainter& p, int pixels)
{
    QLinearGradient ground(0, 0, 0, pixels);
    ground.setColorAt(0.0, QColor(255, 240, 40));
    ground.setColorAt(1.0, QColor(255, 130, 0));
    p.fillRect(QRect(0, 0, pixels, pixels), ground);
    p.scale(pixels / double(kSize), pixels / double(kSize));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawPath(grandPiano());
    // The white keys under the fallboard, and a glint along the lid's lacquer.
    p.setBrush(Qt::white);
    p.drawRect(QRectF(1.3, 17.6, 3.6, 1.2));
    p.setPen(QPen(QColor(120, 120, 120), 0.6));
    p.drawLine(QPointF(10.5, 5.5), QPointF(20.0, 10.6));
}

QImage englishIcon()
{
    const QImage small = render(paintEnglish, kSize);

    // At most 256 colours: exact when the drawing has no more, otherwise the most used ones.
    std::map<QRgb, int> counts;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
            ++counts[small.pixel(x, y)];
    std::vector<std::pair<int, QRgb>> byUse;
    for (const auto& [colour, count] : counts)
        byUse.emplace_back(count, colour);
    std::sort(byUse.begin(), byUse.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    QList<QRgb> palette;
    for (const auto& entry : byUse) {
        if (palette.size() == 256)
            break;
        palette.append(entry.second);
    }
    // Always a full 256-entry table, as a 256-colour icon carries.
    while (palette.size() < 256)
        palette.append(qRgb(0, 0, 0));
    return toPalette(small, palette);
}

void putU16(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void putU32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    putU16(out, value & 0xFFFF);
    putU16(out, value >> 16);
}

// One-image .ico: a BITMAPINFOHEADER image at 4 or 8 bits per pixel, rows bottom-up, followed by
// an all-opaque AND mask.
std::vector<std::uint8_t> icoFile(const QImage& indexed, int bitsPerPixel)
{
    const int colours = 1 << bitsPerPixel;
    const int xorRowBytes = (kSize * bitsPerPixel / 8 + 3) / 4 * 4;
    const int andRowBytes = (kSize / 8 + 3) / 4 * 4;
    const int imageBytes = 40 + colours * 4 + (xorRowBytes + andRowBytes) * kSize;

    std::vector<std::uint8_t> out;
    putU16(out, 0);
    putU16(out, 1);  // icon
    putU16(out, 1);  // one image
    out.push_back(kSize);
    out.push_back(kSize);
    out.push_back(static_cast<std::uint8_t>(colours >= 256 ? 0 : colours));
    out.push_back(0);
    putU16(out, 1);
    putU16(out, static_cast<std::uint32_t>(bitsPerPixel));
    putU32(out, static_cast<std::uint32_t>(imageBytes));
    putU32(out, 22);

    putU32(out, 40);
    putU32(out, kSize);
    putU32(out, kSize * 2);  // colour image and mask together
    putU16(out, 1);
    putU16(out, static_cast<std::uint32_t>(bitsPerPixel));
    putU32(out, 0);
    putU32(out, static_cast<std::uint32_t>((xorRowBytes + andRowBytes) * kSize));
    putU32(out, 0);
    putU32(out, 0);
    putU32(out, static_cast<std::uint32_t>(colours));
    putU32(out, 0);

    const QList<QRgb> table = indexed.colorTable();
    for (int i = 0; i < colours; ++i) {
        const QRgb c = i < table.size() ? table[i] : qRgb(0, 0, 0);
        out.push_back(static_cast<std::uint8_t>(qBlue(c)));
        out.push_back(static_cast<std::uint8_t>(qGreen(c)));
        out.push_back(static_cast<std::uint8_t>(qRed(c)));
        out.push_back(0);
    }
    for (int y = kSize - 1; y >= 0; --y) {
        const uchar* row = indexed.constScanLine(y);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(xorRowBytes), 0);
        for (int x = 0; x < kSize; ++x) {
            if (bitsPerPixel == 8)
                bytes[static_cast<std::size_t>(x)] = row[x];
            else
                bytes[static_cast<std::size_t>(x / 2)] |= static_cast<std::uint8_t>(x % 2 == 0 ? row[x] << 4 : row[x]);
        }
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    out.insert(out.end(), static_cast<std::size_t>(andRowBytes * kSize), 0);
    return out;
}

bool writeIcon(const QImage& indexed, int bitsPerPixel, const std::string& stem)
{
    const std::string png = stem + ".png";
    if (!indexed.save(QString::fromStdString(png), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", png.c_str());
        return false;
    }
    const std::string ico = stem + ".ico";
    const std::vector<std::uint8_t> bytes = icoFile(indexed, bitsPerPixel);
    std::ofstream file(ico, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        std::fprintf(stderr, "cannot write %s\n", ico.c_str());
        return false;
    }
    std::printf("%s, %s: %lld colours\n", png.c_str(), ico.c_str(), static_cast<long long>(indexed.colorCount()));
    return true;
}

// The hicolor theme's usual application sizes, in full colour: a launcher scales between them.
bool writeLauncherIcons(Design design, const std::string& folder)
{
    if (!QDir().mkpath(QString::fromStdString(folder))) {
        std::fprintf(stderr, "cannot make %s\n", folder.c_str());
        return false;
    }
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const std::string png = folder + "/icon-" + std::to_string(size) + ".png";
        if (!render(design, size).save(QString::fromStdString(png), "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", png.c_str());
            return false;
        }
    }
    std::printf("%s: launcher icons\n", folder.c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const std::string folder = argc > 1 ? argv[1] : "resources";
    bool ok = writeIcon(japaneseIcon(), 4, folder + "/japanese/MainIcon");
    ok = writeIcon(englishIcon(), 8, folder + "/english/MainIcon") && ok;
    ok = writeLauncherIcons(paintJapanese, folder + "/launcher/japanese") && ok;
    ok = writeLauncherIcons(paintEnglish, folder + "/launcher/english") && ok;
    return ok ? 0 : 1;
}
