// Smoke run of the Win32 back-end on real windows (under Wine): the behaviour the
// dialogs rely on, checked step by step from a timer. Writes one line per failed
// check to win32_smoke.log in the current directory and exits with the number of
// failures.
#include "ui/framework/win32/win32.h"

#include "res/resource.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr unsigned WM_PROBE = WM_APP + 1;
int g_failures = 0;
FILE* g_log = nullptr;

void Check(bool ok, const char* what) {
    if (ok) return;
    ++g_failures;
    if (g_log) {
        std::fprintf(g_log, "FAILED: %s\n", what);
        std::fflush(g_log);
    }
}

RECT WindowRect(const CWnd& window) {
    RECT rect = {0, 0, 0, 0};
    ::GetWindowRect(win32::H(window.m_hWnd), &rect);
    return rect;
}

RECT WorkArea() {
    RECT area = {0, 0, 0, 0};
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

// Centres within a pixel (a halved odd size rounds).
bool CentredOver(const RECT& inner, const RECT& outer) {
    return std::abs((inner.left + inner.right) - (outer.left + outer.right)) <= 2 &&
           std::abs((inner.top + inner.bottom) - (outer.top + outer.bottom)) <= 2;
}

class Probe : public CDialog {
public:
    explicit Probe(unsigned templateId) : CDialog(templateId) {}

    bool OnInitDialog() override {
        const bool result = CDialog::OnInitDialog();
        if (placeAt10) ::SetWindowPos(win32::H(m_hWnd), nullptr, 10, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        return result;
    }
    bool OnWndMsg(unsigned message, uintptr_t wParam, intptr_t lParam, intptr_t* result) override {
        if (message == WM_PROBE) {
            posted.push_back(wParam);
            return true;
        }
        if (message == WM_POWERBROADCAST && wParam == PBT_APMQUERYSUSPEND) {
            *result = BROADCAST_QUERY_DENY;
            return true;
        }
        return CDialog::OnWndMsg(message, wParam, lParam, result);
    }
    bool PreTranslateMessage(Msg* msg) override {
        if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) {
            ++escapes;
            return false;
        }
        return CDialog::PreTranslateMessage(msg);
    }
    void DoDataExchange(CDataExchange* dx) override {
        CDialog::DoDataExchange(dx);
        if (GetDlgItem(IDC_DRIVE_COMBO)) DDX_Control(dx, IDC_DRIVE_COMBO, combo);
        if (GetDlgItem(IDC_PROGRESS)) DDX_Control(dx, IDC_PROGRESS, bar);
    }
    void OnTimer(uintptr_t id) override {
        if (onTimer) onTimer(id);
    }

    CComboBox combo;
    CProgressCtrl bar;
    std::vector<uintptr_t> posted;
    int escapes = 0;
    bool placeAt10 = false;  // places itself during the initialisation
    void (*onTimer)(uintptr_t) = nullptr;
};

Probe* g_main = nullptr;
Probe* g_indicator = nullptr;
int g_step = 0;

unsigned long __stdcall PostFromWorker(void*);

void Step(uintptr_t) {
    switch (g_step++) {
    case 0: {
        // Controls by id, bound by data exchange, in the resource language.
        std::string update = g_main->GetDlgItemText(IDC_UPDATE);
        Check(update == "update" || !update.empty(), "update button text");
        Check(g_main->combo.m_hWnd != 0, "combo bound");
        g_main->combo.InsertString(-1, "Z: second");
        g_main->combo.InsertString(-1, "D: first");
        Check(g_main->combo.GetCount() == 2, "combo count");
        Check(g_main->combo.GetLBText(0) == "Z: second", "insert at end is not sorted");
        Check(g_main->combo.SetCurSel(1) == 1 && g_main->combo.GetCurSel() == 1, "combo selection");
        CMenu* menu = g_main->GetSystemMenu(false);
        Check(menu != nullptr, "system menu");
        if (menu) {
            Check(menu->AppendMenu(MF_SEPARATOR), "append separator");
            Check(menu->AppendMenu(MF_STRING, IDM_ABOUT, "about..."), "append item");
        }
        // The progress indicator: hidden when created, shown by its owner.
        g_indicator = new Probe(IDD_INDICATOR);
        Check(g_indicator->Create(IDD_INDICATOR), "indicator created");
        Check(!g_indicator->IsWindowVisible(), "indicator hidden at first");
        Check(CentredOver(WindowRect(*g_indicator), WindowRect(*g_main)), "indicator centred over its owner");
        {
            Probe placed(IDD_ABOUTBOX);
            placed.placeAt10 = true;
            Check(placed.Create(IDD_ABOUTBOX), "self-placing dialog created");
            const RECT rect = WindowRect(placed);
            Check(rect.left == 10 && rect.top == 10, "a dialog placed during its initialisation stays there");
            placed.DestroyWindow();
        }
        g_indicator->ShowWindow(SW_SHOW);
        g_indicator->bar.SetRange32(0, 34);
        g_indicator->bar.SetPos(0);
        g_indicator->bar.OffsetPos(1);
        Check(g_indicator->bar.GetPos() == 1, "progress delta");
        g_indicator->bar.OffsetPos(100);
        Check(g_indicator->bar.GetPos() == 34, "progress stays in range");
        CMenu* indicatorMenu = g_indicator->GetSystemMenu(false);
        Check(indicatorMenu && indicatorMenu->EnableMenuItem(SC_CLOSE, MF_BYCOMMAND | MF_GRAYED | MF_DISABLED) ==
                                   MF_ENABLED,
              "close disabled");
        g_indicator->PostMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
        // The main dialog's close is refused while its cancel button is disabled.
        g_main->GetDlgItem(IDCANCEL)->EnableWindow(false);
        g_main->PostMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
        g_main->PostMessage(WM_KEYDOWN, VK_ESCAPE, 0);
        break;
    }
    case 1: {
        Check(g_indicator->m_ended && g_indicator->m_result == IDCANCEL, "posted close ends the indicator");
        Check(!g_indicator->IsWindowVisible(), "ended indicator hidden");
        Check(!g_main->m_ended, "close refused with cancel disabled");
        Check(g_main->escapes == 1, "escape seen by pre-translation");
        HANDLE worker = CreateThread(nullptr, 0, &PostFromWorker, nullptr, 0, nullptr);
        Check(worker != nullptr, "worker started");
        if (worker) CloseHandle(worker);
        break;
    }
    case 2:
    case 3:
        break;  // let the worker's messages arrive
    default: {
        bool ordered = g_main->posted.size() == 100;
        for (size_t i = 0; ordered && i < g_main->posted.size(); ++i) ordered = g_main->posted[i] == i;
        Check(ordered, "posted messages in order");
        Check(AfxIsWindow(g_main->m_hWnd), "main window is a window");
        g_main->KillTimer(1);
        AfxPostQuitMessage(g_failures);
        break;
    }
    }
}

unsigned long __stdcall PostFromWorker(void*) {
    for (uintptr_t i = 0; i < 100; ++i) g_main->PostMessage(WM_PROBE, i, 0);
    return 0;
}

class SmokeApp : public CWinApp {
public:
    bool InitInstance() override {
        AfxInitCommonControls();
        g_main = new Probe(IDD_UPDATER_DIALOG);
        Check(g_main->Create(IDD_UPDATER_DIALOG), "main dialog created");
        Check(g_main->IsWindowVisible(), "main dialog visible from its template");
        Check(CentredOver(WindowRect(*g_main), WorkArea()), "main dialog without owner centred on the work area");
        m_pMainWnd = g_main;
        g_main->onTimer = &Step;
        g_main->SetTimer(1, 200);
        return true;
    }
    int ExitInstance() override {
        delete g_indicator;
        delete g_main;
        if (g_log) std::fprintf(g_log, "%d failure(s)\n", m_exitCode);
        return CWinApp::ExitInstance();
    }
};

SmokeApp theSmokeApp;

struct LogOpener {
    LogOpener() { g_log = std::fopen("win32_smoke.log", "w"); }
    ~LogOpener() {
        if (g_log) std::fclose(g_log);
    }
} g_logOpener;

}  // namespace
