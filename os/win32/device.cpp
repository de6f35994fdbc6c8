// SCSI pass-through on Windows: IOCTL_SCSI_PASS_THROUGH_DIRECT on "\\.\X:".
#include "os/device.h"
#include "os/system_ports.h"
#include "os/win32/win32_api.h"

#include <cstddef>
#include <winioctl.h>  // left out by WIN32_LEAN_AND_MEAN, needed by the next
#include <ntddscsi.h>

// The record we fill must be the one the system reads, field for field, in each
// bitness (a 32-bit process: 44 bytes; 64-bit: 56).
static_assert(sizeof(ScsiPassThroughDirect) == sizeof(SCSI_PASS_THROUGH_DIRECT), "record size");
static_assert(offsetof(ScsiPassThroughDirect, Length) == offsetof(SCSI_PASS_THROUGH_DIRECT, Length), "Length");
static_assert(offsetof(ScsiPassThroughDirect, ScsiStatus) == offsetof(SCSI_PASS_THROUGH_DIRECT, ScsiStatus), "ScsiStatus");
static_assert(offsetof(ScsiPassThroughDirect, PathId) == offsetof(SCSI_PASS_THROUGH_DIRECT, PathId), "PathId");
static_assert(offsetof(ScsiPassThroughDirect, TargetId) == offsetof(SCSI_PASS_THROUGH_DIRECT, TargetId), "TargetId");
static_assert(offsetof(ScsiPassThroughDirect, Lun) == offsetof(SCSI_PASS_THROUGH_DIRECT, Lun), "Lun");
static_assert(offsetof(ScsiPassThroughDirect, CdbLength) == offsetof(SCSI_PASS_THROUGH_DIRECT, CdbLength), "CdbLength");
static_assert(offsetof(ScsiPassThroughDirect, SenseInfoLength) == offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoLength),
              "SenseInfoLength");
static_assert(offsetof(ScsiPassThroughDirect, DataIn) == offsetof(SCSI_PASS_THROUGH_DIRECT, DataIn), "DataIn");
static_assert(offsetof(ScsiPassThroughDirect, DataTransferLength) ==
                  offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength),
              "DataTransferLength");
static_assert(offsetof(ScsiPassThroughDirect, TimeOutValue) == offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue),
              "TimeOutValue");
static_assert(offsetof(ScsiPassThroughDirect, DataBuffer) == offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer),
              "DataBuffer");
static_assert(offsetof(ScsiPassThroughDirect, SenseInfoOffset) == offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset),
              "SenseInfoOffset");
static_assert(offsetof(ScsiPassThroughDirect, Cdb) == offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb), "Cdb");
static_assert(sizeof(((SCSI_PASS_THROUGH_DIRECT*)nullptr)->Cdb) == sizeof(((ScsiPassThroughDirect*)nullptr)->Cdb),
              "Cdb size");
static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == IOCTL_SCSI_PASS_THROUGH_DIRECT_CODE, "control code");
static_assert(SCSI_IOCTL_DATA_IN == SPTD_DATA_IN && SCSI_IOCTL_DATA_OUT == SPTD_DATA_OUT, "directions");

namespace {
class Win32Devices : public DevicePort {
public:
    OsHandle Open(char driveLetter) override {
        const bool letter = (driveLetter >= 'A' && driveLetter <= 'Z') || (driveLetter >= 'a' && driveLetter <= 'z');
        if (!letter) return nullptr;
        char name[256] = "\\\\.\\";
        name[4] = driveLetter;
        name[5] = ':';
        HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        return h == INVALID_HANDLE_VALUE ? nullptr : h;
    }

    void Close(OsHandle device) override {
        if (device) CloseHandle(device);
    }

    bool PassThrough(OsHandle device, SptdBuffer* buffer) override {
        if (!device || !buffer) return false;
        DWORD returned = 0;
        // The same buffer in and out: the system (and Wine) writes the status and
        // the sense bytes back into it.
        return DeviceIoControl(device, IOCTL_SCSI_PASS_THROUGH_DIRECT, buffer, sizeof(SptdBuffer), buffer,
                               sizeof(SptdBuffer), &returned, nullptr) != FALSE;
    }
};

// Built before any thread starts: no first-use guard for two threads to race on.
Win32Devices g_systemDevices;
}  // namespace

DevicePort& SystemDevices() { return g_systemDevices; }
