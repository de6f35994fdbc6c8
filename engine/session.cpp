#include "engine/session.h"

#include "commands/commands.h"
#include "engine/update.h"
#include "engine/worker.h"
#include "os/named.h"
#include "os/time.h"
#include "transport/transport.h"

#include <cstring>

namespace {
// Kept open, never released, until the process ends.
OsHandle g_updaterMutex = nullptr;
}  // namespace

bool TakeUpdaterMutex() {
    if (OsNamedMutexExists(UPDATER_MUTEX_NAME)) return false;
    OsHandle mutex = OsCreateNamedMutex(UPDATER_MUTEX_NAME);
    if (mutex == nullptr) return false;
    if (g_updaterMutex == nullptr) g_updaterMutex = mutex;
    return true;
}

bool StartEngine() {
    if (!AllocateTransferBuffers()) return false;
    ResetCommandState();
    ChooseTransport();
    return true;
}

int DiscoverDrives(ScanHost& host) {
    // A missing ASPI manager finds no adapter: no entry point is ever called.
    int (*scan)(ScanHost&) = g_transport == TRANSPORT_ASPI ? &ScanDrivesAspi : &ScanDrivesSpti;
    int count = scan(host);
    if (count == 0) {
        // A drive that is still coming up after power-on answers a moment later.
        OsTime().Sleep(DISCOVERY_RETRY_MS);
        count = scan(host);
    }
    return count;
}

void ReadInquiry() {
    g_inquiryLength = CmdInquiry(INQUIRY_LENGTH) ? g_bytesTransferred : 0;
    std::memcpy(g_inquiryData, g_dataIn, INQUIRY_LENGTH);
}
