// The headless back-end's message loop and dispatch: one queue per thread, posted
// messages in order, the quit message after everything posted before it, repaints,
// then timers; waits on OsTime(), so a test on a VirtualTime never sleeps. What the
// dialogs leave to the system is done as DefDlgProc does it: SC_CLOSE becomes
// WM_CLOSE and then a posted IDCANCEL command, unless the cancel button is disabled.
#include "ui/framework/headless/internal.h"

#include "res/templates.h"

#include <algorithm>

namespace headless {
namespace detail {

namespace {

// Gives the loop's event of `q` back to the clock that made it, while that clock is
// the one in force (a test's earlier clock may be gone and is not called).
void ReleaseEventLocked(Queue& q) {
    if (q.event && q.port == &OsTime()) q.port->CloseEvent(q.event);
    q.event = nullptr;
    q.port = nullptr;
}

// The calling thread's queue. Its event goes when the thread ends: windows that
// outlive the thread may keep the queue itself until the program's static objects
// (the system's clock among them) are gone.
struct ThreadQueue {
    ~ThreadQueue() {
        if (!queue) return;
        std::lock_guard<std::mutex> lock(g_mutex);
        ReleaseEventLocked(*queue);
    }
    std::shared_ptr<Queue> queue;
};
thread_local ThreadQueue t_queue;

// What DefDlgProc and DefWindowProc do with the messages the dialogs leave to them.
intptr_t DefaultProcessing(WindowHandle hwnd, unsigned message, uintptr_t wParam, intptr_t) {
    switch (message) {
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE:
            return SendToDialog(hwnd, WM_CLOSE, 0, 0);
        case SC_MINIMIZE:
            SetIconic(hwnd, true);
            return 0;
        case SC_RESTORE:
            SetIconic(hwnd, false);
            return 0;
        default:
            return 0;
        }
    case WM_CLOSE: {
        std::lock_guard<std::mutex> lock(g_mutex);
        Window* w = FindDialogLocked(hwnd);
        if (!w) return 0;
        ControlState* cancel = FindControlByIdLocked(w, IDCANCEL);
        if (cancel && !cancel->enabled) return 0;
        PostLocked(hwnd, WM_COMMAND, MakeWParam(IDCANCEL, BN_CLICKED), cancel ? cancel->hwnd : 0);
        return 0;
    }
    case WM_QUERYENDSESSION:
    case WM_POWERBROADCAST:
        return 1;
    default:
        return 0;
    }
}

}  // namespace

std::shared_ptr<Queue> CurrentQueueLocked() {
    if (!t_queue.queue) t_queue.queue = std::make_shared<Queue>();
    return t_queue.queue;
}

void ForgetThreadQueueLocked() {
    // The test's clock is still in force: the loop's event goes back to it.
    if (t_queue.queue) ReleaseEventLocked(*t_queue.queue);
    t_queue.queue.reset();
}

void SignalLocked(Queue& q) {
    if (q.event && q.port) q.port->SetEvent(q.event);
}

bool PostLocked(WindowHandle hwnd, unsigned message, uintptr_t wParam, intptr_t lParam) {
    Window* w = FindDialogLocked(hwnd);
    if (!w) return false;
    w->queue->posted.push_back(Msg{hwnd, message, wParam, lParam, nullptr});
    SignalLocked(*w->queue);
    return true;
}

uintptr_t MakeWParam(unsigned low, unsigned high) {
    return static_cast<uintptr_t>((low & 0xFFFF) | ((high & 0xFFFF) << 16));
}

intptr_t SendToDialog(WindowHandle hwnd, unsigned message, uintptr_t wParam, intptr_t lParam) {
    CDialog* dialog;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        Window* w = FindDialogLocked(hwnd);
        if (!w) return 0;
        dialog = w->dialog;
        hwnd = w->state.hwnd;
    }
    intptr_t result = 0;
    if (dialog->RouteMessage(message, wParam, lParam, &result)) {
        if (!AfxIsWindow(hwnd)) return result;
        result = DefaultProcessing(hwnd, message, wParam, lParam);
    }
    NotifyChanged(hwnd);
    return result;
}

Next GetNextMessage(Msg* out, bool wait, uint64_t until) {
    bool hookCalled = false;
    for (;;) {
        std::unique_lock<std::mutex> lock(g_mutex);
        std::shared_ptr<Queue> q = CurrentQueueLocked();
        if (!q->posted.empty()) {
            *out = q->posted.front();
            q->posted.pop_front();
            return Next::Message;
        }
        if (q->quit) {
            q->quit = false;
            *out = Msg{0, WM_QUIT, static_cast<uintptr_t>(q->quitCode), 0, nullptr};
            return Next::Quit;
        }
        for (auto& entry : g_windows) {
            Window& w = *entry.second;
            if (w.queue == q && w.needsPaint && w.state.visible) {
                w.needsPaint = false;
                *out = Msg{w.state.hwnd, WM_PAINT, 0, 0, nullptr};
                return Next::Message;
            }
        }
        const uint64_t now = OsTime().NowMs();
        uint64_t nextDue = std::numeric_limits<uint64_t>::max();
        Window* dueWindow = nullptr;
        uintptr_t dueId = 0;
        uint64_t dueTime = 0;
        for (auto& entry : g_windows) {
            Window& w = *entry.second;
            if (w.queue != q) continue;
            for (auto& t : w.timers) {
                if (t.second.due <= now && (!dueWindow || t.second.due < dueTime)) {
                    dueWindow = &w;
                    dueId = t.first;
                    dueTime = t.second.due;
                }
                nextDue = std::min(nextDue, t.second.due);
            }
        }
        if (dueWindow) {
            // As in Win32, a timer that fell behind ticks once and restarts its period.
            dueWindow->timers[dueId].due = now + dueWindow->timers[dueId].period;
            *out = Msg{dueWindow->state.hwnd, WM_TIMER, dueId, 0, nullptr};
            return Next::Message;
        }
        if (!wait) return Next::Timeout;
        if (until != kNoLimit && now >= until) return Next::Timeout;
        if (g_idleHook && !hookCalled) {
            std::function<bool()> hook = g_idleHook;
            lock.unlock();
            hookCalled = !hook();
            continue;
        }
        TimePort* port = &OsTime();
        if (q->port != port || !q->event) {
            // A new clock (tests install one each): the old event belonged to the old one.
            q->port = port;
            q->event = port->CreateEvent();
        }
        OsHandle event = q->event;
        uint64_t deadline = std::min(nextDue, until);
        lock.unlock();
        uint32_t timeout = OS_WAIT_FOREVER;
        if (deadline != std::numeric_limits<uint64_t>::max())
            timeout = static_cast<uint32_t>(std::min<uint64_t>(deadline - now, OS_WAIT_FOREVER - 1));
        port->WaitEvent(event, timeout);
        hookCalled = false;
    }
}

void RepostQuit(int code) {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::shared_ptr<Queue> q = CurrentQueueLocked();
    q->quit = true;
    q->quitCode = code;
}

void DispatchMessage(const Msg& msg) {
    CDialog* dialog;
    WindowHandle dialogHwnd;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        Window* w = FindDialogLocked(msg.hwnd);
        if (!w) return;  // the window has gone: its messages go with it
        dialog = w->dialog;
        dialogHwnd = w->state.hwnd;
    }
    Msg copy = msg;
    if (dialog->PreTranslateMessage(&copy)) return;

    switch (msg.message) {
    case kUserClick: {
        int id;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            Window* w = FindDialogLocked(msg.hwnd);
            ControlState* c = w ? FindControlLocked(w, msg.hwnd) : nullptr;
            if (!c || !c->enabled || !c->visible || !w->state.enabled) return;
            id = c->id;
        }
        SendToDialog(dialogHwnd, WM_COMMAND, MakeWParam(static_cast<unsigned>(id), BN_CLICKED),
                     static_cast<intptr_t>(msg.hwnd));
        return;
    }
    case kUserSelect: {
        int id;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            Window* w = FindDialogLocked(msg.hwnd);
            ControlState* c = w ? FindControlLocked(w, msg.hwnd) : nullptr;
            if (!c || !c->enabled || !c->visible || !w->state.enabled) return;
            int index = static_cast<int>(msg.wParam);
            if (index < 0 || index >= static_cast<int>(c->items.size())) return;
            c->curSel = index;
            c->text = c->items[index];
            id = c->id;
        }
        SendToDialog(dialogHwnd, WM_COMMAND, MakeWParam(static_cast<unsigned>(id), CBN_SELCHANGE),
                     static_cast<intptr_t>(msg.hwnd));
        return;
    }
    case kUserSysCommand: {
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            Window* w = FindDialogLocked(msg.hwnd);
            if (!w || !w->state.enabled) return;
            const MenuItemState* item = w->state.MenuItem(static_cast<unsigned>(msg.wParam));
            if (!item || !item->Enabled()) return;
        }
        SendToDialog(dialogHwnd, WM_SYSCOMMAND, msg.wParam, 0);
        return;
    }
    case WM_KEYDOWN:
        return;  // not taken by the dialog keys: the focused control ignores it
    default:
        if (msg.hwnd != dialogHwnd) return;
        SendToDialog(dialogHwnd, msg.message, msg.wParam, msg.lParam);
        return;
    }
}

}  // namespace detail
}  // namespace headless

using namespace headless::detail;

int CWinApp::Run() {
    for (;;) {
        Msg msg;
        Next next = GetNextMessage(&msg, true, kNoLimit);
        if (next == Next::Quit) {
            m_exitCode = static_cast<int>(msg.wParam);
            break;
        }
        if (next == Next::Message) DispatchMessage(msg);
    }
    return ExitInstance();
}

UiIcon CWinApp::LoadIcon(unsigned id) const {
    return ResourceIconExists(id) ? reinterpret_cast<UiIcon>(static_cast<uintptr_t>(id)) : nullptr;
}

void AfxPostQuitMessage(int exitCode) {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::shared_ptr<Queue> q = CurrentQueueLocked();
    q->quit = true;
    q->quitCode = exitCode;
    SignalLocked(*q);
}

void AfxInitCommonControls() {}

namespace headless {

namespace {
// The loop the tests run: until nothing is left (or, with `wait`, until OsTime()
// reaches `until`); a quit message stays queued for the loop that owns it.
void RunLoop(bool wait, uint64_t until) {
    for (;;) {
        Msg msg;
        Next next = GetNextMessage(&msg, wait, until);
        if (next == Next::Timeout) return;
        if (next == Next::Quit) {
            RepostQuit(static_cast<int>(msg.wParam));
            return;
        }
        DispatchMessage(msg);
    }
}
}  // namespace

void Pump() { RunLoop(false, kNoLimit); }

void RunFor(uint32_t ms) { RunLoop(true, OsTime().NowMs() + ms); }

void SetIdleHook(std::function<bool()> hook) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_idleHook = std::move(hook);
}

}  // namespace headless
