#include "engine/update.h"

#include "commands/commands.h"
#include "engine/image.h"
#include "engine/messages.h"
#include "os/file.h"
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
    if (!CmdReadBuffer(BUFFER_ID_BLOCK, BUFFER_MODE_ID_BLOCK, 0, DRIVE_ID_BLOCK_LENGTH))
        return DRIVE_STATE_NO_ANSWER;
    // Byte 32 of a shorter reply is an earlier command's.
    if (g_bytesTransferred <= STATE_BYTE_OFFSET) return DRIVE_STATE_NOT_SHOWN;
    return g_dataIn[STATE_BYTE_OFFSET] == STATE_BLANK ? DRIVE_STATE_BLANK : DRIVE_STATE_SET;
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
    const int state = ReadDriveState();
    if (state != DRIVE_STATE_BLANK && state != DRIVE_STATE_SET) return 0;
    if (state == DRIVE_STATE_SET && !SendModeSwitch()) {
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
    // A drive that no longer answers has restarted into the new firmware; one that
    // answers has shown success only with a state byte that is not a blank.
    const int lastState = ReadDriveState();
    return lastState == DRIVE_STATE_SET || lastState == DRIVE_STATE_NO_ANSWER ? 1 : 0;
}

int RunUpdate(WorkerHost& owner) {
    if (!ValidateImage(owner)) return 0;
    CmdTestUnitReady();
    CmdTestUnitReady();
    if (!CmdStartStopUnit(1) && GetSenseClass() != SENSE_NO_MEDIUM) return 0;
    return DownloadImage(owner);
}
