// What the two updater dialogs (the main and the unattended one) do alike: their
// start-up steps up to discovery, the guards they keep while they live (no suspend,
// no end of the session before a successful update), the first step of every
// worker report, what their destructors give back, and the instance mapping's
// publishing procedure.
#pragma once
#include "engine/session.h"
#include "engine/worker.h"
#include "os/types.h"
#include "transport/discovery.h"
#include "ui/framework/afxwin.h"

#include <cstdint>

// The instance mapping's handle in the process that created it (the application
// object's m_hMapping); start-up points this at it. nullptr: nothing to publish to.
extern OsHandle* g_instanceMapping;
// The publishing procedure: stores `hwnd` at offset 0 of `mapping` and flushes it;
// nothing when the mapping is null or the window does not exist, and silently
// nothing when no view can be mapped.
void PublishWindowHandle(OsHandle mapping, WindowHandle hwnd);

// --- Start-up --------------------------------------------------------------------

// The steps both dialogs take, in this order, before they look for drives:
// - the updater mutex, taken for the rest of the process;
// - the screen saver: its state read into *screenSaverWasActive, and switched off
//   when it was on (a state that cannot be read shows the "FALSE" box owned by
//   `dialog` and leaves 0, so that nothing is restored later);
// - the transfer buffers, the engine's state and the transport.
// False when the dialog must stop without a word: another updater holds the mutex
// (or took it at the same moment), or the buffers cannot be had (nothing could be
// sent; no drive has been touched).
bool BeginUpdaterStartUp(CWnd& dialog, int* screenSaverWasActive);

// --- While the dialog lives ------------------------------------------------------

// The answer to a request to suspend the machine: refused (true, with the deny
// result in *result) for as long as an updater dialog exists.
bool RefuseSuspend(unsigned message, uintptr_t wParam, intptr_t* result);

// The first step of a worker's report, before the dialog looks at its code: a report
// that ends its worker (LPARAM_WORKER_ENDED) waits for it and closes g_hDevice. False
// for a stale report, one of a worker that another has followed since (the device
// handle is the newer one's, and the news is old): the dialog ignores it.
bool TakeWorkerReport(intptr_t lParam);

// The messages both dialogs answer before their message map, alike: a suspend
// request is refused; a worker's report that TakeWorkerReport lets through goes to
// dialog.OnWorkerReport(code). True when the message was one of these.
template <class Dialog>
bool RouteUpdaterMessage(Dialog& dialog, unsigned message, uintptr_t wParam, intptr_t lParam, intptr_t* result) {
    if (RefuseSuspend(message, wParam, result)) return true;
    if (message != WM_WORKER_NOTIFY) return false;
    *result = 0;
    if (TakeWorkerReport(lParam)) dialog.OnWorkerReport(static_cast<unsigned>(wParam));
    return true;
}

// The dialog's own answer to the end of the Windows session, once the system's has
// agreed: yes after a successful update; before it, IDS_END_SESSION_REFUSED owned
// by `dialog` and no.
bool AllowEndOfSession(WorkerHost& dialog, int endSessionAllowed);

// --- The end ---------------------------------------------------------------------

// What both destructors give back: waits for a worker that still runs (a dialog
// torn down in the middle of an operation), closes the device, frees the transfer
// buffers and switches the screen saver back on when it was on.
void EndUpdaterSession(int screenSaverWasActive);
