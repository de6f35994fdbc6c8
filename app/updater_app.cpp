#include "app/updater_app.h"

#include "os/named.h"
#include "os/process.h"
#include "ui/auto_dialog.h"
#include "ui/updater_common.h"
#include "ui/updater_dialog.h"

bool IsUnattendedCommandLine(const char* commandLine) {
    if (commandLine == nullptr) return false;
    for (const char* p = commandLine; p[0] != '\0'; ++p) {
        if (p[0] == ' ' && p[1] == '/' && p[2] == 'a' && p[3] == 'u') return true;
    }
    return false;
}

CUpdaterApp::CUpdaterApp() { g_instanceMapping = &m_hMapping; }

CUpdaterApp::~CUpdaterApp() {
    if (g_instanceMapping == &m_hMapping) g_instanceMapping = nullptr;
}

bool CUpdaterApp::InitInstance() {
    const bool unattended = IsUnattendedCommandLine(OsGetCommandLine());
    // An unattended run that ends here has updated nothing: its caller must not
    // read 0, the code of an updated drive.
    if (unattended) m_exitCode = 1;

    bool existed = false;
    OsHandle mapping = OsCreateSharedSection(INSTANCE_MAPPING_NAME, INSTANCE_MAPPING_SIZE, &existed);
    if (mapping == nullptr) return false;
    if (existed) {
        // Another instance runs: bring its window forward (once it has published
        // one) and end without a window, a message or a look at the mutex.
        uint32_t published = 0;
        const bool read = OsReadSharedValue(mapping, &published);
        // This process keeps no handle to the section.
        OsCloseSharedSection(mapping);
        if (read && AfxIsWindow(published)) AfxSetForegroundWindow(published);
        return false;
    }
    m_hMapping = mapping;
    AfxInitCommonControls();
    CWinApp::InitInstance();

    if (unattended) {
        m_autoDlg = new CAutoDlg();
        m_pMainWnd = m_autoDlg;
        m_autoDlg->ShowWindow(SW_HIDE);
        m_autoDlg->UpdateWindow();
        PublishWindowHandle(m_hMapping, m_autoDlg->GetSafeHwnd());
        return true;
    }

    {
        CUpdaterDlg dialog;
        m_pMainWnd = &dialog;
        dialog.DoModal();
        m_pMainWnd = nullptr;
    }
    return false;
}

int CUpdaterApp::ExitInstance() {
    if (m_autoDlg != nullptr) {
        // Its destructor restores the screen saver and frees the buffers.
        m_pMainWnd = nullptr;
        delete m_autoDlg;
        m_autoDlg = nullptr;
    }
    if (m_hMapping != nullptr) {
        OsCloseSharedSection(m_hMapping);
        m_hMapping = nullptr;
    }
    return CWinApp::ExitInstance();
}
