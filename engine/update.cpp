#include "engine/update.h"

#include "commands/commands.h"
#include "engine/image.h"
#include "engine/messages.h"
#include "os/file.h"
#include "os/guard.h"
#include "os/inhibit.h"
#include "os/time.h"
#include "transport/aspi.h"
#include "transport/discovery.h"
#include "transport/transport.h"

#include <algorithm>
#include <cstring>

uint32_t g_modeSwitchCode = MODE_SWITCH_CODE;
std::atomic<bool> g_updateRunning{false};

void ResetCommandState() {
    g_scanHaId = 0;
    g_scanTarget = 0;
    g_scanLun = 0;
    g_modeSwitchCode = MODE_SWITCH_CODE;
}

bool StateByteArrived() {
    return g_bytesTransferred > STATE_BYTE_OFFSET && g_dataIn[STATE_BYTE_OFFSET] != REPLY_NOT_ARRIVED;
}

int ReadDriveState() {
    if (!CmdReadBuffer(BUFFER_ID_BLOCK, BUFFER_MODE_ID_BLOCK, 0, DRIVE_ID_BLOCK_LENGTH))
        return g_transferUnknown ? DRIVE_STATE_NOT_SHOWN : DRIVE_STATE_NO_ANSWER;
    // A drive's own FFh in the state byte is refused with a byte that did not
    // arrive: safe either way, as neither a mode switch nor a success follows.
    if (!StateByteArrived()) return DRIVE_STATE_NOT_SHOWN;
    return g_dataIn[STATE_BYTE_OFFSET] == STATE_BLANK ? DRIVE_STATE_BLANK : DRIVE_STATE_SET;
}

bool SendModeSwitch() {
    std::memcpy(g_dataOut, SWITCH_MODEL_TEXT, 16);
    for (int i = 0; i < 4; ++i) g_dataOut[16 + i] = static_cast<uint8_t>(g_modeSwitchCode >> (8 * i));
    return CmdWriteBuffer(BUFFER_MODE_SWITCH, BUFFER_MODE_DOWNLOAD, 0, MODE_SWITCH_LENGTH);
}

namespace {

// Sends the 60 blocks from the held image, from its start, and digests them as
// sent. A block that cannot be read in full fails silently; one the drive refuses
// shows the command report.
bool SendImageBlocks(WorkerHost& owner, ImageDigest* sent) {
    *sent = IMAGE_DIGEST_START;
    if (!OsSeekFile(g_hImage, 0)) return false;
    for (uint32_t n = 0; n < IMAGE_BLOCK_COUNT; ++n) {
        uint32_t got = 0;
        if (!OsReadFile(g_hImage, g_dataOut, IMAGE_BLOCK_SIZE, &got) || got != IMAGE_BLOCK_SIZE) {
            return false;
        }
        DigestBytes(*sent, g_dataOut, IMAGE_BLOCK_SIZE);
        if (!CmdWriteBuffer(BUFFER_FIRMWARE, BUFFER_MODE_DOWNLOAD, n * IMAGE_BLOCK_SIZE,
                            IMAGE_BLOCK_SIZE)) {
            ShowCommandError(owner);
            return false;
        }
    }
    return true;
}

// The held image reads back otherwise than validation read it: held as it is, a
// fault of the system's, never another process's change; nothing more is sent.
int ImageChanged(WorkerHost& owner) {
    ShowEngineMessage(owner, IDS_INCOMPATIBLE_IMAGE, std::string(), MB_ICONHAND);
    return 0;
}

// Everything after the validation: the drive's preparation and the download.
int PrepareAndDownload(WorkerHost& owner) {
    CmdTestUnitReady();
    CmdTestUnitReady();
    if (!owner.MayChangeTheDrive()) return 0;
    if (!CmdStartStopUnit(1) && GetSenseClass() != SENSE_NO_MEDIUM) return 0;
    return DownloadImage(owner);
}

}  // namespace

int DownloadImage(WorkerHost& owner) {
    // Checked before anything of the download is sent, and again before the final switch.
    ImageDigest digest = {};
    if (g_hImage == nullptr || !DigestImage(g_hImage, &digest) || digest != g_imageDigest)
        return ImageChanged(owner);

    const int state = ReadDriveState();
    if (state != DRIVE_STATE_BLANK && state != DRIVE_STATE_SET) return 0;
    if (state == DRIVE_STATE_SET && !SendModeSwitch()) {
        ShowCommandError(owner);
        return 0;
    }
    owner.PostWorkerNotify(NOTIFY_TRANSFER_STARTED, 0);

    if (!SendImageBlocks(owner, &digest)) return 0;
    // Only the bytes validated may be switched in.
    if (digest != g_imageDigest) return ImageChanged(owner);

    if (!SendModeSwitch()) {
        ShowCommandError(owner);
        return 0;
    }
    // A drive that no longer answers has restarted into the new firmware; one that
    // answers has shown success only with a state byte that is not a blank.
    const int lastState = ReadDriveState();
    return lastState == DRIVE_STATE_SET || lastState == DRIVE_STATE_NO_ANSWER ? 1 : 0;
}

bool ReadDriveIdentity(DriveIdentity* identity) {
    *identity = DriveIdentity();
    if (!CmdInquiry(INQUIRY_LENGTH)) return false;
    identity->inquiryLength = std::min<uint32_t>(g_bytesTransferred, sizeof identity->inquiry);
    std::memcpy(identity->inquiry, g_dataIn, identity->inquiryLength);
    if (!CmdReadBuffer(BUFFER_ID_BLOCK, BUFFER_MODE_ID_BLOCK, 0, DRIVE_ID_BLOCK_LENGTH)) return false;
    identity->idBlockLength = std::min<uint32_t>(g_bytesTransferred, sizeof identity->idBlock);
    std::memcpy(identity->idBlock, g_dataIn, identity->idBlockLength);
    return true;
}

bool SameIdentity(const DriveIdentity& a, const DriveIdentity& b) {
    return a.inquiryLength == b.inquiryLength && a.idBlockLength == b.idBlockLength &&
           std::memcmp(a.inquiry, b.inquiry, a.inquiryLength) == 0 &&
           std::memcmp(a.idBlock, b.idBlock, a.idBlockLength) == 0;
}

int ReadFirmwarePresence() {
    const int state = ReadDriveState();
    VersionRecord now{};
    if (CmdInquiry(INQUIRY_LENGTH)) FillDriveVersion(g_dataIn, g_bytesTransferred, now);
    bool validRevision = now.revisionArrived && std::strlen(now.currentVersion) == 4 &&
                         std::strcmp(now.currentVersion, "0000") != 0;
    for (const char* p = now.currentVersion; validRevision && *p; ++p) validRevision = *p > ' ' && *p <= '~';
    if (state == DRIVE_STATE_BLANK || (now.revisionArrived && !validRevision)) return FIRMWARE_ABSENT;
    if (state == DRIVE_STATE_SET && validRevision) return FIRMWARE_PRESENT;
    return FIRMWARE_UNTOLD;
}

int ConfirmFirmware(char driveLetter, const VersionRecord& judged, uint32_t waitMs, VersionRecord* now) {
    *now = VersionRecord();
    const uint64_t start = OsTime().NowMs();
    for (;;) {
        bool answered = false;
        uint32_t arrived = 0;
        AskOnFreshOpen(driveLetter, [&] {
            answered = CmdInquiry(INQUIRY_LENGTH);
            arrived = answered ? g_bytesTransferred : 0;
        });
        if (answered) {
            FillDriveVersion(g_dataIn, arrived, *now);
            if (!now->revisionArrived || !now->dateArrived) return CONFIRM_OTHER;
            const auto same = [](const char* a, const char* b) { return std::strcmp(a, b) == 0; };
            if (same(now->currentVersion, judged.imageVersion) && same(now->driveDate, judged.imageDate))
                return CONFIRM_NEW;
            if (same(now->currentVersion, judged.currentVersion) && same(now->driveDate, judged.driveDate))
                return CONFIRM_OLD;
            return CONFIRM_OTHER;
        }
        if (OsTime().NowMs() - start >= waitMs) return CONFIRM_NO_ANSWER;
        OsTime().Sleep(CONFIRM_ASK_EVERY_MS);
    }
}

namespace {

// Marks the update from its first step to its last. Nothing may end or stop the
// process meanwhile (a drive left in download mode does not start again), nor
// before the outcome has been told: the signals held here are released by the
// program once it has reported and logged the outcome (OsReleaseSignals).
class UpdateMark {
public:
    UpdateMark() {
        OsHoldSignals();
        g_updateRunning = true;
    }
    ~UpdateMark() { g_updateRunning = false; }
    UpdateMark(const UpdateMark&) = delete;
    UpdateMark& operator=(const UpdateMark&) = delete;
};

}  // namespace

int RunUpdate(WorkerHost& owner) {
    UpdateMark mark;
    int updated = 0;
    if (ValidateImage(owner)) {
        // A machine that sleeps or powers off mid-download leaves the drive as
        // unusable as a killed process does: held off from before the first command
        // that changes the drive (the eject) until the update has ended, either way.
        OsInhibit().Hold();
        updated = PrepareAndDownload(owner);
        OsInhibit().Release();
    }
    CloseImage();
    return updated;
}
