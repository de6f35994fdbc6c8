// The SPTI back-end: the record it hands to the system, the status it derives,
// and what it does when the system refuses the request.
#include "testing/transport_fixture.h"

#include "os/platform.h"

namespace {

using SptiTest = TransportTest;

using Executor = bool (*)(int, uint32_t, const uint8_t*);

const uint8_t kCdb[12] = {0x3C, 0x02, 0xF1, 0x00, 0x00, 0x00, 0x00, 0x00, 0x30, 0x00, 0xA5, 0x5A};

TEST_F(SptiTest, RecordIsRebuiltForEveryCommand) {
    UseSpti();
    struct Case {
        Executor execute;
        uint8_t cdbLength;
        int direction;
        uint32_t length;
        uint8_t dataIn;
        uint8_t* buffer;
    } cases[] = {
        {SptiExecute6, 6, DIR_IN, 254, SPTD_DATA_IN, g_dataIn},
        {SptiExecute10, 10, DIR_OUT, 0x8000, SPTD_DATA_OUT, g_dataOut},
        // A command without data is a data-out request of length 0.
        {SptiExecute12, 12, DIR_NONE, 0, SPTD_DATA_OUT, g_dataOut},
        {SptiExecute12, 12, DIR_IN, TRANSFER_BUFFER_SIZE, SPTD_DATA_IN, g_dataIn},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "CDB length " << int(c.cdbLength) << " direction " << c.direction);
        // Whatever the last command left must not reach the next one.
        std::memset(&g_sptd, 0xAA, sizeof g_sptd);
        ASSERT_TRUE(c.execute(c.direction, c.length, kCdb));

        const SptdBuffer& b = device.seen;
        EXPECT_EQ(device.lastHandle, ScriptedDevice::Handle());
        EXPECT_EQ(b.sptd.Length, sizeof(ScsiPassThroughDirect));
        EXPECT_EQ(b.sptd.ScsiStatus, 0);
        EXPECT_EQ(b.sptd.PathId, 0);
        EXPECT_EQ(b.sptd.TargetId, 0);
        EXPECT_EQ(b.sptd.Lun, 0);
        EXPECT_EQ(b.sptd.CdbLength, c.cdbLength);
        EXPECT_EQ(b.sptd.SenseInfoLength, 18);
        EXPECT_EQ(b.sptd.DataIn, c.dataIn);
        EXPECT_EQ(b.sptd.DataTransferLength, c.length);
        EXPECT_EQ(b.sptd.TimeOutValue, 120u);
        EXPECT_EQ(b.sptd.DataBuffer, c.buffer);
        EXPECT_EQ(b.sptd.SenseInfoOffset, SPTD_SENSE_OFFSET);
        // All twelve bytes go, whatever the CDB length; the last four stay zero.
        EXPECT_EQ(std::memcmp(b.sptd.Cdb, kCdb, 12), 0);
        const uint8_t zero[32] = {};
        EXPECT_EQ(std::memcmp(b.sptd.Cdb + 12, zero, 4), 0);
        EXPECT_EQ(b.filler, 0u);
        EXPECT_EQ(std::memcmp(b.sense, zero, sizeof b.sense), 0);
    }
}

TEST_F(SptiTest, AnyNonzeroStatusFails) {
    UseSpti();
    for (uint8_t status : {0x02, 0x08, 0x18}) {
        device.status = status;
        EXPECT_FALSE(SptiExecute10(DIR_IN, 8, kCdb)) << int(status);
        EXPECT_EQ(g_scsiStatus, SS_ERR);
    }
}

// A request that never got the drive's answer is a failure with no sense data,
// not the zero status the record was filled with.
TEST_F(SptiTest, RequestWithoutAnAnswerFails) {
    struct Case {
        const char* what;
        bool open;
        bool refuse;
        uint32_t length;
        bool freeBuffers;
        bool reachesDevice;
    } cases[] = {
        {"the system refuses", true, true, 48, false, true},
        {"no device open", false, false, 48, false, true},
        {"longer than the buffers", true, false, TRANSFER_BUFFER_SIZE + 1, false, false},
        {"no buffers", true, false, 48, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_transport = TRANSPORT_SPTI;
        g_hDevice = c.open ? OpenDevice(device.letter) : nullptr;
        if (c.freeBuffers) FreeTransferBuffers();
        device.refuse = c.refuse;
        device.calls = 0;
        // The sense of an earlier failure must not be reported for this one.
        g_sptd.sense[2] = 0x02;
        g_sptd.sense[12] = 0x3A;

        EXPECT_FALSE(SptiExecute12(DIR_IN, c.length, kCdb));
        EXPECT_EQ(g_scsiStatus, SS_ERR);
        EXPECT_EQ(device.calls, c.reachesDevice ? 1 : 0);
        const uint8_t zero[sizeof g_sptd.sense] = {};
        EXPECT_EQ(std::memcmp(g_sptd.sense, zero, sizeof zero), 0);
        EXPECT_EQ(GetSenseClass(), SENSE_NONE);
        // The command itself stays on record for the report.
        EXPECT_EQ(std::memcmp(g_sptd.sptd.Cdb, kCdb, 12), 0);

        ASSERT_TRUE(AllocateTransferBuffers());
        CloseDevice(g_hDevice);
    }
}

// What the system reports as moved is what arrived (data-in) or what the drive
// took (data-out); only a complete data-out command succeeds.
TEST_F(SptiTest, BytesMovedAreWhatTheSystemReports) {
    UseSpti();
    struct Case {
        const char* what;
        int direction;
        uint32_t length;
        int64_t moved;  // reported by the system; -1: the record's length stays
        uint8_t status;
        bool ok;
        uint32_t transferred;
    } const cases[] = {
        {"short reply", DIR_IN, 254, 96, 0, true, 96},
        {"whole reply", DIR_IN, 254, -1, 0, true, 254},
        {"no data at all", DIR_IN, 48, 0, 0, true, 0},
        {"more than asked", DIR_IN, 48, 4096, 0, false, 0},
        {"one byte more than asked", DIR_OUT, 0x8000, 0x8001, 0, false, 0},
        {"failed command", DIR_IN, 254, 96, 2, false, 0},
        {"block taken whole", DIR_OUT, 0x8000, -1, 0, true, 0x8000},
        {"block taken in part", DIR_OUT, 0x8000, 0x7FFF, 0, false, 0},
        {"no data phase", DIR_NONE, 0, -1, 0, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        device.moved = c.moved;
        device.status = c.status;
        g_bytesTransferred = 12345;  // an earlier command's
        EXPECT_EQ(SptiExecute12(c.direction, c.length, kCdb), c.ok);
        EXPECT_EQ(g_scsiStatus, c.ok ? SS_COMP : SS_ERR);
        EXPECT_EQ(g_bytesTransferred, c.transferred);
        // Only a report past the request leaves what moved unknown.
        EXPECT_EQ(g_transferUnknown, c.moved > int64_t(c.length));
    }
    device.refuse = true;
    g_bytesTransferred = 12345;
    EXPECT_FALSE(SptiExecute12(DIR_IN, 48, kCdb));
    EXPECT_EQ(g_bytesTransferred, 0u);
}

// A reply area holds no earlier command's bytes: what did not arrive reads as
// REPLY_NOT_ARRIVED, whatever the system reports as moved.
TEST_F(SptiTest, ReplyBytesThatDidNotArriveAreMarked) {
    UseSpti();
    device.dataIn.assign(34, '1');
    device.moved = -1;  // the system says all of it moved (a residual of 0)
    std::memset(g_dataIn, '2', 97);
    ASSERT_TRUE(SptiExecute6(DIR_IN, 96, kCdb));
    EXPECT_EQ(g_dataIn[33], '1');
    for (uint32_t i = 34; i < 96; ++i) ASSERT_EQ(g_dataIn[i], REPLY_NOT_ARRIVED) << i;
    // Past the request, and for data-out, nothing is touched.
    EXPECT_EQ(g_dataIn[96], '2');
    std::memset(g_dataIn, '2', 96);
    ASSERT_TRUE(SptiExecute6(DIR_OUT, 16, kCdb));
    EXPECT_EQ(g_dataIn[0], '2');
}

TEST_F(SptiTest, OpenAndCloseDevice) {
    EXPECT_EQ(OpenDevice('E'), nullptr);
    OsHandle h = OpenDevice('D');
    EXPECT_EQ(h, ScriptedDevice::Handle());
    EXPECT_EQ(CloseDevice(h), 1);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(device.closes, 1);
    // Closing what is closed changes nothing.
    EXPECT_EQ(CloseDevice(h), 1);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(device.closes, 1);
}

TEST_F(SptiTest, TransferBuffersStartZeroed) {
    FreeTransferBuffers();
    ASSERT_TRUE(AllocateTransferBuffers());
    for (uint8_t* buffer : {g_dataIn, g_dataOut}) {
        ASSERT_NE(buffer, nullptr);
        uint8_t any = 0;
        for (uint32_t i = 0; i < TRANSFER_BUFFER_SIZE; ++i) any |= buffer[i];
        EXPECT_EQ(any, 0);
    }
    EXPECT_NE(g_dataIn, g_dataOut);
}

TEST_F(SptiTest, TransportFollowsThePlatformFamily) {
    FakePlatform platform;
    OsSetPlatform(&platform);
    struct Case {
        int platformId;
        bool hasAspi;
        int transport;
        bool aspiAvailable;
    } cases[] = {
        {OS_PLATFORM_WIN32_NT, true, TRANSPORT_SPTI, false},
        {OS_PLATFORM_WIN32_WINDOWS, true, TRANSPORT_ASPI, true},
        // Without the manager the transport is still ASPI; it then finds nothing.
        {OS_PLATFORM_WIN32_WINDOWS, false, TRANSPORT_ASPI, false},
        {0, true, 0, false},
        {3, true, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "platform " << c.platformId << " ASPI " << c.hasAspi);
        ResetTransportState();
        platform.platformId = c.platformId;
        aspi.hasLibrary = c.hasAspi;
        aspi.loaded.clear();
        ChooseTransport();
        EXPECT_EQ(g_transport, c.transport);
        EXPECT_EQ(AspiAvailable(), c.aspiAvailable);
        EXPECT_EQ(aspi.loaded.size(), c.platformId == OS_PLATFORM_WIN32_WINDOWS ? 1u : 0u);
    }
    OsSetPlatform(nullptr);
}

}  // namespace
