// The worker: its reports, one worker at a time over the shared request state,
// the rule for its final report, and the disc check.
#include "testing/engine_fixture.h"
#include "testing/overlap_watch.h"

#include <vector>

namespace {

SimFault Delay(int opcode, uint32_t ms) {
    SimFault f;
    f.opcode = opcode;
    f.delayMs = ms;
    f.times = 1;
    return f;
}

using WorkerTest = EngineTest;

TEST_F(WorkerTest, ReadInquiryKeepsTheDataAndReports) {
    devices.AddDrive();
    g_inquiryLength = 0;
    ASSERT_EQ(RunWorker(OP_READ_INQUIRY), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(g_inquiryData) + 8, 28), "TORVELL DVD-RW  WKZ4471 1.00");
    EXPECT_EQ(g_inquiryLength, SIM_INQUIRY_SIZE);  // of the 254 asked
    std::vector<PostedNotify> notes = host.Notes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].code, NOTIFY_INQUIRY_READY);
    EXPECT_EQ(notes[0].lParam, LPARAM_WORKER_ENDED);
}

TEST_F(WorkerTest, FailedInquiryStillReportsWhatTheBufferHeld) {
    SimDriveConfig config;
    SimFault refuse;
    refuse.opcode = 0x12;
    refuse.refuse = true;
    refuse.sense = {0x05, 0x24, 0x00};
    config.faults.push_back(refuse);
    devices.AddDrive(config);
    for (int i = 0; i < INQUIRY_LENGTH; ++i) g_dataIn[i] = static_cast<uint8_t>(i);
    g_inquiryLength = 99;
    ASSERT_EQ(RunWorker(OP_READ_INQUIRY), 1);
    EXPECT_EQ(FinalReport(), int(NOTIFY_INQUIRY_READY));
    EXPECT_EQ(std::memcmp(g_inquiryData, g_dataIn, INQUIRY_LENGTH), 0);
    EXPECT_EQ(g_inquiryLength, 0u);  // none of it is the drive's
}

TEST_F(WorkerTest, NoWorkerWhenTheDriveLetterWillNotOpen) {
    g_workerOp = OP_READ_INQUIRY;
    EXPECT_EQ(StartWorker(&host, 'E', true), 0);
    EXPECT_TRUE(WaitForWorker(0));
    EXPECT_TRUE(host.Notes().empty());
    EXPECT_EQ(g_hDevice, nullptr);
}

TEST_F(WorkerTest, AspiStartsWithoutOpeningADevice) {
    g_transport = TRANSPORT_ASPI;  // no manager loaded: the command fails, the report comes
    ASSERT_EQ(RunWorker(OP_READ_INQUIRY, 'Q'), 1);
    EXPECT_EQ(FinalReport(), int(NOTIFY_INQUIRY_READY));
    EXPECT_EQ(g_hDevice, nullptr);
}

TEST_F(WorkerTest, NextWorkerWaitsForOneThatOutlivedItsWait) {
    OverlapWatch watch(devices);
    OsSetDevices(&watch);
    SimDriveConfig config;
    config.discLoaded = true;
    config.faults.push_back(Delay(0x51, 20000));  // the disc check's first command
    devices.AddDrive(config);

    g_workerOp = OP_CHECK_DISC;
    ASSERT_EQ(StartWorker(&host, 'D', true), 1);
    EXPECT_EQ(clock.NowMs(), WORKER_WAIT_MS);
    EXPECT_FALSE(WaitForWorker(0));

    g_workerOp = OP_READ_INQUIRY;
    ASSERT_EQ(StartWorker(&host, 'D', false), 1);
    EXPECT_GE(clock.NowMs(), 20000u);  // started only once the check had ended
    WaitForWorker(OS_WAIT_FOREVER);
    EXPECT_EQ(watch.violations.load(), 0);
    std::vector<PostedNotify> notes = host.Notes();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].code, NOTIFY_NONE);
    EXPECT_EQ(notes[1].code, NOTIFY_INQUIRY_READY);
    OsSetDevices(&devices);
}

TEST_F(WorkerTest, StaleReportLeavesTheNewerWorkersHandleOpen) {
    SimDriveConfig config;
    config.faults.push_back(Delay(0x51, 10000));
    devices.AddDrive(config);
    // The drive's identification has been read; its report is still queued when the
    // user starts the next operation.
    ASSERT_EQ(RunWorker(OP_READ_INQUIRY), 1);
    g_workerOp = OP_CHECK_DISC;
    ASSERT_EQ(StartWorker(&host, 'D', false), 1);
    OsHandle inUse = g_hDevice;

    EXPECT_FALSE(HandleWorkerEndedReport());  // the identification's report
    EXPECT_EQ(g_hDevice, inUse);
    EXPECT_EQ(devices.OpenHandles(), 1);

    WaitForWorker(OS_WAIT_FOREVER);
    EXPECT_TRUE(HandleWorkerEndedReport());  // the check's own
    EXPECT_EQ(g_hDevice, nullptr);
    EXPECT_EQ(devices.OpenHandles(), 0);
}

TEST_F(WorkerTest, FinalReportClosesTheHandleOnceItsWorkerEnded) {
    devices.AddDrive();
    ASSERT_EQ(RunWorker(OP_READ_INQUIRY), 1);
    ASSERT_NE(g_hDevice, nullptr);
    EXPECT_TRUE(HandleWorkerEndedReport());
    EXPECT_EQ(g_hDevice, nullptr);
    EXPECT_EQ(devices.OpenHandles(), 0);
}

// The disc check: which drive states count as no disc, and where the check stops.
struct DiscCase {
    const char* name;
    bool discLoaded;
    bool trayOpen;
    std::vector<int> refusedOpcodes;  // refused with 05/24/00
    bool present;
    size_t commands;
    int64_t mediaEventBytes = -1;  // GET EVENT STATUS reply cut to this many bytes
};
void PrintTo(const DiscCase& c, std::ostream* os) { *os << c.name; }

const DiscCase kDiscCases[] = {
    {"disc_loaded", true, false, {}, true, 7},
    {"empty_tray_closed_stops_at_second_disc_info", false, false, {}, false, 3},
    {"tray_open", false, true, {}, false, 3},
    {"no_medium_first_seen_by_track_info", false, false, {0x51}, false, 4},
    {"no_medium_first_seen_by_toc", false, false, {0x51, 0x52}, false, 5},
    {"no_medium_first_seen_by_test_unit_ready", false, false, {0x51, 0x52, 0x43}, false, 6},
    {"media_event_without_medium", false, false, {0x51, 0x52, 0x43, 0x00}, false, 7},
    {"every_command_refused_counts_as_a_disc", false, false, {0x51, 0x52, 0x43, 0x00, 0x4A}, true, 7},
    {"media_event_refused_with_disc", true, false, {0x4A}, true, 7},
    // A reply that ends before byte 5 says nothing about the medium.
    {"media_event_cut_before_byte_5", false, false, {0x51, 0x52, 0x43, 0x00}, true, 7, 5},
};

class DiscCheck : public EngineTest, public ::testing::WithParamInterface<DiscCase> {};

TEST_P(DiscCheck, DecidesFromNoMediumSenseAndTheMediaEvent) {
    const DiscCase& c = GetParam();
    SimDriveConfig config;
    config.discLoaded = c.discLoaded;
    config.trayOpen = c.trayOpen;
    for (int opcode : c.refusedOpcodes) {
        SimFault f;
        f.opcode = opcode;
        f.refuse = true;
        f.sense = {0x05, 0x24, 0x00};
        config.faults.push_back(f);
    }
    if (c.mediaEventBytes >= 0) {
        SimFault f;
        f.opcode = 0x4A;
        f.shortTo = c.mediaEventBytes;
        config.faults.push_back(f);
    }
    SimDrive& drive = devices.AddDrive(config);
    g_discPresent = c.present ? 0 : 1;  // the opposite of the answer expected
    std::memset(g_dataIn, 0, 8);        // an earlier reply's "no medium" at byte 5
    EXPECT_EQ(CheckDiscPresent(&host, 'D'), c.present);
    EXPECT_EQ(drive.Transcript().size(), c.commands);
    WaitForWorker(OS_WAIT_FOREVER);
    EXPECT_EQ(FinalReport(), int(NOTIFY_NONE));
}

INSTANTIATE_TEST_SUITE_P(Table, DiscCheck, ::testing::ValuesIn(kDiscCases),
                         [](const ::testing::TestParamInfo<DiscCase>& info) { return std::string(info.param.name); });

TEST_F(WorkerTest, DiscCheckNotFinishedInTimeCountsAsADisc) {
    SimDriveConfig config;  // no disc: a finished check would say so
    config.faults.push_back(Delay(0x51, 20000));
    devices.AddDrive(config);
    g_discPresent = 0;
    EXPECT_TRUE(CheckDiscPresent(&host, 'D'));
    EXPECT_EQ(clock.NowMs(), WORKER_WAIT_MS);
}

TEST_F(WorkerTest, DiscCheckThatCannotStartKeepsThePreviousAnswer) {
    for (int previous : {0, 1}) {
        g_discPresent = previous;
        EXPECT_EQ(CheckDiscPresent(&host, 'E'), previous == 1);  // no drive at E
    }
}

}  // namespace
