// The command builders: each lays out its CDB and hands it to the executor of the
// active transport.
#include "commands/commands.h"

#include "commands/big_endian.h"
#include "transport/aspi.h"
#include "transport/discovery.h"
#include "transport/transport.h"

namespace {

// Which ASPI executors a command takes: the selected drive's or discovery's
// probe address. Over SPTI the open handle decides the drive either way.
enum class Address { Selected, Probe };

struct Cdb {
    uint8_t b[12] = {};
};

bool Send(int cdbLength, int direction, uint32_t length, const Cdb& cdb,
          Address address = Address::Selected) {
    const uint8_t* b = cdb.b;
    if (g_transport == TRANSPORT_ASPI) {
        if (address == Address::Probe)
            return cdbLength == 6 ? AspiScanExecute6(direction, length, b)
                                  : AspiScanExecute12(direction, length, b);
        switch (cdbLength) {
        case 6: return AspiExecute6(direction, length, b);
        case 10: return AspiExecute10(direction, length, b);
        default: return AspiExecute12(direction, length, b);
        }
    }
    switch (cdbLength) {
    case 6: return SptiExecute6(direction, length, b);
    case 10: return SptiExecute10(direction, length, b);
    default: return SptiExecute12(direction, length, b);
    }
}

// A value wider than its CDB field is refused before anything is sent: dropping
// its upper bits would move a firmware block to another offset, or make the CDB
// and the transfer disagree on the length.
bool Refuse() {
    g_scsiStatus = SS_ERR;
    return false;
}

constexpr uint32_t kField24 = 0xFFFFFF;
constexpr uint32_t kField16 = 0xFFFF;

// The disc check's fixed fields: what it asks for and how many bytes it takes.
constexpr uint8_t kTocTrack = 1;
constexpr uint8_t kTocLength = 48;
constexpr uint8_t kMediaEventClass = 0x10;
constexpr uint8_t kEventStatusLength = 8;
constexpr uint8_t kDiscInfoLength = 34;

// READ BUFFER and WRITE BUFFER share one layout.
Cdb BufferCdb(uint8_t opcode, uint8_t bufferId, uint8_t mode, uint32_t offset, uint32_t length) {
    Cdb cdb;
    cdb.b[0] = opcode;
    cdb.b[1] = mode;
    cdb.b[2] = bufferId;
    PutBig24(cdb.b + 3, offset);
    PutBig24(cdb.b + 6, length);
    return cdb;
}

}  // namespace

bool CmdTestUnitReady() {
    Cdb cdb;
    cdb.b[0] = TUR_CMD;
    return Send(6, DIR_NONE, 0, cdb);
}

bool CmdInquiry(uint8_t allocationLength) {
    Cdb cdb;
    cdb.b[0] = INQUIRY_CMD;
    cdb.b[4] = allocationLength;
    return Send(6, DIR_IN, allocationLength, cdb);
}

bool CmdScanInquiry() {
    Cdb cdb;
    cdb.b[0] = INQUIRY_CMD;
    cdb.b[4] = SCAN_INQUIRY_LENGTH;
    return Send(6, DIR_IN, SCAN_INQUIRY_LENGTH, cdb, Address::Probe);
}

bool CmdStartStopUnit(int eject) {
    Cdb cdb;
    cdb.b[0] = START_STOP_CMD;
    cdb.b[4] = static_cast<uint8_t>((eject & 1) << 1);  // LoEj; Start stays 0
    return Send(6, DIR_NONE, 0, cdb);
}

bool CmdReadBuffer(uint8_t bufferId, uint8_t mode, uint32_t offset, uint32_t length) {
    if (offset > kField24 || length > kField24) return Refuse();
    return Send(12, DIR_IN, length, BufferCdb(READ_BUFFER_CMD, bufferId, mode, offset, length));
}

bool CmdScanReadIdBlock() {
    return Send(12, DIR_IN, DRIVE_ID_BLOCK_LENGTH,
                BufferCdb(READ_BUFFER_CMD, BUFFER_ID_BLOCK, BUFFER_MODE_ID_BLOCK, 0, DRIVE_ID_BLOCK_LENGTH),
                Address::Probe);
}

bool CmdWriteBuffer(uint8_t bufferId, uint8_t mode, uint32_t offset, uint32_t length) {
    if (offset > kField24 || length > kField24) return Refuse();
    return Send(12, DIR_OUT, length, BufferCdb(WRITE_BUFFER_CMD, bufferId, mode, offset, length));
}

bool CmdReadToc() {
    Cdb cdb;
    cdb.b[0] = READ_TOC_CMD;
    cdb.b[6] = kTocTrack;
    cdb.b[8] = kTocLength;
    return Send(10, DIR_IN, kTocLength, cdb);
}

bool CmdGetEventStatus() {
    Cdb cdb;
    cdb.b[0] = GET_EVENT_STATUS_CMD;
    cdb.b[4] = kMediaEventClass;  // Polled (byte 1) stays clear
    cdb.b[8] = kEventStatusLength;
    return Send(10, DIR_IN, kEventStatusLength, cdb);
}

bool CmdReadDiscInfo() {
    Cdb cdb;
    cdb.b[0] = READ_DISC_INFO_CMD;
    cdb.b[8] = kDiscInfoLength;
    return Send(10, DIR_IN, kDiscInfoLength, cdb);
}

bool CmdReadTrackInfo(uint8_t addressType, uint32_t address, uint32_t allocationLength) {
    if (allocationLength > kField16) return Refuse();
    Cdb cdb;
    cdb.b[0] = READ_TRACK_INFO_CMD;
    cdb.b[1] = addressType;
    PutBig32(cdb.b + 2, address);
    PutBig16(cdb.b + 7, allocationLength);
    return Send(12, DIR_IN, allocationLength, cdb);
}
