// Win32 back-end: windows, controls and menus over the ANSI user interface API.
#include "ui/framework/win32/win32.h"

#include <vector>

using win32::H;
using win32::W;

namespace {
LRESULT Send(WindowHandle hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return ::SendMessageA(H(hwnd), message, wParam, lParam);
}
}  // namespace

bool CWnd::PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) {
    return ::PostMessageA(H(m_hWnd), message, wParam, lParam) != FALSE;
}

int CWnd::MessageBox(const char* text, const char* caption, unsigned type) {
    return ::MessageBoxA(H(m_hWnd), text, caption, type);
}

void CWnd::SetWindowText(const char* text) { ::SetWindowTextA(H(m_hWnd), text ? text : ""); }

std::string CWnd::GetWindowText() const {
    int length = ::GetWindowTextLengthA(H(m_hWnd));
    if (length <= 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    int got = ::GetWindowTextA(H(m_hWnd), buffer.data(), length + 1);
    return std::string(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

bool CWnd::EnableWindow(bool enable) { return ::EnableWindow(H(m_hWnd), enable ? TRUE : FALSE) != FALSE; }
bool CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(H(m_hWnd)) != FALSE; }
bool CWnd::ShowWindow(int command) { return ::ShowWindow(H(m_hWnd), command) != FALSE; }
void CWnd::UpdateWindow() { ::UpdateWindow(H(m_hWnd)); }
bool CWnd::IsWindowVisible() const { return ::IsWindowVisible(H(m_hWnd)) != FALSE; }
bool CWnd::IsIconic() const { return ::IsIconic(H(m_hWnd)) != FALSE; }

bool CWnd::DestroyWindow() {
    HWND hwnd = H(m_hWnd);
    m_items.clear();
    if (!hwnd) return false;
    BOOL ok = ::DestroyWindow(hwnd);
    m_hWnd = 0;
    return ok != FALSE;
}

CWnd* CWnd::GetDlgItem(int id) {
    HWND control = ::GetDlgItem(H(m_hWnd), id);
    if (!control) return nullptr;
    std::unique_ptr<CWnd>& item = m_items[id];
    if (!item) item.reset(new CWnd());
    item->m_hWnd = W(control);
    return item.get();
}

void CWnd::SetDlgItemText(int id, const char* text) { ::SetDlgItemTextA(H(m_hWnd), id, text ? text : ""); }

std::string CWnd::GetDlgItemText(int id) {
    CWnd* item = GetDlgItem(id);
    return item ? item->GetWindowText() : std::string();
}

CMenu* CWnd::GetSystemMenu(bool revert) {
    HMENU menu = ::GetSystemMenu(H(m_hWnd), revert ? TRUE : FALSE);
    if (!menu || revert) return nullptr;
    m_systemMenu.m_hMenu = reinterpret_cast<uintptr_t>(menu);
    m_systemMenu.m_owner = m_hWnd;
    return &m_systemMenu;
}

bool CMenu::AppendMenu(unsigned flags, uintptr_t id, const char* text) {
    return ::AppendMenuA(reinterpret_cast<HMENU>(m_hMenu), flags, id, text) != FALSE;
}

unsigned CMenu::EnableMenuItem(unsigned id, unsigned enable) {
    return static_cast<unsigned>(::EnableMenuItem(reinterpret_cast<HMENU>(m_hMenu), id, enable));
}

uintptr_t CWnd::SetTimer(uintptr_t id, unsigned elapseMs) { return ::SetTimer(H(m_hWnd), id, elapseMs, nullptr); }
bool CWnd::KillTimer(uintptr_t id) { return ::KillTimer(H(m_hWnd), id) != FALSE; }

UiIcon CWnd::SetIcon(UiIcon icon, bool bigIcon) {
    return reinterpret_cast<UiIcon>(Send(m_hWnd, WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL,
                                         reinterpret_cast<LPARAM>(icon)));
}

void CWnd::PaintMinimizedIcon(UiIcon icon) {
    HWND hwnd = H(m_hWnd);
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd, &ps);
    ::SendMessageA(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    int iconWidth = ::GetSystemMetrics(SM_CXICON);
    int iconHeight = ::GetSystemMetrics(SM_CYICON);
    RECT client;
    ::GetClientRect(hwnd, &client);
    int x = (client.right - client.left - iconWidth + 1) / 2;
    int y = (client.bottom - client.top - iconHeight + 1) / 2;
    ::DrawIcon(dc, x, y, static_cast<HICON>(const_cast<void*>(icon)));
    ::EndPaint(hwnd, &ps);
}

void CComboBox::ResetContent() { Send(m_hWnd, CB_RESETCONTENT); }

int CComboBox::InsertString(int index, const char* text) {
    return static_cast<int>(Send(m_hWnd, CB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text)));
}

int CComboBox::GetCount() const { return static_cast<int>(Send(m_hWnd, CB_GETCOUNT)); }
int CComboBox::GetCurSel() const { return static_cast<int>(Send(m_hWnd, CB_GETCURSEL)); }
int CComboBox::SetCurSel(int index) { return static_cast<int>(Send(m_hWnd, CB_SETCURSEL, static_cast<WPARAM>(index))); }

std::string CComboBox::GetLBText(int index) const {
    LRESULT length = Send(m_hWnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
    if (length == CB_ERR || length <= 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    LRESULT got = Send(m_hWnd, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer.data()));
    return got == CB_ERR ? std::string() : std::string(buffer.data());
}

void CProgressCtrl::SetRange32(int lower, int upper) {
    Send(m_hWnd, PBM_SETRANGE32, static_cast<WPARAM>(lower), static_cast<LPARAM>(upper));
}

void CProgressCtrl::GetRange(int& lower, int& upper) const {
    PBRANGE range = {0, 0};
    Send(m_hWnd, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    lower = range.iLow;
    upper = range.iHigh;
}

int CProgressCtrl::SetPos(int pos) { return static_cast<int>(Send(m_hWnd, PBM_SETPOS, static_cast<WPARAM>(pos))); }
int CProgressCtrl::OffsetPos(int delta) {
    return static_cast<int>(Send(m_hWnd, PBM_DELTAPOS, static_cast<WPARAM>(delta)));
}
int CProgressCtrl::GetPos() const { return static_cast<int>(Send(m_hWnd, PBM_GETPOS)); }

bool AfxIsWindow(WindowHandle hwnd) { return hwnd != 0 && ::IsWindow(H(hwnd)) != FALSE; }
bool AfxSetForegroundWindow(WindowHandle hwnd) { return ::SetForegroundWindow(H(hwnd)) != FALSE; }
