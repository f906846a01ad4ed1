#pragma once

#include "shell/WindowGeometry.h"

#include <QMainWindow>

#include <array>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QStatusBar;
class QTimer;

namespace velmora {

class Application;
class KeyShape;
class KeyPreview;

// The main window: the two-octave keyboard, the reference A, the device list, the menus, the
// version label and the status clock. Its creation is the program's start-up, its closing the
// shutdown.
class TForm1 final : public QMainWindow {
    Q_OBJECT
public:
    static constexpr std::uint32_t kAdAppId = 0x564C4D52;

    explicit TForm1(Application& app);
    ~TForm1() override;

    // The start-up sequence; false when the program has to end at once.
    bool FormCreate();
    // The shutdown sequence (runs once).
    void FormClose();

    KeyShape* Shape(int number) const { return m_shapes.at(std::size_t(number - 1)); }
    KeyShape* shapeForNote(int note) const;
    QWidget* client() const { return m_client; }
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QMenu* N1 = nullptr;
    QAction* N2 = nullptr;
    QAction* N3 = nullptr;
    QTimer* Timer1 = nullptr;

    // Outer geometry as the settings file stores it.
    int outerLeft() const;
    int outerTop() const;
    int outerWidth() const;
    int outerHeight() const;

    void Timer1Timer();
    void FormActivate();
    void Button2Click();
    void N2Click();
    void N3Click();
    void Label1Click();
    void ComboBox1Change(int listPosition);
    void Button1MouseDown();
    void Button1MouseUp();
    void Button1KeyDown();
    void Button1KeyUp();
    void FormKeyDown(int virtualKey);
    void FormKeyUp(int virtualKey);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    void buildControls();
    void applyStoredGeometry(int height, int width, int top, int left);
    void chooseDevice(int storedPosition, const std::string& storedName);
    bool previewKey(QWidget* target, QKeyEvent* event);

    Application& m_app;
    QWidget* m_client = nullptr;
    std::array<KeyShape*, 24> m_shapes{};
    KeyPreview* m_keyPreview = nullptr;
    bool m_closed = false;
    OuterPositionHold m_outerPosition;
};

}  // namespace velmora
