// Shared between the files of the headless back-end only: the model of every
// window and its queue, under one lock, and the steps of the loop that the files
// take from one another.
#pragma once
#include "ui/framework/headless/headless.h"

#include "os/time.h"
#include "os/types.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace headless {
namespace detail {

constexpr uint32_t kStyleVisible = 0x10000000;
constexpr uint32_t kStyleDisabled = 0x08000000;
constexpr uint32_t kStyleSysMenu = 0x00080000;
constexpr uint32_t kButtonTypeMask = 0xF;
constexpr uint32_t kDefPushButton = 0x1;

// Input the tests inject, retrieved by the loop like the mouse and menu input they
// stand for. The target's state is checked when the loop retrieves them.
constexpr unsigned kUserClick = 0x0202;       // to a control
constexpr unsigned kUserSelect = 0x7FF0;      // to a combo box; wParam = index
constexpr unsigned kUserSysCommand = 0x7FF1;  // to a dialog; wParam = command

struct Timer {
    uint32_t period;
    uint64_t due;
};

struct Queue {
    std::deque<Msg> posted;
    bool quit = false;
    int quitCode = 0;
    TimePort* port = nullptr;  // the clock whose event `event` is
    OsHandle event = nullptr;
};

struct Window {
    WindowState state;
    CDialog* dialog = nullptr;
    std::shared_ptr<Queue> queue;
    std::map<uintptr_t, Timer> timers;
    bool needsPaint = false;
};

// --- The model (window.cpp); everything ...Locked runs under g_mutex ---------------
extern std::mutex g_mutex;
extern std::map<WindowHandle, std::unique_ptr<Window>> g_windows;
extern std::map<WindowHandle, WindowHandle> g_controlParent;  // control → dialog
extern WindowHandle g_foreground;
extern std::function<bool()> g_idleHook;
extern WindowObserver* g_observer;

WindowHandle NewHandleLocked();
// The dialog of `hwnd`, which may be the dialog itself or one of its controls.
Window* FindDialogLocked(WindowHandle hwnd);
ControlState* FindControlLocked(Window* w, WindowHandle hwnd);
ControlState* FindControlByIdLocked(Window* w, int id);
// Tells the observer that the dialog of `hwnd` changed; takes the lock itself.
void NotifyChanged(WindowHandle hwnd);
std::vector<MenuItemState> DefaultSystemMenu();

// --- The loop (app.cpp) -------------------------------------------------------------
// The calling thread's queue, made on first use.
std::shared_ptr<Queue> CurrentQueueLocked();
// Gives the calling thread's queue and its event up (test tear-down).
void ForgetThreadQueueLocked();
void SignalLocked(Queue& q);
bool PostLocked(WindowHandle hwnd, unsigned message, uintptr_t wParam, intptr_t lParam);
uintptr_t MakeWParam(unsigned low, unsigned high);
// Hands a message to the dialog at once, then to the default processing when the
// dialog leaves it to that; returns the result.
intptr_t SendToDialog(WindowHandle hwnd, unsigned message, uintptr_t wParam, intptr_t lParam);

enum class Next { Message, Quit, Timeout };
constexpr uint64_t kNoLimit = std::numeric_limits<uint64_t>::max();
// The next message for the calling thread's loop: posted messages first, then the
// quit message, then repaints, then due timers; otherwise waits (when `wait`)
// until something arrives, a timer falls due or OsTime() reaches `until`.
Next GetNextMessage(Msg* out, bool wait, uint64_t until);
// Puts a quit message that a loop took back for the loop that owns it.
void RepostQuit(int code);
void DispatchMessage(const Msg& msg);

// --- Message boxes (responder.cpp) --------------------------------------------------
// Hands a message box to the responder in force; texts converted to UTF-8.
int ShowMessageBox(WindowHandle owner, const char* text, const char* caption, unsigned style);

}  // namespace detail
}  // namespace headless
