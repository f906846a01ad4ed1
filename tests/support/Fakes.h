#pragma once

#include "platform/Clock.h"
#include "platform/RandomSource.h"
#include "platform/SettingsFolders.h"
#include "platform/Services.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace velmora::test {

// A clock whose waits only advance virtual time and are recorded, so timing is asserted exactly.
class VirtualClock final : public Clock {
public:
    // 2026-12-08 10:00:00 in days since 1899-12-30.
    static constexpr double kDefaultStart = 46364.0 + 10.0 / 24.0;

    explicit VirtualClock(double startDays = kDefaultStart) : m_days(startDays) {}

    void sleep(int milliseconds) override
    {
        m_sleeps.push_back(milliseconds);
        m_elapsedMs += milliseconds;
        m_days += milliseconds / 86'400'000.0;
    }
    double now() const override { return m_days; }

    void advance(double milliseconds)
    {
        m_elapsedMs += milliseconds;
        m_days += milliseconds / 86'400'000.0;
    }
    void setNow(double days) { m_days = days; }
    double elapsedMilliseconds() const { return m_elapsedMs; }
    const std::vector<int>& sleeps() const { return m_sleeps; }
    void clearSleeps() { m_sleeps.clear(); }

private:
    double m_days;
    double m_elapsedMs = 0;
    std::vector<int> m_sleeps;
};

// Draws taken from a script (each value is reduced modulo n), then r = 0.
class ScriptedRandom final : public RandomSource {
public:
    void seedFromClock() override { ++seeds; }
    int draw(int n) override
    {
        ++drawCount;
        lastN = n;
        if (script.empty())
            return 0;
        const int v = script.front();
        script.pop_front();
        return ((v % n) + n) % n;
    }
    std::deque<int> script;
    int seeds = 0;
    int drawCount = 0;
    int lastN = 0;
};

class RecordingMessageBoxes final : public MessageBoxes {
public:
    void showMessage(const std::string& text) override { messages.push_back(text); }
    void showError(const std::string& text) override { errors.push_back(text); }
    std::vector<std::string> messages;
    std::vector<std::string> errors;
};

class RecordingClipboard final : public Clipboard {
public:
    bool setText(const std::string& utf8) override
    {
        ++attempts;
        if (failing)
            return false;
        text = utf8;
        return true;
    }
    bool failing = false;
    int attempts = 0;
    std::string text;
};

class RecordingWebShell final : public WebShell {
public:
    bool openUrl(const std::string& url) override
    {
        opened.push_back(url);
        return !failing;
    }
    bool failing = false;
    std::vector<std::string> opened;
};

class RecordingSoundClip final : public SoundClip {
public:
    void play() override { ++plays; }
    int plays = 0;
};

class RecordingAdvertisingHook final : public AdvertisingHook {
public:
    void initialize(std::uintptr_t window, std::uintptr_t menu, int reserved, std::uint32_t appId) override
    {
        calls.push_back("initialize");
        initWindow = window;
        initMenu = menu;
        initReserved = reserved;
        initAppId = appId;
    }
    void drawMenuItem(std::intptr_t) override { calls.push_back("drawMenuItem"); }
    void initMenuItem(std::intptr_t) override { calls.push_back("initMenuItem"); }
    void cleanup() override { calls.push_back("cleanup"); }
    std::vector<std::string> calls;
    std::uintptr_t initWindow = 0;
    std::uintptr_t initMenu = 0;
    int initReserved = -1;
    std::uint32_t initAppId = 0;
};

// A file system whose permissions are set by the test, so that an unwritable folder is
// unwritable even for root; folders it may create are created for real.
class ScriptedSettingsFolders final : public SettingsFolders {
public:
    bool canCreateFilesIn(const std::filesystem::path& folder) const override { return writable.count(folder) > 0; }
    std::filesystem::path userConfigFolder() const override { return config; }
    bool createFolder(const std::filesystem::path& folder) override
    {
        created.push_back(folder);
        if (!canCreateFolders)
            return false;
        std::filesystem::create_directories(folder);
        return true;
    }
    std::set<std::filesystem::path> writable;
    std::filesystem::path config;
    bool canCreateFolders = true;
    std::vector<std::filesystem::path> created;
};

}  // namespace velmora::test
