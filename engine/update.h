// The firmware update itself, run by the worker for OP_UPDATE: validation, drive
// preparation, the mode switch around the download of 60 blocks, the final check.
#pragma once
#include "engine/worker.h"
#include <atomic>
#include <cstdint>

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
constexpr int DRIVE_STATE_NOT_SHOWN = -2;  // the block arrived, but ended before the state byte
constexpr int DRIVE_STATE_NO_ANSWER = -1;  // the READ BUFFER failed
constexpr int DRIVE_STATE_BLANK = 0;
constexpr int DRIVE_STATE_SET = 1;         // any value but a blank

// The access code sent in the mode-switch block, least significant byte first.
extern uint32_t g_modeSwitchCode;

// What each dialog resets when it initialises: the ASPI probe address and the code.
void ResetCommandState();

// Reads the identification block and tells its state byte: DRIVE_STATE_BLANK,
// DRIVE_STATE_SET, or why there is none to tell (the read failed; or the drive
// answered but its reply ended before byte 32).
int ReadDriveState();
// Sends the 256-byte mode-switch block from g_dataOut; bytes 20..255 go out as the
// buffer holds them. True when the drive accepted it.
bool SendModeSwitch();
// The state check, the first mode switch, NOTIFY_TRANSFER_STARTED, the 60 blocks
// straight from the image validation holds (g_hImage), the last mode switch and the
// final state check. An image that no longer digests as validated shows
// IDS_INCOMPATIBLE_IMAGE: found before the state check, nothing more is sent; found
// after the blocks, the final switch is not.
int DownloadImage(WorkerHost& owner);
// True while RunUpdate runs, on whichever thread.
extern std::atomic<bool> g_updateRunning;

// The whole update; 1 on success. Shows its own messages owned by `owner`. The image
// is held from validation to the end and closed on return; once it is valid, sleep
// and shutdown are held off (OsInhibit) until the update has ended. From its start,
// signals that would end or stop the process are held back (OsHoldSignals), and
// stay held after it returns: the program releases them (OsReleaseSignals) once it
// has reported and logged the outcome.
int RunUpdate(WorkerHost& owner);
