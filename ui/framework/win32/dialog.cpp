// Win32 back-end: dialogs from the resource templates. Modal runs use our own loop
// over a modeless dialog (as MFC does), so that PreTranslateMessage sees every
// message before the dialog manager; DialogBoxParamA would hide them from us.
#include "ui/framework/win32/win32.h"

#include <map>

using win32::H;
using win32::W;

namespace {

// The dialogs of this thread (the user-interface thread only touches it).
std::map<HWND, CDialog*>& Registry() {
    static std::map<HWND, CDialog*> registry;
    return registry;
}

CDialog* FindDialog(HWND hwnd) {
    auto it = Registry().find(hwnd);
    return it == Registry().end() ? nullptr : it->second;
}

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* dialog;
    if (message == WM_INITDIALOG) {
        dialog = reinterpret_cast<CDialog*>(lParam);
        dialog->m_hWnd = W(hwnd);
        Registry()[hwnd] = dialog;
        lParam = 0;
    } else {
        dialog = FindDialog(hwnd);
    }
    if (!dialog) return FALSE;
    if (message == WM_NCDESTROY) {
        Registry().erase(hwnd);
        return FALSE;
    }

    intptr_t result = 0;
    if (dialog->RouteMessage(message, wParam, lParam, &result)) return FALSE;  // DefDlgProc does the rest

    switch (message) {
    case WM_INITDIALOG:
    case WM_QUERYDRAGICON:
        return static_cast<INT_PTR>(result);
    default:
        ::SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, static_cast<LONG_PTR>(result));
        return TRUE;
    }
}

HWND CreateFromTemplate(CDialog* dialog, unsigned templateId, HWND owner) {
    dialog->m_ended = false;
    dialog->m_result = 0;
    return ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), owner, &DialogProc,
                                reinterpret_cast<LPARAM>(dialog));
}

}  // namespace

namespace win32 {

HWND DefaultOwner(const CWnd* self) {
    CWinApp* app = AfxGetApp();
    if (app && app->m_pMainWnd && app->m_pMainWnd != self && AfxIsWindow(app->m_pMainWnd->m_hWnd))
        return H(app->m_pMainWnd->m_hWnd);
    return nullptr;
}

void TranslateAndDispatch(MSG& msg) {
    HWND top = msg.hwnd;
    while (top && (::GetWindowLongA(top, GWL_STYLE) & WS_CHILD)) top = ::GetParent(top);
    if (CDialog* dialog = top ? FindDialog(top) : nullptr) {
        Msg m{W(msg.hwnd), msg.message, msg.wParam, msg.lParam, &msg};
        if (dialog->PreTranslateMessage(&m)) return;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
}

}  // namespace win32

intptr_t CDialog::DoModal() {
    HWND owner = m_pParentWnd ? H(m_pParentWnd->m_hWnd) : win32::DefaultOwner(this);
    m_modal = true;
    HWND hwnd = CreateFromTemplate(this, m_templateId, owner);
    if (!hwnd) return -1;
    bool ownerWasEnabled = owner && ::IsWindowEnabled(owner);
    if (owner) ::EnableWindow(owner, FALSE);
    if (!m_ended) ::ShowWindow(hwnd, SW_SHOW);  // shown whatever the template says

    intptr_t result = -1;
    MSG msg;
    while (::IsWindow(hwnd)) {
        if (m_ended) {
            result = m_result;
            break;
        }
        BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop outside
            break;
        }
        if (got == -1) break;
        win32::TranslateAndDispatch(msg);
    }
    // Give the owner back its input before this window goes, so that it, and not
    // some other application, is activated.
    if (owner && ownerWasEnabled) ::EnableWindow(owner, TRUE);
    if (owner && ::GetActiveWindow() == hwnd) ::SetActiveWindow(owner);
    if (m_hWnd != 0) DestroyWindow();
    return result;
}

bool CDialog::Create(unsigned templateId, CWnd* parent) {
    m_templateId = templateId;
    if (parent) m_pParentWnd = parent;
    HWND owner = m_pParentWnd ? H(m_pParentWnd->m_hWnd) : win32::DefaultOwner(this);
    m_modal = false;
    return CreateFromTemplate(this, templateId, owner) != nullptr;
}

void CDialog::EndDialog(int result) {
    m_ended = true;
    m_result = result;
    if (!m_hWnd) return;
    // A modal run notices the flag after the current message; a modeless dialog is
    // hidden and kept. The null message wakes a loop that would otherwise wait.
    if (!m_modal) ::ShowWindow(H(m_hWnd), SW_HIDE);
    ::PostMessageA(H(m_hWnd), WM_NULL, 0, 0);
}

bool CDialog::PreTranslateMessage(Msg* msg) {
    if (!m_hWnd) return false;
    MSG native;
    const MSG* source = static_cast<const MSG*>(msg->native);
    if (!source) {
        native = MSG{};
        native.hwnd = H(msg->hwnd);
        native.message = msg->message;
        native.wParam = msg->wParam;
        native.lParam = msg->lParam;
        source = &native;
    }
    return ::IsDialogMessageA(H(m_hWnd), const_cast<MSG*>(source)) != FALSE;
}
