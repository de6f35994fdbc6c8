// One builder per command the updater sends; each returns true on SS_COMP.
#pragma once
#include <cstdint>

constexpr uint8_t BUFFER_FIRMWARE = 0xF0;
constexpr uint8_t BUFFER_ID_BLOCK = 0xF1;
constexpr uint8_t BUFFER_MODE_SWITCH = 0xFF;

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
