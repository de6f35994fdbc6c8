// The probe side of drive discovery: each probe is one worker, waited for at most
// 5000 ms. The unattended dialog scans with this host as it is; the main dialog
// derives from it to fill its drive list.
#pragma once
#include "engine/worker.h"
#include "transport/discovery.h"

class WorkerScanHost : public ScanHost {
public:
    explicit WorkerScanHost(WorkerHost* dialog) : m_dialog(dialog) {}
    // A probe that is still running after its wait keeps running; the scan settles
    // it before going on (see ScanHost).
    int RunProbe(uint32_t op, char driveLetter) override;
    void SettleProbe() override;

private:
    WorkerHost* m_dialog;
};
