// The ASPI back-end against an in-process manager: loading, the request block,
// the completion event, and a manager that is missing.
#include "res/resource.h"
#include "sim/drive.h"
#include "testing/transport_fixture.h"

namespace {

namespace off = srb_offset;

// Every field the program sets, at its published offset (32-bit build).
static_assert(sizeof(void*) != 4 || offsetof(SrbExecScsiCmd, SRB_Flags) == 3, "flags");
static_assert(sizeof(void*) != 4 || offsetof(SrbExecScsiCmd, SRB_Target) == 8, "target");
static_assert(sizeof(void*) != 4 || offsetof(SrbExecScsiCmd, SRB_BufLen) == 12, "length");
static_assert(sizeof(void*) != 4 || offsetof(SrbExecScsiCmd, SRB_BufPointer) == 16, "buffer");
static_assert(sizeof(void*) != 4 || offsetof(SrbExecScsiCmd, SRB_SenseLen) == 20, "sense length");
static_assert(sizeof(void*) != 4 || offsetof(SrbExecScsiCmd, SRB_PostProc) == 24, "event");
// On every build the block is what the manager reads.
static_assert(sizeof(SrbExecScsiCmd) == off::Size, "block size");
static_assert(offsetof(SrbExecScsiCmd, CDBByte) == off::Cdb, "CDB");
static_assert(offsetof(SrbExecScsiCmd, SenseArea) == off::Sense, "sense area");

using Executor = bool (*)(int, uint32_t, const uint8_t*);

const uint8_t kCdb[12] = {0x3B, 0x05, 0xF0, 0x1D, 0x80, 0x00, 0x00, 0x80, 0x00, 0x00, 0xC3, 0x3C};

class AspiTest : public TransportTest {
protected:
    SimDrive sim{LoadedDrive()};

    static SimDriveConfig LoadedDrive() {
        SimDriveConfig c;
        c.discLoaded = true;
        return c;
    }

    void SetUp() override {
        TransportTest::SetUp();
        // GOOD to every command, whatever it is: the block is what is tested.
        aspi.drive = [](const uint8_t*, int, int, uint8_t*, uint32_t, uint8_t*, int) { return 0; };
        g_devices[0] = {1, 2, 0, 0};
        g_devices[1] = {3, 5, 0, 0};
        g_scanHaId = 4;
        g_scanTarget = 6;
        g_scanLun = 1;
    }

    // Serves the requests from the emulated drive instead.
    void ServeFromEmulatedDrive() {
        aspi.drive = [this](const uint8_t* cdb, int cdbLength, int direction, uint8_t* data, uint32_t length,
                            uint8_t* sense, int senseLength) {
            return sim.Execute(cdb, cdbLength, direction, data, length, sense, senseLength);
        };
    }
};

TEST_F(AspiTest, BlockAsTheManagerReadsIt) {
    UseAspi();
    struct Case {
        Executor execute;
        int direction;
        uint32_t length;
        uint8_t cdbLength, flags;
        uint8_t* buffer;
        bool probe;
    } cases[] = {
        {AspiExecute6, DIR_IN, 254, 6, 0x48, g_dataIn, false},
        {AspiExecute10, DIR_OUT, 0x8000, 10, 0x50, g_dataOut, false},
        {AspiExecute12, DIR_NONE, 0, 12, 0x40, nullptr, false},
        {AspiScanExecute6, DIR_IN, 254, 6, 0x48, g_dataIn, true},
        {AspiScanExecute12, DIR_IN, 48, 12, 0x48, g_dataIn, true},
        // The probe executors send anything but data-in as data-out.
        {AspiScanExecute12, DIR_NONE, 0, 12, 0x50, g_dataOut, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "CDB length " << int(c.cdbLength) << " direction " << c.direction
                                        << (c.probe ? " probe" : ""));
        aspi.sent.clear();
        ASSERT_TRUE(c.execute(c.direction, c.length, kCdb));
        const std::vector<uint8_t>& b = aspi.sent;
        ASSERT_EQ(b.size(), off::Size);
        EXPECT_EQ(b[off::Cmd], SC_EXEC_SCSI_CMD);
        EXPECT_EQ(b[off::HaId], c.probe ? 4 : 1);
        EXPECT_EQ(b[off::Target], c.probe ? 6 : 2);
        EXPECT_EQ(b[off::Lun], c.probe ? 1 : 0);
        EXPECT_EQ(b[off::Flags], c.flags);
        EXPECT_EQ(FakeAspi::U32(b, off::BufLen), c.length);
        EXPECT_EQ(FakeAspi::Ptr(b, off::BufPointer), c.buffer);
        EXPECT_EQ(b[off::SenseLen], 22);
        EXPECT_EQ(b[off::CdbLen], c.cdbLength);
        EXPECT_NE(FakeAspi::Ptr(b, off::PostProc), nullptr);
        EXPECT_EQ(std::memcmp(b.data() + off::Cdb, kCdb, 12), 0);
        EXPECT_EQ(b[off::Cdb + 12] | b[off::Cdb + 13] | b[off::Cdb + 14] | b[off::Cdb + 15], 0);
        EXPECT_EQ(g_scsiStatus, SS_COMP);
    }
    EXPECT_EQ(time.created, 6);
    EXPECT_EQ(time.closed, 6);
}

TEST_F(AspiTest, SelectedEntryAddressesEachCommand) {
    UseAspi();
    g_selectedDevice = 1;
    ASSERT_TRUE(AspiExecute6(DIR_NONE, 0, kCdb));
    EXPECT_EQ(aspi.sent[off::HaId], 3);
    EXPECT_EQ(aspi.sent[off::Target], 5);
    g_selectedDevice = 0;
    ASSERT_TRUE(AspiExecute6(DIR_NONE, 0, kCdb));
    EXPECT_EQ(aspi.sent[off::HaId], 1);
    EXPECT_EQ(aspi.sent[off::Target], 2);
}

// A pending request is waited for until the manager signals its event.
TEST_F(AspiTest, PendingRequestWaitsForTheEvent) {
    UseAspi();
    ServeFromEmulatedDrive();
    aspi.completion = FakeAspi::Completion::Later;
    aspi.laterMs = 40000;  // longer than any bounded wait would be
    const uint8_t inquiry[12] = {0x12, 0, 0, 0, 36, 0};
    ASSERT_TRUE(AspiExecute6(DIR_IN, 36, inquiry));
    EXPECT_EQ(clock.NowMs(), 40000u);
    EXPECT_EQ(g_scsiStatus, SS_COMP);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(g_dataIn) + 8, 7), "TORVELL");

    const uint8_t switchBlockWrong[12] = {0x3B, 0x05, 0xFF, 0, 0, 0, 0, 0x01, 0x00};
    std::memset(g_dataOut, 0, 256);
    EXPECT_FALSE(AspiExecute12(DIR_OUT, 256, switchBlockWrong));
    EXPECT_EQ(clock.NowMs(), 80000u);
    EXPECT_EQ(g_scsiStatus, SS_ERR);
    EXPECT_EQ(g_srb.SenseArea[2], 0x05);  // refused by the drive: ILLEGAL REQUEST
    EXPECT_EQ(time.created, 2);
    EXPECT_EQ(time.closed, 2);
}

// The bytes moved are what the manager reports: the length asked, unless it
// writes back a smaller count, or flags an under- or overrun without one.
TEST_F(AspiTest, BytesMovedAreWhatTheManagerReports) {
    UseAspi();
    struct Case {
        const char* what;
        int direction;
        uint32_t length;
        uint8_t haStat;
        int64_t count;
        bool ok;
        uint32_t transferred;
    } const cases[] = {
        {"nothing reported", DIR_IN, 254, 0, -1, true, 254},
        {"a count", DIR_IN, 254, HASTAT_DO_DU, 96, true, 96},
        {"a count without the flag", DIR_IN, 254, 0, 36, true, 36},
        {"underrun without a count", DIR_IN, 254, HASTAT_DO_DU, -1, true, 0},
        {"block taken whole", DIR_OUT, 0x8000, 0, -1, true, 0x8000},
        {"block taken in part", DIR_OUT, 0x8000, HASTAT_DO_DU, 0x4000, false, 0},
        {"block flagged short", DIR_OUT, 0x8000, HASTAT_DO_DU, -1, false, 0},
        {"no data phase", DIR_NONE, 0, 0, -1, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        aspi.haStat = c.haStat;
        aspi.countInBufLen = c.count;
        g_bytesTransferred = 12345;  // an earlier command's
        EXPECT_EQ(AspiExecute12(c.direction, c.length, kCdb), c.ok);
        EXPECT_EQ(g_scsiStatus, c.ok ? SS_COMP : SS_ERR);
        EXPECT_EQ(g_bytesTransferred, c.transferred);
    }
    // A command the drive refused moved nothing that may be read.
    aspi.haStat = 0;
    aspi.countInBufLen = -1;
    aspi.drive = [](const uint8_t*, int, int, uint8_t*, uint32_t, uint8_t*, int) { return 2; };
    EXPECT_FALSE(AspiExecute12(DIR_IN, 48, kCdb));
    EXPECT_EQ(g_bytesTransferred, 0u);
}

// An adapter that reports residuals is asked to (SRB_ENABLE_RESIDUAL_COUNT), and
// SRB_BufLen then holds the bytes NOT moved; a count larger than the request is
// no count. Either way a reply area holds no earlier command's bytes.
TEST_F(AspiTest, ResidualCountOfAnAdapterThatReportsIt) {
    UseAspi();
    struct Case {
        const char* what;
        bool reports;
        int direction;
        uint32_t length;
        int64_t count;  // what the manager writes to SRB_BufLen; -1: leaves it
        bool ok;
        uint32_t transferred;
    } const cases[] = {
        {"residual 0", true, DIR_IN, 96, 0, true, 96},
        {"residual of a short reply", true, DIR_IN, 96, 62, true, 34},
        {"residual over the request", true, DIR_IN, 96, 97, false, 0},
        {"block taken in part", true, DIR_OUT, 0x8000, 16, false, 0},
        {"block taken whole", true, DIR_OUT, 0x8000, 0, true, 0x8000},
        {"no residuals: count over the request", false, DIR_IN, 96, 4096, false, 0},
        {"no residuals: a count", false, DIR_IN, 96, 34, true, 34},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_adapterReportsResidual[1] = c.reports;  // the selected drive's adapter
        aspi.countInBufLen = c.count;
        std::memset(g_dataIn, '7', 96);
        EXPECT_EQ(AspiExecute12(c.direction, c.length, kCdb), c.ok);
        EXPECT_EQ(aspi.sent[srb_offset::Flags] & SRB_ENABLE_RESIDUAL_COUNT, c.reports ? SRB_ENABLE_RESIDUAL_COUNT : 0);
        EXPECT_EQ(g_bytesTransferred, c.transferred);
        if (c.direction == DIR_IN) {
            EXPECT_EQ(g_dataIn[95], REPLY_NOT_ARRIVED);
        }
    }
}

// A request the manager accepts but never completes is given up after the wait
// that SPTI allows a command. The manager may still write into the block and the
// buffers and signal the event: none of them is touched again, and every later
// command fails at once without reaching the manager.
TEST_F(AspiTest, RequestThatNeverCompletesIsAbandoned) {
    UseAspi();
    aspi.hangTarget = 2;  // g_devices[0]
    EXPECT_FALSE(AspiExecute6(DIR_IN, 254, kCdb));
    EXPECT_EQ(clock.NowMs(), ASPI_COMMAND_WAIT_MS);
    EXPECT_EQ(g_scsiStatus, SS_ERR);
    EXPECT_EQ(g_bytesTransferred, 0u);
    EXPECT_EQ(time.created, 1);
    EXPECT_EQ(time.closed, 0);  // the manager may still signal it

    std::vector<uint8_t> block(off::Size);
    std::memcpy(block.data(), &g_srb, off::Size);
    uint8_t* const in = g_dataIn;
    for (Executor e : {AspiExecute6, AspiExecute10, AspiExecute12, AspiScanExecute6, AspiScanExecute12}) {
        EXPECT_FALSE(e(DIR_OUT, 0x8000, kCdb));
        EXPECT_EQ(g_scsiStatus, SS_ASPI_IS_BUSY);
    }
    EXPECT_EQ(aspi.sendCalls, 1);
    EXPECT_EQ(clock.NowMs(), ASPI_COMMAND_WAIT_MS);
    EXPECT_EQ(std::memcmp(block.data(), &g_srb, off::Size), 0);
    FreeTransferBuffers();
    EXPECT_EQ(g_dataIn, in);  // still the manager's to write into
    // This manager never signals it: the test releases what the program may not.
    OsTime().CloseEvent(g_srb.SRB_PostProc);
}

// A request refused at once is never signalled: waiting would hang forever (the
// virtual clock aborts the test on that).
TEST_F(AspiTest, RefusedRequestIsNotWaitedFor) {
    UseAspi();
    ServeFromEmulatedDrive();
    aspi.completion = FakeAspi::Completion::Refused;
    for (uint8_t refusal : {uint8_t(0x81), uint8_t(0x82), uint8_t(0xE0)}) {
        aspi.refusal = refusal;
        EXPECT_FALSE(AspiScanExecute12(DIR_IN, 48, kCdb));
        EXPECT_EQ(g_scsiStatus, refusal);
    }
    EXPECT_EQ(clock.NowMs(), 0u);
    EXPECT_TRUE(sim.Transcript().empty());
    EXPECT_EQ(time.created, 3);
    EXPECT_EQ(time.closed, 3);
}

// A manager that could not be loaded whole is never called.
TEST_F(AspiTest, MissingManagerIsNeverCalled) {
    struct Case {
        bool library, supportInfo, sendCommand;
        int message;
    } cases[] = {
        {false, true, true, IDS_ASPI_NOT_LOADED},
        {true, false, true, IDS_ASPI_NO_SUPPORT_INFO},
        {true, true, false, IDS_ASPI_NO_SEND_COMMAND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        ResetTransportState();
        aspi.hasLibrary = c.library;
        aspi.hasSupportInfo = c.supportInfo;
        aspi.hasSendCommand = c.sendCommand;
        aspi.loaded.clear();
        EXPECT_EQ(LoadAspiManager(), c.message);
        EXPECT_EQ(aspi.loaded, std::vector<std::string>{"wnaspi32"});
        EXPECT_EQ(g_transport, TRANSPORT_ASPI);
        EXPECT_FALSE(AspiAvailable());

        for (Executor e : {AspiExecute6, AspiExecute10, AspiExecute12, AspiScanExecute6, AspiScanExecute12}) {
            EXPECT_FALSE(e(DIR_IN, 48, kCdb));
            EXPECT_EQ(g_scsiStatus, SS_NO_ASPI);
        }
        int count = 5;
        EXPECT_FALSE(AspiHostAdapterCount(&count));
        EXPECT_EQ(count, 0);
        SrbHaInquiry block{};
        AspiInquireAdapter(block);
        EXPECT_EQ(block.SRB_Status, SS_NO_ASPI);

        EXPECT_EQ(aspi.sendCalls, 0);
        EXPECT_EQ(aspi.supportInfoCalls, 0);
        EXPECT_EQ(time.created, 0);
    }
}

// Requests that would let the manager run past a buffer are not sent.
TEST_F(AspiTest, UnsafeRequestIsNotSent) {
    UseAspi();
    struct Case {
        const char* what;
        Executor execute;
        int direction;
        uint32_t length;
        bool freeBuffers;
        int status;
    } cases[] = {
        {"longer than the buffers", AspiExecute12, DIR_OUT, TRANSFER_BUFFER_SIZE + 1, false, SS_BUFFER_TOO_BIG},
        {"no buffers", AspiExecute12, DIR_OUT, 0x8000, true, SS_ERR},
        {"no-data with a length", AspiExecute6, DIR_NONE, 16, false, SS_ERR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.freeBuffers) FreeTransferBuffers();
        EXPECT_FALSE(c.execute(c.direction, c.length, kCdb));
        EXPECT_EQ(g_scsiStatus, c.status);
        ASSERT_TRUE(AllocateTransferBuffers());
    }
    g_selectedDevice = -1;
    EXPECT_FALSE(AspiExecute6(DIR_NONE, 0, kCdb));
    EXPECT_EQ(g_scsiStatus, SS_NO_DEVICE);
    g_selectedDevice = MAX_DEVICES;
    EXPECT_FALSE(AspiExecute6(DIR_NONE, 0, kCdb));
    EXPECT_EQ(aspi.sendCalls, 0);
    EXPECT_EQ(time.created, time.closed);
}

TEST_F(AspiTest, AdapterQueries) {
    UseAspi();
    struct Case {
        uint32_t info;
        bool ok;
        int count;
    } cases[] = {
        {0x0102, true, 2},
        {0x0100, true, 0},
        {0x0000, false, 0},  // status byte other than SS_COMP
        {0xE803, false, 0},
        {0x010102, true, 2},  // bits above 15 are not the status
    };
    for (const Case& c : cases) {
        aspi.supportInfo = c.info;
        int count = -1;
        EXPECT_EQ(AspiHostAdapterCount(&count), c.ok) << std::hex << c.info;
        EXPECT_EQ(count, c.count) << std::hex << c.info;
    }

    SrbHaInquiry block{};
    block.SRB_HaId = 1;
    AspiInquireAdapter(block);
    EXPECT_EQ(block.SRB_Cmd, SC_HA_INQUIRY);
    EXPECT_EQ(block.SRB_Status, SS_COMP);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.HA_Identifier)), "FAKE HOST");
    EXPECT_EQ(time.created, 0);  // answered before it returns: no event
}

}  // namespace
