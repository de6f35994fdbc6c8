// SCSI pass-through on Linux: the Windows record translated to an SG_IO request
// on the sr device that stands for the drive letter.
#include "os/device.h"
#include "os/linux/linux_internal.h"
#include "os/system_ports.h"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/capability.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
constexpr unsigned kDriverSense = 0x08;  // sense data follows: the drive answered
constexpr unsigned kDriverMask = 0x0F;   // the upper bits are only suggestions
}  // namespace

bool HasEffectiveCapability(int capability) {
    // capget directly: the C library has no wrapper, and libcap is not worth a
    // dependency for one bit.
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    const unsigned word = static_cast<unsigned>(capability) / 32;
    return word < _LINUX_CAPABILITY_U32S_3 && (data[word].effective >> (capability % 32) & 1u) != 0;
}

std::string DevicePathForLetter(char driveLetter) {
    char upper = (driveLetter >= 'a' && driveLetter <= 'z') ? static_cast<char>(driveLetter - 'a' + 'A') : driveLetter;
    if (upper < 'C' || upper > 'Z') return "";
    return "/dev/sr" + std::to_string(upper - 'C');
}

char DriveLetterForDevicePath(const char* path) {
    const char prefix[] = "/dev/sr";
    if (std::strncmp(path, prefix, sizeof prefix - 1) != 0) return 0;
    const char* digits = path + sizeof prefix - 1;
    if (*digits < '0' || *digits > '9' || std::strlen(digits) > 2) return 0;
    if (digits[0] == '0' && digits[1] != '\0') return 0;
    char* end = nullptr;
    const long n = std::strtol(digits, &end, 10);
    if (*end != '\0' || n < 0 || n > 23) return 0;
    return static_cast<char>('C' + n);
}

bool SgRequestFromSptd(SptdBuffer* buffer, sg_io_hdr* hdr) {
    ScsiPassThroughDirect& sptd = buffer->sptd;
    if (sptd.CdbLength < 1 || sptd.CdbLength > sizeof sptd.Cdb) return false;
    if (sptd.DataIn != SPTD_DATA_IN && sptd.DataIn != SPTD_DATA_OUT) return false;
    if (sptd.DataTransferLength > 0 && sptd.DataBuffer == nullptr) return false;
    // The system writes the sense bytes there: they must neither run past the
    // buffer nor land on the record itself.
    if (sptd.SenseInfoLength > 0 &&
        (sptd.SenseInfoOffset < sizeof(ScsiPassThroughDirect) ||
         sptd.SenseInfoOffset > sizeof(SptdBuffer) ||
         sptd.SenseInfoLength > sizeof(SptdBuffer) - sptd.SenseInfoOffset))
        return false;

    *hdr = sg_io_hdr{};
    hdr->interface_id = 'S';
    if (sptd.DataTransferLength == 0) {
        hdr->dxfer_direction = SG_DXFER_NONE;
    } else {
        hdr->dxfer_direction = sptd.DataIn == SPTD_DATA_IN ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
        hdr->dxferp = sptd.DataBuffer;
        hdr->dxfer_len = sptd.DataTransferLength;
    }
    hdr->cmd_len = sptd.CdbLength;
    hdr->cmdp = sptd.Cdb;
    if (sptd.SenseInfoLength > 0) {
        hdr->sbp = reinterpret_cast<unsigned char*>(buffer) + sptd.SenseInfoOffset;
        hdr->mx_sb_len = sptd.SenseInfoLength;
    }
    // Seconds to milliseconds, saturating rather than wrapping to a short time-out.
    const uint64_t ms = static_cast<uint64_t>(sptd.TimeOutValue) * 1000u;
    hdr->timeout = ms > UINT_MAX ? UINT_MAX : static_cast<unsigned>(ms);
    return true;
}

bool SgResultToSptd(const sg_io_hdr& hdr, SptdBuffer* buffer) {
    ScsiPassThroughDirect& sptd = buffer->sptd;
    if (hdr.host_status != 0) return false;
    const unsigned driver = hdr.driver_status & kDriverMask;
    if (driver != 0 && driver != kDriverSense) return false;
    sptd.ScsiStatus = hdr.status;
    if (hdr.dxfer_direction != SG_DXFER_NONE) {
        // A residual below 0 or above the request describes no transfer that can
        // have happened: reported, as the other system reports it, as more moved
        // than was asked, which the transport refuses.
        const bool impossible = hdr.resid < 0 || static_cast<unsigned>(hdr.resid) > hdr.dxfer_len;
        sptd.DataTransferLength = impossible ? UINT32_MAX : hdr.dxfer_len - static_cast<unsigned>(hdr.resid);
    }
    if (hdr.mx_sb_len > 0) sptd.SenseInfoLength = hdr.sb_len_wr < hdr.mx_sb_len ? hdr.sb_len_wr : hdr.mx_sb_len;
    return true;
}

namespace {
class LinuxDevices : public DevicePort {
public:
    OsHandle Open(char driveLetter) override { return OpenDevice(driveLetter, 0); }

    OsHandle OpenForUpdate(char driveLetter) override {
        // O_EXCL on a block device claims it: a second claimant and a mount are
        // refused with EBUSY for as long as this descriptor stays open.
        return OpenDevice(driveLetter, O_EXCL);
    }

    void Close(OsHandle device) override {
        if (device) ::close(FdFromHandle(device));
    }

    bool MayWriteFirmware(OsHandle device) override {
        struct stat st;
        if (!device || ::fstat(FdFromHandle(device), &st) != 0) return false;
        // On a block node the kernel's SG_IO filter passes WRITE BUFFER only with
        // CAP_SYS_RAWIO. An sg node passes it to anyone who may open it read-write,
        // which desktops grant their users; writing firmware stays root's all the same.
        // (The emulated drive's stand-in node is a plain file.)
        if (!S_ISBLK(st.st_mode) && !S_ISCHR(st.st_mode)) return true;
        return HasEffectiveCapability(CAP_SYS_RAWIO);
    }

    bool PassThrough(OsHandle device, SptdBuffer* buffer) override {
        if (!device || !buffer) return false;
        sg_io_hdr hdr;
        if (!SgRequestFromSptd(buffer, &hdr)) return false;
        // No retry on EINTR: the command may already have reached the drive, and
        // sending a firmware block twice is not ours to decide.
        if (::ioctl(FdFromHandle(device), SG_IO, &hdr) < 0) return false;
        return SgResultToSptd(hdr, buffer);
    }

private:
    static OsHandle OpenDevice(char driveLetter, int extraFlags) {
        const std::string path = DevicePathForLetter(driveLetter);
        if (path.empty()) return nullptr;
        // Non-blocking so that a drive without a disc still opens (as sg3_utils does).
        const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | extraFlags);
        return fd >= 0 ? HandleFromFd(fd) : nullptr;
    }
};
}  // namespace

DevicePort& SystemDevices() {
    static LinuxDevices devices;
    return devices;
}
