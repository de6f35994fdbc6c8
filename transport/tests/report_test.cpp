// The command report, byte for byte, from the record of each transport.
#include "transport/report.h"

#include "testing/transport_fixture.h"

namespace {

using ReportTest = TransportTest;

const uint8_t kInquiry[12] = {0x12, 0x00, 0x00, 0x00, 0xFE, 0x00};

TEST_F(ReportTest, SixByteCommandOverSpti) {
    UseSpti();
    device.status = 2;
    device.sense = Sense(0x0B, 0xAF, 0xC4);
    ASSERT_FALSE(SptiExecute6(DIR_IN, 254, kInquiry));
    std::string report = "left over";
    FormatCommandReport(report);
    EXPECT_EQ(report,
              "Command    : 12 00 00 00 fe 00 00 00 00 00 00 00 \r\n"
              "Sense Code : 0b-af-c4\r\n");
}

// The record is rebuilt for each command, so an earlier failure's sense is gone.
TEST_F(ReportTest, FailureWithoutSenseOverSptiReadsZero) {
    UseSpti();
    device.status = 2;
    device.sense = Sense(0x02, 0x3A, 0x00);
    ASSERT_FALSE(SptiExecute6(DIR_IN, 254, kInquiry));
    device.status = 0x08;  // BUSY: no sense data
    device.sense.clear();
    const uint8_t cdb[12] = {0x3B, 0x05, 0xF0, 0x1D, 0x80, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00};
    ASSERT_FALSE(SptiExecute12(DIR_OUT, 0x8000, cdb));
    std::string report;
    FormatCommandReport(report);
    EXPECT_EQ(report,
              "Command    : 3b 05 f0 1d 80 00 00 80 00 00 00 00 \r\n"
              "Sense Code : 00-00-00\r\n");
}

// The ASPI block keeps its sense area: a failure without sense shows the last one.
TEST_F(ReportTest, FailureWithoutSenseOverAspiShowsTheEarlierSense) {
    UseAspi();
    int answer = 2;
    aspi.drive = [&answer](const uint8_t*, int, int, uint8_t*, uint32_t, uint8_t* sense, int) {
        if (answer == 2) std::memcpy(sense, Sense(0x06, 0x29, 0x00).data(), 18);
        return answer;
    };
    ASSERT_FALSE(AspiExecute6(DIR_IN, 254, kInquiry));
    answer = 0x08;
    const uint8_t tur[12] = {};
    ASSERT_FALSE(AspiExecute6(DIR_NONE, 0, tur));
    std::string report;
    FormatCommandReport(report);
    EXPECT_EQ(report,
              "Command    : 00 00 00 00 00 00 00 00 00 00 00 00 \r\n"
              "Sense Code : 06-29-00\r\n");
}

}  // namespace
