// The progress indicator: a modeless countdown of the estimated 34 seconds that
// the image transfer takes, driven by a one-second timer alone (it does not follow
// the real transfer). The main and the unattended dialog open it when the worker
// reports that the transfer starts and close it when the update has ended.
#pragma once
#include "res/resource.h"
#include "ui/framework/afxwin.h"

#include <cstdint>

class CDlgIndicater : public CDialog {
public:
    static constexpr unsigned IDD = IDD_INDICATOR;
    static constexpr int32_t kEstimatedSeconds = 34;
    static constexpr uintptr_t kTimerId = 1;
    static constexpr unsigned kTimerPeriodMs = 1000;

    explicit CDlgIndicater(CWnd* parent = nullptr);
    ~CDlgIndicater() override;

    CProgressCtrl m_progress;
    int32_t m_secondsLeft;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    bool PreTranslateMessage(Msg* msg) override;
    bool OnInitDialog() override;
    void OnTimer(uintptr_t id) override;
};

// The countdown's format when the OEM code page is 932: "残り%d秒" in Shift-JIS.
extern const char kCountdownFormat932[];

// The progress dialog opened at the main or at the unattended dialog's request;
// nullptr while none. A progress dialog that is destroyed clears the reference
// that points to it.
extern CDlgIndicater* g_mainIndicator;
extern CDlgIndicater* g_autoIndicator;

// What an owner does when the transfer starts: a new progress dialog, created
// modeless from its template and shown, stored in `reference`. The one the
// reference held before (ended by then) is destroyed. A failed creation is ignored.
void OpenIndicator(CDlgIndicater*& reference);
// What an owner does when the update has ended: posts the close request (the
// dialog's Close command is disabled, but the posted request ends it and hides it).
void CloseIndicator(CDlgIndicater* indicator);
