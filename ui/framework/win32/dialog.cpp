// Win32 back-end: dialogs from the resource templates. Modal runs use our own loop
// over a modeless dialog (as MFC does), so that PreTranslateMessage sees every
// message before the dialog manager; DialogBoxParamA would hide them from us.
#include "ui/framework/win32/win32.h"

#include <algorithm>
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

// Where the dialogs are written to appear, as MFC places them: centred over their
// owner, or over the work area when there is none or it is hidden or minimised
// (the hidden unattended dialog owns the progress indicator), and kept inside the
// work area. The templates themselves say 0,0: a corner.
void CentreDialog(HWND hwnd) {
    if (::GetWindowLongA(hwnd, GWL_STYLE) & WS_CHILD) return;
    RECT area;
    if (!::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) {
        area.left = area.top = 0;
        area.right = ::GetSystemMetrics(SM_CXSCREEN);
        area.bottom = ::GetSystemMetrics(SM_CYSCREEN);
    }
    RECT over = area;
    // A popup window's parent is its owner.
    HWND owner = ::GetParent(hwnd);
    if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) ::GetWindowRect(owner, &over);
    RECT rect;
    ::GetWindowRect(hwnd, &rect);
    const LONG width = rect.right - rect.left;
    const LONG height = rect.bottom - rect.top;
    // The left and top edges win over the right and bottom ones for a dialog larger
    // than the work area: its caption stays reachable.
    const LONG x = std::max(area.left, std::min((over.left + over.right) / 2 - width / 2, area.right - width));
    const LONG y = std::max(area.top, std::min((over.top + over.bottom) / 2 - height / 2, area.bottom - height));
    ::SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The initialisation, then the placement, unless the initialisation placed the
// dialog itself.
INT_PTR InitDialog(HWND hwnd, CDialog* dialog, WPARAM focus) {
    RECT before;
    ::GetWindowRect(hwnd, &before);
    intptr_t result = 0;
    const bool byDefault = dialog->RouteMessage(WM_INITDIALOG, focus, 0, &result);
    RECT after;
    if (::IsWindow(hwnd) && ::GetWindowRect(hwnd, &after) && after.left == before.left && after.top == before.top)
        CentreDialog(hwnd);
    return byDefault ? FALSE : static_cast<INT_PTR>(result);
}

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        CDialog* created = reinterpret_cast<CDialog*>(lParam);
        created->m_hWnd = W(hwnd);
        Registry()[hwnd] = created;
        return InitDialog(hwnd, created, wParam);
    }
    CDialog* dialog = FindDialog(hwnd);
    if (!dialog) return FALSE;
    if (message == WM_NCDESTROY) {
        Registry().erase(hwnd);
        return FALSE;
    }

    intptr_t result = 0;
    if (dialog->RouteMessage(message, wParam, lParam, &result)) return FALSE;  // DefDlgProc does the rest

    switch (message) {
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
