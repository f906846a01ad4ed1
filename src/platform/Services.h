#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// Modal message boxes with an OK button only. Texts are UTF-8.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // An ordinary message of the program, no icon.
    virtual void showMessage(const std::string& text) = 0;
    // The toolkit's standard error box (a failure inside the toolkit, such as the clipboard).
    virtual void showError(const std::string& text) = 0;
};

class Clipboard {
public:
    virtual ~Clipboard() = default;
    // Replaces the clipboard's content with plain text; false when the clipboard cannot be opened.
    virtual bool setText(const std::string& utf8) = 0;
};

class WebShell {
public:
    virtual ~WebShell() = default;
    // Opens an address with the system's default handler; false on failure.
    virtual bool openUrl(const std::string& url) = 0;
};

class SoundClip {
public:
    virtual ~SoundClip() = default;
    // Plays the program's sound clip asynchronously, restarting it if it is playing.
    virtual void play() = 0;
};

// The advertising component's four entry points. The default does nothing; no result is used.
class AdvertisingHook {
public:
    virtual ~AdvertisingHook() = default;
    virtual void initialize(std::uintptr_t window, std::uintptr_t menu, int reserved, std::uint32_t appId) = 0;
    virtual void drawMenuItem(std::intptr_t drawItemRecord) = 0;
    virtual void initMenuItem(std::intptr_t measureItemRecord) = 0;
    virtual void cleanup() = 0;
};

class NullAdvertisingHook final : public AdvertisingHook {
public:
    void initialize(std::uintptr_t, std::uintptr_t, int, std::uint32_t) override {}
    void drawMenuItem(std::intptr_t) override {}
    void initMenuItem(std::intptr_t) override {}
    void cleanup() override {}
};

}  // namespace velmora
