#include "ui/indicator_dialog.h"

#include "os/platform.h"
#include "os/process.h"

#include <cstdio>

const char kCountdownFormat932[] = "\x8E\x63\x82\xE8%d\x95\x62";

CDlgIndicater* g_mainIndicator = nullptr;
CDlgIndicater* g_autoIndicator = nullptr;

namespace {
// The last text written to the countdown, shared by every progress dialog.
char g_countdownText[256];
}  // namespace

CDlgIndicater::CDlgIndicater(CWnd* parent) : CDialog(IDD, parent), m_secondsLeft(kEstimatedSeconds) {}

CDlgIndicater::~CDlgIndicater() {
    // Only the references to this dialog: a newer one may already be open.
    if (g_mainIndicator == this) g_mainIndicator = nullptr;
    if (g_autoIndicator == this) g_autoIndicator = nullptr;
}

void CDlgIndicater::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_PROGRESS, m_progress);
}

bool CDlgIndicater::PreTranslateMessage(Msg* msg) {
    // Escape would cancel the dialog in the middle of a flash.
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) return false;
    return CDialog::PreTranslateMessage(msg);
}

bool CDlgIndicater::OnInitDialog() {
    CDialog::OnInitDialog();
    SetTimer(kTimerId, kTimerPeriodMs);
    m_progress.SetRange32(0, kEstimatedSeconds);
    m_progress.SetPos(0);
    if (CMenu* menu = GetSystemMenu(false)) menu->EnableMenuItem(SC_CLOSE, MF_BYCOMMAND | MF_GRAYED | MF_DISABLED);
    return true;
}

void CDlgIndicater::OnTimer(uintptr_t id) {
    --m_secondsLeft;
    const char* format;
    if (OsPlatform().OemCodePage() == 932) {
        format = kCountdownFormat932;
    } else {
        format = (m_secondsLeft == 1 || m_secondsLeft == 0) ? "%d second" : "%d seconds";
    }
    std::snprintf(g_countdownText, sizeof g_countdownText, format, static_cast<int>(m_secondsLeft));
    if (m_secondsLeft >= 0) {
        SetDlgItemText(IDC_SECONDS_LEFT, g_countdownText);
        m_progress.OffsetPos(1);
    } else {
        if (OsLoadString(IDS_PLEASE_WAIT, g_countdownText, sizeof g_countdownText) == 0) g_countdownText[0] = '\0';
        SetDlgItemText(IDC_SECONDS_LEFT, g_countdownText);
    }
    CDialog::OnTimer(id);
}

void OpenIndicator(CDlgIndicater*& reference) {
    delete reference;  // clears `reference` through the destructor
    reference = new CDlgIndicater();
    if (reference->Create(CDlgIndicater::IDD)) reference->ShowWindow(SW_SHOW);
}

void CloseIndicator(CDlgIndicater* indicator) {
    if (indicator) indicator->PostMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
}
