#include "ui/auto_dialog.h"

#include "commands/commands.h"
#include "engine/image.h"
#include "engine/messages.h"
#include "engine/scan_probe.h"
#include "engine/session.h"
#include "engine/update.h"
#include "transport/discovery.h"
#include "transport/transport.h"
#include "ui/indicator_dialog.h"
#include "ui/updater_common.h"

#include <cstring>
#include <string>

CAutoDlg* g_autoDlg = nullptr;

CAutoDlg::CAutoDlg(CWnd* parent) : CDialog(IDD_AUTO_DIALOG, parent) {
    g_autoDlg = this;
    // The whole start-up runs inside this creation (OnInitDialog).
    Create(IDD_AUTO_DIALOG, parent);
}

CAutoDlg::~CAutoDlg() { EndUpdaterSession(m_screenSaverWasActive); }

void CAutoDlg::PostWorkerNotify(unsigned code, long lParam) {
    PostMessage(WM_WORKER_NOTIFY, code, static_cast<intptr_t>(lParam));
}

int CAutoDlg::ShowMessageBox(const char* text, const char* caption, unsigned style) {
    return MessageBox(text, caption, style);
}

void CAutoDlg::Stop(int exitCode, bool closeSelf) {
    if (closeSelf) PostMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
    AfxPostQuitMessage(exitCode);
}

void CAutoDlg::StopWithMessage(unsigned id) {
    ShowEngineMessage(*this, id, std::string(), MB_ICONEXCLAMATION);
    Stop(1, true);
}

bool CAutoDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    if (!BeginUpdaterStartUp(*this, &m_screenSaverWasActive)) {
        Stop(1, true);
        return true;
    }
    if (g_transport == TRANSPORT_ASPI) {
        Stop(1, false);  // unattended runs on the NT family only
        return true;
    }

    WorkerScanHost scanHost(this);
    const int count = DiscoverDrives(scanHost);
    if (count == 0) {
        StopWithMessage(IDS_NO_TARGET);
        return true;
    }
    if (count > 1) {
        StopWithMessage(IDS_MORE_THAN_ONE_TARGET);
        return true;
    }

    const char letter = static_cast<char>(g_devices[0].driveLetter);
    // Held by this run alone until it ends: another updater that reached the same
    // drive (another runtime directory, another user) is refused here, before any
    // command that changes the drive. The worker goes on with this handle.
    CloseDevice(g_hDevice);
    g_hDevice = OpenDeviceForUpdate(letter);
    if (g_hDevice == nullptr) {
        Stop(1, false);
        return true;
    }
    ReadInquiry();

    VersionRecord record;
    const int needed = ImageUpdateNeeded(g_inquiryData, g_inquiryLength, IMAGE_FILE_NAME, record);
    std::memcpy(m_currentVersion, record.currentVersion, sizeof m_currentVersion);
    std::memcpy(m_imageVersion, record.imageVersion, sizeof m_imageVersion);
    std::memcpy(m_driveDate, record.driveDate, sizeof m_driveDate);
    std::memcpy(m_imageDate, record.imageDate, sizeof m_imageDate);
    if (needed == IMAGE_DRIVE_UNKNOWN) {
        // A failed INQUIRY, or a reply without what the version rule needs: never
        // flash a drive whose firmware could not be read.
        CloseDevice(g_hDevice);
        Stop(1, false);
        return true;
    }
    if (needed != IMAGE_NEEDED) {
        CloseDevice(g_hDevice);
        // An image that cannot be read (absent, locked, too short) is not found.
        StopWithMessage(needed == IMAGE_UNREADABLE ? IDS_IMAGE_NOT_FOUND : IDS_UPDATE_NOT_NEEDED);
        return true;
    }

    SetImagePath(IMAGE_FILE_NAME);
    SetCheckedImage(record.imageVersion, record.imageDate);
    g_workerOp = OP_UPDATE;
    if (!StartWorker(this, letter, false)) {
        // No worker, so no report would ever end the run: a failed update.
        CloseDevice(g_hDevice);
        ShowEngineMessage(*this, IDS_UPDATE_FAILED, std::string(), MB_ICONINFORMATION);
        Stop(1, false);
        return true;
    }
    m_updating = true;
    return true;
}

void CAutoDlg::OnWorkerReport(unsigned code) {
    switch (code) {
    case NOTIFY_TRANSFER_STARTED:
        if (m_updating) OpenIndicator(g_autoIndicator);
        break;
    case NOTIFY_UPDATE_OK: {
        if (!m_updating) break;
        m_updating = false;
        m_endSessionAllowed = 1;
        WorkerScanHost scanHost(this);
        ScanDrivesSpti(scanHost);
        CloseIndicator(g_autoIndicator);
        AfxPostQuitMessage(0);
        break;
    }
    case NOTIFY_UPDATE_FAILED:
        if (!m_updating) break;
        m_updating = false;
        CloseIndicator(g_autoIndicator);
        ShowEngineMessage(*this, IDS_UPDATE_FAILED, std::string(), MB_ICONINFORMATION);
        AfxPostQuitMessage(1);
        break;
    default:
        break;
    }
}

bool CAutoDlg::OnWndMsg(unsigned message, uintptr_t wParam, intptr_t lParam, intptr_t* result) {
    return RouteUpdaterMessage(*this, message, wParam, lParam, result) ||
           CDialog::OnWndMsg(message, wParam, lParam, result);
}

bool CAutoDlg::OnQueryEndSession() {
    return CDialog::OnQueryEndSession() && AllowEndOfSession(*this, m_endSessionAllowed);
}
