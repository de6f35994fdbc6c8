// The headless back-end's own interface: what the tests and the Linux terminal
// front-end see of the in-memory windows.
//
// Every window lives as a model built from its resource template (res/templates.h):
// caption, visibility, enabled state, the controls with their texts, enabled
// flags, combo items and selection, progress range and position, the system menu.
// Each thread that creates windows has one message queue (as in Win32): posting is
// thread-safe, and the loop waits and runs its timers on OsTime(), so a test on a
// VirtualTime never sleeps. Message boxes go to a responder.
//
// Texts: the model keeps UTF-8. A text that is not valid UTF-8 is taken as code
// page 932 (the progress countdown is formatted in Shift-JIS when the OEM code page
// is 932) and converted; so the countdown shows right on a UTF-8 terminal.
//
// Window handles are numbers of this process. AfxIsWindow is true only for a live
// window of this process, and AfxSetForegroundWindow only records the foreground
// window: a handle read from another process's instance mapping is not a window
// here, so a second instance on Linux ends without bringing anything forward.
#pragma once
#include "ui/framework/afxwin.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace headless {

struct ControlState {
    WindowHandle hwnd = 0;
    int id = -1;
    std::string className;  // "BUTTON", "STATIC", "COMBOBOX", "msctls_progress32"
    std::string text;
    uint32_t style = 0;
    bool enabled = true;
    bool visible = true;
    std::vector<std::string> items;  // combo box
    int curSel = CB_ERR;
    int rangeLower = 0, rangeUpper = 100, pos = 0;  // progress bar
};

struct MenuItemState {
    unsigned id = 0;
    unsigned flags = 0;  // MF_* of AppendMenu, with MF_GRAYED / MF_DISABLED as set
    std::string text;
    bool Enabled() const { return (flags & (MF_GRAYED | MF_DISABLED)) == 0; }
};

struct WindowState {
    WindowHandle hwnd = 0;
    unsigned templateId = 0;
    int language = 0;
    std::string caption;
    uint32_t style = 0;
    WindowHandle owner = 0;
    bool visible = false;
    bool enabled = true;
    bool iconic = false;
    bool ended = false;  // EndDialog was called
    intptr_t result = 0;
    bool modal = false;
    std::vector<ControlState> controls;
    std::vector<MenuItemState> systemMenu;
    std::vector<uintptr_t> timers;
    UiIcon bigIcon = nullptr;
    UiIcon smallIcon = nullptr;
    int iconPaints = 0;  // times the icon was painted while minimised

    const ControlState* Control(int id) const;
    const MenuItemState* MenuItem(unsigned id) const;
};

// A copy of a live window's model; false when there is no such window.
bool GetWindowState(WindowHandle hwnd, WindowState* out);
// Live windows built from `templateId`, oldest first.
std::vector<WindowHandle> FindWindows(unsigned templateId);
WindowHandle ForegroundWindow();

// --- Acting as the user -------------------------------------------------------------
// Each is queued like the input it stands for and takes effect when the owning
// thread's loop retrieves it, and only if the control and its window are enabled
// (and, for a system command, its menu item). false when the target does not exist.
bool Click(WindowHandle dialog, int controlId);
bool SelectItem(WindowHandle dialog, int comboId, int index);
bool PressKey(WindowHandle dialog, unsigned virtualKey);
// A system-menu command or the caption's close box (SC_CLOSE).
bool ChooseSystemCommand(WindowHandle dialog, unsigned command);
// Minimises (or restores) the window: it is then repainted.
bool SetIconic(WindowHandle dialog, bool iconic);

// --- Acting as the system ------------------------------------------------------------
// Sends a message at once, as the system does with WM_QUERYENDSESSION and
// WM_POWERBROADCAST, and returns its result. Owning thread only.
intptr_t SendMessage(WindowHandle hwnd, unsigned message, uintptr_t wParam, intptr_t lParam);

// --- Running the calling thread's loop ------------------------------------------------
// Handles everything pending (posted messages, due timers, repaints) without waiting.
void Pump();
// Runs the loop while OsTime() moves on by `ms`; returns early on a quit message,
// which stays queued for the loop that owns it.
void RunFor(uint32_t ms);
// Called whenever a loop of this process is about to wait; returns true when it
// did something (posted, clicked ...), so the loop looks again before waiting.
// Tests use it to act while a modal loop runs. nullptr removes it.
void SetIdleHook(std::function<bool()> hook);

// --- Message boxes ---------------------------------------------------------------------
class MessageBoxResponder {
public:
    virtual ~MessageBoxResponder() = default;
    // Called on the thread that shows the box; `text` and `caption` are UTF-8.
    virtual int ShowMessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                               unsigned style) = 0;
};

// The answer that changes nothing when nobody can answer: No to a question,
// Cancel to OK/Cancel, else OK.
int SafeAnswer(unsigned style);

// A box's text as a terminal prints it: the Windows line ends without their '\r'.
std::string WithoutCarriageReturns(const std::string& text);

// The responder in force; nullptr restores the default, which prints the caption
// and the text to standard error and takes the safe answer.
void SetResponder(MessageBoxResponder* responder);

struct ShownMessageBox {
    WindowHandle owner;
    std::string text;
    std::string caption;
    unsigned style;
    std::thread::id thread;
    int stringId;  // the string-table entry the text begins with, or 0
    int answer;
};

// Answers from a queue (then the safe answer) and records every box in order.
class ScriptedResponder : public MessageBoxResponder {
public:
    void Answer(int button);
    // Called for each box before it is answered, on the showing thread.
    void OnShow(std::function<void(const ShownMessageBox&)> callback);
    std::vector<ShownMessageBox> Shown() const;
    std::vector<int> ShownIds() const;

    int ShowMessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                       unsigned style) override;

private:
    mutable std::mutex m_mutex;
    std::vector<int> m_answers;
    size_t m_nextAnswer = 0;
    std::vector<ShownMessageBox> m_shown;
    std::function<void(const ShownMessageBox&)> m_onShow;
};

// The string-table id whose text (in the current language) begins `text`, the
// longest such; 0 when none.
int MatchStringId(const std::string& text);

// --- Observing ---------------------------------------------------------------------------
// The terminal front-end draws from here. Called on the window's thread after a
// change to a window's model, outside any lock.
class WindowObserver {
public:
    virtual ~WindowObserver() = default;
    virtual void OnWindowChanged(WindowHandle hwnd) = 0;
    virtual void OnWindowDestroyed(WindowHandle hwnd) = 0;
};
void SetObserver(WindowObserver* observer);

// --- Texts ---------------------------------------------------------------------------------
// Templates and the string ids of message boxes are taken in OsResourceLanguage(),
// the string loader's language.
// UTF-8 as given; otherwise converted from code page 932 when the OEM code page is
// 932, else with every invalid byte replaced by '?'.
std::string ToUtf8(const char* text);

// Destroys every window and forgets queued messages, timers and hooks, and the
// resource language a test fixed (test tear-down).
void Reset();

}  // namespace headless
