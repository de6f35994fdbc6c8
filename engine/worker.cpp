#include "engine/worker.h"

#include "commands/commands.h"
#include "engine/session.h"
#include "engine/update.h"
#include "os/time.h"
#include "transport/transport.h"

#include <atomic>
#include <cstring>

uint32_t g_workerOp = 0;
uint8_t g_inquiryData[INQUIRY_LENGTH];
uint32_t g_inquiryLength = 0;
int g_discPresent = 0;
char g_imagePath[IMAGE_PATH_SIZE];

namespace {

// The one worker: what it was asked to do, and its thread until someone has seen
// it end. Both are touched only by the thread that starts workers (the dialog's).
struct WorkerRun {
    WorkerHost* host;
    uint32_t op;
};
WorkerRun s_run;
OsHandle s_thread = nullptr;
// Set by the worker right before it posts its final report, so that the dialog can
// tell that report from a stale one of an earlier worker.
std::atomic<bool> s_finalReportPosted{false};

bool EndsWithNoMedium(bool commandSucceeded) {
    return !commandSucceeded && GetSenseClass() == SENSE_NO_MEDIUM;
}

// The disc check: only a command refused for want of a medium, or media-event data
// without the media-present bit, counts as no disc.
void CheckDisc() {
    g_discPresent = 1;
    CmdReadDiscInfo();
    CmdReadTrackInfo(0, 0, 100);
    if (EndsWithNoMedium(CmdReadDiscInfo()) || EndsWithNoMedium(CmdReadTrackInfo(0, 0, 100)) ||
        EndsWithNoMedium(CmdReadToc()) || EndsWithNoMedium(CmdTestUnitReady())) {
        g_discPresent = 0;
        return;
    }
    // Only media-event data that reached byte 5 can say that no medium is there.
    if (CmdGetEventStatus() && g_bytesTransferred > 5 && (g_dataIn[5] & 0x02) == 0) g_discPresent = 0;
}

void PostFinalReport(WorkerHost* host, unsigned code) {
    s_finalReportPosted.store(true, std::memory_order_release);
    if (host != nullptr) host->PostWorkerNotify(code, LPARAM_WORKER_ENDED);
}

void WorkerThreadProc(void* arg) {
    const WorkerRun run = *static_cast<WorkerRun*>(arg);
    switch (run.op) {
    case OP_SCAN_ID_BLOCK:
        CmdScanReadIdBlock();
        break;
    case OP_SCAN_INQUIRY:
        CmdScanInquiry();
        break;
    case OP_READ_INQUIRY:
        ReadInquiry();
        PostFinalReport(run.host, NOTIFY_INQUIRY_READY);
        break;
    case OP_CHECK_DISC:
        CheckDisc();
        PostFinalReport(run.host, NOTIFY_NONE);
        break;
    case OP_UPDATE: {
        int ok = run.host != nullptr ? RunUpdate(*run.host) : 0;
        PostFinalReport(run.host, ok ? NOTIFY_UPDATE_OK : NOTIFY_UPDATE_FAILED);
        break;
    }
    default:
        break;
    }
}

}  // namespace

bool WaitForWorker(uint32_t timeoutMs) {
    if (s_thread == nullptr) return true;
    if (!OsTime().WaitThread(s_thread, timeoutMs)) return false;
    OsTime().CloseThread(s_thread);
    s_thread = nullptr;
    return true;
}

int StartWorker(WorkerHost* dialog, char driveLetter, bool wait) {
    // A worker that outlived an earlier bounded wait still owns the request record,
    // the buffers and the handle.
    WaitForWorker(OS_WAIT_FOREVER);
    if (g_transport != TRANSPORT_ASPI) {
        if (g_hDevice == nullptr)
            g_hDevice = g_workerOp == OP_UPDATE ? OpenDeviceForUpdate(driveLetter) : OpenDevice(driveLetter);
        if (g_hDevice == nullptr) return 0;
    }
    s_run.host = dialog;
    s_run.op = g_workerOp;
    s_finalReportPosted.store(false, std::memory_order_relaxed);
    s_thread = OsTime().StartThread(WorkerThreadProc, &s_run);
    if (s_thread == nullptr) return 0;
    if (wait) WaitForWorker(WORKER_WAIT_MS);
    return 1;
}

bool HandleWorkerEndedReport() {
    if (s_thread != nullptr && !s_finalReportPosted.load(std::memory_order_acquire) &&
        !WaitForWorker(0)) {
        return false;
    }
    // The running worker (if any) has posted its final report: it is ending now.
    WaitForWorker(OS_WAIT_FOREVER);
    CloseDevice(g_hDevice);
    return true;
}

bool CheckDiscPresent(WorkerHost* dialog, char driveLetter) {
    g_workerOp = OP_CHECK_DISC;
    if (!StartWorker(dialog, driveLetter, true)) return g_discPresent == 1;
    if (!WaitForWorker(0)) return true;
    return g_discPresent == 1;
}
