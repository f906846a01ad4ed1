#include "windows/gui/vostrelUnit4.h"

#include "editions/Catalogue.h"
#include "editions/Layout.h"
#include "shell/gui/Application.h"
#include "shell/gui/ScreenPlacement.h"
#include "windows/JpegDecoder.h"

#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScrollBar>

namespace velmora {

QImage loadHintPicture(const QByteArray& jpeg)
{
    const DecodedImage decoded =
        decodeJpeg(reinterpret_cast<const std::uint8_t*>(jpeg.constData()), static_cast<std::size_t>(jpeg.size()));
    if (decoded.empty())
        return {};
    QImage image(decoded.rgb.data(), decoded.width, decoded.height, decoded.width * 3, QImage::Format_RGB888);
    return image.copy();
}

TForm4::TForm4(Application& app) : QWidget(nullptr)
{
    setObjectName("Form4");
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QString::fromStdString(app.text(TextKey::Form4Caption)));
    const Place place = auxiliaryLayout(app.edition()).hintWindow;
    resize(place.width - kFrameWidth, place.height - kFrameHeight);
    move(place.left, place.top);
    keepOnScreen(*this);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setGeometry(0, 184, 937, 137);
    Memo1->setReadOnly(true);
    Memo1->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QFont memoFont = font();
    memoFont.setPixelSize(16);
    Memo1->setFont(memoFont);
    QStringList lines;
    for (std::string_view line : hintText(app.edition()))
        lines << QString::fromUtf8(line.data(), int(line.size()));
    Memo1->setPlainText(lines.join(QLatin1Char('\n')));
    Memo1->moveCursor(QTextCursor::Start);
    Memo1->setAccessibleName(QString::fromStdString(app.text(TextKey::Form4Caption)));

    Image1 = new QLabel(this);
    Image1->setObjectName("Image1");
    Image1->setGeometry(0, 0, 937, 185);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setAccessibleName(
        QString::fromStdString(app.text(TextKey::HintPictureTitleFirst) + app.text(TextKey::HintPictureTitleSecond)));
    const QString path = app.edition() == Edition::Japanese ? QStringLiteral(":/japanese/HintPicture.jpg")
                                                            : QStringLiteral(":/english/HintPicture.jpg");
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const QImage picture = loadHintPicture(file.readAll());
        if (!picture.isNull())
            Image1->setPixmap(QPixmap::fromImage(picture));
    }
    // The memo comes first in the tab order, so it holds the focus.
    Memo1->setFocus();
}

void TForm4::showAndRaise()
{
    show();
    raise();
    activateWindow();
}

}  // namespace velmora
