#include "ui/updater_common.h"

#include "engine/messages.h"
#include "engine/update.h"
#include "os/named.h"
#include "os/session.h"
#include "os/time.h"
#include "res/resource.h"
#include "transport/transport.h"

#include <string>

OsHandle* g_instanceMapping = nullptr;

namespace {
void SwitchScreenSaverOff(CWnd& owner, int* wasActive) {
    int active = 0;
    if (!OsSession().GetScreenSaverActive(&active)) {
        owner.MessageBox("FALSE", "FALSE", MB_OK);
        return;
    }
    *wasActive = active;
    if (active == 1) OsSession().SetScreenSaverActive(false);
}

void RestoreScreenSaver(int wasActive) {
    if (wasActive == 1) OsSession().SetScreenSaverActive(true);
}
}  // namespace

void PublishWindowHandle(OsHandle mapping, WindowHandle hwnd) {
    if (mapping == nullptr || !AfxIsWindow(hwnd)) return;
    OsPublishSharedValue(mapping, hwnd);  // a view that cannot be mapped: not published
}

bool BeginUpdaterStartUp(CWnd& dialog, int* screenSaverWasActive) {
    if (!TakeUpdaterMutex()) return false;
    SwitchScreenSaverOff(dialog, screenSaverWasActive);
    return StartEngine();
}

bool RefuseSuspend(unsigned message, uintptr_t wParam, intptr_t* result) {
    if (message != WM_POWERBROADCAST || wParam != PBT_APMQUERYSUSPEND) return false;
    *result = BROADCAST_QUERY_DENY;
    return true;
}

bool TakeWorkerReport(intptr_t lParam) { return lParam != LPARAM_WORKER_ENDED || HandleWorkerEndedReport(); }

bool AllowEndOfSession(WorkerHost& dialog, int endSessionAllowed) {
    if (endSessionAllowed != 0) return true;
    ShowEngineMessage(dialog, IDS_END_SESSION_REFUSED, std::string(), MB_ICONEXCLAMATION);
    return false;
}

void EndUpdaterSession(int screenSaverWasActive) {
    WaitForWorker(OS_WAIT_FOREVER);
    CloseDevice(g_hDevice);
    FreeTransferBuffers();
    RestoreScreenSaver(screenSaverWasActive);
}
