// Win32 back-end: the application's message loop and the process entry point.
#include "ui/framework/win32/win32.h"

int CWinApp::Run() {
    MSG msg;
    for (;;) {
        BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            m_exitCode = static_cast<int>(msg.wParam);
            break;
        }
        if (got == -1) {
            m_exitCode = 1;
            break;
        }
        win32::TranslateAndDispatch(msg);
    }
    return ExitInstance();
}

UiIcon CWinApp::LoadIcon(unsigned id) const {
    return ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id));
}

void AfxPostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }
void AfxInitCommonControls() { ::InitCommonControls(); }

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return AfxWinMain(); }
