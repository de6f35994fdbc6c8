#include "ui/updater_dialog.h"

#include "engine/messages.h"
#include "engine/restart.h"
#include "engine/update.h"
#include "os/time.h"
#include "transport/discovery.h"
#include "transport/transport.h"
#include "ui/about_dialog.h"
#include "ui/indicator_dialog.h"
#include "ui/updater_common.h"

#include <cstring>

CUpdaterDlg* g_mainDlg = nullptr;

namespace {
template <size_t N>
void CopyField(char (&to)[N], const char* from) {
    std::strncpy(to, from, N - 1);
    to[N - 1] = '\0';
}
}  // namespace

void CUpdaterDlg::DriveListScan::ClearDriveList() { m_dialog->m_driveCombo.ResetContent(); }

void CUpdaterDlg::DriveListScan::AddDriveListItem(const char* text) {
    // At the end, never sorted: item i is device table entry i.
    m_dialog->m_driveCombo.InsertString(-1, text);
}

CUpdaterDlg::CUpdaterDlg(CWnd* parent) : CDialog(IDD_UPDATER_DIALOG, parent) {
    CWinApp* app = AfxGetApp();
    m_hIcon = app ? app->LoadIcon(IDI_MAINFRAME) : nullptr;
    g_mainDlg = this;
}

CUpdaterDlg::~CUpdaterDlg() { EndUpdaterSession(m_screenSaverWasActive); }

void CUpdaterDlg::PostWorkerNotify(unsigned code, long lParam) {
    PostMessage(WM_WORKER_NOTIFY, code, static_cast<intptr_t>(lParam));
}

int CUpdaterDlg::ShowMessageBox(const char* text, const char* caption, unsigned style) {
    return MessageBox(text, caption, style);
}

int CUpdaterDlg::ShowStringBox(unsigned id, const std::string& tail, unsigned style) {
    return ShowEngineMessage(*this, id, tail, style);
}

void CUpdaterDlg::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_DRIVE_COMBO, m_driveCombo);
}

void CUpdaterDlg::CloseSelf() { PostMessage(WM_SYSCOMMAND, SC_CLOSE, 0); }

int CUpdaterDlg::ScanDrives() {
    return g_transport == TRANSPORT_ASPI ? ScanDrivesAspi(m_scanHost) : ScanDrivesSpti(m_scanHost);
}

char CUpdaterDlg::SelectedDriveLetter() const {
    if (g_selectedDevice < 0 || g_selectedDevice >= MAX_DEVICES) return 0;
    return static_cast<char>(g_devices[g_selectedDevice].driveLetter);
}

bool CUpdaterDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    PublishWindowHandle(g_instanceMapping ? *g_instanceMapping : nullptr, m_hWnd);

    if (CMenu* menu = GetSystemMenu(false)) {
        std::string about = LoadMessageText(IDS_ABOUT_ITEM);
        if (!about.empty()) {
            menu->AppendMenu(MF_SEPARATOR);
            menu->AppendMenu(MF_STRING, IDM_ABOUT, about.c_str());
        }
    }
    SetIcon(m_hIcon, true);
    SetIcon(m_hIcon, false);

    // Only an explicit Yes goes on.
    if (ShowStringBox(IDS_SAFETY_WARNING, std::string(), MB_YESNO | MB_ICONINFORMATION) != IDYES) {
        CloseSelf();
        return true;
    }
    if (!BeginUpdaterStartUp(*this, &m_screenSaverWasActive)) {
        CloseSelf();
        return true;
    }
    if (DiscoverDrives(m_scanHost) == 0) {
        ShowStringBox(IDS_NO_TARGET, std::string(), MB_ICONEXCLAMATION);
        CloseSelf();
        return true;
    }
    g_selectedDevice = 0;
    m_driveCombo.SetCurSel(0);
    m_checkAtStart = true;
    if (!CheckSelectedDrive()) CloseSelf();
    return true;
}

bool CUpdaterDlg::CheckSelectedDrive() {
    std::memset(m_imagePath, 0, sizeof m_imagePath);
    if (!LocateImage(m_imagePath)) {
        ShowStringBox(IDS_IMAGE_NOT_FOUND, std::string("\r\n") + m_imagePath, MB_ICONINFORMATION);
        return false;
    }
    g_workerOp = OP_READ_INQUIRY;
    if (!StartWorker(this, SelectedDriveLetter(), false)) return false;
    m_awaiting = Awaiting::Inquiry;
    return true;
}

bool CUpdaterDlg::IsDiscPresent() { return CheckDiscPresent(this, SelectedDriveLetter()); }

void CUpdaterDlg::CheckImageVersion() {
    VersionRecord record;
    const int needed = ImageUpdateNeeded(g_inquiryData, g_inquiryLength, m_imagePath, record);
    if (needed == IMAGE_DRIVE_UNKNOWN) {
        // The INQUIRY failed, or its reply lacks what the version rule needs: the
        // drive is treated as one that cannot be opened.
        if (m_checkAtStart) CloseSelf();
        return;
    }
    CopyField(m_currentVersion, record.currentVersion);
    CopyField(m_driveName, record.driveName);
    CopyField(m_imageVersion, record.imageVersion);
    CopyField(m_driveDate, record.driveDate);
    CopyField(m_imageDate, record.imageDate);

    if (needed == IMAGE_UNREADABLE) {
        // Found a moment ago, but gone, locked or too short now: no version to show.
        ShowStringBox(IDS_IMAGE_NOT_FOUND, std::string("\r\n") + m_imagePath, MB_ICONINFORMATION);
        if (m_checkAtStart) CloseSelf();
        return;
    }
    if (needed == IMAGE_NOT_NEEDED) {
        ShowStringBox(IDS_UPDATE_NOT_NEEDED, std::string(), MB_ICONEXCLAMATION);
        CloseSelf();
        return;
    }
    if (std::strcmp(m_currentVersion, "0000") != 0 && IsDiscPresent()) {
        ShowStringBox(IDS_DISC_IN_DRIVE, std::string(), MB_OKCANCEL | MB_ICONEXCLAMATION);
    }
    SetDlgItemText(IDC_CURRENT_VERSION, m_currentVersion);
    SetDlgItemText(IDC_NEW_VERSION, m_imageVersion);
    SetDlgItemText(IDC_DRIVE_NAME, m_driveName);
    m_versionsOf = g_selectedDevice;
}

void CUpdaterDlg::OnSelectionChange() {
    const int index = m_driveCombo.GetCurSel();
    if (m_updating) {
        // The list is disabled while updating; a stray change must not retarget it.
        m_driveCombo.SetCurSel(g_selectedDevice);
        return;
    }
    if (index < 0 || index >= MAX_DEVICES) return;
    if (m_awaiting != Awaiting::Nothing) {
        // The worker reading the previous drive still uses the shared request state:
        // the new selection takes effect once it has reported.
        m_pendingSelection = index;
        return;
    }
    g_selectedDevice = index;
    m_checkAtStart = false;
    CheckSelectedDrive();  // a failure leaves the dialog as it was
}

void CUpdaterDlg::EnableControls(bool enable) {
    if (CMenu* menu = GetSystemMenu(false))
        menu->EnableMenuItem(SC_CLOSE, MF_BYCOMMAND | (enable ? MF_ENABLED : (MF_GRAYED | MF_DISABLED)));
    for (int id : {IDC_UPDATE, IDCANCEL, IDC_DRIVE_COMBO})
        if (CWnd* item = GetDlgItem(id)) item->EnableWindow(enable);
}

void CUpdaterDlg::OnUpdate() {
    // The identification of the selected drive has not arrived yet (or an update
    // runs): one worker at a time, and nothing is written to a drive whose versions
    // the user has not been shown.
    if (m_awaiting != Awaiting::Nothing || m_updating) return;
    // The drive selected since has not been found to need this image (its check
    // failed, or its revision did not arrive): the versions shown are another's.
    if (g_selectedDevice != m_versionsOf) return;
    if (!SetImagePath(m_imagePath)) {
        // A cut path could name another file: refuse it whole.
        ShowStringBox(IDS_IMAGE_NOT_FOUND, std::string("\r\n") + m_imagePath, MB_ICONINFORMATION);
        return;
    }
    // The update sends only the image whose version was judged and shown.
    SetCheckedImage(m_imageVersion, m_imageDate);
    EnableControls(false);
    m_updating = true;
    // The update opens the drive for itself alone (StartWorker); a handle that an
    // earlier check left open is not such a one.
    WaitForWorker(OS_WAIT_FOREVER);
    CloseDevice(g_hDevice);
    g_workerOp = OP_UPDATE;
    if (!StartWorker(this, SelectedDriveLetter(), false)) {
        // No worker, so no report would ever unlock the dialog: a failed update.
        OnUpdateFailed();
        return;
    }
    m_awaiting = Awaiting::Update;
}

void CUpdaterDlg::OnUpdateFailed() {
    m_updating = false;
    EnableControls(true);
    CloseIndicator(g_mainIndicator);
    ShowStringBox(IDS_UPDATE_FAILED, std::string(), MB_ICONINFORMATION);
}

void CUpdaterDlg::OnWorkerReport(unsigned code) {
    switch (code) {
    case NOTIFY_UPDATE_OK:
        if (m_awaiting != Awaiting::Update) break;
        m_awaiting = Awaiting::Nothing;
        m_endSessionAllowed = 1;
        ScanDrives();
        m_driveCombo.SetCurSel(g_selectedDevice);
        CloseIndicator(g_mainIndicator);
        RestartWindows(*this);  // the controls stay disabled until the session ends
        break;
    case NOTIFY_UPDATE_FAILED:
        if (m_awaiting != Awaiting::Update) break;
        m_awaiting = Awaiting::Nothing;
        OnUpdateFailed();
        break;
    case NOTIFY_INQUIRY_READY: {
        if (m_awaiting != Awaiting::Inquiry) break;
        m_awaiting = Awaiting::Nothing;
        if (m_pendingSelection >= 0) {
            // The user moved on to another drive meanwhile: check that one instead.
            g_selectedDevice = m_pendingSelection;
            m_pendingSelection = -1;
            m_checkAtStart = false;
            CheckSelectedDrive();
            break;
        }
        CheckImageVersion();
        break;
    }
    case NOTIFY_TRANSFER_STARTED:
        if (m_updating) OpenIndicator(g_mainIndicator);
        break;
    default:
        break;
    }
}

bool CUpdaterDlg::OnWndMsg(unsigned message, uintptr_t wParam, intptr_t lParam, intptr_t* result) {
    return RouteUpdaterMessage(*this, message, wParam, lParam, result) ||
           CDialog::OnWndMsg(message, wParam, lParam, result);
}

bool CUpdaterDlg::OnCommand(unsigned id, unsigned notifyCode) {
    if (id == static_cast<unsigned>(IDC_DRIVE_COMBO) && notifyCode == CBN_SELCHANGE) {
        OnSelectionChange();
        return true;
    }
    if (id == static_cast<unsigned>(IDC_UPDATE) && notifyCode == BN_CLICKED) {
        OnUpdate();
        return true;
    }
    return CDialog::OnCommand(id, notifyCode);
}

bool CUpdaterDlg::PreTranslateMessage(Msg* msg) {
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) return false;
    return CDialog::PreTranslateMessage(msg);
}

// Enter must never end the dialog, least of all in the middle of an update.
void CUpdaterDlg::OnOK() {}

void CUpdaterDlg::OnCancel() {
    if (m_updating) return;  // only the worker's report ends an update
    CDialog::OnCancel();
}

void CUpdaterDlg::OnSysCommand(unsigned id, intptr_t lParam) {
    if ((id & 0xFFF0) == IDM_ABOUT) {
        CAboutDlg about;
        about.DoModal();
        return;
    }
    CDialog::OnSysCommand(id, lParam);
}

void CUpdaterDlg::OnPaint() {
    if (IsIconic()) {
        PaintMinimizedIcon(m_hIcon);
        return;
    }
    CDialog::OnPaint();
}

UiIcon CUpdaterDlg::OnQueryDragIcon() { return m_hIcon; }

bool CUpdaterDlg::OnQueryEndSession() {
    return CDialog::OnQueryEndSession() && AllowEndOfSession(*this, m_endSessionAllowed);
}
