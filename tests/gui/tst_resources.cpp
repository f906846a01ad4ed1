// The assets as the windows reach them: through the program's Qt resources.

#include "editions/VersionInfo.h"
#include "windows/JpegDecoder.h"

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <cstdint>

namespace {

QByteArray resource(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

quint32 u32(const QByteArray& bytes, int offset)
{
    return qFromLittleEndian<quint32>(bytes.constData() + offset);
}

quint16 u16(const QByteArray& bytes, int offset)
{
    return qFromLittleEndian<quint16>(bytes.constData() + offset);
}

struct Loudness {
    int peak = 0;
    double rms = 0.0;
};

Loudness loudness(const QByteArray& wave, double fromSeconds, double toSeconds)
{
    constexpr int kDataStart = 44;
    const int first = static_cast<int>(fromSeconds * 22050);
    const int last = static_cast<int>(toSeconds * 22050);
    Loudness result;
    double sum = 0.0;
    for (int i = first; i < last; ++i) {
        const int s = qFromLittleEndian<qint16>(wave.constData() + kDataStart + 2 * i);
        result.peak = std::max(result.peak, std::abs(s));
        sum += double(s) * s;
    }
    result.rms = std::sqrt(sum / (last - first));
    return result;
}

int countPixels(const QImage& image, QRect area, auto&& predicate)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += predicate(QColor(image.pixel(x, y))) ? 1 : 0;
    return n;
}

}  // namespace

class TestResources : public QObject {
    Q_OBJECT

private slots:
    void soundClipIsFourSecondsOf16BitMonoPcm()
    {
        const QByteArray wave = resource(QStringLiteral(":/clip100.wav"));
        QCOMPARE(wave.size(), 176444);
        QCOMPARE(wave.left(4), QByteArray("RIFF"));
        QCOMPARE(u32(wave, 4), 176436u);
        QCOMPARE(wave.mid(8, 8), QByteArray("WAVEfmt "));
        QCOMPARE(u32(wave, 16), 16u);
        QCOMPARE(u16(wave, 20), quint16(1));      // PCM
        QCOMPARE(u16(wave, 22), quint16(1));      // mono
        QCOMPARE(u32(wave, 24), 22050u);
        QCOMPARE(u32(wave, 28), 44100u);
        QCOMPARE(u16(wave, 32), quint16(2));
        QCOMPARE(u16(wave, 34), quint16(16));
        QCOMPARE(wave.mid(36, 4), QByteArray("data"));
        QCOMPARE(u32(wave, 40), 176400u);
    }

    void soundClipIsSilenceThenThreeSecondsOfSoundThenSilence()
    {
        const QByteArray wave = resource(QStringLiteral(":/clip100.wav"));
        QCOMPARE(wave.size(), 176444);
        QVERIFY(loudness(wave, 0.0, 0.45).peak < 100);
        for (double start = 0.5; start < 3.0; start += 0.5) {
            const Loudness part = loudness(wave, start, start + 0.5);
            QVERIFY2(part.rms > 300.0, qPrintable(QStringLiteral("quiet at %1 s").arg(start)));
            QVERIFY2(part.peak < 32000, qPrintable(QStringLiteral("clipped at %1 s").arg(start)));
        }
        QVERIFY(loudness(wave, 3.55, 4.0).peak < 100);
    }

    void hintPicturesDecodeFromTheResources()
    {
        for (const QString& edition : {QStringLiteral("japanese"), QStringLiteral("english")}) {
            const QByteArray jpeg = resource(QStringLiteral(":/%1/HintPicture.jpg").arg(edition));
            QVERIFY2(!jpeg.isEmpty(), qPrintable(edition));
            const velmora::DecodedImage image =
                velmora::decodeJpeg(reinterpret_cast<const std::uint8_t*>(jpeg.constData()), std::size_t(jpeg.size()));
            QCOMPARE(image.width, 936);
            QCOMPARE(image.height, 184);
        }
    }

    void japaneseIconIsTheProductNameIn16Colours()
    {
        const QImage icon(QStringLiteral(":/japanese/MainIcon.png"));
        QCOMPARE(icon.size(), QSize(32, 32));
        QCOMPARE(icon.format(), QImage::Format_Indexed8);
        QVERIFY(icon.colorCount() <= 16);
        QCOMPARE(QColor(icon.pixel(0, 0)), QColor(255, 255, 0));
        auto blue = [](QColor c) { return c.blue() > 180 && c.red() < 80 && c.green() < 80; };
        auto red = [](QColor c) { return c.red() > 160 && c.green() < 80 && c.blue() < 80; };
        QVERIFY(countPixels(icon, QRect(0, 0, 32, 16), blue) > 40);
        QCOMPARE(countPixels(icon, QRect(0, 16, 32, 16), blue), 0);
        QVERIFY(countPixels(icon, QRect(0, 16, 32, 16), red) > 40);
        QCOMPARE(countPixels(icon, QRect(0, 0, 32, 16), red), 0);
    }

    void englishIconIsABlackPianoOnAYellowToOrangeGround()
    {
        const QImage icon(QStringLiteral(":/english/MainIcon.png"));
        QCOMPARE(icon.size(), QSize(32, 32));
        QCOMPARE(icon.format(), QImage::Format_Indexed8);
        QVERIFY(icon.colorCount() > 16 && icon.colorCount() <= 256);
        const QColor top(icon.pixel(0, 0));
        const QColor bottom(icon.pixel(0, 31));
        QCOMPARE(top.red(), 255);
        QCOMPARE(bottom.red(), 255);
        QVERIFY(top.green() > bottom.green() + 60);  // yellow above, orange below
        QVERIFY(countPixels(icon, icon.rect(), [](QColor c) { return c.lightness() < 30; }) > 150);
    }

    void versionDataOfBothEditionsIsInTheResources()
    {
        for (const QString& edition : {QStringLiteral("japanese"), QStringLiteral("english")}) {
            const QByteArray ini = resource(QStringLiteral(":/%1/version.ini").arg(edition));
            const auto info = velmora::parseVersionInfo(std::string_view(ini.constData(), std::size_t(ini.size())));
            QVERIFY2(info.has_value(), qPrintable(edition));
            QCOMPARE(velmora::shownVersion(info->fileVersion), std::string("1.34"));
        }
    }
};

QTEST_GUILESS_MAIN(TestResources)
#include "tst_resources.moc"
