// The command builders: each lays out its CDB and hands it to the executor of the
// active transport.
#include "commands/commands.h"

#include "transport/aspi.h"
#include "transport/transport.h"

namespace {

// Which ASPI executors a command takes: the selected drive's or discovery's
// probe address. Over SPTI the open handle decides the drive either way.
enum class Address { Selected, Probe };

struct Cdb {
    uint8_t b[12] = {};
};

void PutBig24(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 16);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value);
}

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
    cdb.b[0] = 0x00;
    return Send(6, DIR_NONE, 0, cdb);
}

bool CmdInquiry(uint8_t allocationLength) {
    Cdb cdb;
    cdb.b[0] = 0x12;
    cdb.b[4] = allocationLength;
    return Send(6, DIR_IN, allocationLength, cdb);
}

bool CmdScanInquiry() {
    Cdb cdb;
    cdb.b[0] = 0x12;
    cdb.b[4] = 0xFE;
    return Send(6, DIR_IN, 0xFE, cdb, Address::Probe);
}

bool CmdStartStopUnit(int eject) {
    Cdb cdb;
    cdb.b[0] = 0x1B;
    cdb.b[4] = static_cast<uint8_t>((eject & 1) << 1);  // LoEj; Start stays 0
    return Send(6, DIR_NONE, 0, cdb);
}

bool CmdReadBuffer(uint8_t bufferId, uint8_t mode, uint32_t offset, uint32_t length) {
    if (offset > kField24 || length > kField24) return Refuse();
    return Send(12, DIR_IN, length, BufferCdb(0x3C, bufferId, mode, offset, length));
}

bool CmdScanReadIdBlock() {
    Cdb cdb;
    cdb.b[0] = 0x3C;
    cdb.b[1] = 0x02;
    cdb.b[2] = 0xF1;
    cdb.b[8] = 0x30;
    return Send(12, DIR_IN, 0x30, cdb, Address::Probe);
}

bool CmdWriteBuffer(uint8_t bufferId, uint8_t mode, uint32_t offset, uint32_t length) {
    if (offset > kField24 || length > kField24) return Refuse();
    return Send(12, DIR_OUT, length, BufferCdb(0x3B, bufferId, mode, offset, length));
}

bool CmdReadToc() {
    Cdb cdb;
    cdb.b[0] = 0x43;
    cdb.b[6] = 0x01;
    cdb.b[8] = 0x30;
    return Send(10, DIR_IN, 0x30, cdb);
}

bool CmdGetEventStatus() {
    Cdb cdb;
    cdb.b[0] = 0x4A;
    cdb.b[4] = 0x10;  // media event class; Polled (byte 1) stays clear
    cdb.b[8] = 0x08;
    return Send(10, DIR_IN, 8, cdb);
}

bool CmdReadDiscInfo() {
    Cdb cdb;
    cdb.b[0] = 0x51;
    cdb.b[8] = 0x22;
    return Send(10, DIR_IN, 0x22, cdb);
}

bool CmdReadTrackInfo(uint8_t addressType, uint32_t address, uint32_t allocationLength) {
    if (allocationLength > kField16) return Refuse();
    Cdb cdb;
    cdb.b[0] = 0x52;
    cdb.b[1] = addressType;
    cdb.b[2] = static_cast<uint8_t>(address >> 24);
    cdb.b[3] = static_cast<uint8_t>(address >> 16);
    cdb.b[4] = static_cast<uint8_t>(address >> 8);
    cdb.b[5] = static_cast<uint8_t>(address);
    cdb.b[7] = static_cast<uint8_t>(allocationLength >> 8);
    cdb.b[8] = static_cast<uint8_t>(allocationLength);
    return Send(12, DIR_IN, allocationLength, cdb);
}
