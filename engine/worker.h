// Lengthy drive operations run on a short-lived worker thread, one at a time, and
// report to the dialog that started them with a posted notification.
#pragma once
#include "os/message_box.h"

#include <cstdint>

constexpr uint32_t OP_SCAN_INQUIRY = 274;
constexpr uint32_t OP_SCAN_ID_BLOCK = 316;
constexpr uint32_t OP_CHECK_DISC = 1301;
constexpr uint32_t OP_READ_INQUIRY = 1302;
constexpr uint32_t OP_UPDATE = 1303;

constexpr unsigned WM_WORKER_NOTIFY = 0x8001;  // WM_APP + 1
constexpr unsigned NOTIFY_NONE = 0;
constexpr unsigned NOTIFY_UPDATE_OK = 1;
constexpr unsigned NOTIFY_UPDATE_FAILED = 2;
constexpr unsigned NOTIFY_INQUIRY_READY = 3;
constexpr unsigned NOTIFY_TRANSFER_STARTED = 4;
constexpr long LPARAM_WORKER_ENDED = 5;

constexpr uint32_t WORKER_WAIT_MS = 5000;
constexpr int INQUIRY_LENGTH = 254;
constexpr int IMAGE_PATH_SIZE = 500;

// What the worker needs of the dialog that owns it; the dialogs implement it.
class WorkerHost {
public:
    virtual ~WorkerHost() = default;
    // PostMessage(WM_WORKER_NOTIFY, code, lParam) to the dialog's window.
    virtual void PostWorkerNotify(unsigned code, long lParam) = 0;
    // A modal message box owned by the dialog's window, shown from the calling
    // (worker) thread; returns the button pressed.
    virtual int ShowMessageBox(const char* text, const char* caption, unsigned style) = 0;
    // Asked by the update right before the eject, the first command that changes
    // the drive; false ends the update there, silently. The dialogs send nothing
    // here; a host that let time pass since it identified the drive may look again.
    virtual bool MayChangeTheDrive() { return true; }
    // Told the string id of every message the engine shows, right before it is
    // shown: a host that decides by the outcome goes by the id, never by the text.
    virtual void EngineMessageShown(unsigned id) { (void)id; }
};

extern uint32_t g_workerOp;
extern uint8_t g_inquiryData[INQUIRY_LENGTH];
// How many bytes of g_inquiryData the drive returned: 0 when the INQUIRY failed.
// The rest of it is whatever the transfer buffer held before.
extern uint32_t g_inquiryLength;
extern int g_discPresent;
extern char g_imagePath[IMAGE_PATH_SIZE];

// Starts one worker for g_workerOp (opening `driveLetter` first over SPTI when
// g_hDevice is closed, for OP_UPDATE with OpenDeviceForUpdate); with `wait`, waits
// at most 5000 ms. Returns 1 when a worker
// was started. A worker still running from an earlier call is waited for first.
int StartWorker(WorkerHost* dialog, char driveLetter, bool wait);

// Waits at most `timeoutMs` (OS_WAIT_FOREVER: no limit) for the worker started
// last; true when none is running afterwards. A worker whose bounded wait timed out
// keeps the request record, the buffers and g_hDevice until it has ended: nothing
// else may touch them before this returns true.
bool WaitForWorker(uint32_t timeoutMs);

// The rule for a report whose lParam is LPARAM_WORKER_ENDED, run on the dialog's
// thread before it looks at the code: waits for the reporting worker to end and
// closes g_hDevice. Returns false, closing nothing, for a stale report: one from a
// worker that has since been followed by another that is still running (the device
// handle is that one's now); the dialog should then ignore the report.
bool HandleWorkerEndedReport();

// The disc check of the drive at `driveLetter` (opened first over SPTI when
// g_hDevice is closed), waited for at most 5000 ms. True when a disc is, or may be,
// in the drive: also when the check has not finished in time. When no worker could
// be started, the result of the previous check stands.
bool CheckDiscPresent(WorkerHost* dialog, char driveLetter);
