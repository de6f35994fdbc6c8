// Both back-ends against the emulated drive: data in, data out, no data, and
// CHECK CONDITION with its sense, as the drive received and answered them.
#include "sim/device_port.h"
#include "testing/transport_fixture.h"
#include "transport/report.h"

namespace {

const uint8_t kInquiry36[12] = {0x12, 0x00, 0x00, 0x00, 0x24, 0x00};
const uint8_t kTestUnitReady[12] = {};
const uint8_t kWriteBlock1[12] = {0x3B, 0x05, 0xF0, 0x00, 0x80, 0x00, 0x00, 0x80, 0x00};

class EmulatedDriveTest : public TransportTest, public ::testing::WithParamInterface<int> {
protected:
    SimDevicePort port;
    SimDrive* drive = nullptr;

    // The drive at D:, reached over the transport under test.
    void Attach(const SimDriveConfig& config) {
        drive = &port.AddDrive(config);
        if (GetParam() == TRANSPORT_SPTI) {
            OsSetDevices(&port);
            g_transport = TRANSPORT_SPTI;
            g_hDevice = OpenDevice('D');
            ASSERT_NE(g_hDevice, nullptr);
        } else {
            SimDrive* d = drive;
            aspi.drive = [d](const uint8_t* cdb, int cdbLength, int direction, uint8_t* data, uint32_t length,
                             uint8_t* sense, int senseLength) {
                return d->Execute(cdb, cdbLength, direction, data, length, sense, senseLength);
            };
            UseAspi();
        }
    }

    void TearDown() override {
        CloseDevice(g_hDevice);
        TransportTest::TearDown();
    }

    static bool Run(int cdbLength, int direction, uint32_t length, const uint8_t* cdb) {
        const bool aspi = g_transport == TRANSPORT_ASPI;
        switch (cdbLength) {
        case 6: return aspi ? AspiExecute6(direction, length, cdb) : SptiExecute6(direction, length, cdb);
        case 10: return aspi ? AspiExecute10(direction, length, cdb) : SptiExecute10(direction, length, cdb);
        default: return aspi ? AspiExecute12(direction, length, cdb) : SptiExecute12(direction, length, cdb);
        }
    }

    SimCommandRecord Last() const { return drive->Transcript().back(); }
};

SimDriveConfig DiscLoaded() {
    SimDriveConfig c;
    c.discLoaded = true;
    return c;
}

TEST_P(EmulatedDriveTest, DataIn) {
    Attach(DiscLoaded());
    ASSERT_TRUE(Run(6, DIR_IN, 36, kInquiry36));
    EXPECT_EQ(g_scsiStatus, SS_COMP);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(g_dataIn) + 8, 28), "TORVELL DVD-RW  WKZ4471 1.00");
    const SimCommandRecord r = Last();
    EXPECT_EQ(r.cdbLength, 6);
    EXPECT_EQ(r.direction, SIM_DIR_IN);
    EXPECT_EQ(r.dataLength, 36u);
    EXPECT_EQ(std::memcmp(r.cdb.data(), kInquiry36, 12), 0);
}

TEST_P(EmulatedDriveTest, DataOut) {
    Attach(DiscLoaded());
    for (uint32_t i = 0; i < 0x8000; ++i) g_dataOut[i] = static_cast<uint8_t>(i * 7 + 3);
    ASSERT_TRUE(Run(12, DIR_OUT, 0x8000, kWriteBlock1));
    const SimCommandRecord r = Last();
    EXPECT_EQ(r.cdbLength, 12);
    EXPECT_EQ(r.direction, SIM_DIR_OUT);
    EXPECT_EQ(r.transferred, 0x8000u);
    const std::vector<uint8_t> area = drive->FirmwareArea();
    EXPECT_TRUE(std::equal(g_dataOut, g_dataOut + 0x8000, area.begin() + 0x8000));
}

TEST_P(EmulatedDriveTest, NoData) {
    Attach(DiscLoaded());
    ASSERT_TRUE(Run(6, DIR_NONE, 0, kTestUnitReady));
    const SimCommandRecord r = Last();
    EXPECT_EQ(r.direction, SIM_DIR_NONE);
    EXPECT_EQ(r.dataLength, 0u);
}

// The sense of a CHECK CONDITION reaches the class and the report; what a later
// success leaves of it differs by transport.
TEST_P(EmulatedDriveTest, CheckConditionWithSense) {
    SimDriveConfig trayOpen;
    trayOpen.trayOpen = true;
    Attach(trayOpen);
    EXPECT_FALSE(Run(6, DIR_NONE, 0, kTestUnitReady));
    EXPECT_EQ(g_scsiStatus, SS_ERR);
    EXPECT_EQ(GetSenseClass(), SENSE_NO_MEDIUM);
    std::string report;
    FormatCommandReport(report);
    EXPECT_EQ(report, "Command    : 00 00 00 00 00 00 00 00 00 00 00 00 \r\nSense Code : 02-3a-02\r\n");

    ASSERT_TRUE(Run(6, DIR_IN, 36, kInquiry36));
    // SPTI rebuilds its record for each command; the ASPI block keeps its sense.
    EXPECT_EQ(GetSenseClass(), GetParam() == TRANSPORT_SPTI ? SENSE_NONE : SENSE_NO_MEDIUM);
}

INSTANTIATE_TEST_SUITE_P(Transports, EmulatedDriveTest, ::testing::Values(TRANSPORT_SPTI, TRANSPORT_ASPI),
                         [](const ::testing::TestParamInfo<int>& p) {
                             return std::string(p.param == TRANSPORT_SPTI ? "Spti" : "Aspi");
                         });

// A drive that never answers: the system gives up after the record's time-out,
// and that is a failure with no sense, not the zero status left in the record.
using HungDriveTest = TransportTest;

TEST_F(HungDriveTest, UnansweredPassThroughFails) {
    SimDevicePort port;
    SimDriveConfig config = DiscLoaded();
    SimFault hang;
    hang.opcode = 0x00;
    hang.noAnswer = true;
    config.faults.push_back(hang);
    port.AddDrive(config);
    OsSetDevices(&port);
    g_transport = TRANSPORT_SPTI;
    g_hDevice = OpenDevice('D');
    ASSERT_NE(g_hDevice, nullptr);

    EXPECT_FALSE(SptiExecute6(DIR_NONE, 0, kTestUnitReady));
    EXPECT_EQ(clock.NowMs(), 120000u);
    EXPECT_EQ(g_scsiStatus, SS_ERR);
    EXPECT_EQ(GetSenseClass(), SENSE_NONE);
    CloseDevice(g_hDevice);
}

}  // namespace
