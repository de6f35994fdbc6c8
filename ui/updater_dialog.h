// The main dialog: the interactive updater. It warns, takes the updater mutex,
// finds the supported drives and lists them, shows the selected drive's firmware
// revision next to the image's version, and conducts the update that the user
// starts with "update": the worker writes the image, the progress dialog counts
// down, and the end is a restart (success) or a retry (failure). What it does as
// the unattended dialog does is in ui/updater_common.h.
#pragma once
#include "engine/image.h"
#include "engine/scan_probe.h"
#include "engine/worker.h"
#include "res/resource.h"
#include "ui/framework/afxwin.h"

#include <cstdint>
#include <string>

class CUpdaterDlg;
extern CUpdaterDlg* g_mainDlg;

class CUpdaterDlg : public CDialog, public WorkerHost {
public:
    explicit CUpdaterDlg(CWnd* parent = nullptr);
    ~CUpdaterDlg() override;

    // WorkerHost: the worker's reports and message boxes, from its own thread.
    void PostWorkerNotify(unsigned code, long lParam) override;
    int ShowMessageBox(const char* text, const char* caption, unsigned style) override;

    // Locates the image and starts the worker that reads the selected drive's
    // INQUIRY data. False when the image is missing (IDS_IMAGE_NOT_FOUND shown) or
    // the drive cannot be opened.
    bool CheckSelectedDrive();
    // On the identification's arrival: closes the dialog when no update is needed
    // (IDS_UPDATE_NOT_NEEDED), else shows the versions (after IDS_DISC_IN_DRIVE when
    // a disc is in).
    void CheckImageVersion();
    // The disc check of the selected drive, waited for at most 5000 ms.
    bool IsDiscPresent();
    // The worker's report (WM_WORKER_NOTIFY), once RouteUpdaterMessage let it through.
    void OnWorkerReport(unsigned code);

    UiIcon m_hIcon = nullptr;
    CComboBox m_driveCombo;
    char m_imagePath[LOCATE_PATH_SIZE] = {};
    char m_imageVersion[8] = {};
    char m_currentVersion[8] = {};
    char m_driveName[20] = {};
    char m_driveDate[8] = {};
    char m_imageDate[8] = {};
    int m_screenSaverWasActive = 0;
    int m_endSessionAllowed = 0;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    bool PreTranslateMessage(Msg* msg) override;
    bool OnWndMsg(unsigned message, uintptr_t wParam, intptr_t lParam, intptr_t* result) override;
    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnCommand(unsigned id, unsigned notifyCode) override;
    void OnSysCommand(unsigned id, intptr_t lParam) override;
    void OnPaint() override;
    UiIcon OnQueryDragIcon() override;
    bool OnQueryEndSession() override;

private:
    // The report the dialog waits for from the worker it started without waiting.
    enum class Awaiting { Nothing, Inquiry, Update };

    // The drive list side of discovery: the combo box, items appended at the end.
    class DriveListScan : public WorkerScanHost {
    public:
        explicit DriveListScan(CUpdaterDlg* dialog) : WorkerScanHost(dialog), m_dialog(dialog) {}
        void ClearDriveList() override;
        void AddDriveListItem(const char* text) override;

    private:
        CUpdaterDlg* m_dialog;
    };

    void CloseSelf();
    int ScanDrives();
    char SelectedDriveLetter() const;
    void OnSelectionChange();
    void OnUpdate();
    void OnUpdateFailed();
    void EnableControls(bool enable);
    int ShowStringBox(unsigned id, const std::string& tail, unsigned style);

    Awaiting m_awaiting = Awaiting::Nothing;
    // The identification being read is the start-up's: a failure closes the dialog.
    bool m_checkAtStart = false;
    // A selection made while a worker ran, applied when it has reported; -1: none.
    int m_pendingSelection = -1;
    // The device whose versions are shown (-1: none yet): the only one "update" may
    // update. Another selection whose check did not end in the versions leaves them.
    int m_versionsOf = -1;
    bool m_updating = false;
    DriveListScan m_scanHost{this};
};
