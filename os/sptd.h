// The system's SCSI_PASS_THROUGH_DIRECT record and the buffer that carries it
// together with its sense area, laid out as the system lays it out for each bitness.
#pragma once
#include <cstddef>
#include <cstdint>

struct ScsiPassThroughDirect {
    uint16_t Length;
    uint8_t  ScsiStatus;
    uint8_t  PathId;
    uint8_t  TargetId;
    uint8_t  Lun;
    uint8_t  CdbLength;
    uint8_t  SenseInfoLength;
    uint8_t  DataIn;
    uint32_t DataTransferLength;
    uint32_t TimeOutValue;
    void*    DataBuffer;
    uint32_t SenseInfoOffset;
    uint8_t  Cdb[16];
};

// Record, one filler word, then the sense area: 80 bytes with the sense at 48 in a
// 32-bit process (56/60/96 in a 64-bit one).
struct SptdBuffer {
    ScsiPassThroughDirect sptd;
    uint32_t filler;
    uint8_t  sense[32];
};

constexpr uint8_t  SPTD_DATA_OUT = 0;
constexpr uint8_t  SPTD_DATA_IN = 1;
constexpr uint32_t IOCTL_SCSI_PASS_THROUGH_DIRECT_CODE = 0x4D014;
constexpr uint32_t SPTD_SENSE_OFFSET = offsetof(SptdBuffer, sense);

static_assert(sizeof(void*) != 4 || sizeof(ScsiPassThroughDirect) == 44, "32-bit record is 44 bytes");
static_assert(sizeof(void*) != 4 || SPTD_SENSE_OFFSET == 48, "32-bit sense area sits at 48");
static_assert(sizeof(void*) != 4 || sizeof(SptdBuffer) == 80, "32-bit buffer is 80 bytes");
