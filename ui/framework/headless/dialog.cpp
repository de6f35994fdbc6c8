// The headless back-end's dialogs: windows built from the resource templates, the
// template's visible style applied once the initialisation has returned, a modal
// run that disables its owner, and the dialog keys (Escape and Enter turned into
// commands) as IsDialogMessage performs them.
#include "ui/framework/headless/internal.h"

#include "os/process.h"
#include "res/strings.h"
#include "res/templates.h"

using namespace headless::detail;

namespace {

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
            c.enabled = (rc.style & kStyleDisabled) == 0;
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

}  // namespace

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

