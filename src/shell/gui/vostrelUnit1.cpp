#include "shell/gui/vostrelUnit1.h"

#include "editions/AccessibleText.h"
#include "editions/Catalogue.h"
#include "editions/Layout.h"
#include "editions/NoteKeyMap.h"
#include "exercise/DateTimeFormat.h"
#include "midi/GsMessages.h"
#include "platform/Clock.h"
#include "platform/Services.h"
#include "shell/SettingsLocation.h"
#include "shell/WindowGeometry.h"
#include "shell/gui/Application.h"
#include "shell/gui/KeyPreview.h"
#include "shell/gui/KeyShape.h"
#include "shell/gui/MouseSteps.h"
#include "exercise/gui/vostrelUnit2.h"
#include "windows/gui/vostrelUnit4.h"
#include "windows/gui/vostrelUnit5.h"
#include "windows/gui/vostrelUnit7.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QWindow>

#include <algorithm>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace velmora {
namespace {

struct KeyPlace {
    int note;
    int left;
};

// Shape1..Shape14 are the white keys, Shape15..Shape24 the black ones in front of them.
constexpr std::array<KeyPlace, 24> kKeyPlaces{{
    {53, 0}, {55, 24}, {57, 48}, {59, 72}, {60, 96}, {62, 120}, {64, 144},
    {65, 168}, {67, 192}, {69, 216}, {71, 240}, {72, 264}, {74, 288}, {76, 312},
    {54, 16}, {56, 40}, {58, 64}, {61, 112}, {63, 136}, {66, 184}, {68, 208},
    {70, 232}, {73, 280}, {75, 304},
}};

const StoredSettings kDefaults{};

QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

}  // namespace

TForm1::TForm1(Application& app) : m_app(app)
{
    setObjectName("Form1");
    setWindowTitle(qs(m_app.text(TextKey::Form1Caption)));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_QuitOnClose, false);
    buildControls();
    resize(kDefaults.width - kFrameWidth, kDefaults.height - kFrameHeight);
    move(kDefaults.left, kDefaults.top);
    m_keyPreview = new KeyPreview(this, [this](QWidget* target, QKeyEvent* event) { return previewKey(target, event); });
}

TForm1::~TForm1()
{
    // FormDestroy: the advertising component is cleaned up with the main window.
    m_app.platform().advertising.cleanup();
}

void TForm1::buildControls()
{
    m_client = new QWidget(this);
    m_client->setObjectName("client");
    setCentralWidget(m_client);
    QPalette palette = m_client->palette();
    m_client->setAutoFillBackground(true);
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    m_client->setPalette(palette);

    for (std::size_t i = 0; i < kKeyPlaces.size(); ++i) {
        const bool black = i >= 14;
        auto* shape = new KeyShape(kKeyPlaces[i].note, black, m_client);
        shape->setObjectName(QStringLiteral("Shape%1").arg(i + 1));
        shape->setGeometry(kKeyPlaces[i].left, 0, black ? 17 : 25, black ? 65 : 105);
        shape->setAccessibleName(qs(noteName(kKeyPlaces[i].note)));
        shape->setAccessibleDescription(qs(m_app.text(TextKey::A11yPianoKey)));
        connect(shape, &KeyShape::mouseDown, this, [this](int note) { m_app.keyboard().mouseDown(note); });
        connect(shape, &KeyShape::mouseUp, this, [this](int note) { m_app.keyboard().mouseUp(note); });
        m_shapes[i] = shape;
    }
    for (std::size_t i = 14; i < m_shapes.size(); ++i)
        m_shapes[i]->raise();

    ComboBox1 = new QComboBox(m_client);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setGeometry(152, 120, 177, 20);
    ComboBox1->setEditable(false);
    // A list is named by its selected item; what it is for goes in the description.
    ComboBox1->setAccessibleDescription(qs(m_app.text(TextKey::A11yDeviceList)));
    connect(ComboBox1, &QComboBox::activated, this, &TForm1::ComboBox1Change);

    Button1 = new QPushButton(qs(m_app.text(TextKey::Form1Button1Caption)), m_client);
    Button1->setObjectName("Button1");
    Button1->setGeometry(8, 120, 65, 25);
    Button1->installEventFilter(this);

    Button2 = new QPushButton(qs(m_app.text(TextKey::Form1Button2Caption)), m_client);
    Button2->setObjectName("Button2");
    Button2->setGeometry(80, 120, 65, 25);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);

    setTabOrder(ComboBox1, Button1);
    setTabOrder(Button1, Button2);
    ComboBox1->setFocus();

    Label1 = new QLabel(qs(m_app.text(TextKey::Form1Label1Caption)), m_client);
    Label1->setObjectName("Label1");
    // The line is taller than the label's 12 pixels, and centred in them its descenders were cut
    // off: the label reaches down to the line's bottom, which stays where centring put it.
    const int lineHeight = std::max(12, Label1->fontMetrics().height());
    Label1->setGeometry(8, 152, 282, lineHeight + (12 - lineHeight) / 2);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    Label1->installEventFilter(this);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setFixedHeight(18);
    setStatusBar(StatusBar1);

    N1 = menuBar()->addMenu(qs(m_app.text(TextKey::Form1N1Caption)));
    N1->setObjectName("N1");
    N2 = N1->addAction(qs(m_app.text(TextKey::Form1N2Caption)));
    N2->setObjectName("N2");
    N3 = N1->addAction(qs(m_app.text(TextKey::Form1N3Caption)));
    N3->setObjectName("N3");
    connect(N2, &QAction::triggered, this, &TForm1::N2Click);
    connect(N3, &QAction::triggered, this, &TForm1::N3Click);

    Timer1 = new QTimer(this);
    Timer1->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    Timer1->start();
}

KeyShape* TForm1::shapeForNote(int note) const
{
    for (KeyShape* shape : m_shapes)
        if (shape->note() == note)
            return shape;
    return nullptr;
}

bool TForm1::FormCreate()
{
    Platform& platform = m_app.platform();
    auto& port = m_app.port();
    platform.advertising.initialize(static_cast<std::uintptr_t>(winId()),
                                    reinterpret_cast<std::uintptr_t>(menuBar()), 0, kAdAppId);
    m_app.exercise().referenceUsed = false;
    m_app.setNoMidiDevice(false);

    const unsigned count = port.queryDeviceCount();
    if (count == 0) {
        platform.boxes.showMessage(m_app.text(TextKey::MsgNoSynth));
        if (m_app.edition() == Edition::Japanese)
            return false;
        m_app.setNoMidiDevice(true);
    }
    port.setDeviceCount(static_cast<int>(count));

    m_app.settings() = loadSettings(platform.settingsLocation);
    SettingsFile& settings = m_app.settings();
    const StoredSettings stored = readStoredSettings(settings);
    applyStoredGeometry(stored.height, stored.width, stored.top, stored.left);
    port.setDeviceId(stored.deviceNumber);
    m_app.setMapSetting(stored.map);
    m_app.setBoardAddress(stored.boardAddress);

    ComboBox1->clear();
    if (!m_app.noMidiDevice()) {
        for (const std::string& name : port.fillDeviceList())
            ComboBox1->addItem(qs(name));
        chooseDevice(stored.deviceNumber, stored.deviceName);
        const std::uint32_t result = port.openMidiPort();
        if (result != midi::mmresult::NoError)
            platform.boxes.showMessage(m_app.text(openResultMessage(result)));
        port.sendGsReset(100);
    }
    m_app.exercise().startTime = platform.clock.now();
    Timer1Timer();
    windowHandle()->installEventFilter(this);
    return true;
}

void TForm1::chooseDevice(int storedPosition, const std::string& storedName)
{
    auto& port = m_app.port();
    const bool positionListed = storedPosition >= 0 && storedPosition < ComboBox1->count();
    if (positionListed) {
        ComboBox1->setCurrentIndex(storedPosition);
        port.setDeviceId(port.deviceIdAt(storedPosition));
    }
    // The stored device is taken again only when its position and its name both still match.
    if (!positionListed || ComboBox1->currentText().toStdString() != storedName) {
        if (ComboBox1->count() > 0) {
            ComboBox1->setCurrentIndex(0);
            port.setDeviceId(port.deviceIdAt(0));
        } else {
            port.setDeviceId(0);
        }
    }
}

void TForm1::applyStoredGeometry(int height, int width, int top, int left)
{
    std::vector<ScreenRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect r = screen->availableGeometry();
        screens.push_back({r.x(), r.y(), r.width(), r.height()});
    }
    const ScreenRect wanted = reachableGeometry({left, top, width, height}, screens,
                                                {kDefaults.left, kDefaults.top, kDefaults.width, kDefaults.height},
                                                kFrameWidth + 120, kFrameHeight + 80);
    resize(std::max(1, wanted.width - kFrameWidth), std::max(1, wanted.height - kFrameHeight));
    move(wanted.left, wanted.top);
    m_outerPosition.hold({wanted.left, wanted.top});
}

int TForm1::outerLeft() const { return pos().x(); }
int TForm1::outerTop() const { return pos().y(); }
int TForm1::outerWidth() const { return width() + kFrameWidth; }
int TForm1::outerHeight() const { return height() + kFrameHeight; }

void TForm1::FormClose()
{
    if (m_closed)
        return;
    m_closed = true;
    Platform& platform = m_app.platform();
    auto& port = m_app.port();
    if (!m_app.noMidiDevice()) {
        midi::TuningData neutral;
        neutral.fill(0x40);
        port.sendTuning(neutral, midi::TuningOccasion::Shutdown);
        port.closePort();
    }
    SettingsFile& settings = m_app.settings();
    writeStoredSettings(settings, {outerHeight(), outerWidth(), outerTop(), outerLeft(), port.deviceId(),
                                   ComboBox1->currentText().toStdString(), m_app.mapSetting()});
    if (!saveSettings(settings, platform.settingsLocation, platform.folders)) {
        // The window position and device would otherwise be lost without a word.
        platform.boxes.showMessage(m_app.text(TextKey::MsgSettingsNotSaved) + "\n"
                                   + platform.settingsLocation.file.string());
    }
    Timer1->stop();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
    // exit() rather than quit(): quit() first asks every window to close, and the adjustment
    // window refuses, which would keep the program running.
    QCoreApplication::exit(0);
}

bool TForm1::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return QMainWindow::event(event);
}

void TForm1::FormActivate()
{
    if (m_app.form2())
        m_app.form2()->show();
}

void TForm1::Button2Click()
{
    m_app.form4()->showAndRaise();
}

void TForm1::N2Click()
{
    m_app.form5()->showAndRaise();
}

void TForm1::N3Click()
{
    m_app.form7()->showAndRaise();
}

void TForm1::Label1Click()
{
    m_app.platform().sound.play();
}

bool TForm1::nativeEvent(const QByteArray& eventType, void* message, qintptr* result)
{
#ifdef Q_OS_WIN
    if (eventType == "windows_generic_MSG") {
        const MSG* msg = static_cast<const MSG*>(message);
        if (msg->message == WM_DRAWITEM)
            m_app.platform().advertising.drawMenuItem(static_cast<std::intptr_t>(msg->lParam));
        else if (msg->message == WM_MEASUREITEM)
            m_app.platform().advertising.initMenuItem(static_cast<std::intptr_t>(msg->lParam));
    }
#endif
    // The hook never swallows a message.
    return QMainWindow::nativeEvent(eventType, message, result);
}

void TForm1::Timer1Timer()
{
    if (m_app.noMidiDevice()) {
        StatusBar1->showMessage(qs(m_app.text(TextKey::StatusNoSynth)));
        return;
    }
    const double now = m_app.platform().clock.now();
    StatusBar1->showMessage(qs(formatClock(now, m_app.platform().dateTimeFormats)));
}

void TForm1::ComboBox1Change(int listPosition)
{
    m_app.port().switchDevice(listPosition, [this] { m_app.sendScaleTuning(); });
}

void TForm1::Button1MouseDown()
{
    m_app.port().referenceOn();
    m_app.exercise().referenceUsed = true;
}

void TForm1::Button1MouseUp()
{
    m_app.port().referenceOff();
}

void TForm1::Button1KeyDown()
{
    Keyboard& keyboard = m_app.keyboard();
    if (!keyboard.referenceKeyHeld()) {
        keyboard.setReferenceKeyHeld(true);
        m_app.port().referenceOn();
        m_app.exercise().referenceUsed = true;
    }
}

void TForm1::Button1KeyUp()
{
    m_app.keyboard().setReferenceKeyHeld(false);
    m_app.port().referenceOff();
}

void TForm1::FormKeyDown(int virtualKey)
{
    m_app.keyboard().keyDown(virtualKey);
}

void TForm1::FormKeyUp(int virtualKey)
{
    m_app.keyboard().keyUp(virtualKey);
}

bool TForm1::previewKey(QWidget* target, QKeyEvent* event)
{
    const int vk = virtualKeyOf(m_app.edition(), event);
    const bool press = event->type() == QEvent::KeyPress;
    if (press && event->key() == Qt::Key_F6) {
        if (!event->isAutoRepeat())
            m_app.activateNextWindow(this);
        return true;
    }
    // X11 reports auto-repeat as release-press pairs; only the presses count, as on Windows.
    const bool repeatedRelease = !press && event->isAutoRepeat();
    if (press)
        FormKeyDown(vk);
    else if (!repeatedRelease)
        FormKeyUp(vk);

    if (target == Button1 && vk == kVkSpace) {
        if (press)
            Button1KeyDown();
        else if (!repeatedRelease)
            Button1KeyUp();
    }
    // The device list, closed or opened, takes no key: letters, arrows and Return never change
    // the device, only the mouse does. Tab still moves the focus on, and Escape closes the list.
    if (target != ComboBox1)
        return false;
    const int key = event->key();
    return key != Qt::Key_Tab && key != Qt::Key_Backtab && key != Qt::Key_Escape;
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == windowHandle() && event->type() == QEvent::Expose && windowHandle()->isExposed()) {
        // By now the frame is known, and move() places the frame rather than the inner area.
        if (const auto outer = m_outerPosition.exposed({outerLeft(), outerTop()}))
            move(outer->x, outer->y);
    }
    if (watched == Button1) {
        const MouseStep step = mouseStep(event);
        if (step == MouseStep::Down)
            Button1MouseDown();
        else if (step == MouseStep::Up)
            Button1MouseUp();
    } else if (watched == Label1 && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && Label1->rect().contains(mouse->position().toPoint()))
            Label1Click();
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace velmora
