// The firmware update itself, run by the worker for OP_UPDATE: validation, drive
// preparation, the mode switch around the download of 60 blocks, the final check.
#pragma once
#include "engine/worker.h"
#include <cstdint>

constexpr uint32_t MODE_SWITCH_CODE = 0x5E1A7C93;
constexpr char SWITCH_MODEL_TEXT[] = "TORVELL  WKZ-H52";  // 16 characters, sent without NUL
constexpr uint32_t MODE_SWITCH_LENGTH = 256;
constexpr uint8_t BUFFER_MODE_DOWNLOAD = 0x05;
constexpr uint32_t IMAGE_BLOCK_SIZE = 0x8000;
constexpr uint32_t IMAGE_TRANSFER_SIZE = 0x1E0000;
constexpr uint32_t IMAGE_BLOCK_COUNT = IMAGE_TRANSFER_SIZE / IMAGE_BLOCK_SIZE;  // 60
constexpr uint8_t STATE_BLANK = 0x20;

// The access code sent in the mode-switch block, least significant byte first.
extern uint32_t g_modeSwitchCode;

// What each dialog resets when it initialises: the ASPI probe address and the code.
void ResetCommandState();

// -1 when the identification block cannot be read, 0 when its state byte (byte 32)
// is a blank, 1 otherwise.
int ReadDriveState();
// Sends the 256-byte mode-switch block from g_dataOut; bytes 20..255 go out as the
// buffer holds them. True when the drive accepted it.
bool SendModeSwitch();
// The state check, the first mode switch, NOTIFY_TRANSFER_STARTED, the 60 blocks
// straight from g_imagePath, the last mode switch and the final state check.
int DownloadImage(WorkerHost& owner);
// The whole update; 1 on success. Shows its own messages owned by `owner`. Once the
// image is valid, sleep and shutdown are held off (OsInhibit) until it returns.
int RunUpdate(WorkerHost& owner);
