// The headless back-end: windows as in-memory models, one message queue per
// thread, the loop's waits and timers on OsTime(), message boxes to a responder.
// It behaves as the Win32 dialog manager does where the dialogs depend on it: the
// order of messages, the quit message after everything posted, timers after posted
// messages, SC_CLOSE turned into WM_CLOSE and then into a posted IDCANCEL command
// unless the cancel button is disabled, Escape and Enter turned into commands by the
// dialog keys, a modal run disabling its owner.
#include "ui/framework/headless/headless.h"
#include "ui/framework/headless/internal.h"

#include "os/process.h"
#include "os/time.h"
#include "res/strings.h"
#include "res/templates.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <map>
#include <memory>

namespace {

constexpr uint32_t kStyleVisible = 0x10000000;
constexpr uint32_t kStyleSysMenu = 0x00080000;
constexpr uint32_t kButtonTypeMask = 0xF;
constexpr uint32_t kDefPushButton = 0x1;

// Input the tests inject, retrieved by the loop like the mouse and menu input they
// stand for. The target's state is checked when the loop retrieves them.
constexpr unsigned kUserClick = 0x0202;        // to a control
constexpr unsigned kUserSelect = 0x7FF0;       // to a combo box; wParam = index
constexpr unsigned kUserSysCommand = 0x7FF1;   // to a dialog; wParam = command

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
    headless::WindowState state;
    CDialog* dialog = nullptr;
    std::shared_ptr<Queue> queue;
    std::map<uintptr_t, Timer> timers;
    bool needsPaint = false;
};

std::mutex g_mutex;
std::map<WindowHandle, std::unique_ptr<Window>> g_windows;
std::map<WindowHandle, WindowHandle> g_controlParent;  // control → dialog
WindowHandle g_nextHandle = 0x00010000;
WindowHandle g_foreground = 0;
std::function<bool()> g_idleHook;
headless::WindowObserver* g_observer = nullptr;
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

std::shared_ptr<Queue> CurrentQueueLocked() {
    if (!t_queue.queue) t_queue.queue = std::make_shared<Queue>();
    return t_queue.queue;
}

WindowHandle NewHandleLocked() {
    g_nextHandle += 2;
    return g_nextHandle;
}

Window* FindDialogLocked(WindowHandle hwnd) {
    auto it = g_windows.find(hwnd);
    if (it != g_windows.end()) return it->second.get();
    auto parent = g_controlParent.find(hwnd);
    if (parent == g_controlParent.end()) return nullptr;
    it = g_windows.find(parent->second);
    return it == g_windows.end() ? nullptr : it->second.get();
}

headless::ControlState* FindControlLocked(Window* w, WindowHandle hwnd) {
    for (auto& c : w->state.controls)
        if (c.hwnd == hwnd) return &c;
    return nullptr;
}

headless::ControlState* FindControlByIdLocked(Window* w, int id) {
    for (auto& c : w->state.controls)
        if (c.id == id) return &c;
    return nullptr;
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

void NotifyChanged(WindowHandle hwnd) {
    headless::WindowObserver* observer;
    WindowHandle dialog;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        observer = g_observer;
        Window* w = FindDialogLocked(hwnd);
        if (!observer || !w) return;
        dialog = w->state.hwnd;
    }
    observer->OnWindowChanged(dialog);
}

uintptr_t MakeWParam(unsigned low, unsigned high) {
    return static_cast<uintptr_t>((low & 0xFFFF) | ((high & 0xFFFF) << 16));
}

intptr_t SendToDialog(WindowHandle hwnd, unsigned message, uintptr_t wParam, intptr_t lParam);

// What DefDlgProc and DefWindowProc do with the messages the dialogs leave to them.
intptr_t DefaultProcessing(WindowHandle hwnd, unsigned message, uintptr_t wParam, intptr_t) {
    switch (message) {
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE:
            return SendToDialog(hwnd, WM_CLOSE, 0, 0);
        case SC_MINIMIZE:
            headless::SetIconic(hwnd, true);
            return 0;
        case SC_RESTORE:
            headless::SetIconic(hwnd, false);
            return 0;
        default:
            return 0;
        }
    case WM_CLOSE: {
        std::lock_guard<std::mutex> lock(g_mutex);
        Window* w = FindDialogLocked(hwnd);
        if (!w) return 0;
        headless::ControlState* cancel = FindControlByIdLocked(w, IDCANCEL);
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

enum class Next { Message, Quit, Timeout };

constexpr uint64_t kNoLimit = std::numeric_limits<uint64_t>::max();

// The next message for the calling thread's loop: posted messages first, then the
// quit message, then repaints, then due timers; otherwise waits (when `wait`)
// until something arrives, a timer falls due or OsTime() reaches `until`.
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
            headless::ControlState* c = w ? FindControlLocked(w, msg.hwnd) : nullptr;
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
            headless::ControlState* c = w ? FindControlLocked(w, msg.hwnd) : nullptr;
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
            const headless::MenuItemState* item = w->state.MenuItem(static_cast<unsigned>(msg.wParam));
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

std::vector<headless::MenuItemState> DefaultSystemMenu() {
    return {{SC_MOVE, MF_STRING, "Move"}, {0, MF_SEPARATOR, ""}, {SC_CLOSE, MF_STRING, "Close"}};
}

bool CreateFromTemplate(CDialog* dialog, unsigned templateId, WindowHandle owner, bool modal) {
    const ResDialog* t = ResourceDialog(templateId, OsResourceLanguage());
    if (!t) t = ResourceDialog(templateId, LANG_ENGLISH_US);
    if (!t) return false;
    WindowHandle hwnd;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto w = std::make_unique<Window>();
        hwnd = NewHandleLocked();
        w->dialog = dialog;
        w->queue = CurrentQueueLocked();
        headless::WindowState& s = w->state;
        s.hwnd = hwnd;
        s.templateId = templateId;
        s.language = t->language;
        s.caption = t->caption;
        s.style = t->style;
        s.owner = owner;
        s.modal = modal;
        if (t->style & kStyleSysMenu) s.systemMenu = DefaultSystemMenu();
        for (int i = 0; i < t->controlCount; ++i) {
            const ResControl& rc = t->controls[i];
            headless::ControlState c;
            c.hwnd = NewHandleLocked();
            c.id = rc.id;
            c.className = rc.className;
            c.text = rc.text;
            c.style = rc.style;
            c.visible = (rc.style & kStyleVisible) != 0;
            c.enabled = (rc.style & 0x08000000) == 0;
            g_controlParent[c.hwnd] = hwnd;
            s.controls.push_back(c);
        }
        g_windows[hwnd] = std::move(w);
        dialog->m_hWnd = hwnd;
        dialog->m_ended = false;
        dialog->m_result = 0;
        dialog->m_modal = modal;
    }
    SendToDialog(hwnd, WM_INITDIALOG, 0, 0);
    {
        // The template's visible style takes effect once the initialisation returned.
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_windows.find(hwnd);
        if (it == g_windows.end()) return true;
        if ((t->style & kStyleVisible) && !dialog->m_ended) {
            it->second->state.visible = true;
            it->second->needsPaint = true;
        }
    }
    NotifyChanged(hwnd);
    return true;
}

WindowHandle DefaultOwner(const CWnd* self) {
    CWinApp* app = AfxGetApp();
    if (app && app->m_pMainWnd && app->m_pMainWnd != self && AfxIsWindow(app->m_pMainWnd->m_hWnd))
        return app->m_pMainWnd->m_hWnd;
    return 0;
}

template <typename F>
auto WithControl(WindowHandle hwnd, F f) -> decltype(f(static_cast<headless::ControlState*>(nullptr))) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Window* w = FindDialogLocked(hwnd);
    return f(w ? FindControlLocked(w, hwnd) : nullptr);
}

int Clamp(int value, int lower, int upper) { return std::max(lower, std::min(upper, value)); }

}  // namespace

// --- Windows ---------------------------------------------------------------------------

bool CWnd::PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return PostLocked(m_hWnd, message, wParam, lParam);
}

void CWnd::SetWindowText(const char* text) {
    std::string utf8 = headless::ToUtf8(text ? text : "");
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        Window* w = FindDialogLocked(m_hWnd);
        if (!w) return;
        if (w->state.hwnd == m_hWnd) {
            w->state.caption = utf8;
        } else if (headless::ControlState* c = FindControlLocked(w, m_hWnd)) {
            c->text = utf8;
        }
    }
    NotifyChanged(m_hWnd);
}

std::string CWnd::GetWindowText() const {
    std::lock_guard<std::mutex> lock(g_mutex);
    Window* w = FindDialogLocked(m_hWnd);
    if (!w) return std::string();
    if (w->state.hwnd == m_hWnd) return w->state.caption;
    headless::ControlState* c = FindControlLocked(w, m_hWnd);
    return c ? c->text : std::string();
}

bool CWnd::EnableWindow(bool enable) {
    bool wasDisabled = false;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        Window* w = FindDialogLocked(m_hWnd);
        if (!w) return false;
        bool* flag = &w->state.enabled;
        if (w->state.hwnd != m_hWnd) {
            headless::ControlState* c = FindControlLocked(w, m_hWnd);
            if (!c) return false;
            flag = &c->enabled;
        }
        wasDisabled = !*flag;
        *flag = enable;
    }
    NotifyChanged(m_hWnd);
    return wasDisabled;
}

bool CWnd::IsWindowEnabled() const {
    std::lock_guard<std::mutex> lock(g_mutex);
    Window* w = FindDialogLocked(m_hWnd);
    if (!w) return false;
    if (w->state.hwnd == m_hWnd) return w->state.enabled;
    headless::ControlState* c = FindControlLocked(w, m_hWnd);
    return c && c->enabled;
}

bool CWnd::ShowWindow(int command) {
    bool wasVisible = false;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        Window* w = FindDialogLocked(m_hWnd);
        if (!w) return false;
        if (w->state.hwnd != m_hWnd) {
            headless::ControlState* c = FindControlLocked(w, m_hWnd);
            if (!c) return false;
            wasVisible = c->visible;
            c->visible = command != SW_HIDE;
        } else {
            wasVisible = w->state.visible;
            w->state.visible = command != SW_HIDE;
            if (command == SW_MINIMIZE) w->state.iconic = true;
            if (command == SW_RESTORE) w->state.iconic = false;
            if (w->state.visible) w->needsPaint = true;
        }
    }
    NotifyChanged(m_hWnd);
    return wasVisible;
}

void CWnd::UpdateWindow() {
    bool paint = false;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_windows.find(m_hWnd);
        if (it != g_windows.end() && it->second->needsPaint && it->second->state.visible) {
            it->second->needsPaint = false;
            paint = true;
        }
    }
    if (paint) SendToDialog(m_hWnd, WM_PAINT, 0, 0);
}

bool CWnd::IsWindowVisible() const {
    std::lock_guard<std::mutex> lock(g_mutex);
    Window* w = FindDialogLocked(m_hWnd);
    if (!w) return false;
    if (w->state.hwnd == m_hWnd) return w->state.visible;
    headless::ControlState* c = FindControlLocked(w, m_hWnd);
    return c && c->visible && w->state.visible;
}

bool CWnd::IsIconic() const {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_windows.find(m_hWnd);
    return it != g_windows.end() && it->second->state.iconic;
}

bool CWnd::DestroyWindow() {
    WindowHandle hwnd = m_hWnd;
    headless::WindowObserver* observer;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_windows.find(hwnd);
        if (it == g_windows.end()) {
            m_hWnd = 0;
            return false;
        }
        for (const auto& c : it->second->state.controls) g_controlParent.erase(c.hwnd);
        if (g_foreground == hwnd) g_foreground = 0;
        g_windows.erase(it);
        observer = g_observer;
    }
    m_hWnd = 0;
    m_items.clear();
    if (observer) observer->OnWindowDestroyed(hwnd);
    return true;
}

CWnd* CWnd::GetDlgItem(int id) {
    WindowHandle control = 0;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_windows.find(m_hWnd);
        if (it == g_windows.end()) return nullptr;
        headless::ControlState* c = FindControlByIdLocked(it->second.get(), id);
        if (!c) return nullptr;
        control = c->hwnd;
    }
    std::unique_ptr<CWnd>& item = m_items[id];
    if (!item) item = std::make_unique<CWnd>();
    item->m_hWnd = control;
    return item.get();
}

void CWnd::SetDlgItemText(int id, const char* text) {
    if (CWnd* item = GetDlgItem(id)) item->SetWindowText(text);
}

std::string CWnd::GetDlgItemText(int id) {
    CWnd* item = GetDlgItem(id);
    return item ? item->GetWindowText() : std::string();
}

CMenu* CWnd::GetSystemMenu(bool revert) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_windows.find(m_hWnd);
    if (it == g_windows.end() || !(it->second->state.style & kStyleSysMenu)) return nullptr;
    if (revert) {
        it->second->state.systemMenu = DefaultSystemMenu();
        return nullptr;
    }
    m_systemMenu.m_owner = m_hWnd;
    return &m_systemMenu;
}

bool CMenu::AppendMenu(unsigned flags, uintptr_t id, const char* text) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_windows.find(m_owner);
        if (it == g_windows.end()) return false;
        headless::MenuItemState item;
        item.flags = flags;
        if (!(flags & MF_SEPARATOR)) {
            item.id = static_cast<unsigned>(id);
            item.text = headless::ToUtf8(text ? text : "");
        }
        it->second->state.systemMenu.push_back(item);
    }
    NotifyChanged(m_owner);
    return true;
}

unsigned CMenu::EnableMenuItem(unsigned id, unsigned enable) {
    unsigned previous = 0xFFFFFFFFu;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_windows.find(m_owner);
        if (it == g_windows.end()) return previous;
        for (auto& item : it->second->state.systemMenu) {
            if (item.id == id && !(item.flags & MF_SEPARATOR)) {
                previous = item.flags & (MF_GRAYED | MF_DISABLED);
                item.flags = (item.flags & ~(MF_GRAYED | MF_DISABLED)) | (enable & (MF_GRAYED | MF_DISABLED));
                break;
            }
        }
    }
    NotifyChanged(m_owner);
    return previous;
}

uintptr_t CWnd::SetTimer(uintptr_t id, unsigned elapseMs) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_windows.find(m_hWnd);
    if (it == g_windows.end()) return 0;
    it->second->timers[id] = Timer{elapseMs, OsTime().NowMs() + elapseMs};
    return id;
}

bool CWnd::KillTimer(uintptr_t id) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_windows.find(m_hWnd);
    return it != g_windows.end() && it->second->timers.erase(id) > 0;
}

UiIcon CWnd::SetIcon(UiIcon icon, bool bigIcon) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_windows.find(m_hWnd);
    if (it == g_windows.end()) return nullptr;
    UiIcon& slot = bigIcon ? it->second->state.bigIcon : it->second->state.smallIcon;
    UiIcon previous = slot;
    slot = icon;
    return previous;
}

void CWnd::PaintMinimizedIcon(UiIcon icon) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_windows.find(m_hWnd);
        if (it == g_windows.end() || !icon) return;
        ++it->second->state.iconPaints;
    }
    NotifyChanged(m_hWnd);
}

int CWnd::MessageBox(const char* text, const char* caption, unsigned type) {
    return headless::detail::ShowMessageBox(m_hWnd, text, caption, type);
}

// --- Controls --------------------------------------------------------------------------

void CComboBox::ResetContent() {
    WithControl(m_hWnd, [](headless::ControlState* c) {
        if (!c) return 0;
        c->items.clear();
        c->curSel = CB_ERR;
        c->text.clear();
        return 0;
    });
    NotifyChanged(m_hWnd);
}

int CComboBox::InsertString(int index, const char* text) {
    std::string utf8 = headless::ToUtf8(text ? text : "");
    int result = WithControl(m_hWnd, [&](headless::ControlState* c) {
        if (!c) return CB_ERR;
        int count = static_cast<int>(c->items.size());
        if (index < 0) index = count;
        if (index > count) return CB_ERR;
        c->items.insert(c->items.begin() + index, utf8);
        if (c->curSel >= index) ++c->curSel;
        return index;
    });
    NotifyChanged(m_hWnd);
    return result;
}

int CComboBox::GetCount() const {
    return WithControl(m_hWnd, [](headless::ControlState* c) { return c ? static_cast<int>(c->items.size()) : CB_ERR; });
}

int CComboBox::GetCurSel() const {
    return WithControl(m_hWnd, [](headless::ControlState* c) { return c ? c->curSel : CB_ERR; });
}

int CComboBox::SetCurSel(int index) {
    int result = WithControl(m_hWnd, [&](headless::ControlState* c) {
        if (!c) return CB_ERR;
        if (index < 0 || index >= static_cast<int>(c->items.size())) {
            c->curSel = CB_ERR;
            c->text.clear();
            return CB_ERR;
        }
        c->curSel = index;
        c->text = c->items[index];
        return index;
    });
    NotifyChanged(m_hWnd);
    return result;
}

std::string CComboBox::GetLBText(int index) const {
    return WithControl(m_hWnd, [&](headless::ControlState* c) {
        if (!c || index < 0 || index >= static_cast<int>(c->items.size())) return std::string();
        return c->items[index];
    });
}

void CProgressCtrl::SetRange32(int lower, int upper) {
    WithControl(m_hWnd, [&](headless::ControlState* c) {
        if (!c) return 0;
        c->rangeLower = lower;
        c->rangeUpper = upper;
        c->pos = Clamp(c->pos, lower, upper);
        return 0;
    });
    NotifyChanged(m_hWnd);
}

void CProgressCtrl::GetRange(int& lower, int& upper) const {
    WithControl(m_hWnd, [&](headless::ControlState* c) {
        lower = c ? c->rangeLower : 0;
        upper = c ? c->rangeUpper : 0;
        return 0;
    });
}

int CProgressCtrl::SetPos(int pos) {
    int previous = WithControl(m_hWnd, [&](headless::ControlState* c) {
        if (!c) return 0;
        int old = c->pos;
        c->pos = Clamp(pos, c->rangeLower, c->rangeUpper);
        return old;
    });
    NotifyChanged(m_hWnd);
    return previous;
}

int CProgressCtrl::OffsetPos(int delta) {
    int previous = WithControl(m_hWnd, [&](headless::ControlState* c) {
        if (!c) return 0;
        int old = c->pos;
        c->pos = Clamp(c->pos + delta, c->rangeLower, c->rangeUpper);
        return old;
    });
    NotifyChanged(m_hWnd);
    return previous;
}

int CProgressCtrl::GetPos() const {
    return WithControl(m_hWnd, [](headless::ControlState* c) { return c ? c->pos : 0; });
}

// --- Dialogs -----------------------------------------------------------------------------

intptr_t CDialog::DoModal() {
    WindowHandle owner = m_pParentWnd ? m_pParentWnd->m_hWnd : DefaultOwner(this);
    if (!CreateFromTemplate(this, m_templateId, owner, true)) return -1;
    WindowHandle self = m_hWnd;
    bool ownerWasEnabled = false;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto o = g_windows.find(owner);
        if (o != g_windows.end()) {
            ownerWasEnabled = o->second->state.enabled;
            o->second->state.enabled = false;
        }
        auto s = g_windows.find(self);
        if (s != g_windows.end() && !m_ended) {
            // A modal dialog is shown whatever its template's visible style says.
            s->second->state.visible = true;
            s->second->needsPaint = true;
        }
    }
    NotifyChanged(owner);
    intptr_t result = -1;
    while (AfxIsWindow(self)) {
        if (m_ended) {
            result = m_result;
            break;
        }
        Msg msg;
        Next next = GetNextMessage(&msg, true, kNoLimit);
        if (next == Next::Quit) {
            RepostQuit(static_cast<int>(msg.wParam));
            break;
        }
        if (next == Next::Message) DispatchMessage(msg);
    }
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto o = g_windows.find(owner);
        if (o != g_windows.end() && ownerWasEnabled) o->second->state.enabled = true;
    }
    NotifyChanged(owner);
    if (m_hWnd != 0) DestroyWindow();
    return result;
}

bool CDialog::Create(unsigned templateId, CWnd* parent) {
    m_templateId = templateId;
    if (parent) m_pParentWnd = parent;
    WindowHandle owner = m_pParentWnd ? m_pParentWnd->m_hWnd : DefaultOwner(this);
    return CreateFromTemplate(this, templateId, owner, false);
}

void CDialog::EndDialog(int result) {
    m_ended = true;
    m_result = result;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_windows.find(m_hWnd);
        if (it == g_windows.end()) return;
        it->second->state.ended = true;
        it->second->state.result = result;
        it->second->state.visible = false;
        // Wakes a modal loop that waits, as the Win32 back-end does.
        PostLocked(m_hWnd, WM_NULL, 0, 0);
    }
    NotifyChanged(m_hWnd);
}

// The dialog keys of IsDialogMessage.
bool CDialog::PreTranslateMessage(Msg* msg) {
    if (msg->message != WM_KEYDOWN) return false;
    WindowHandle target = 0;
    int command = 0;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_windows.find(m_hWnd);
        if (it == g_windows.end()) return false;
        Window* w = it->second.get();
        if (msg->wParam == VK_ESCAPE) {
            command = IDCANCEL;
            if (headless::ControlState* cancel = FindControlByIdLocked(w, IDCANCEL)) {
                if (!cancel->enabled) return true;  // the system beeps and ignores it
                target = cancel->hwnd;
            }
        } else if (msg->wParam == VK_RETURN) {
            command = IDOK;
            for (auto& c : w->state.controls) {
                if (c.className == "BUTTON" && (c.style & kButtonTypeMask) == kDefPushButton) {
                    if (!c.enabled) return true;
                    command = c.id;
                    target = c.hwnd;
                    break;
                }
            }
        } else {
            return true;  // navigation keys
        }
    }
    SendToDialog(m_hWnd, WM_COMMAND, MakeWParam(static_cast<unsigned>(command), BN_CLICKED),
                 static_cast<intptr_t>(target));
    return true;
}

// --- Application -------------------------------------------------------------------------

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

bool AfxIsWindow(WindowHandle hwnd) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return hwnd != 0 && FindDialogLocked(hwnd) != nullptr;
}

bool AfxSetForegroundWindow(WindowHandle hwnd) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_windows.find(hwnd) == g_windows.end()) return false;
    g_foreground = hwnd;
    return true;
}

// --- The headless interface ----------------------------------------------------------------

namespace headless {

const ControlState* WindowState::Control(int id) const {
    for (const auto& c : controls)
        if (c.id == id) return &c;
    return nullptr;
}

const MenuItemState* WindowState::MenuItem(unsigned id) const {
    for (const auto& m : systemMenu)
        if (m.id == id && !(m.flags & MF_SEPARATOR)) return &m;
    return nullptr;
}

bool GetWindowState(WindowHandle hwnd, WindowState* out) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_windows.find(hwnd);
    if (it == g_windows.end()) return false;
    *out = it->second->state;
    out->timers.clear();
    for (const auto& t : it->second->timers) out->timers.push_back(t.first);
    return true;
}

std::vector<WindowHandle> FindWindows(unsigned templateId) {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<WindowHandle> found;
    for (const auto& entry : g_windows)  // handles grow, so map order is creation order
        if (entry.second->state.templateId == templateId) found.push_back(entry.first);
    return found;
}

WindowHandle ForegroundWindow() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_foreground;
}

namespace {
bool PostToControl(WindowHandle dialog, int controlId, unsigned message, uintptr_t wParam) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_windows.find(dialog);
    if (it == g_windows.end()) return false;
    ControlState* c = FindControlByIdLocked(it->second.get(), controlId);
    if (!c) return false;
    return PostLocked(c->hwnd, message, wParam, 0);
}
}  // namespace

bool Click(WindowHandle dialog, int controlId) { return PostToControl(dialog, controlId, kUserClick, 0); }

bool SelectItem(WindowHandle dialog, int comboId, int index) {
    return PostToControl(dialog, comboId, kUserSelect, static_cast<uintptr_t>(index));
}

bool PressKey(WindowHandle dialog, unsigned virtualKey) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_windows.find(dialog) == g_windows.end()) return false;
    return PostLocked(dialog, WM_KEYDOWN, virtualKey, 0);
}

bool ChooseSystemCommand(WindowHandle dialog, unsigned command) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_windows.find(dialog) == g_windows.end()) return false;
    return PostLocked(dialog, kUserSysCommand, command, 0);
}

bool SetIconic(WindowHandle dialog, bool iconic) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_windows.find(dialog);
        if (it == g_windows.end()) return false;
        it->second->state.iconic = iconic;
        it->second->needsPaint = true;
        SignalLocked(*it->second->queue);
    }
    NotifyChanged(dialog);
    return true;
}

intptr_t SendMessage(WindowHandle hwnd, unsigned message, uintptr_t wParam, intptr_t lParam) {
    return SendToDialog(hwnd, message, wParam, lParam);
}

void Pump() {
    for (;;) {
        Msg msg;
        Next next = GetNextMessage(&msg, false, kNoLimit);
        if (next == Next::Timeout) return;
        if (next == Next::Quit) {
            RepostQuit(static_cast<int>(msg.wParam));
            return;
        }
        DispatchMessage(msg);
    }
}

void RunFor(uint32_t ms) {
    const uint64_t until = OsTime().NowMs() + ms;
    for (;;) {
        Msg msg;
        Next next = GetNextMessage(&msg, true, until);
        if (next == Next::Timeout) return;
        if (next == Next::Quit) {
            RepostQuit(static_cast<int>(msg.wParam));
            return;
        }
        DispatchMessage(msg);
    }
}

void SetIdleHook(std::function<bool()> hook) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_idleHook = std::move(hook);
}

void SetObserver(WindowObserver* observer) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_observer = observer;
}

void Reset() {
    std::vector<CDialog*> dialogs;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        for (auto& entry : g_windows) dialogs.push_back(entry.second->dialog);
        g_windows.clear();
        g_controlParent.clear();
        g_foreground = 0;
        g_idleHook = nullptr;
        g_observer = nullptr;
        // The test's clock is still in force: the loop's event goes back to it.
        if (t_queue.queue) ReleaseEventLocked(*t_queue.queue);
        t_queue.queue.reset();
    }
    for (CDialog* d : dialogs) d->m_hWnd = 0;
    SetResponder(nullptr);
    OsSetResourceLanguage(0);
}

}  // namespace headless
