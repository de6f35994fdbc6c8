// The unattended dialog: a hidden dialog that carries out the whole update without
// a question, and ends the process with 0 (updated) or 1 (anything else) by the
// quit message. Its start-up runs inside its creation, in the constructor.
#pragma once
#include "engine/worker.h"
#include "res/resource.h"
#include "ui/framework/afxwin.h"

#include <cstdint>

class CAutoDlg;
extern CAutoDlg* g_autoDlg;

class CAutoDlg : public CDialog, public WorkerHost {
public:
    explicit CAutoDlg(CWnd* parent = nullptr);
    ~CAutoDlg() override;

    void PostWorkerNotify(unsigned code, long lParam) override;
    int ShowMessageBox(const char* text, const char* caption, unsigned style) override;
    // The worker's report (WM_WORKER_NOTIFY), once RouteUpdaterMessage let it through.
    void OnWorkerReport(unsigned code);

    char m_imageVersion[5] = {};
    char m_currentVersion[5] = {};
    char m_driveDate[7] = {};
    char m_imageDate[7] = {};
    int m_screenSaverWasActive = 0;
    int m_endSessionAllowed = 0;

protected:
    bool OnWndMsg(unsigned message, uintptr_t wParam, intptr_t lParam, intptr_t* result) override;
    bool OnInitDialog() override;
    bool OnQueryEndSession() override;

private:
    // Ends the run with `exitCode`; `closeSelf` posts the close request first.
    void Stop(int exitCode, bool closeSelf);
    // Shows string `id` (caption IDS_CAPTION, exclamation), then stops with 1 and
    // the close request.
    void StopWithMessage(unsigned id);

    bool m_updating = false;
};
