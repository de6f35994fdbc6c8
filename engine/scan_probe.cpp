#include "engine/scan_probe.h"

#include "os/time.h"

static_assert(SCAN_PROBE_INQUIRY == OP_SCAN_INQUIRY, "probe codes are the worker's");
static_assert(SCAN_PROBE_ID_BLOCK == OP_SCAN_ID_BLOCK, "probe codes are the worker's");

int WorkerScanHost::RunProbe(uint32_t op, char driveLetter) {
    g_workerOp = op;
    if (!StartWorker(m_dialog, driveLetter, true)) return PROBE_NOT_STARTED;
    return WaitForWorker(0) ? PROBE_DONE : PROBE_TIMED_OUT;
}

void WorkerScanHost::SettleProbe() { WaitForWorker(OS_WAIT_FOREVER); }
