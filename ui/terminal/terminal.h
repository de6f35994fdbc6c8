// How `quillmor /au` looks on a terminal: the unattended dialog runs on the headless
// back-end and this renders what it shows. Message boxes print their caption and
// text to standard error and never wait (the run asks nothing). The progress
// countdown redraws in place on a terminal, else prints a start and an end line.
#pragma once
#include "ui/framework/headless/headless.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

namespace terminal {

struct Options {
    FILE* out = stderr;
    bool outIsTerminal = false;  // the countdown may redraw in place
};

class FrontEnd : public headless::MessageBoxResponder, public headless::WindowObserver {
public:
    explicit FrontEnd(const Options& options);
    ~FrontEnd() override;
    FrontEnd(const FrontEnd&) = delete;
    FrontEnd& operator=(const FrontEnd&) = delete;

    // Becomes the responder and the observer; Uninstall (or the destructor)
    // restores the defaults.
    void Install();
    void Uninstall();

    int ShowMessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                       unsigned style) override;
    void OnWindowChanged(WindowHandle hwnd) override;
    void OnWindowDestroyed(WindowHandle hwnd) override;

private:
    struct Countdown {
        std::string caption;
        std::string text;
        size_t drawnLength = 0;
        bool started = false;
        bool finished = false;
    };

    void Print(const std::string& text);
    WindowHandle OpenLine();
    void ShowCountdown(WindowHandle hwnd, const headless::WindowState* state);

    Options m_options;
    bool m_installed = false;

    std::map<WindowHandle, Countdown> m_countdowns;
    std::mutex m_printMutex;
    WindowHandle m_openLine = 0;  // the countdown whose line the cursor stands on
};

}  // namespace terminal
