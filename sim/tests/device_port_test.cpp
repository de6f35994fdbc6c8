#include "sim/device_port.h"

#include "os/time.h"
#include "os/virtual_time.h"
#include "testing/pass_through.h"

#include <gtest/gtest.h>
#include <cstring>
#include <vector>

namespace {

TEST(SimDevicePort, OpensOnlyLettersWithADrive) {
    SimDevicePort port;
    std::string error;
    ASSERT_TRUE(port.AddScenario("drive = D\ndrive = F\n", &error)) << error;
    EXPECT_EQ(port.Open('C'), nullptr);
    EXPECT_EQ(port.Open('E'), nullptr);
    OsHandle d = port.Open('D');
    OsHandle f = port.Open('f');
    ASSERT_NE(d, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(port.OpenHandles(), 2);
    port.Close(d);
    port.Close(d);  // a stale handle is ignored
    EXPECT_EQ(port.OpenHandles(), 1);
    uint8_t data[8];
    SptdBuffer b = PassThroughRecord({0x00}, 6, SPTD_DATA_OUT, data, 0);
    EXPECT_FALSE(port.PassThrough(d, &b));
    port.Close(f);
}

TEST(SimDevicePort, OneHolderForUpdatePerDriveAsWithExclusiveOpens) {
    SimDevicePort port;
    std::string error;
    ASSERT_TRUE(port.AddScenario("drive = D\ndrive = F\n", &error)) << error;
    OsHandle plain = port.Open('D');
    OsHandle held = port.OpenForUpdate('D');
    ASSERT_NE(plain, nullptr);  // a plain open neither refuses the claim ...
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(port.OpenForUpdate('d'), nullptr);
    OsHandle probe = port.Open('D');  // ... nor is refused by it
    EXPECT_NE(probe, nullptr);
    OsHandle other = port.OpenForUpdate('F');  // another drive is another claim
    EXPECT_NE(other, nullptr);

    port.Close(held);
    OsHandle again = port.OpenForUpdate('D');
    EXPECT_NE(again, nullptr);
    for (OsHandle h : {plain, probe, other, again}) port.Close(h);
    EXPECT_EQ(port.OpenHandles(), 0);
}

// Reused between runs: every handle of the last run is gone, every drive is new.
TEST(SimDevicePort, ResetClosesEveryHandleAndResetsEachDrive) {
    SimDevicePort port;
    port.AddDrive();
    SimDriveConfig withDisc;
    withDisc.letter = 'F';
    withDisc.discLoaded = true;
    port.AddDrive(withDisc);
    OsHandle held = port.OpenForUpdate('D');
    OsHandle f = port.Open('F');
    ASSERT_NE(held, nullptr);
    ASSERT_NE(f, nullptr);
    SptdBuffer eject = PassThroughRecord({0x1B, 0, 0, 0, 0x02}, 6, SPTD_DATA_OUT, nullptr, 0);
    ASSERT_TRUE(port.PassThrough(f, &eject));
    ASSERT_TRUE(port.Drive('F')->TrayOpen());

    port.Reset();
    EXPECT_EQ(port.OpenHandles(), 0);
    SptdBuffer tur = PassThroughRecord({0x00}, 6, SPTD_DATA_OUT, nullptr, 0);
    EXPECT_FALSE(port.PassThrough(f, &tur)) << "a handle of the last run";
    EXPECT_FALSE(port.Drive('F')->TrayOpen());
    EXPECT_TRUE(port.Drive('F')->Transcript().empty());
    EXPECT_TRUE(port.Drive('D')->Transcript().empty());
    OsHandle again = port.OpenForUpdate('D');
    EXPECT_NE(again, nullptr);
    port.Close(again);
}

TEST(SimDevicePort, CarriesDataStatusAndSenseLikeTheSystem) {
    SimDevicePort port;
    SimDrive& drive = port.AddDrive();
    OsHandle h = port.Open('D');

    uint8_t data[254];
    std::memset(data, 0xEE, sizeof data);
    SptdBuffer b = PassThroughRecord({0x12, 0, 0, 0, 0xFE, 0}, 6, SPTD_DATA_IN, data, 254);
    ASSERT_TRUE(port.PassThrough(h, &b));
    EXPECT_EQ(b.sptd.ScsiStatus, 0);
    EXPECT_EQ(b.sptd.DataTransferLength, SIM_INQUIRY_SIZE);
    EXPECT_EQ(b.sptd.SenseInfoLength, 0);
    EXPECT_EQ(std::memcmp(data + 8, "TORVELL DVD-RW  WKZ4471 ", 24), 0);

    // No data phase: DataIn 0 with no length reaches the drive as such.
    b = PassThroughRecord({0x00}, 6, SPTD_DATA_OUT, data, 0);
    ASSERT_TRUE(port.PassThrough(h, &b));
    EXPECT_EQ(b.sptd.ScsiStatus, 2);
    EXPECT_EQ(b.sptd.SenseInfoLength, 18);
    EXPECT_EQ(b.sense[0], 0x70);
    EXPECT_EQ(b.sense[2], 0x02);
    EXPECT_EQ(b.sense[12], 0x3A);
    EXPECT_EQ(b.sense[18], 0);  // nothing beyond SenseInfoLength

    const auto t = drive.Transcript();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].direction, SIM_DIR_IN);
    EXPECT_EQ(t[0].dataLength, 254u);
    EXPECT_EQ(t[1].direction, SIM_DIR_NONE);
    port.Close(h);
}

// A data-out command reports what the drive took, as the system does.
TEST(SimDevicePort, DataOutReportsTheBytesTaken) {
    SimDevicePort port;
    std::string error;
    ASSERT_TRUE(port.AddScenario("fault = opcode=0x3B offset=0x8000 short=512\n", &error)) << error;
    OsHandle h = port.Open('D');
    std::vector<uint8_t> block(0x8000, 0x5A);
    for (uint32_t offset : {0u, 0x8000u}) {
        SptdBuffer b = PassThroughRecord({0x3B, 0x05, 0xF0, 0x00, uint8_t(offset >> 8), 0x00, 0x00, 0x80, 0x00}, 12,
                              SPTD_DATA_OUT, block.data(), 0x8000);
        ASSERT_TRUE(port.PassThrough(h, &b));
        EXPECT_EQ(b.sptd.ScsiStatus, 0);
        EXPECT_EQ(b.sptd.DataTransferLength, offset == 0 ? 0x8000u : 512u);
    }
    port.Close(h);
}

// The adapter's residual as a scenario makes it: honest, or wrong in each way a
// real one can be; the bytes that moved are the same either way.
TEST(SimDevicePort, ReportsTheAdaptersResidualHoweverWrong) {
    struct Case {
        const char* resid;
        uint32_t reported;  // DataTransferLength after the call
    } const cases[] = {
        {"", 34}, {" resid=zero", 96}, {" resid=negative", 96 + 16}, {" resid=over", uint32_t(-16)},
    };
    for (const Case& c : cases) {
        SimDevicePort port;
        std::string error;
        ASSERT_TRUE(port.AddScenario(std::string("fault = opcode=0x12 skip=1 short=34") + c.resid + "\n", &error))
            << error;
        OsHandle h = port.Open('D');
        for (int call = 0; call < 2; ++call) {  // the first one is let pass
            uint8_t data[96];
            std::memset(data, 0xEE, sizeof data);
            SptdBuffer b = PassThroughRecord({0x12, 0, 0, 0, 96}, 6, SPTD_DATA_IN, data, sizeof data);
            ASSERT_TRUE(port.PassThrough(h, &b));
            EXPECT_EQ(b.sptd.DataTransferLength, call == 0 ? 96u : c.reported) << c.resid;
            EXPECT_EQ(data[34] == 0xEE, call == 1) << c.resid;
        }
        port.Close(h);
    }
}

TEST(SimDevicePort, RefusesRecordsTheSystemWouldRefuse) {
    SimDevicePort port;
    SimDrive& drive = port.AddDrive();
    OsHandle h = port.Open('D');
    uint8_t data[48];
    struct Case {
        const char* name;
        void (*spoil)(SptdBuffer&);
    };
    const Case cases[] = {
        {"record length", [](SptdBuffer& b) { b.sptd.Length = 40; }},
        {"no CDB", [](SptdBuffer& b) { b.sptd.CdbLength = 0; }},
        {"CDB longer than 16", [](SptdBuffer& b) { b.sptd.CdbLength = 17; }},
        {"direction 2", [](SptdBuffer& b) { b.sptd.DataIn = 2; }},
        {"no data buffer", [](SptdBuffer& b) { b.sptd.DataBuffer = nullptr; }},
        {"sense over the record", [](SptdBuffer& b) { b.sptd.SenseInfoOffset = 8; }},
        {"sense past the buffer", [](SptdBuffer& b) { b.sptd.SenseInfoLength = 40; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SptdBuffer b = PassThroughRecord({0x3C, 0x02, 0xF1, 0, 0, 0, 0, 0, 48}, 12, SPTD_DATA_IN, data, 48);
        c.spoil(b);
        EXPECT_FALSE(port.PassThrough(h, &b));
    }
    EXPECT_TRUE(drive.Transcript().empty());
    port.Close(h);
}

TEST(SimDevicePort, UnansweredCommandFailsAfterTheTimeOut) {
    VirtualTime clock;
    OsSetTime(&clock);
    SimDevicePort port;
    std::string error;
    ASSERT_TRUE(port.AddScenario("fault = opcode=0x3C no-answer\nfault = nth=2 vanish\n", &error)) << error;
    OsHandle h = port.Open('D');
    uint8_t data[48];
    SptdBuffer b = PassThroughRecord({0x3C, 0x02, 0xF1, 0, 0, 0, 0, 0, 48}, 12, SPTD_DATA_IN, data, 48);
    EXPECT_FALSE(port.PassThrough(h, &b));
    EXPECT_EQ(clock.NowMs(), 120000u);

    // A drive that is gone fails at once and no longer opens.
    b = PassThroughRecord({0x00}, 6, SPTD_DATA_OUT, data, 0);
    EXPECT_FALSE(port.PassThrough(h, &b));
    EXPECT_EQ(clock.NowMs(), 120000u);
    EXPECT_EQ(port.Open('D'), nullptr);
    port.Close(h);
    OsSetTime(nullptr);
}

}  // namespace
