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
// Kept open, never released, until the process ends: its existence is what stops
// a second updater.
OsHandle g_updaterMutex = nullptr;

bool TakeUpdaterMutex() {
    if (OsNamedMutexExists(UPDATER_MUTEX_NAME)) return false;
    OsHandle mutex = OsCreateNamedMutex(UPDATER_MUTEX_NAME);
    if (mutex == nullptr) return false;
    if (g_updaterMutex == nullptr) g_updaterMutex = mutex;
    return true;
}

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

int ScanWithRetry(int (*scan)(ScanHost&), ScanHost& host) {
    int count = scan(host);
    if (count == 0) {
        // A drive that is still coming up after power-on answers a moment later.
        OsTime().Sleep(DISCOVERY_RETRY_MS);
        count = scan(host);
    }
    return count;
}
}  // namespace

void PublishWindowHandle(OsHandle mapping, WindowHandle hwnd) {
    if (mapping == nullptr || !AfxIsWindow(hwnd)) return;
    OsPublishSharedValue(mapping, hwnd);  // a view that cannot be mapped: not published
}

bool BeginUpdaterStartUp(CWnd& dialog, int* screenSaverWasActive) {
    if (!TakeUpdaterMutex()) return false;
    SwitchScreenSaverOff(dialog, screenSaverWasActive);
    if (!AllocateTransferBuffers()) return false;
    ResetCommandState();
    ChooseTransport();
    return true;
}

int DiscoverDrives(ScanHost& host) {
    // A missing ASPI manager finds no adapter: no entry point is ever called.
    return ScanWithRetry(g_transport == TRANSPORT_ASPI ? &ScanDrivesAspi : &ScanDrivesSpti, host);
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
