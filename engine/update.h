// The firmware update itself, run by the worker for OP_UPDATE: validation, drive
// preparation, the mode switch around the download of 60 blocks, the final check.
#pragma once
#include "engine/image.h"
#include "engine/worker.h"
#include "transport/discovery.h"
#include "transport/transport.h"

#include <atomic>
#include <cstdint>
#include <utility>

constexpr uint32_t MODE_SWITCH_CODE = 0x5E1A7C93;
constexpr char SWITCH_MODEL_TEXT[] = "TORVELL  WKZ-H52";  // 16 characters, sent without NUL
constexpr uint32_t MODE_SWITCH_LENGTH = 256;
constexpr uint8_t BUFFER_MODE_DOWNLOAD = 0x05;
constexpr uint32_t IMAGE_BLOCK_SIZE = 0x8000;
constexpr uint32_t IMAGE_TRANSFER_SIZE = 0x1E0000;
constexpr uint32_t IMAGE_BLOCK_COUNT = IMAGE_TRANSFER_SIZE / IMAGE_BLOCK_SIZE;  // 60
constexpr uint8_t STATE_BLANK = 0x20;
// The state byte's place in the identification block: a reply must reach it.
constexpr uint32_t STATE_BYTE_OFFSET = 32;

// What ReadDriveState reports.
constexpr int DRIVE_STATE_NOT_SHOWN = -2;  // answered, but the state byte did not arrive, or may not have
constexpr int DRIVE_STATE_NO_ANSWER = -1;  // the READ BUFFER failed
constexpr int DRIVE_STATE_BLANK = 0;
constexpr int DRIVE_STATE_SET = 1;         // any value but a blank

// The access code sent in the mode-switch block, least significant byte first.
extern uint32_t g_modeSwitchCode;

// What each dialog resets when it initialises: the ASPI probe address and the code.
void ResetCommandState();

// Whether the identification block just read holds its state byte: the reply
// reached byte 32, and that byte is not the mark of a byte that did not arrive
// (an adapter may report a short reply as whole).
bool StateByteArrived();
// Reads the identification block and tells its state byte: DRIVE_STATE_BLANK,
// DRIVE_STATE_SET, or why there is none to tell (the read failed; or the drive
// answered but its reply ended before byte 32).
int ReadDriveState();
// Runs `ask` with the commands going to a fresh open of the drive, closed again
// afterwards; g_hDevice is as it was. False, and `ask` not run, when the drive does
// not open.
template <typename Ask>
bool AskOnFreshOpen(char driveLetter, Ask ask) {
    OsHandle handle = OpenDevice(driveLetter);
    if (!handle) return false;
    std::swap(handle, g_hDevice);
    ask();
    std::swap(handle, g_hDevice);
    CloseDevice(handle);
    return true;
}
// What a drive tells of its firmware when asked once (ReadFirmwarePresence).
constexpr int FIRMWARE_PRESENT = 0;  // its state byte is set and it reports a valid revision
constexpr int FIRMWARE_ABSENT = 1;   // its state byte is blank, or its revision is none (not four visible characters, or "0000")
constexpr int FIRMWARE_UNTOLD = 2;   // it did not answer, or its replies stopped short of the bytes that tell
// Asks the drive on g_hDevice for its identification block and its INQUIRY, as a
// drive an update stopped half-way through must be judged: by what it reports, not
// by what was sent to it.
int ReadFirmwarePresence();
// What identifies a drive as it was judged: its INQUIRY up to the date and its
// identification block, each as far as it arrived.
struct DriveIdentity {
    uint8_t inquiry[INQUIRY_DATE_END];
    uint32_t inquiryLength;
    uint8_t idBlock[DRIVE_ID_BLOCK_LENGTH];
    uint32_t idBlockLength;
};
// Reads both from the drive on g_hDevice; false when either command fails.
bool ReadDriveIdentity(DriveIdentity* identity);
bool SameIdentity(const DriveIdentity& a, const DriveIdentity& b);
// Sends the 256-byte mode-switch block from g_dataOut; bytes 20..255 go out as the
// buffer holds them. True when the drive accepted it.
bool SendModeSwitch();
// The state check, the first mode switch, NOTIFY_TRANSFER_STARTED, the 60 blocks
// straight from the image validation holds (g_hImage), the last mode switch and the
// final state check. An image that no longer digests as validated shows
// IDS_INCOMPATIBLE_IMAGE: found before the state check, nothing more is sent; found
// after the blocks, the final switch is not.
int DownloadImage(WorkerHost& owner);
// What a drive reports once it answers again after an update (ConfirmFirmware).
constexpr int CONFIRM_NEW = 0;        // the image's revision and date
constexpr int CONFIRM_OLD = 1;        // the revision and date it had before
constexpr int CONFIRM_OTHER = 2;      // anything else, or a revision or date that did not arrive
constexpr int CONFIRM_NO_ANSWER = 3;  // no INQUIRY answered within the bound

// How long ConfirmFirmware waits by default for a drive that restarts into its new
// firmware (a real one takes seconds; over USB it may appear anew), and how often
// it asks.
constexpr uint32_t CONFIRM_WAIT_MS = 60000;
constexpr uint32_t CONFIRM_ASK_EVERY_MS = 1000;

// After an update the sequence called a success: asks the drive at `driveLetter`
// for its INQUIRY, on a handle of its own opened anew for each try, every
// CONFIRM_ASK_EVERY_MS until one is answered or `waitMs` has passed, and tells
// what it reports against `judged` (the record the version check filled: the
// drive's revision and date before, the image's). `*now` gets the drive's side.
int ConfirmFirmware(char driveLetter, const VersionRecord& judged, uint32_t waitMs, VersionRecord* now);

// True while RunUpdate runs, on whichever thread.
extern std::atomic<bool> g_updateRunning;

// The whole update; 1 on success. Shows its own messages owned by `owner`. The image
// is held from validation to the end and closed on return; once it is valid, sleep
// and shutdown are held off (OsInhibit) until the update has ended. From its start,
// signals that would end or stop the process are held back (OsHoldSignals), and
// stay held after it returns: the program releases them (OsReleaseSignals) once it
// has reported and logged the outcome.
int RunUpdate(WorkerHost& owner);
