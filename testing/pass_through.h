// A pass-through record as the transport fills it for a command: the CDB (the
// rest of its 16 bytes zero), the direction, the data buffer, 18 bytes of sense
// wanted in the buffer's own sense area, a time-out of 120 s.
#pragma once
#include "os/sptd.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

inline SptdBuffer PassThroughRecord(std::initializer_list<uint8_t> cdb, uint8_t cdbLength, uint8_t dataIn,
                                    void* data, uint32_t length) {
    SptdBuffer b;
    std::memset(&b, 0, sizeof b);
    b.sptd.Length = sizeof(ScsiPassThroughDirect);
    b.sptd.CdbLength = cdbLength;
    b.sptd.SenseInfoLength = 18;
    b.sptd.DataIn = dataIn;
    b.sptd.DataTransferLength = length;
    b.sptd.TimeOutValue = 120;
    b.sptd.DataBuffer = data;
    b.sptd.SenseInfoOffset = SPTD_SENSE_OFFSET;
    std::copy(cdb.begin(), cdb.end(), b.sptd.Cdb);
    return b;
}
