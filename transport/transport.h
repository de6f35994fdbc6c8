// The one request interface for drive commands and the state both back-ends share.
#pragma once
#include "os/sptd.h"
#include "os/types.h"
#include <cstdint>

constexpr int TRANSPORT_ASPI = 1;
constexpr int TRANSPORT_SPTI = 2;

constexpr int DIR_OUT = 0;
constexpr int DIR_IN = 1;
constexpr int DIR_NONE = 2;

// ASPI status codes, used by both back-ends.
constexpr int SS_PENDING = 0;
constexpr int SS_COMP = 1;
constexpr int SS_ERR = 4;

constexpr uint32_t TRANSFER_BUFFER_SIZE = 0x200000;
constexpr uint32_t SPTI_TIMEOUT_SECONDS = 120;
constexpr int MAX_DEVICES = 128;

constexpr int SENSE_NONE = 0;
constexpr int SENSE_OTHER = 1;
constexpr int SENSE_NO_MEDIUM = 3;
constexpr int SENSE_BECOMING_READY = 5;
constexpr int SENSE_COMM_TIMEOUT = 6;
constexpr int SENSE_RESET = 7;
constexpr int SENSE_MEDIUM_CHANGED = 8;
constexpr int SENSE_INIT_REQUIRED = 9;
constexpr int SENSE_SELF_CONFIG_FAILED = 10;

struct DeviceEntry {
    uint8_t haId;
    uint8_t target;
    uint8_t lun;
    uint8_t driveLetter;
};

extern int g_transport;
extern uint8_t* g_dataIn;
extern uint8_t* g_dataOut;
extern int g_scsiStatus;
// The bytes the last command moved: for data-in, how many bytes of g_dataIn from
// offset 0 arrived in this call; for data-out, how many the drive took. 0 after a
// failed command. A decision may read only these bytes: the rest of the buffer
// holds whatever earlier commands left there.
extern uint32_t g_bytesTransferred;
// The last command was answered, but what it moved cannot be known: the system
// reported an impossible residual (the command itself failed, SS_ERR). Unlike a
// command the drive never answered, this is no sign of a drive restarting.
extern bool g_transferUnknown;
// What every data-in command finds in g_dataIn[0, length) before the drive
// answers. An adapter may report nothing moved short (a residual of 0 can mean
// "not reported": USB bridges with IGNORE_RESIDUE), so a byte that still holds
// this value may not have arrived: the decisions that read the revision, the
// date and the state byte take it as missing. FFh is no character of those
// texts, and it leaves the disc check at "a disc may be there".
constexpr uint8_t REPLY_NOT_ARRIVED = 0xFF;
extern DeviceEntry g_devices[MAX_DEVICES];
extern int g_selectedDevice;
extern OsHandle g_hDevice;
extern SptdBuffer g_sptd;

// The two transfer buffers: zeroed, checked. False when either cannot be had.
bool AllocateTransferBuffers();
void FreeTransferBuffers();

// Picks the transport from the platform family (loads the ASPI manager on 95/98).
void ChooseTransport();

// True on SS_COMP. A data-out command the drive did not take whole (the system
// reports fewer bytes moved than sent) is a failure: SS_ERR; so is any command
// whose reported transfer is impossible (more than was asked). A data-in command
// first fills its reply area with REPLY_NOT_ARRIVED.
bool SptiExecute6(int direction, uint32_t length, const uint8_t* cdb);
bool SptiExecute10(int direction, uint32_t length, const uint8_t* cdb);
bool SptiExecute12(int direction, uint32_t length, const uint8_t* cdb);

OsHandle OpenDevice(char driveLetter);
// The drive that is about to be updated, held by this program alone while the handle
// is open (Linux: a second such open, or a mounted disc, is refused).
OsHandle OpenDeviceForUpdate(char driveLetter);
int CloseDevice(OsHandle& handle);

// Before a data-in command of `length` bytes: g_dataIn's reply area holds
// REPLY_NOT_ARRIVED, not what an earlier command left there.
void MarkReplyNotArrived(uint32_t length);

int ClassifySense(uint8_t senseKey, uint8_t asc, uint8_t ascq);
int GetSenseClass();
