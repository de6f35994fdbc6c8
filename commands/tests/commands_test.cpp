// Every builder's CDB, CDB length, direction and transfer length, as each
// transport carries them.
#include "commands/commands.h"
#include "testing/transport_fixture.h"

#include <functional>

namespace {

namespace off = srb_offset;

struct Row {
    const char* name;
    std::function<bool()> send;
    std::vector<uint8_t> cdb;  // the first bytes; the rest of the 12 are zero
    uint8_t cdbLength;
    int direction;
    uint32_t length;
    bool probe;  // sent to discovery's probe address over ASPI
};

std::vector<Row> Rows() {
    return {
        {"TEST UNIT READY", [] { return CmdTestUnitReady(); }, {0x00}, 6, DIR_NONE, 0, false},
        {"INQUIRY 254", [] { return CmdInquiry(254); }, {0x12, 0, 0, 0, 0xFE, 0}, 6, DIR_IN, 254, false},
        {"INQUIRY 36", [] { return CmdInquiry(36); }, {0x12, 0, 0, 0, 0x24, 0}, 6, DIR_IN, 36, false},
        {"probe INQUIRY", [] { return CmdScanInquiry(); }, {0x12, 0, 0, 0, 0xFE, 0}, 6, DIR_IN, 254, true},
        {"eject", [] { return CmdStartStopUnit(1); }, {0x1B, 0, 0, 0, 0x02, 0}, 6, DIR_NONE, 0, false},
        {"stop", [] { return CmdStartStopUnit(0); }, {0x1B, 0, 0, 0, 0x00, 0}, 6, DIR_NONE, 0, false},
        // Only bit 0 of the flag counts.
        {"eject 3", [] { return CmdStartStopUnit(3); }, {0x1B, 0, 0, 0, 0x02, 0}, 6, DIR_NONE, 0, false},
        {"eject 2", [] { return CmdStartStopUnit(2); }, {0x1B, 0, 0, 0, 0x00, 0}, 6, DIR_NONE, 0, false},
        {"READ BUFFER id block", [] { return CmdReadBuffer(BUFFER_ID_BLOCK, 0x02, 0, 48); },
         {0x3C, 0x02, 0xF1, 0, 0, 0, 0, 0, 0x30, 0, 0, 0}, 12, DIR_IN, 48, false},
        {"READ BUFFER wide fields", [] { return CmdReadBuffer(0x01, 0x0A, 0xABCDEF, 0x123456); },
         {0x3C, 0x0A, 0x01, 0xAB, 0xCD, 0xEF, 0x12, 0x34, 0x56}, 12, DIR_IN, 0x123456, false},
        {"probe READ BUFFER", [] { return CmdScanReadIdBlock(); },
         {0x3C, 0x02, 0xF1, 0, 0, 0, 0, 0, 0x30, 0, 0, 0}, 12, DIR_IN, 48, true},
        {"WRITE BUFFER last block", [] { return CmdWriteBuffer(BUFFER_FIRMWARE, 0x05, 0x1D8000, 0x8000); },
         {0x3B, 0x05, 0xF0, 0x1D, 0x80, 0x00, 0x00, 0x80, 0x00, 0, 0, 0}, 12, DIR_OUT, 0x8000, false},
        {"WRITE BUFFER mode switch", [] { return CmdWriteBuffer(BUFFER_MODE_SWITCH, 0x05, 0, 256); },
         {0x3B, 0x05, 0xFF, 0, 0, 0, 0, 0x01, 0x00}, 12, DIR_OUT, 256, false},
        {"READ TOC", [] { return CmdReadToc(); }, {0x43, 0, 0, 0, 0, 0, 0x01, 0, 0x30, 0}, 10, DIR_IN, 48, false},
        {"GET EVENT STATUS", [] { return CmdGetEventStatus(); }, {0x4A, 0, 0, 0, 0x10, 0, 0, 0, 0x08, 0}, 10,
         DIR_IN, 8, false},
        {"READ DISC INFORMATION", [] { return CmdReadDiscInfo(); }, {0x51, 0, 0, 0, 0, 0, 0, 0, 0x22, 0}, 10,
         DIR_IN, 34, false},
        {"READ TRACK INFORMATION", [] { return CmdReadTrackInfo(0, 0, 100); },
         {0x52, 0, 0, 0, 0, 0, 0, 0, 0x64, 0, 0, 0}, 12, DIR_IN, 100, false},
        {"READ TRACK INFORMATION wide fields", [] { return CmdReadTrackInfo(0x01, 0x89ABCDEF, 0xFFFF); },
         {0x52, 0x01, 0x89, 0xAB, 0xCD, 0xEF, 0, 0xFF, 0xFF}, 12, DIR_IN, 0xFFFF, false},
    };
}

std::vector<uint8_t> Twelve(std::vector<uint8_t> bytes) {
    bytes.resize(12, 0);
    return bytes;
}

class CommandsTest : public TransportTest {
protected:
    void SetUp() override {
        TransportTest::SetUp();
        aspi.drive = [](const uint8_t*, int, int, uint8_t*, uint32_t, uint8_t*, int) { return 0; };
        g_devices[0] = {1, 2, 0, 'D'};
        g_scanHaId = 4;
        g_scanTarget = 6;
    }
};

TEST_F(CommandsTest, OverSpti) {
    UseSpti();
    for (const Row& r : Rows()) {
        SCOPED_TRACE(r.name);
        device.calls = 0;
        ASSERT_TRUE(r.send());
        ASSERT_EQ(device.calls, 1);
        const ScsiPassThroughDirect& s = device.seen.sptd;
        EXPECT_EQ(std::vector<uint8_t>(s.Cdb, s.Cdb + 12), Twelve(r.cdb));
        EXPECT_EQ(s.CdbLength, r.cdbLength);
        EXPECT_EQ(s.DataIn, r.direction == DIR_IN ? SPTD_DATA_IN : SPTD_DATA_OUT);
        EXPECT_EQ(s.DataBuffer, r.direction == DIR_IN ? g_dataIn : g_dataOut);
        EXPECT_EQ(s.DataTransferLength, r.length);
    }
}

// A selector left at 0 behaves as SPTI.
TEST_F(CommandsTest, UnchosenTransportTakesSpti) {
    g_hDevice = OpenDevice('D');
    ASSERT_TRUE(CmdTestUnitReady());
    EXPECT_EQ(device.calls, 1);
    EXPECT_EQ(aspi.sendCalls, 0);
}

TEST_F(CommandsTest, OverAspi) {
    UseAspi();
    for (const Row& r : Rows()) {
        SCOPED_TRACE(r.name);
        aspi.sent.clear();
        ASSERT_TRUE(r.send());
        const std::vector<uint8_t>& b = aspi.sent;
        ASSERT_EQ(b.size(), off::Size);
        EXPECT_EQ(std::vector<uint8_t>(b.begin() + off::Cdb, b.begin() + off::Cdb + 12), Twelve(r.cdb));
        EXPECT_EQ(b[off::CdbLen], r.cdbLength);
        const uint8_t flags = r.direction == DIR_IN ? 0x48 : r.direction == DIR_OUT ? 0x50 : 0x40;
        EXPECT_EQ(b[off::Flags], flags);
        uint8_t* buffer = r.direction == DIR_IN ? g_dataIn : r.direction == DIR_OUT ? g_dataOut : nullptr;
        EXPECT_EQ(FakeAspi::Ptr(b, off::BufPointer), buffer);
        EXPECT_EQ(FakeAspi::U32(b, off::BufLen), r.length);
        EXPECT_EQ(b[off::HaId], r.probe ? 4 : 1);
        EXPECT_EQ(b[off::Target], r.probe ? 6 : 2);
    }
    EXPECT_EQ(device.calls, 0);
}

// A value wider than its CDB field would be cut; such a command is not sent at all.
TEST_F(CommandsTest, ValueWiderThanItsFieldIsNotSent) {
    UseSpti();
    struct Case {
        const char* name;
        std::function<bool()> send;
    } cases[] = {
        {"WRITE BUFFER offset", [] { return CmdWriteBuffer(BUFFER_FIRMWARE, 5, 0x1000000, 0x8000); }},
        {"WRITE BUFFER length", [] { return CmdWriteBuffer(BUFFER_FIRMWARE, 5, 0, 0x1000000); }},
        {"READ BUFFER offset", [] { return CmdReadBuffer(BUFFER_ID_BLOCK, 2, 0x1000000, 48); }},
        {"READ BUFFER length", [] { return CmdReadBuffer(BUFFER_ID_BLOCK, 2, 0, 0x1000030); }},
        {"READ TRACK INFORMATION length", [] { return CmdReadTrackInfo(0, 0, 0x10064); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_scsiStatus = SS_COMP;
        EXPECT_FALSE(c.send());
        EXPECT_EQ(g_scsiStatus, SS_ERR);
    }
    EXPECT_EQ(device.calls, 0);
}

TEST_F(CommandsTest, ResultFollowsTheStatus) {
    UseSpti();
    device.status = 2;
    device.sense = Sense(0x02, 0x3A, 0x00);
    EXPECT_FALSE(CmdStartStopUnit(1));
    EXPECT_EQ(GetSenseClass(), SENSE_NO_MEDIUM);
    device.status = 0;
    EXPECT_TRUE(CmdStartStopUnit(1));
}

}  // namespace
