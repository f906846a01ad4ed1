#pragma once

#include <QWidget>

class QComboBox;

namespace velmora {

class Application;

// The instrument window: the 128 General MIDI programs, sent on both channels when chosen.
class TForm7 final : public QWidget {
    Q_OBJECT
public:
    explicit TForm7(Application& app);
    void ComboBox1Change(int index);
    void showAndRaise();

    QComboBox* ComboBox1 = nullptr;

private:
    Application& m_app;
};

}  // namespace velmora
