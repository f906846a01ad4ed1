#include "platform/qt/QtPlatform.h"

#include "exercise/DateTimeFormat.h"

#include <QClipboard>
#include <QDateTime>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSoundEffect>
#include <QThread>
#include <QUrl>

#include <chrono>

namespace velmora {

void QtClock::sleep(int milliseconds)
{
    if (milliseconds > 0)
        QThread::msleep(static_cast<unsigned long>(milliseconds));
}

double QtClock::now() const
{
    return toDateTimeValue(QDateTime::currentDateTime());
}

void ClockSeededRandom::seedFromClock()
{
    const auto ticks = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    m_engine.seed(static_cast<std::mt19937::result_type>(ticks ^ (ticks >> 32)));
}

int ClockSeededRandom::draw(int n)
{
    if (n <= 1)
        return 0;
    std::uniform_int_distribution<int> distribution(0, n - 1);
    return distribution(m_engine);
}

void QtMessageBoxes::showMessage(const std::string& text)
{
    QMessageBox box(QMessageBox::NoIcon, m_title, QString::fromStdString(text), QMessageBox::Ok);
    box.exec();
}

void QtMessageBoxes::showError(const std::string& text)
{
    QMessageBox box(QMessageBox::Critical, m_title, QString::fromStdString(text), QMessageBox::Ok);
    box.exec();
}

bool QtClipboard::setText(const std::string& utf8)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    const QString text = QString::fromStdString(utf8);
    clipboard->setText(text, QClipboard::Clipboard);
    // A clipboard another program holds on to does not take the text; reading it back tells.
    return clipboard->text(QClipboard::Clipboard) == text;
}

bool QtWebShell::openUrl(const std::string& url)
{
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

QtSoundClip::QtSoundClip(QString source) : m_source(std::move(source)) {}

QtSoundClip::~QtSoundClip() = default;

void QtSoundClip::play()
{
    // Made on first use, so that start-up does not wait for the audio system.
    if (!m_effect) {
        m_effect = std::make_unique<QSoundEffect>();
        m_effect->setSource(QUrl(m_source));
    }
    m_effect->stop();
    m_effect->play();
}

}  // namespace velmora
