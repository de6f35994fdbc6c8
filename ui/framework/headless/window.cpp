// The headless back-end's windows: the in-memory model of every dialog and its
// controls, their texts, states and system menus, and what CWnd and the control
// classes do with them.
#include "ui/framework/headless/internal.h"

#include <algorithm>

namespace headless {
namespace detail {

std::mutex g_mutex;
std::map<WindowHandle, std::unique_ptr<Window>> g_windows;
std::map<WindowHandle, WindowHandle> g_controlParent;  // control → dialog
WindowHandle g_foreground = 0;
std::function<bool()> g_idleHook;
WindowObserver* g_observer = nullptr;

WindowHandle NewHandleLocked() {
    static WindowHandle last = 0x00010000;
    last += 2;
    return last;
}

Window* FindDialogLocked(WindowHandle hwnd) {
    auto it = g_windows.find(hwnd);
    if (it != g_windows.end()) return it->second.get();
    auto parent = g_controlParent.find(hwnd);
    if (parent == g_controlParent.end()) return nullptr;
    it = g_windows.find(parent->second);
    return it == g_windows.end() ? nullptr : it->second.get();
}

ControlState* FindControlLocked(Window* w, WindowHandle hwnd) {
    for (auto& c : w->state.controls)
        if (c.hwnd == hwnd) return &c;
    return nullptr;
}

ControlState* FindControlByIdLocked(Window* w, int id) {
    for (auto& c : w->state.controls)
        if (c.id == id) return &c;
    return nullptr;
}

void NotifyChanged(WindowHandle hwnd) {
    WindowObserver* observer;
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

std::vector<MenuItemState> DefaultSystemMenu() {
    return {{SC_MOVE, MF_STRING, "Move"}, {0, MF_SEPARATOR, ""}, {SC_CLOSE, MF_STRING, "Close"}};
}

}  // namespace detail
}  // namespace headless

using namespace headless::detail;

namespace {

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

