#include "engine/update.h"

#include "commands/commands.h"
#include "engine/image.h"
#include "engine/messages.h"
#include "os/file.h"
#include "os/guard.h"
#include "os/inhibit.h"
#include "transport/aspi.h"
#include "transport/discovery.h"
#include "transport/transport.h"

#include <cstring>

uint32_t g_modeSwitchCode = MODE_SWITCH_CODE;

void ResetCommandState() {
    g_scanHaId = 0;
    g_scanTarget = 0;
    g_scanLun = 0;
    g_modeSwitchCode = MODE_SWITCH_CODE;
}

int ReadDriveState() {
    if (!CmdReadBuffer(BUFFER_ID_BLOCK, BUFFER_MODE_ID_BLOCK, 0, DRIVE_ID_BLOCK_LENGTH)) return -1;
    return g_dataIn[32] == STATE_BLANK ? 0 : 1;
}

bool SendModeSwitch() {
    std::memcpy(g_dataOut, SWITCH_MODEL_TEXT, 16);
    for (int i = 0; i < 4; ++i) g_dataOut[16 + i] = static_cast<uint8_t>(g_modeSwitchCode >> (8 * i));
    return CmdWriteBuffer(BUFFER_MODE_SWITCH, BUFFER_MODE_DOWNLOAD, 0, MODE_SWITCH_LENGTH);
}

namespace {

// Sends the 60 blocks from the open image. A block that cannot be read in full
// fails silently; one the drive refuses shows the command report.
bool SendImageBlocks(WorkerHost& owner, OsHandle file) {
    for (uint32_t n = 0; n < IMAGE_BLOCK_COUNT; ++n) {
        uint32_t got = 0;
        if (!OsReadFile(file, g_dataOut, IMAGE_BLOCK_SIZE, &got) || got != IMAGE_BLOCK_SIZE) {
            return false;
        }
        if (!CmdWriteBuffer(BUFFER_FIRMWARE, BUFFER_MODE_DOWNLOAD, n * IMAGE_BLOCK_SIZE,
                            IMAGE_BLOCK_SIZE)) {
            ShowCommandError(owner);
            return false;
        }
    }
    return true;
}

}  // namespace

int DownloadImage(WorkerHost& owner) {
    int state = ReadDriveState();
    if (state < 0) return 0;
    if (state == 1 && !SendModeSwitch()) {
        ShowCommandError(owner);
        return 0;
    }
    owner.PostWorkerNotify(NOTIFY_TRANSFER_STARTED, 0);

    OsHandle file = OsOpenImageFile(g_imagePath);
    if (file == nullptr) {
        ShowEngineMessage(owner, MSG_FILE_OPEN_ERROR, g_imagePath, MB_ICONHAND_STYLE);
        return 0;
    }
    bool sent = SendImageBlocks(owner, file);
    OsCloseFile(file);
    if (!sent) return 0;

    if (!SendModeSwitch()) {
        ShowCommandError(owner);
        return 0;
    }
    // A drive that no longer answers has restarted into the new firmware.
    return ReadDriveState() == 0 ? 0 : 1;
}

namespace {

constexpr char kInhibitWhy[] = "Writing the DVD-RW drive's firmware: cut off, the drive may not start again";

// Everything after the validation: the drive's preparation and the download.
int PrepareAndDownload(WorkerHost& owner) {
    CmdTestUnitReady();
    CmdTestUnitReady();
    if (!CmdStartStopUnit(1) && GetSenseClass() != SENSE_NO_MEDIUM) return 0;
    // From the first mode switch until the drive has restarted, nothing may end or
    // stop the process: a drive left in download mode does not start again.
    OsEnterDownloadMode();
    const int updated = DownloadImage(owner);
    OsLeaveDownloadMode();
    return updated;
}

}  // namespace

int RunUpdate(WorkerHost& owner) {
    if (!ValidateImage(owner)) return 0;
    // A machine that sleeps or powers off mid-download leaves the drive as unusable
    // as a killed process does: held off from before the first command that changes
    // the drive (the eject) until the update has ended, either way.
    OsInhibit().Hold(kInhibitWhy);
    const int updated = PrepareAndDownload(owner);
    OsInhibit().Release();
    return updated;
}
