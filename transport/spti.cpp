// The SCSI pass-through back-end of the NT family (SG_IO on Linux, through the
// same device seam).
#include "transport/transport.h"

#include "os/device.h"

#include <cstring>

namespace {

constexpr uint8_t kSenseInfoLength = 18;

// A request the program could not hand over safely: the buffer it names is
// missing or smaller than the transfer.
bool TransferFits(int direction, uint32_t length) {
    if (length == 0) return true;
    if (length > TRANSFER_BUFFER_SIZE) return false;
    return (direction == DIR_IN ? g_dataIn : g_dataOut) != nullptr;
}

bool SptiExecute(uint8_t cdbLength, int direction, uint32_t length, const uint8_t* cdb) {
    std::memset(&g_sptd, 0, sizeof g_sptd);
    ScsiPassThroughDirect& r = g_sptd.sptd;
    r.Length = sizeof(ScsiPassThroughDirect);
    r.CdbLength = cdbLength;
    r.SenseInfoLength = kSenseInfoLength;
    r.DataTransferLength = length;
    r.TimeOutValue = SPTI_TIMEOUT_SECONDS;
    if (direction == DIR_IN) {
        r.DataIn = SPTD_DATA_IN;
        r.DataBuffer = g_dataIn;
    } else {
        // A no-data command is a data-out request of length 0.
        r.DataIn = SPTD_DATA_OUT;
        r.DataBuffer = g_dataOut;
    }
    r.SenseInfoOffset = SPTD_SENSE_OFFSET;
    std::memcpy(r.Cdb, cdb, 12);

    g_bytesTransferred = 0;
    g_transferUnknown = false;
    const bool fits = TransferFits(direction, length);
    if (fits && direction == DIR_IN) MarkReplyNotArrived(length);
    if (!fits || !OsDevices().PassThrough(g_hDevice, &g_sptd)) {
        // The request never got an answer from the drive: that is a failure, not
        // the zero status the record was filled with, and whatever the system
        // left in the sense area is no sense data of the drive's.
        std::memset(g_sptd.sense, 0, sizeof g_sptd.sense);
        g_sptd.sptd.ScsiStatus = 0;
        g_scsiStatus = SS_ERR;
        return false;
    }
    // The system writes back how much it moved (on Linux, the length less SG_IO's
    // residual). More than was asked is no transfer that happened: which bytes
    // are the drive's is unknown, whatever the status says.
    if (direction != DIR_NONE && r.DataTransferLength > length) {
        g_transferUnknown = true;
        g_scsiStatus = SS_ERR;
        return false;
    }
    g_scsiStatus = g_sptd.sptd.ScsiStatus != 0 ? SS_ERR : SS_COMP;
    if (g_scsiStatus != SS_COMP) return false;
    const uint32_t moved = r.DataTransferLength;
    if (direction == DIR_OUT && moved < length) {
        // The drive took only part of the data: what it did with a block it did
        // not take whole is unknown.
        g_scsiStatus = SS_ERR;
        return false;
    }
    g_bytesTransferred = moved;
    return true;
}

}  // namespace

bool SptiExecute6(int direction, uint32_t length, const uint8_t* cdb) {
    return SptiExecute(6, direction, length, cdb);
}

bool SptiExecute10(int direction, uint32_t length, const uint8_t* cdb) {
    return SptiExecute(10, direction, length, cdb);
}

bool SptiExecute12(int direction, uint32_t length, const uint8_t* cdb) {
    return SptiExecute(12, direction, length, cdb);
}
