#pragma once

#include "platform/Clock.h"
#include "platform/RandomSource.h"
#include "platform/Services.h"

#include <QString>

#include <memory>
#include <random>

class QSoundEffect;

namespace velmora {

class QtClock final : public Clock {
public:
    void sleep(int milliseconds) override;
    double now() const override;
};

class ClockSeededRandom final : public RandomSource {
public:
    void seedFromClock() override;
    int draw(int n) override;

private:
    std::mt19937 m_engine;
};

class QtMessageBoxes final : public MessageBoxes {
public:
    explicit QtMessageBoxes(QString title) : m_title(std::move(title)) {}
    void showMessage(const std::string& text) override;
    void showError(const std::string& text) override;

private:
    QString m_title;
};

class QtClipboard final : public Clipboard {
public:
    bool setText(const std::string& utf8) override;
};

class QtWebShell final : public WebShell {
public:
    bool openUrl(const std::string& url) override;
};

class QtSoundClip final : public SoundClip {
public:
    explicit QtSoundClip(QString source);
    ~QtSoundClip() override;
    void play() override;

private:
    QString m_source;
    std::unique_ptr<QSoundEffect> m_effect;
};

}  // namespace velmora
