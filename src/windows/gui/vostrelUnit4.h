#pragma once

#include <QWidget>

class QLabel;
class QPlainTextEdit;

namespace velmora {

class Application;

// The hint window: a diagram and a text on tuning an equal-tempered octave by ear.
class TForm4 final : public QWidget {
    Q_OBJECT
public:
    explicit TForm4(Application& app);
    void showAndRaise();

    QLabel* Image1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
};

// The hint picture of an edition, decoded from the JPEG kept with the program; a null image when
// the picture is missing or cannot be decoded.
QImage loadHintPicture(const QByteArray& jpeg);

}  // namespace velmora
