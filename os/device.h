// SCSI pass-through to a drive opened by its letter.
#pragma once
#include "os/types.h"
#include "os/sptd.h"

// The device service: the system's by default; the emulated drive attaches
// in-process by installing its own.
class DevicePort {
public:
    virtual ~DevicePort() = default;
    // Windows: CreateFileA("\\.\X:", read|write, share read|write, OPEN_EXISTING).
    // Linux: C..Z map to /dev/sr0../dev/sr23. nullptr on failure.
    virtual OsHandle Open(char driveLetter) = 0;
    // Opens the drive that is about to be updated, held by this program alone until
    // the handle is closed. Windows: the same CreateFileA as Open. Linux: Open with
    // O_EXCL, which the kernel refuses (EBUSY) while the disc is mounted or another
    // program holds the drive exclusively; that refusal is told on standard error,
    // naming the device. nullptr on failure.
    virtual OsHandle OpenForUpdate(char driveLetter) { return Open(driveLetter); }
    // Whether the system will pass the commands that write firmware (WRITE BUFFER)
    // to `device` for this process, asked before the first command that changes the
    // drive, so that a refusal is told while nothing has been sent. Linux: a kernel
    // device needs CAP_SYS_RAWIO (the cdrom group's rights cover reading); anything
    // else, such as an emulated drive, may. Windows: the open already needed the
    // rights; true.
    virtual bool MayWriteFirmware(OsHandle /*device*/) { return true; }
    virtual void Close(OsHandle device) = 0;
    // IOCTL_SCSI_PASS_THROUGH_DIRECT with `buffer` as both input and output.
    // Returns false when the system refused the request (the call failed or the
    // transport reported an error); ScsiStatus and the sense area are then meaningless.
    // Linux: SG_IO; a record whose sense area does not lie inside the buffer after
    // the record, or whose direction or CDB length is invalid, is refused unsent.
    virtual bool PassThrough(OsHandle device, SptdBuffer* buffer) = 0;
};

DevicePort& OsDevices();
// Replaces the device service; nullptr restores the system's.
void OsSetDevices(DevicePort* port);
