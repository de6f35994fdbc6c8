// The Linux terminal front-end: the dialogs run on the headless back-end and this
// renders them on a terminal. Message boxes print their caption and text to
// standard error; a question (Yes/No, OK/Cancel) is read from the terminal, and
// takes its safe answer (No, Cancel) when there is no terminal or the run is
// unattended. The main dialog's drive list and versions are printed as they
// appear, and a Yes/No question stands in for the update button. The progress
// countdown redraws in place on a terminal, else prints a start and an end line.
// The machine is never restarted: the user is told to do it.
#pragma once
#include "os/session.h"
#include "ui/framework/headless/headless.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace terminal {

struct Options {
    FILE* in = stdin;
    FILE* out = stderr;
    bool inIsTerminal = false;   // answers can be read from `in`
    bool outIsTerminal = false;  // the countdown may redraw in place
    bool unattended = false;     // nothing ever waits for input
};

class FrontEnd : public headless::MessageBoxResponder, public headless::WindowObserver {
public:
    explicit FrontEnd(const Options& options);
    ~FrontEnd() override;
    FrontEnd(const FrontEnd&) = delete;
    FrontEnd& operator=(const FrontEnd&) = delete;

    // Becomes the responder, the observer, the idle hook and the session service;
    // Uninstall (or the destructor) restores the previous ones.
    void Install();
    void Uninstall();

    int ShowMessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                       unsigned style) override;
    void OnWindowChanged(WindowHandle hwnd) override;
    void OnWindowDestroyed(WindowHandle hwnd) override;

    // Called when the dialogs' loop falls idle: asks the update question once the
    // main dialog shows the versions with its update button enabled. True when it
    // acted (clicked).
    bool OnIdle();

    // A yes/no question on the terminal; No when nobody can answer.
    bool AskYesNo(const std::string& question);

private:
    class Session : public SessionPort {
    public:
        explicit Session(FrontEnd& owner) : m_owner(owner) {}
        bool GetScreenSaverActive(int* active) override;
        void SetScreenSaverActive(bool active) override;
        void EnableShutdownPrivilege() override;
        void ForceRestart() override;

        SessionPort* m_system = nullptr;

    private:
        FrontEnd& m_owner;
    };

    struct Countdown {
        std::string caption;
        std::string text;
        size_t drawnLength = 0;
        bool started = false;
        bool finished = false;
    };

    bool CanAsk() const;
    // Reads one line; false at the end of the input.
    bool ReadLine(std::string* line);
    void Print(const std::string& text);
    WindowHandle OpenLine();
    void ShowMainDialog(const headless::WindowState& state);
    void ShowCountdown(WindowHandle hwnd, const headless::WindowState* state);

    Options m_options;
    Session m_session{*this};
    bool m_installed = false;

    std::vector<std::string> m_printedDrives;
    int m_printedSelection = -2;
    std::string m_printedVersions;
    bool m_askedThisTime = false;  // the update question, since the button was last enabled
    std::map<WindowHandle, Countdown> m_countdowns;
    std::mutex m_printMutex;
    WindowHandle m_openLine = 0;  // the countdown whose line the cursor stands on
};

// What the process does with SIGINT, SIGTERM, SIGHUP and SIGQUIT: while an update
// writes to the drive they are refused with a note (a drive left half-written may
// not start again); otherwise they end the process as usual.
void GuardSignalsDuringUpdate();

}  // namespace terminal
