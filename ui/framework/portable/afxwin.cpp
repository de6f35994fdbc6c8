// The parts of the framework that do not depend on the back-end: message dispatch
// to the handlers, data exchange and the application's start-up sequence.
#include "ui/framework/afxwin.h"

namespace {
CWinApp* g_app = nullptr;

unsigned LowWord(uintptr_t value) { return static_cast<unsigned>(value & 0xFFFF); }
unsigned HighWord(uintptr_t value) { return static_cast<unsigned>((value >> 16) & 0xFFFF); }
}  // namespace

// --- Dialog dispatch ---------------------------------------------------------------------

bool CDialog::OnWndMsg(unsigned message, uintptr_t wParam, intptr_t lParam, intptr_t* result) {
    *result = 0;
    switch (message) {
    case WM_INITDIALOG:
        *result = OnInitDialog() ? 1 : 0;
        return true;
    case WM_COMMAND:
        return OnCommand(LowWord(wParam), HighWord(wParam));
    case WM_SYSCOMMAND:
        OnSysCommand(static_cast<unsigned>(wParam), lParam);
        return true;
    case WM_TIMER:
        OnTimer(wParam);
        return true;
    case WM_PAINT:
        OnPaint();
        return true;
    case WM_QUERYDRAGICON:
        *result = reinterpret_cast<intptr_t>(OnQueryDragIcon());
        return true;
    case WM_QUERYENDSESSION:
        *result = OnQueryEndSession() ? 1 : 0;
        return true;
    case WM_CLOSE: {
        // The dialog manager's rule, kept here so that every back-end (Wine
        // included) follows it: a close is a cancel, refused while the dialog has a
        // cancel button that is disabled.
        CWnd* cancel = GetDlgItem(IDCANCEL);
        return cancel && !cancel->IsWindowEnabled();
    }
    default:
        return false;
    }
}

bool CDialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

void CDialog::DoDataExchange(CDataExchange*) {}

bool CDialog::UpdateData(bool saveAndValidate) {
    CDataExchange dx{this, saveAndValidate};
    DoDataExchange(&dx);
    return true;
}

void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }

bool CDialog::OnCommand(unsigned id, unsigned notifyCode) {
    if (notifyCode != BN_CLICKED) return false;
    if (id == static_cast<unsigned>(IDOK)) {
        OnOK();
        return true;
    }
    if (id == static_cast<unsigned>(IDCANCEL)) {
        OnCancel();
        return true;
    }
    return false;
}

void CDialog::OnSysCommand(unsigned, intptr_t) { Default(); }
void CDialog::OnTimer(uintptr_t) { Default(); }
void CDialog::OnPaint() { Default(); }
UiIcon CDialog::OnQueryDragIcon() {
    Default();
    return nullptr;
}
bool CDialog::OnQueryEndSession() { return true; }

void CDialog::Default() {
    if (m_dispatch) m_dispatch->defaultWanted = true;
}

bool CDialog::RouteMessage(unsigned message, uintptr_t wParam, intptr_t lParam, intptr_t* result) {
    Dispatch frame;
    Dispatch* outer = m_dispatch;  // a handler may send a message to itself
    m_dispatch = &frame;
    *result = 0;
    bool handled = OnWndMsg(message, wParam, lParam, result);
    m_dispatch = outer;
    return !handled || frame.defaultWanted;
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    if (control.m_hWnd != 0) return;  // bound once, as MFC does
    CWnd* item = dx->m_pDlgWnd->GetDlgItem(id);
    if (item) control.m_hWnd = item->m_hWnd;
}

// --- Application ---------------------------------------------------------------------

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

bool CWinApp::InitInstance() { return true; }
int CWinApp::ExitInstance() { return m_exitCode; }

CWinApp* AfxGetApp() { return g_app; }

int AfxWinMain() {
    CWinApp* app = AfxGetApp();
    if (!app) return -1;
    if (!app->InitInstance()) return app->ExitInstance();
    return app->Run();
}

// --- Objects ---------------------------------------------------------------------------

CWnd::~CWnd() = default;

CDialog::CDialog(unsigned templateId, CWnd* parent) : m_templateId(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog() {
    if (m_hWnd != 0) DestroyWindow();
}
