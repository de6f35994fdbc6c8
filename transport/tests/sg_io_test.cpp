// The SPTI back-end through the system's own device seam: real SG_IO requests on
// the device node of D:, answered by the emulated drive in another process.
// Run by sg_io_test.sh, which starts the drive server and loads the preload
// library that serves the node; skipped when started without them.
#include "transport/report.h"
#include "transport/transport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class SgIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("QM_SG_SOCKET")) GTEST_SKIP() << "run through sg_io_test.sh";
        ASSERT_TRUE(AllocateTransferBuffers());
        g_transport = TRANSPORT_SPTI;
        g_hDevice = OpenDevice('D');
        ASSERT_NE(g_hDevice, nullptr);
    }
    void TearDown() override {
        CloseDevice(g_hDevice);
        FreeTransferBuffers();
    }
};

TEST_F(SgIoTest, DataIn) {
    const uint8_t inquiry[12] = {0x12, 0, 0, 0, 0xFE, 0};
    ASSERT_TRUE(SptiExecute6(DIR_IN, 254, inquiry));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(g_dataIn) + 8, 24), "TORVELL DVD-RW  WKZ4471 ");

    const uint8_t idBlock[12] = {0x3C, 0x02, 0xF1, 0, 0, 0, 0, 0, 0x30, 0, 0, 0};
    ASSERT_TRUE(SptiExecute12(DIR_IN, 48, idBlock));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(g_dataIn) + 16, 12), "0082VARNDT  ");
}

TEST_F(SgIoTest, DataOut) {
    for (uint32_t i = 0; i < 0x8000; ++i) g_dataOut[i] = static_cast<uint8_t>(i ^ (i >> 8));
    const uint8_t write[12] = {0x3B, 0x05, 0xF0, 0x00, 0x80, 0x00, 0x00, 0x80, 0x00, 0, 0, 0};
    EXPECT_TRUE(SptiExecute12(DIR_OUT, 0x8000, write));
    EXPECT_EQ(g_scsiStatus, SS_COMP);
}

// The drive of this run has no disc: TEST UNIT READY ends in CHECK CONDITION.
TEST_F(SgIoTest, NoDataAndCheckCondition) {
    const uint8_t tur[12] = {};
    EXPECT_FALSE(SptiExecute6(DIR_NONE, 0, tur));
    EXPECT_EQ(g_scsiStatus, SS_ERR);
    EXPECT_EQ(GetSenseClass(), SENSE_NO_MEDIUM);
    std::string report;
    FormatCommandReport(report);
    EXPECT_EQ(report, "Command    : 00 00 00 00 00 00 00 00 00 00 00 00 \r\nSense Code : 02-3a-00\r\n");

    const uint8_t inquiry[12] = {0x12, 0, 0, 0, 36, 0};
    ASSERT_TRUE(SptiExecute6(DIR_IN, 36, inquiry));
    EXPECT_EQ(GetSenseClass(), SENSE_NONE);
}

}  // namespace
