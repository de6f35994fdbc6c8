// The state both back-ends share, the transport choice, the device handle and the
// classification of sense data.
#include "transport/transport.h"

#include "os/device.h"
#include "os/platform.h"
#include "transport/aspi.h"
#include "transport/last_request.h"

#include <cstdlib>
#include <cstring>

int g_transport = 0;
uint8_t* g_dataIn = nullptr;
uint8_t* g_dataOut = nullptr;
int g_scsiStatus = 0;
uint32_t g_bytesTransferred = 0;
bool g_transferUnknown = false;
DeviceEntry g_devices[MAX_DEVICES];
int g_selectedDevice = 0;
OsHandle g_hDevice = nullptr;
SptdBuffer g_sptd;

bool AllocateTransferBuffers() {
    // A second dialog initialisation keeps the buffers it already has: a pointer
    // taken from them elsewhere must not be left dangling.
    if (g_dataIn && g_dataOut) return true;
    FreeTransferBuffers();
    // Zeroed, so that no stale bytes of the heap ever reach the drive.
    g_dataIn = static_cast<uint8_t*>(std::calloc(TRANSFER_BUFFER_SIZE, 1));
    g_dataOut = static_cast<uint8_t*>(std::calloc(TRANSFER_BUFFER_SIZE, 1));
    if (g_dataIn && g_dataOut) return true;
    FreeTransferBuffers();
    return false;
}

void FreeTransferBuffers() {
    // An ASPI request that never completed may still write into them.
    if (g_srbAbandoned) return;
    std::free(g_dataIn);
    std::free(g_dataOut);
    g_dataIn = nullptr;
    g_dataOut = nullptr;
}

void ChooseTransport() {
    switch (OsPlatform().PlatformId()) {
    case OS_PLATFORM_WIN32_WINDOWS:
        LoadAspiManager();  // sets TRANSPORT_ASPI whether or not the manager is there
        break;
    case OS_PLATFORM_WIN32_NT:
        g_transport = TRANSPORT_SPTI;
        break;
    default:
        break;  // unknown family: the builders take the SPTI path
    }
}

OsHandle OpenDevice(char driveLetter) { return OsDevices().Open(driveLetter); }

OsHandle OpenDeviceForUpdate(char driveLetter) { return OsDevices().OpenForUpdate(driveLetter); }

int CloseDevice(OsHandle& handle) {
    if (handle) OsDevices().Close(handle);
    handle = nullptr;
    return 1;
}

void MarkReplyNotArrived(uint32_t length) {
    if (g_dataIn && length > 0) std::memset(g_dataIn, REPLY_NOT_ARRIVED, length);
}

int ClassifySense(uint8_t senseKey, uint8_t asc, uint8_t ascq) {
    // The key byte is compared whole: a flag bit set (ILI, EOM, FILEMARK) is not
    // the plain condition.
    switch (senseKey) {
    case 0x00:
        return (asc == 0 && ascq == 0) ? SENSE_NONE : SENSE_OTHER;
    case 0x02:
        if (asc == 0x04 && ascq == 0x01) return SENSE_BECOMING_READY;
        if (asc == 0x04 && ascq == 0x02) return SENSE_INIT_REQUIRED;
        if (asc == 0x3A && ascq <= 0x02) return SENSE_NO_MEDIUM;
        break;
    case 0x04:
        if (asc == 0x08 && ascq == 0x01) return SENSE_COMM_TIMEOUT;
        if (asc == 0x4C && ascq == 0x00) return SENSE_SELF_CONFIG_FAILED;
        break;
    case 0x06:
        if (asc == 0x28 && ascq == 0x00) return SENSE_MEDIUM_CHANGED;
        if (asc == 0x29 && ascq == 0x00) return SENSE_RESET;
        break;
    default:
        break;
    }
    return SENSE_OTHER;
}

const uint8_t* LastCdbBytes() {
    return g_transport == TRANSPORT_ASPI ? g_srb.CDBByte : g_sptd.sptd.Cdb;
}

const uint8_t* LastSenseBytes() {
    return g_transport == TRANSPORT_ASPI ? g_srb.SenseArea : g_sptd.sense;
}

int GetSenseClass() {
    const uint8_t* sense = LastSenseBytes();
    return ClassifySense(sense[2], sense[12], sense[13]);
}
