// One builder per command the updater sends; each returns true on SS_COMP.
#pragma once
#include <cstdint>

// Operation codes, named as sg3_utils names them.
constexpr uint8_t TUR_CMD = 0x00;              // TEST UNIT READY
constexpr uint8_t INQUIRY_CMD = 0x12;
constexpr uint8_t START_STOP_CMD = 0x1B;       // START STOP UNIT
constexpr uint8_t WRITE_BUFFER_CMD = 0x3B;
constexpr uint8_t READ_BUFFER_CMD = 0x3C;
constexpr uint8_t READ_TOC_CMD = 0x43;         // READ TOC/PMA/ATIP
constexpr uint8_t GET_EVENT_STATUS_CMD = 0x4A; // GET EVENT STATUS NOTIFICATION
constexpr uint8_t READ_DISC_INFO_CMD = 0x51;   // READ DISC INFORMATION
constexpr uint8_t READ_TRACK_INFO_CMD = 0x52;  // READ TRACK INFORMATION

// The drive maker's buffers, and the READ BUFFER mode of the identification block.
constexpr uint8_t BUFFER_FIRMWARE = 0xF0;
constexpr uint8_t BUFFER_ID_BLOCK = 0xF1;
constexpr uint8_t BUFFER_MODE_SWITCH = 0xFF;
constexpr uint8_t BUFFER_MODE_ID_BLOCK = 0x02;

bool CmdTestUnitReady();
bool CmdInquiry(uint8_t allocationLength);
bool CmdScanInquiry();
bool CmdStartStopUnit(int eject);
bool CmdReadBuffer(uint8_t bufferId, uint8_t mode, uint32_t offset, uint32_t length);
bool CmdScanReadIdBlock();
bool CmdWriteBuffer(uint8_t bufferId, uint8_t mode, uint32_t offset, uint32_t length);
bool CmdReadToc();
bool CmdGetEventStatus();
bool CmdReadDiscInfo();
bool CmdReadTrackInfo(uint8_t addressType, uint32_t address, uint32_t allocationLength);
