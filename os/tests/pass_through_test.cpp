// The translation between the Windows pass-through record and SG_IO, and the
// rights the kernel asks for before it passes a firmware write.
#include "os/device.h"
#include "os/linux/linux_internal.h"
#include "os/system_ports.h"
#include "testing/pass_through.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <scsi/sg.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

TEST(SgRequest, DirectionFollowsDataInAndLength) {
    uint8_t data[64];
    struct Case {
        uint8_t dataIn;
        uint32_t length;
        int direction;
    } cases[] = {
        {SPTD_DATA_IN, 36, SG_DXFER_FROM_DEV},
        {SPTD_DATA_OUT, 64, SG_DXFER_TO_DEV},
        {SPTD_DATA_OUT, 0, SG_DXFER_NONE},  // how a command without data is sent
        {SPTD_DATA_IN, 0, SG_DXFER_NONE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "DataIn " << int(c.dataIn) << " length " << c.length);
        SptdBuffer b = PassThroughRecord({0x3B}, 10, c.dataIn, data, c.length);
        sg_io_hdr hdr;
        ASSERT_TRUE(SgRequestFromSptd(&b, &hdr));
        EXPECT_EQ(hdr.interface_id, 'S');
        EXPECT_EQ(hdr.dxfer_direction, c.direction);
        EXPECT_EQ(hdr.dxfer_len, c.length);
        EXPECT_EQ(hdr.dxferp, c.length ? static_cast<void*>(data) : nullptr);
    }
}

TEST(SgRequest, CdbSenseAndTimeOut) {
    uint8_t data[8];
    SptdBuffer b = PassThroughRecord({0x3B}, 10, SPTD_DATA_IN, data, 8);
    sg_io_hdr hdr;
    ASSERT_TRUE(SgRequestFromSptd(&b, &hdr));
    EXPECT_EQ(hdr.cmd_len, 10);
    EXPECT_EQ(hdr.cmdp, b.sptd.Cdb);
    // The sense lands in the buffer's own sense area, at the offset the record names.
    EXPECT_EQ(hdr.sbp, b.sense);
    EXPECT_EQ(hdr.mx_sb_len, 18);
    EXPECT_EQ(hdr.timeout, 120000u);

    b.sptd.TimeOutValue = 0xFFFFFFFFu;  // saturates instead of wrapping to a short wait
    ASSERT_TRUE(SgRequestFromSptd(&b, &hdr));
    EXPECT_EQ(hdr.timeout, UINT_MAX);

    b.sptd.SenseInfoLength = 0;  // no sense wanted: the system gets no pointer
    ASSERT_TRUE(SgRequestFromSptd(&b, &hdr));
    EXPECT_EQ(hdr.sbp, nullptr);
    EXPECT_EQ(hdr.mx_sb_len, 0);
}

TEST(SgRequest, RefusesRecordsTheSystemWouldReject) {
    uint8_t data[8];
    struct Case {
        const char* what;
        void (*spoil)(SptdBuffer&);
    } cases[] = {
        {"unknown direction", [](SptdBuffer& b) { b.sptd.DataIn = 2; }},
        {"no CDB", [](SptdBuffer& b) { b.sptd.CdbLength = 0; }},
        {"CDB longer than the record holds", [](SptdBuffer& b) { b.sptd.CdbLength = 17; }},
        {"data without a buffer", [](SptdBuffer& b) { b.sptd.DataBuffer = nullptr; }},
        {"sense past the end of the buffer",
         [](SptdBuffer& b) { b.sptd.SenseInfoOffset = sizeof(SptdBuffer) - 17; }},
        {"sense offset beyond the buffer", [](SptdBuffer& b) { b.sptd.SenseInfoOffset = 0x7FFFFFF0u; }},
        {"sense over the record itself", [](SptdBuffer& b) { b.sptd.SenseInfoOffset = 0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SptdBuffer b = PassThroughRecord({0x3B}, 10, SPTD_DATA_IN, data, sizeof data);
        c.spoil(b);
        sg_io_hdr hdr;
        EXPECT_FALSE(SgRequestFromSptd(&b, &hdr));
    }
    // The largest sense area that still fits is accepted.
    SptdBuffer b = PassThroughRecord({0x3B}, 10, SPTD_DATA_IN, data, sizeof data);
    b.sptd.SenseInfoLength = sizeof b.sense;
    sg_io_hdr hdr;
    EXPECT_TRUE(SgRequestFromSptd(&b, &hdr));
}

TEST(SgResult, DriveAnswersAndTransportErrors) {
    struct Case {
        const char* what;
        uint8_t status;
        uint16_t host;
        uint16_t driver;
        bool answered;
    } cases[] = {
        {"good", 0x00, 0, 0, true},
        {"check condition with sense", 0x02, 0, 0x08, true},
        {"sense with a retry suggestion", 0x02, 0, 0x18, true},
        {"busy", 0x08, 0, 0, true},
        {"no connection", 0x00, 0x01, 0, false},
        {"host time-out", 0x00, 0x03, 0, false},
        {"driver time-out", 0x00, 0, 0x06, false},
        {"driver error", 0x00, 0, 0x04, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t data[8];
        SptdBuffer b = PassThroughRecord({0x3B}, 10, SPTD_DATA_IN, data, sizeof data);
        sg_io_hdr hdr;
        ASSERT_TRUE(SgRequestFromSptd(&b, &hdr));
        hdr.status = c.status;
        hdr.host_status = c.host;
        hdr.driver_status = c.driver;
        EXPECT_EQ(SgResultToSptd(hdr, &b), c.answered);
        if (c.answered) {
            EXPECT_EQ(b.sptd.ScsiStatus, c.status);
        }
    }
}

TEST(SgResult, ReportsWhatWasActuallyMoved) {
    uint8_t data[2048];
    SptdBuffer b = PassThroughRecord({0x3B}, 10, SPTD_DATA_IN, data, sizeof data);
    sg_io_hdr hdr;
    ASSERT_TRUE(SgRequestFromSptd(&b, &hdr));
    hdr.status = 0x02;
    hdr.driver_status = 0x08;
    hdr.resid = 512;
    hdr.sb_len_wr = 14;
    ASSERT_TRUE(SgResultToSptd(hdr, &b));
    EXPECT_EQ(b.sptd.DataTransferLength, 1536u);
    EXPECT_EQ(b.sptd.SenseInfoLength, 14);

    // Data-out likewise: what the drive took.
    b = PassThroughRecord({0x3B}, 10, SPTD_DATA_OUT, data, sizeof data);
    ASSERT_TRUE(SgRequestFromSptd(&b, &hdr));
    hdr.resid = 48;
    ASSERT_TRUE(SgResultToSptd(hdr, &b));
    EXPECT_EQ(b.sptd.DataTransferLength, sizeof data - 48);

}

// A residual no transfer can have left (below 0, above the request) comes back
// as more moved than was asked, in either direction, which the transport then
// refuses as it refuses the same report of the other system; 0 and the whole
// request are the two ends of what can happen.
TEST(SgResult, ImpossibleResidualIsReportedAsMoreThanAsked) {
    uint8_t data[2048];
    struct Case {
        uint8_t direction;
        int resid;
        uint32_t moved;
    } cases[] = {
        {SPTD_DATA_IN, 0, sizeof data},   {SPTD_DATA_IN, 2048, 0},
        {SPTD_DATA_IN, -1, UINT32_MAX},   {SPTD_DATA_IN, -4096, UINT32_MAX},
        {SPTD_DATA_IN, 2049, UINT32_MAX}, {SPTD_DATA_IN, 4096, UINT32_MAX},
        {SPTD_DATA_OUT, -16, UINT32_MAX}, {SPTD_DATA_OUT, 2049, UINT32_MAX},
        {SPTD_DATA_OUT, 0, sizeof data},
    };
    for (const Case& c : cases) {
        SptdBuffer b = PassThroughRecord({0x3B}, 10, c.direction, data, sizeof data);
        sg_io_hdr hdr;
        ASSERT_TRUE(SgRequestFromSptd(&b, &hdr));
        hdr.resid = c.resid;
        EXPECT_TRUE(SgResultToSptd(hdr, &b));
        EXPECT_EQ(b.sptd.DataTransferLength, c.moved) << "resid " << c.resid;
    }
}

TEST(DevicePath, DriveLettersMapToOpticalDevices) {
    struct Case {
        char letter;
        const char* path;
    } cases[] = {
        {'C', "/dev/sr0"}, {'D', "/dev/sr1"}, {'Z', "/dev/sr23"}, {'e', "/dev/sr2"},
        {'A', ""},         {'B', ""},         {'[', ""},          {'\0', ""},
    };
    for (const Case& c : cases) EXPECT_EQ(DevicePathForLetter(c.letter), c.path) << "letter " << int(c.letter);
}

}  // namespace

// Whether firmware may be written follows what the kernel will let through: a kernel
// device needs CAP_SYS_RAWIO in the effective set, anything else (an emulated drive's
// file) does not. Each case runs in a child whose effective set is chosen.
TEST(DeviceRights, WritingFirmwareToAKernelDeviceNeedsRawIo) {
    char scratch[] = "/tmp/quillmor-rights-XXXXXX";
    const int file = ::mkstemp(scratch);
    ASSERT_GE(file, 0);
    ::unlink(scratch);
    const int null = ::open("/dev/null", O_RDWR);
    ASSERT_GE(null, 0);
    const bool rawIo = HasEffectiveCapability(CAP_SYS_RAWIO);
    struct Case {
        const char* name;
        int fd;
        bool dropRawIo;
        bool expected;
    } cases[] = {
        {"kernel device, as this process is", null, false, rawIo},
        {"kernel device, without CAP_SYS_RAWIO", null, true, false},
        {"plain file, without CAP_SYS_RAWIO", file, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (c.dropRawIo) {
                __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
                __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
                if (::syscall(SYS_capget, &header, data) != 0) ::_exit(3);
                data[CAP_SYS_RAWIO / 32].effective &= ~(1u << (CAP_SYS_RAWIO % 32));
                if (::syscall(SYS_capset, &header, data) != 0) ::_exit(3);
            }
            ::_exit(SystemDevices().MayWriteFirmware(HandleFromFd(c.fd)) ? 1 : 0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_NE(WEXITSTATUS(status), 3) << "the child could not set its capabilities";
        EXPECT_EQ(WEXITSTATUS(status) == 1, c.expected);
    }
    ::close(null);
    ::close(file);
}
