// The headless interface that drives the windows from outside, as the tests and the
// terminal front-end do: what a window's model holds, input queued as the user's,
// messages sent as the system's, the observer, and the tear-down.
#include "ui/framework/headless/internal.h"

#include "os/process.h"

using namespace headless::detail;

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
        ForgetThreadQueueLocked();
    }
    for (CDialog* d : dialogs) d->m_hWnd = 0;
    SetResponder(nullptr);
    OsSetResourceLanguage(0);
}

}  // namespace headless

