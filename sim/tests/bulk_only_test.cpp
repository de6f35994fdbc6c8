// The Bulk-Only command loop against a scripted host: what goes back for each
// kind of wrapper, the data the host expects or less, failures and their sense,
// wrappers that are not valid, and commands the drive never completes.
#include "sim/usb/bulk_only.h"
#include "sim/scenario.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace {

// Records what the device did, as one line per action.
class ScriptedHost : public BotPipe {
public:
    std::deque<std::vector<uint8_t>> toDevice;  // the host's transfers, in order
    std::vector<std::string> actions;
    std::vector<uint8_t> dataIn;                // the data phase's bytes (not the status)
    std::vector<uint8_t> csw;

    long Receive(uint8_t* to, size_t size) override {
        if (toDevice.empty()) return -1;
        std::vector<uint8_t> t = toDevice.front();
        toDevice.pop_front();
        EXPECT_LE(t.size(), size);
        std::copy(t.begin(), t.end(), to);
        return long(t.size());
    }
    bool Send(const uint8_t* from, size_t size) override {
        if (size == BOT_CSW_SIZE && from[0] == 'U' && from[1] == 'S' && from[2] == 'B' && from[3] == 'S') {
            csw.assign(from, from + size);
            actions.push_back("csw");
        } else {
            dataIn.insert(dataIn.end(), from, from + size);
            actions.push_back("data " + std::to_string(size));
        }
        return true;
    }
    void HaltIn() override { actions.push_back("halt in"); }
    void HaltOut() override { actions.push_back("halt out"); }
    void AwaitReset() override { actions.push_back("await reset"); }

    uint32_t Residue() const { return csw[8] | (csw[9] << 8) | (csw[10] << 16) | (uint32_t(csw[11]) << 24); }
    int Status() const { return csw[12]; }
};

std::vector<uint8_t> Cbw(uint32_t tag, uint32_t length, bool in, std::vector<uint8_t> cdb) {
    std::vector<uint8_t> w(31, 0);
    const uint32_t fields[] = {BOT_CBW_SIGNATURE, tag, length};
    for (int f = 0; f < 3; ++f)
        for (int i = 0; i < 4; ++i) w[4 * f + i] = uint8_t(fields[f] >> (8 * i));
    w[12] = in ? 0x80 : 0x00;
    w[14] = uint8_t(cdb.size());
    std::copy(cdb.begin(), cdb.end(), w.begin() + 15);
    return w;
}

SimDriveConfig Scenario(const std::string& text) {
    std::vector<SimDriveConfig> drives;
    std::string error;
    EXPECT_TRUE(SimParseScenario(text, &drives, &error)) << error;
    return drives.front();
}

struct Case {
    const char* name;
    const char* scenario;
    std::vector<std::vector<uint8_t>> host;  // the wrapper, then any data out
    std::vector<std::string> actions;
    int status;
    uint32_t residue;
};

TEST(BulkOnly, AnswersEachWrapperWithTheDataAndResidue) {
    const std::vector<uint8_t> block(0x8000, 0x5A);
    const std::vector<Case> cases = {
        {"no data", "disc = present", {Cbw(7, 0, false, {0x00, 0, 0, 0, 0, 0})}, {"csw"}, BOT_CSW_PASSED, 0},
        {"in, as much as expected", "", {Cbw(7, 36, true, {0x12, 0, 0, 0, 36, 0})}, {"data 36", "csw"},
         BOT_CSW_PASSED, 0},
        // 96 bytes to a host that expects 255: the stall ends its data phase.
        {"in, less than expected", "", {Cbw(7, 255, true, {0x12, 0, 0, 0, 255, 0})},
         {"data 96", "halt in", "csw"}, BOT_CSW_PASSED, 255 - 96},
        {"in, a short reply", "fault = opcode=0x12 short=5", {Cbw(7, 36, true, {0x12, 0, 0, 0, 36, 0})},
         {"data 5", "halt in", "csw"}, BOT_CSW_PASSED, 31},
        {"in, nothing at all", "fault = opcode=0x12 short=0", {Cbw(7, 36, true, {0x12, 0, 0, 0, 36, 0})},
         {"halt in", "csw"}, BOT_CSW_PASSED, 36},
        {"in, event status", "", {Cbw(7, 8, true, {0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 8, 0})},
         {"data 8", "csw"}, BOT_CSW_PASSED, 0},
        {"in, failed", "", {Cbw(7, 48, true, {0x3C, 0x02, 0xF0, 0, 0, 0, 0, 0, 48, 0})}, {"halt in", "csw"},
         BOT_CSW_FAILED, 48},
        {"out, all taken", "", {Cbw(7, 0x8000, false, {0x3B, 0x05, 0xF0, 0, 0, 0, 0, 0x80, 0, 0}), block},
         {"csw"}, BOT_CSW_PASSED, 0},
        {"out, part taken", "fault = opcode=0x3B short=100",
         {Cbw(7, 0x8000, false, {0x3B, 0x05, 0xF0, 0, 0, 0, 0, 0x80, 0, 0}), block}, {"csw"}, BOT_CSW_PASSED,
         0x8000 - 100},
        {"no data, failed", "", {Cbw(7, 0, false, {0x00, 0, 0, 0, 0, 0})}, {"csw"}, BOT_CSW_FAILED, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimDrive drive(Scenario(c.scenario));
        std::vector<size_t> recorded;
        BulkOnlyTarget target(&drive, [&](size_t i) { recorded.push_back(i); });
        ScriptedHost host;
        host.toDevice.assign(c.host.begin(), c.host.end());
        EXPECT_EQ(target.ServeOne(&host), BotOutcome::Answered);
        EXPECT_EQ(host.actions, c.actions);
        ASSERT_EQ(host.csw.size(), BOT_CSW_SIZE);
        EXPECT_EQ(std::vector<uint8_t>(host.csw.begin() + 4, host.csw.begin() + 8),
                  std::vector<uint8_t>({7, 0, 0, 0}));
        EXPECT_EQ(host.Status(), c.status);
        EXPECT_EQ(host.Residue(), c.residue);
        EXPECT_EQ(recorded, std::vector<size_t>({0}));
        EXPECT_TRUE(host.toDevice.empty()) << "every byte the host sent was taken";
    }
}

TEST(BulkOnly, DataReachesTheDriveAndComesBackAsSent) {
    SimDrive drive;
    BulkOnlyTarget target(&drive, nullptr);
    ScriptedHost host;
    std::vector<uint8_t> block(0x8000);
    for (size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(i * 7);
    // The host may deliver the data phase in pieces.
    host.toDevice = {Cbw(1, 0x8000, false, {0x3B, 0x05, 0xF0, 0, 0x80, 0, 0, 0x80, 0, 0}),
                     std::vector<uint8_t>(block.begin(), block.begin() + 512),
                     std::vector<uint8_t>(block.begin() + 512, block.end())};
    ASSERT_EQ(target.ServeOne(&host), BotOutcome::Answered);
    EXPECT_EQ(drive.FirmwareArea(0x8000, 0x8000), block);
    host.toDevice = {Cbw(2, 96, true, {0x12, 0, 0, 0, 96, 0})};
    ASSERT_EQ(target.ServeOne(&host), BotOutcome::Answered);
    ASSERT_EQ(host.dataIn.size(), 96u);
    EXPECT_EQ(std::string(host.dataIn.begin() + 8, host.dataIn.begin() + 32), SIM_DEFAULT_IDENTIFICATION);
}

TEST(BulkOnly, RequestSenseAfterAFailureGetsItsSenseOnce) {
    SimDrive drive(Scenario("fault = opcode=0x3B sense=03/0C/00"));
    BulkOnlyTarget target(&drive, nullptr);
    ScriptedHost host;
    const auto requestSense = Cbw(3, 18, true, {0x03, 0, 0, 0, 18, 0});
    host.toDevice = {Cbw(1, 0x100, false, {0x3B, 0x05, 0xF0, 0, 0, 0, 0, 0x01, 0, 0}),
                     std::vector<uint8_t>(0x100), requestSense, requestSense};
    ASSERT_EQ(target.ServeOne(&host), BotOutcome::Answered);
    EXPECT_EQ(host.Status(), BOT_CSW_FAILED);
    ASSERT_EQ(target.ServeOne(&host), BotOutcome::Answered);
    ASSERT_EQ(host.dataIn.size(), 18u);
    EXPECT_EQ(host.dataIn[0], 0x70);
    EXPECT_EQ((SimSense{host.dataIn[2], host.dataIn[12], host.dataIn[13]}), (SimSense{0x03, 0x0C, 0x00}));
    // The sense went with the first request; a second one finds none.
    host.dataIn.clear();
    ASSERT_EQ(target.ServeOne(&host), BotOutcome::Answered);
    ASSERT_EQ(host.dataIn.size(), 18u);
    EXPECT_EQ((SimSense{host.dataIn[2], host.dataIn[12], host.dataIn[13]}), (SimSense{}));
    // Every one reached the drive, so the transcript shows what the kernel asked.
    EXPECT_EQ(drive.Transcript().size(), 3u);
}

TEST(BulkOnly, AnotherCommandClearsTheKeptSense) {
    SimDrive drive;  // no disc: TEST UNIT READY fails with 02/3A/00
    BulkOnlyTarget target(&drive, nullptr);
    ScriptedHost host;
    host.toDevice = {Cbw(1, 0, false, {0x00, 0, 0, 0, 0, 0}), Cbw(2, 36, true, {0x12, 0, 0, 0, 36, 0}),
                     Cbw(3, 18, true, {0x03, 0, 0, 0, 18, 0})};
    for (int i = 0; i < 3; ++i) ASSERT_EQ(target.ServeOne(&host), BotOutcome::Answered);
    ASSERT_EQ(host.dataIn.size(), 36u + 18u);
    EXPECT_EQ(host.dataIn[36 + 2], 0x00);
}

TEST(BulkOnly, WrappersThatAreNotValidHaltBothPipesAndReachNoDrive) {
    auto badSignature = Cbw(1, 0, false, {0x00, 0, 0, 0, 0, 0});
    badSignature[0] = 'X';
    auto badLun = Cbw(1, 0, false, {0x00, 0, 0, 0, 0, 0});
    badLun[13] = 1;
    auto noCdb = Cbw(1, 0, false, {});
    auto longCdb = Cbw(1, 0, false, {0x00});
    longCdb[14] = 17;
    auto tooLong = Cbw(1, 0, false, {0x00, 0, 0, 0, 0, 0});
    tooLong.push_back(0);
    auto tooShort = Cbw(1, 0, false, {0x00, 0, 0, 0, 0, 0});
    tooShort.pop_back();
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> cases = {
        {"signature", badSignature}, {"LUN 1", badLun}, {"no CDB", noCdb}, {"CDB of 17", longCdb},
        {"32 bytes", tooLong}, {"30 bytes", tooShort}, {"too much data", Cbw(1, BOT_MAX_TRANSFER + 1, true, {0x12})}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        SimDrive drive;
        BulkOnlyTarget target(&drive, nullptr);
        ScriptedHost host;
        host.toDevice = {c.second};
        EXPECT_EQ(target.ServeOne(&host), BotOutcome::InvalidCbw);
        EXPECT_EQ(host.actions, std::vector<std::string>({"halt in", "halt out", "await reset"}));
        EXPECT_TRUE(drive.Transcript().empty());
    }
}

TEST(BulkOnly, UnansweredCommandGetsNoStatusUntilAReset) {
    SimDrive drive(Scenario("fault = opcode=0x3B times=1 no-answer"));
    BulkOnlyTarget target(&drive, nullptr);
    ScriptedHost host;
    host.toDevice = {Cbw(1, 0x100, false, {0x3B, 0x05, 0xF0, 0, 0, 0, 0, 0x01, 0, 0}), std::vector<uint8_t>(0x100),
                     Cbw(2, 36, true, {0x12, 0, 0, 0, 36, 0})};
    EXPECT_EQ(target.ServeOne(&host), BotOutcome::NoAnswer);
    EXPECT_EQ(host.actions, std::vector<std::string>({"await reset"}));
    // After the reset the next wrapper is served as usual.
    EXPECT_EQ(target.ServeOne(&host), BotOutcome::Answered);
    EXPECT_EQ(host.Status(), BOT_CSW_PASSED);
}

TEST(BulkOnly, AFailedTransferEndsTheCommand) {
    SimDrive drive;
    BulkOnlyTarget target(&drive, nullptr);
    ScriptedHost host;
    EXPECT_EQ(target.ServeOne(&host), BotOutcome::PipeFailed);
    // The data phase broke off: the drive never sees the block.
    host.toDevice = {Cbw(1, 0x100, false, {0x3B, 0x05, 0xF0, 0, 0, 0, 0, 0x01, 0, 0})};
    EXPECT_EQ(target.ServeOne(&host), BotOutcome::PipeFailed);
    EXPECT_TRUE(drive.Transcript().empty());
}

}  // namespace
