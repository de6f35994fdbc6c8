#include "sim/drive.h"
#include "sim/image.h"
#include "sim/tests/sim_test_util.h"

#include "os/time.h"
#include "os/virtual_time.h"

#include <gtest/gtest.h>
#include <functional>
#include <string>

namespace {

// The second firmware block (at 0x8000) refused once with a write error.
SimFault SecondBlockRefusedOnce() {
    SimFault fault;
    fault.opcode = 0x3B;
    fault.bufferId = 0xF0;
    fault.offset = 0x8000;
    fault.times = 1;
    fault.refuse = true;
    fault.sense = {0x03, 0x0C, 0x00};
    return fault;
}

struct RefusalCase {
    const char* name;
    std::function<void(SimDriveConfig&)> setUp;
    std::array<uint8_t, 12> cdb;
    int cdbLen;
    int direction;
    uint32_t length;
    std::vector<uint8_t> out;
    SimSense expected;
};

TEST(SimDrive, RefusesWithFixedFormatSense) {
    auto none = [](SimDriveConfig&) {};
    const std::vector<RefusalCase> cases = {
        {"unknown opcode", none, Cdb({0x25}), 10, SIM_DIR_IN, 8, {}, {0x05, 0x20, 0x00}},
        {"TUR, tray closed, no disc", none, Cdb({0x00}), 6, SIM_DIR_NONE, 0, {}, {0x02, 0x3A, 0x00}},
        {"TUR, tray open", [](SimDriveConfig& c) { c.trayOpen = true; c.discLoaded = true; }, Cdb({0x00}), 6,
         SIM_DIR_NONE, 0, {}, {0x02, 0x3A, 0x02}},
        {"disc info, no disc", none, Cdb({0x51, 0, 0, 0, 0, 0, 0, 0, 34}), 10, SIM_DIR_IN, 34, {}, {0x02, 0x3A, 0x00}},
        {"track info, no disc", none, Cdb({0x52, 0, 0, 0, 0, 0, 0, 0, 100}), 12, SIM_DIR_IN, 100, {},
         {0x02, 0x3A, 0x00}},
        {"TOC, tray open", [](SimDriveConfig& c) { c.trayOpen = true; }, Cdb({0x43, 0, 0, 0, 0, 0, 1, 0, 48}), 10,
         SIM_DIR_IN, 48, {}, {0x02, 0x3A, 0x02}},
        {"eject without disc", none, Cdb({0x1B, 0, 0, 0, 0x02}), 6, SIM_DIR_NONE, 0, {}, {0x02, 0x3A, 0x00}},
        {"unsupported VPD page", none, Cdb({0x12, 0x01, 0x83, 0, 0xFE}), 6, SIM_DIR_IN, 254, {}, {0x05, 0x24, 0x00}},
        {"page code without EVPD", none, Cdb({0x12, 0x00, 0x80, 0, 0xFE}), 6, SIM_DIR_IN, 254, {},
         {0x05, 0x24, 0x00}},
        {"read of the firmware buffer", none, Cdb({0x3C, 0x02, 0xF0, 0, 0, 0, 0, 0, 48}), 12, SIM_DIR_IN, 48, {},
         {0x05, 0x24, 0x00}},
        {"id block in another mode", none, Cdb({0x3C, 0x0A, 0xF1, 0, 0, 0, 0, 0, 48}), 12, SIM_DIR_IN, 48, {},
         {0x05, 0x24, 0x00}},
        {"block at the end of the area", none, WriteBufferCdb(0xF0, 0x1E0000, 0x8000), 12, SIM_DIR_OUT, 0x8000,
         std::vector<uint8_t>(0x8000), {0x05, 0x24, 0x00}},
        {"block across the end of the area", none, WriteBufferCdb(0xF0, 0x1D8001, 0x8000), 12, SIM_DIR_OUT, 0x8000,
         std::vector<uint8_t>(0x8000), {0x05, 0x24, 0x00}},
        {"block shorter than the CDB says", none, WriteBufferCdb(0xF0, 0, 0x8000), 12, SIM_DIR_OUT, 0x4000,
         std::vector<uint8_t>(0x4000), {0x0B, 0x4B, 0x00}},
        {"mode-switch block of 255 bytes", none, WriteBufferCdb(0xFF, 0, 255), 12, SIM_DIR_OUT, 255,
         std::vector<uint8_t>(255), {0x05, 0x24, 0x00}},
        {"write buffer in mode 07h", none, Cdb({0x3B, 0x07, 0xF0, 0, 0, 0, 0, 0x80, 0}), 12, SIM_DIR_OUT, 0x8000,
         std::vector<uint8_t>(0x8000), {0x05, 0x24, 0x00}},
        {"unknown buffer", none, WriteBufferCdb(0xF2, 0, 16), 12, SIM_DIR_OUT, 16, std::vector<uint8_t>(16),
         {0x05, 0x24, 0x00}},
        {"event status without Polled, when required", [](SimDriveConfig& c) { c.gesnRequiresPolled = true; },
         Cdb({0x4A, 0, 0, 0, 0x10, 0, 0, 0, 8}), 10, SIM_DIR_IN, 8, {}, {0x05, 0x24, 0x00}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimDriveConfig config;
        c.setUp(config);
        SimDrive drive(config);
        const SimReply r = Send(drive, c.cdb, c.cdbLen, c.direction, c.length, c.out);
        EXPECT_EQ(r.status, SIM_STATUS_CHECK_CONDITION);
        EXPECT_EQ(r.senseWritten, 18);
        EXPECT_EQ(r.sense[0], 0x70);
        EXPECT_EQ(r.sense[7], 10);
        EXPECT_EQ(r.Sense(), c.expected);
        EXPECT_EQ(r.sense[18], 0xAA) << "sense written past 18 bytes";
        EXPECT_TRUE(r.data.empty());
        EXPECT_EQ(drive.DownloadCovered(), 0u);
    }
}

TEST(SimDrive, SenseStopsAtTheCallersLength) {
    SimDrive drive;
    const SimReply r = Send(drive, Cdb({0x25}), 10, SIM_DIR_NONE, 0, {}, 8);
    EXPECT_EQ(r.senseWritten, 8);
    EXPECT_EQ(r.sense[2], 0x05);
    EXPECT_EQ(r.sense[8], 0xAA);
}

TEST(SimDrive, GoodCommandsLeaveTheSenseAreaAlone) {
    SimDriveConfig config;
    config.discLoaded = true;
    SimDrive drive(config);
    const SimReply r = Send(drive, Cdb({0x00}), 6, SIM_DIR_NONE, 0);
    EXPECT_EQ(r.status, SIM_STATUS_GOOD);
    EXPECT_EQ(r.senseWritten, 0);
    EXPECT_EQ(r.sense[0], 0xAA);
}

struct LengthCase {
    const char* name;
    std::array<uint8_t, 12> cdb;
    int cdbLen;
    uint32_t hostLength;
    size_t expected;
};

TEST(SimDrive, AnswersTheSmallerOfAllocationAndAvailable) {
    const std::vector<LengthCase> cases = {
        {"inquiry 254", Cdb({0x12, 0, 0, 0, 0xFE}), 6, 254, SIM_INQUIRY_SIZE},
        {"inquiry 36", Cdb({0x12, 0, 0, 0, 36}), 6, 254, 36},
        {"inquiry 5", Cdb({0x12, 0, 0, 0, 5}), 6, 5, 5},
        {"inquiry, 16-bit allocation 256", Cdb({0x12, 0, 0, 0x01, 0x00}), 6, 256, SIM_INQUIRY_SIZE},
        {"inquiry, host takes fewer", Cdb({0x12, 0, 0, 0, 0xFE}), 6, 20, 20},
        {"VPD page 00h", Cdb({0x12, 0x01, 0x00, 0, 0xFE}), 6, 254, 6},
        {"id block 48", Cdb({0x3C, 0x02, 0xF1, 0, 0, 0, 0, 0, 48}), 12, 48, 48},
        {"id block 100", Cdb({0x3C, 0x02, 0xF1, 0, 0, 0, 0, 0, 100}), 12, 100, 48},
        {"id block from 16", Cdb({0x3C, 0x02, 0xF1, 0, 0, 16, 0, 0, 48}), 12, 48, 32},
        {"id block 4", Cdb({0x3C, 0x02, 0xF1, 0, 0, 0, 0, 0, 4}), 12, 48, 4},
        {"event status 8", Cdb({0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 8}), 10, 8, 8},
        {"event status, no class asked", Cdb({0x4A, 0x01, 0, 0, 0x00, 0, 0, 0, 8}), 10, 8, 4},
        {"disc info 34", Cdb({0x51, 0, 0, 0, 0, 0, 0, 0, 34}), 10, 34, 34},
        {"track info 100", Cdb({0x52, 0, 0, 0, 0, 0, 0, 0, 100}), 12, 100, 48},
        {"TOC 48", Cdb({0x43, 0, 0, 0, 0, 0, 1, 0, 48}), 10, 48, 20},
        {"TOC 4", Cdb({0x43, 0, 0, 0, 0, 0, 1, 0, 4}), 10, 48, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimDriveConfig config;
        config.discLoaded = true;
        SimDrive drive(config);
        const SimReply r = Send(drive, c.cdb, c.cdbLen, SIM_DIR_IN, c.hostLength);
        EXPECT_EQ(r.status, SIM_STATUS_GOOD);
        EXPECT_EQ(r.data.size(), c.expected);
    }
}

TEST(SimDrive, InquiryCarriesIdentificationRevisionAndDate) {
    SimDriveConfig config;
    config.revision = "1.07";
    config.date = "09/06/30";
    SimDrive drive(config);
    const SimReply r = Inquiry(drive);
    ASSERT_EQ(r.data.size(), SIM_INQUIRY_SIZE);
    EXPECT_EQ(r.data[0], 0x05);
    EXPECT_EQ(r.data[4], SIM_INQUIRY_SIZE - 5);
    EXPECT_EQ(std::string(r.data.begin() + 8, r.data.begin() + 32), "TORVELL DVD-RW  WKZ4471 ");
    EXPECT_EQ(std::string(r.data.begin() + 32, r.data.begin() + 36), "1.07");
    EXPECT_EQ(std::string(r.data.begin() + 37, r.data.begin() + 45), "09/06/30");
}

TEST(SimDrive, IdBlockCarriesSignatureAndState) {
    SimDrive drive;
    const SimReply r = ReadIdBlock(drive);
    ASSERT_EQ(r.data.size(), 48u);
    EXPECT_EQ(std::string(r.data.begin() + 16, r.data.begin() + 32), "0082VARNDT  5518");
    EXPECT_EQ(r.data[32], 0x01);
}

TEST(SimDrive, EventStatusReportsMediaPresence) {
    struct Case {
        bool disc, trayOpen;
        uint8_t byte5;
    };
    for (const Case& c : {Case{true, false, 0x02}, Case{false, false, 0x00}, Case{true, true, 0x01}}) {
        SimDriveConfig config;
        config.discLoaded = c.disc;
        config.trayOpen = c.trayOpen;
        SimDrive drive(config);
        const SimReply r = Send(drive, Cdb({0x4A, 0, 0, 0, 0x10, 0, 0, 0, 8}), 10, SIM_DIR_IN, 8);
        ASSERT_EQ(r.data.size(), 8u);
        EXPECT_EQ(r.data[5], c.byte5) << "disc " << c.disc << " tray open " << c.trayOpen;
    }
}

TEST(SimDrive, EjectOpensTheTrayAndLoadClosesIt) {
    SimDriveConfig config;
    config.discLoaded = true;
    SimDrive drive(config);
    EXPECT_EQ(Send(drive, Cdb({0x1B, 0, 0, 0, 0x02}), 6, SIM_DIR_NONE, 0).status, SIM_STATUS_GOOD);
    EXPECT_TRUE(drive.TrayOpen());
    EXPECT_EQ(Send(drive, Cdb({0x00}), 6, SIM_DIR_NONE, 0).Sense(), (SimSense{0x02, 0x3A, 0x02}));
    EXPECT_EQ(Send(drive, Cdb({0x1B, 0, 0, 0, 0x03}), 6, SIM_DIR_NONE, 0).status, SIM_STATUS_GOOD);
    EXPECT_TRUE(drive.MediumPresent());

    SimDriveConfig empty;
    empty.ejectWithoutDiscFails = false;
    SimDrive accepting(empty);
    EXPECT_EQ(Send(accepting, Cdb({0x1B, 0, 0, 0, 0x02}), 6, SIM_DIR_NONE, 0).status, SIM_STATUS_GOOD);
    EXPECT_TRUE(accepting.TrayOpen());
}

TEST(SimDrive, ActsOnlyOnTheDeclaredCdbLength) {
    // READ BUFFER declared as a 6-byte command: the allocation length at byte 8
    // never reaches the drive, so nothing comes back; the transcript still shows
    // all 12 bytes the host held.
    SimDrive drive;
    const SimReply r = Send(drive, Cdb({0x3C, 0x02, 0xF1, 0, 0, 0, 0, 0, 48}), 6, SIM_DIR_IN, 48);
    EXPECT_EQ(r.status, SIM_STATUS_GOOD);
    EXPECT_TRUE(r.data.empty());
    const auto t = drive.Transcript();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].cdbLength, 6);
    EXPECT_EQ(t[0].cdb[8], 48);
    EXPECT_EQ(t[0].transferred, 0u);
}

TEST(SimDrive, ModeSwitchBlockIsChecked) {
    struct Case {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> spoil;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"as sent by the updater", [](std::vector<uint8_t>&) {}, true},
        {"other bytes after the code", [](std::vector<uint8_t>& b) { std::fill(b.begin() + 20, b.end(), 0x5A); },
         true},
        {"code most significant byte first",
         [](std::vector<uint8_t>& b) { b[16] = 0x5E; b[17] = 0x1A; b[18] = 0x7C; b[19] = 0x93; }, false},
        {"code off by one", [](std::vector<uint8_t>& b) { b[16] = 0x94; }, false},
        {"model text with one blank", [](std::vector<uint8_t>& b) { std::memcpy(b.data(), "TORVELL WKZ-H52 ", 16); },
         false},
        {"model text NUL-terminated", [](std::vector<uint8_t>& b) { b[15] = 0; }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimDrive drive;
        std::vector<uint8_t> block = SwitchBlock();
        c.spoil(block);
        const SimReply r = SendSwitch(drive, block);
        if (c.accepted) {
            EXPECT_EQ(r.status, SIM_STATUS_GOOD);
            EXPECT_EQ(drive.StateByte(), SIM_STATE_BLANK);  // now waiting for an image
        } else {
            EXPECT_EQ(r.Sense(), (SimSense{0x05, 0x26, 0x00}));
            EXPECT_EQ(drive.StateByte(), 0x01);
        }
    }
}

class SimDownload : public ::testing::Test {
protected:
    SimDownload() {
        SimImageOptions options;
        options.version = "1.10";
        image = SimMakeImage(options);
    }
    std::vector<uint8_t> image;
};

TEST_F(SimDownload, CompleteDownloadThenSwitchAppliesTheImage) {
    SimDrive drive;
    ASSERT_EQ(SendSwitch(drive).status, SIM_STATUS_GOOD);
    ASSERT_TRUE(SendBlocks(drive, image, 0, 60));
    EXPECT_EQ(drive.DownloadCovered(), SIM_FIRMWARE_AREA_SIZE);
    EXPECT_EQ(drive.Revision(), "1.00");  // nothing changes before the switch
    ASSERT_EQ(SendSwitch(drive).status, SIM_STATUS_GOOD);

    EXPECT_EQ(drive.ImagesApplied(), 1);
    EXPECT_EQ(drive.Revision(), "1.10");
    EXPECT_EQ(drive.Date(), "09/08/21");
    EXPECT_EQ(drive.StateByte(), 0x01);
    EXPECT_EQ(drive.ImageDigest(), SimDigest(image.data(), image.size()));
    const SimReply inquiry = Inquiry(drive);
    EXPECT_EQ(std::string(inquiry.data.begin() + 32, inquiry.data.begin() + 36), "1.10");
    EXPECT_EQ(std::string(inquiry.data.begin() + 37, inquiry.data.begin() + 45), "09/08/21");
}

TEST_F(SimDownload, IncompleteDownloadsAreNotApplied) {
    struct Case {
        const char* name;
        std::function<void(SimDrive&)> send;
    };
    const std::vector<Case> cases = {
        {"59 blocks", [&](SimDrive& d) { SendBlocks(d, image, 0, 59); }},
        {"last block missing, first sent twice",
         [&](SimDrive& d) { SendBlocks(d, image, 0, 59); SendBlocks(d, image, 0, 1); }},
        {"halves on either side of a switch",
         [&](SimDrive& d) { SendBlocks(d, image, 0, 30); SendSwitch(d); SendBlocks(d, image, 30, 60); }},
        {"refused last block",
         [&](SimDrive& d) {
             SendBlocks(d, image, 0, 59);
             Send(d, WriteBufferCdb(0xF0, 0x1D8000, 0x8000), 12, SIM_DIR_OUT, 0x4000, std::vector<uint8_t>(0x4000));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimDrive drive;
        c.send(drive);
        EXPECT_EQ(SendSwitch(drive).status, SIM_STATUS_GOOD);
        EXPECT_EQ(drive.ImagesApplied(), 0);
        EXPECT_EQ(drive.Revision(), "1.00");
        EXPECT_EQ(drive.StateByte(), SIM_STATE_BLANK);
        EXPECT_EQ(drive.DownloadCovered(), 0u);
    }
}

TEST_F(SimDownload, RetryAfterAnIncompleteDownloadSucceeds) {
    SimDrive drive;
    SendSwitch(drive);
    SendBlocks(drive, image, 0, 20);
    SendSwitch(drive);
    // The state byte now reads blank: the updater skips the first switch.
    ASSERT_EQ(ReadIdBlock(drive).data[32], SIM_STATE_BLANK);
    ASSERT_TRUE(SendBlocks(drive, image, 0, 60));
    SendSwitch(drive);
    EXPECT_EQ(drive.ImagesApplied(), 1);
    EXPECT_EQ(drive.Revision(), "1.10");
}

TEST_F(SimDownload, WhatTheDriveReportsAfterTheFinalSwitch) {
    struct Case {
        SimAfterSwitch after;
        int status;
        int state;  // -1: no answer
    };
    for (const Case& c : {Case{SimAfterSwitch::Keep, SIM_STATUS_GOOD, 0x01},
                          Case{SimAfterSwitch::Blank, SIM_STATUS_GOOD, SIM_STATE_BLANK},
                          Case{SimAfterSwitch::Silent, SIM_NO_ANSWER, -1}}) {
        SCOPED_TRACE(int(c.after));
        SimDriveConfig config;
        config.afterSwitch = c.after;
        SimDrive drive(config);
        SendSwitch(drive);
        SendBlocks(drive, image, 0, 60);
        SendSwitch(drive);
        const SimReply r = ReadIdBlock(drive);
        EXPECT_EQ(r.status, c.status);
        if (c.state >= 0) {
            EXPECT_EQ(r.data.at(32), c.state);
        }
        EXPECT_EQ(Inquiry(drive).status, SIM_STATUS_GOOD);  // INQUIRY still answers
        EXPECT_EQ(drive.Revision(), "1.10");
    }
}

// The download counts every byte written since the last switch once, in whatever
// order and overlap the writes come.
TEST_F(SimDownload, CoverageCountsEachByteOnce) {
    struct Range {
        uint32_t offset, length;
    };
    struct Case {
        const char* name;
        std::vector<Range> writes;
        uint32_t covered;
    };
    std::vector<Range> backwards;
    for (uint32_t n = 60; n-- > 0;) backwards.push_back({n * 0x8000, 0x8000});
    const std::vector<Case> cases = {
        {"one block", {{0, 0x8000}}, 0x8000},
        {"the same block twice", {{0x8000, 0x8000}, {0x8000, 0x8000}}, 0x8000},
        {"adjacent blocks", {{0x8000, 0x8000}, {0, 0x8000}}, 0x10000},
        {"a range inside an earlier one", {{0, 0x8000}, {0x100, 0x10}}, 0x8000},
        {"ranges touching at both ends", {{0, 0x10}, {0x20, 0x10}, {0x10, 0x10}}, 0x30},
        {"a range overlapping two", {{0, 0x100}, {0x200, 0x100}, {0x80, 0x200}}, 0x300},
        {"a range over three and beyond", {{0x10, 0x10}, {0x30, 0x10}, {0x50, 0x10}, {0, 0x100}}, 0x100},
        {"the area's last byte", {{SIM_FIRMWARE_AREA_SIZE - 1, 1}}, 1},
        {"every block, last first", backwards, SIM_FIRMWARE_AREA_SIZE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimDrive drive;
        for (const Range& w : c.writes) {
            const std::vector<uint8_t> data(image.begin() + w.offset, image.begin() + w.offset + w.length);
            ASSERT_EQ(Send(drive, WriteBufferCdb(0xF0, w.offset, w.length), 12, SIM_DIR_OUT, w.length, data).status,
                      SIM_STATUS_GOOD);
        }
        EXPECT_EQ(drive.DownloadCovered(), c.covered);
        SendSwitch(drive);
        EXPECT_EQ(drive.ImagesApplied(), c.covered == SIM_FIRMWARE_AREA_SIZE ? 1 : 0);
        EXPECT_EQ(drive.DownloadCovered(), 0u);
    }
}

// A drive reused through Reset behaves as a new one with the same config, whatever
// it went through before: the same replies, transcript and state, command by command.
TEST_F(SimDownload, AResetDriveIsANewOne) {
    SimDriveConfig config;
    config.discLoaded = true;
    config.readyAfter = 2;
    config.afterSwitch = SimAfterSwitch::Silent;
    config.faults.push_back(SecondBlockRefusedOnce());
    SimFault gone;
    gone.nth = 75;
    gone.vanish = true;
    config.faults.push_back(gone);

    // Everything a session shows: each reply, and the drive's state before and after.
    auto session = [&](SimDrive& drive) {
        std::vector<std::string> log;
        auto state = [&] {
            log.push_back(drive.StatusLine() + " covered=" + std::to_string(drive.DownloadCovered()));
            const std::vector<uint8_t> tail = drive.FirmwareArea(SIM_FIRMWARE_AREA_SIZE - 16, 64);
            log.push_back(std::string(tail.begin(), tail.end()));
        };
        auto note = [&](const SimReply& r) {
            log.push_back(std::to_string(r.status) + " " + std::string(r.data.begin(), r.data.end()) + " " +
                          std::string(r.sense.begin(), r.sense.begin() + r.senseWritten));
        };
        state();
        note(ReadIdBlock(drive));                                      // not ready yet
        note(Inquiry(drive));                                          // answered meanwhile
        note(Send(drive, Cdb({0x00}), 6, SIM_DIR_NONE, 0));            // ready, disc loaded
        note(Send(drive, Cdb({0x1B, 0, 0, 0, 0x02}), 6, SIM_DIR_NONE, 0));  // tray opens
        note(Send(drive, Cdb({0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 8}), 10, SIM_DIR_IN, 8));
        note(SendSwitch(drive));
        log.push_back(SendBlocks(drive, image, 0, 10) ? "sent" : "refused");  // block 1 refused once
        note(SendSwitch(drive));                                       // incomplete: blank
        log.push_back(SendBlocks(drive, image, 0, 60) ? "sent" : "refused");
        note(SendSwitch(drive));                                       // applied, then silent
        note(ReadIdBlock(drive));
        note(Inquiry(drive));
        note(Send(drive, WriteBufferCdb(0xF0, SIM_FIRMWARE_AREA_SIZE - 8, 8), 12, SIM_DIR_OUT, 8,
                  std::vector<uint8_t>(8, 0x42)));
        note(Inquiry(drive));
        note(Inquiry(drive));                                          // the 75th: gone
        state();
        for (const SimCommandRecord& r : drive.Transcript()) log.push_back(r.Format(drive.Letter()));
        return log;
    };

    SimDrive drive(config);
    const std::vector<std::string> fresh = session(drive);
    ASSERT_EQ(fresh.size(), 2 + 15 + 2 + 75u);
    EXPECT_EQ(fresh[1].size(), 16u);  // the area's last 16 bytes: a read past its end is cut
    EXPECT_TRUE(drive.Vanished());

    drive.Reset();
    EXPECT_EQ(session(drive), fresh) << "reset after a whole session";

    // Reset in the middle of a download, with the tray open and a fault used up.
    SimDrive used(config);
    ReadIdBlock(used);
    Inquiry(used);
    Send(used, Cdb({0x1B, 0, 0, 0, 0x02}), 6, SIM_DIR_NONE, 0);
    SendBlocks(used, image, 0, 3);
    Send(used, WriteBufferCdb(0xF0, 0x100000, 0x10), 12, SIM_DIR_OUT, 0x10, std::vector<uint8_t>(0x10, 0));
    ASSERT_GT(used.DownloadCovered(), 0u);
    used.Reset();
    EXPECT_EQ(session(used), fresh) << "reset in the middle of a download";
}

TEST(SimDriveFaults, MatchTheirCommandsOnly) {
    SimDriveConfig config;
    config.faults.push_back(SecondBlockRefusedOnce());
    SimFault thirdCommand;
    thirdCommand.nth = 3;
    thirdCommand.refuse = true;
    thirdCommand.sense = {0x06, 0x29, 0x00};
    config.faults.push_back(thirdCommand);
    SimDrive drive(config);

    const std::vector<uint8_t> block(0x8000, 0x11);
    EXPECT_EQ(Send(drive, WriteBufferCdb(0xF0, 0, 0x8000), 12, SIM_DIR_OUT, 0x8000, block).status, 0);
    EXPECT_EQ(Send(drive, WriteBufferCdb(0xF0, 0x8000, 0x8000), 12, SIM_DIR_OUT, 0x8000, block).Sense(),
              (SimSense{0x03, 0x0C, 0x00}));
    EXPECT_EQ(Inquiry(drive).Sense(), (SimSense{0x06, 0x29, 0x00}));  // the third command
    EXPECT_EQ(Inquiry(drive).status, 0);
    // times=1: the same block goes through on a second attempt.
    EXPECT_EQ(Send(drive, WriteBufferCdb(0xF0, 0x8000, 0x8000), 12, SIM_DIR_OUT, 0x8000, block).status, 0);
    EXPECT_EQ(drive.DownloadCovered(), 0x10000u);
}

TEST(SimDriveFaults, BecomingReadyAnswersInquiryMeanwhile) {
    SimDriveConfig config;
    config.readyAfter = 3;
    config.discLoaded = true;
    SimDrive drive(config);
    EXPECT_EQ(ReadIdBlock(drive).Sense(), (SimSense{0x02, 0x04, 0x01}));
    EXPECT_EQ(Inquiry(drive).status, SIM_STATUS_GOOD);
    EXPECT_EQ(Send(drive, Cdb({0x00}), 6, SIM_DIR_NONE, 0).Sense(), (SimSense{0x02, 0x04, 0x01}));
    EXPECT_EQ(ReadIdBlock(drive).status, SIM_STATUS_GOOD);
}

TEST(SimDriveFaults, ShortTransferNoAnswerAndVanishing) {
    SimDriveConfig config;
    SimFault shortInquiry;
    shortInquiry.opcode = 0x12;
    shortInquiry.shortTo = 10;
    config.faults.push_back(shortInquiry);
    SimFault hang;
    hang.opcode = 0x00;
    hang.noAnswer = true;
    config.faults.push_back(hang);
    SimFault gone;
    gone.nth = 4;
    gone.vanish = true;
    config.faults.push_back(gone);
    SimDrive drive(config);

    EXPECT_EQ(Inquiry(drive).data.size(), 10u);
    EXPECT_EQ(Send(drive, Cdb({0x00}), 6, SIM_DIR_NONE, 0).status, SIM_NO_ANSWER);
    EXPECT_EQ(ReadIdBlock(drive).status, SIM_STATUS_GOOD);
    EXPECT_EQ(ReadIdBlock(drive).status, SIM_NO_ANSWER);  // the fourth: gone
    EXPECT_EQ(Inquiry(drive).status, SIM_NO_ANSWER);
    EXPECT_TRUE(drive.Vanished());
    const auto t = drive.Transcript();
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t[1].status, SIM_NO_ANSWER);
}

// A data-out reply length: the drive takes only the first N bytes and still answers
// GOOD; a mode-switch block taken in part does nothing.
TEST_F(SimDownload, ShortDataOutIsTakenInPartWithGood) {
    SimDriveConfig config;
    SimFault shortWrite;
    shortWrite.opcode = 0x3B;
    shortWrite.shortTo = 100;
    config.faults.push_back(shortWrite);
    SimDrive drive(config);

    std::vector<uint8_t> block(image.begin(), image.begin() + 0x8000);
    EXPECT_EQ(Send(drive, WriteBufferCdb(0xF0, 0, 0x8000), 12, SIM_DIR_OUT, 0x8000, block).status,
              SIM_STATUS_GOOD);
    EXPECT_EQ(drive.DownloadCovered(), 100u);
    EXPECT_EQ(drive.FirmwareArea()[99], image[99]);
    EXPECT_EQ(drive.FirmwareArea()[100], 0xFF);  // never written
    EXPECT_EQ(SendSwitch(drive).status, SIM_STATUS_GOOD);
    EXPECT_EQ(drive.StateByte(), 0x01);  // the switch was not acted on
    EXPECT_EQ(drive.DownloadCovered(), 100u);

    const auto t = drive.Transcript();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].transferred, 100u);
    EXPECT_EQ(t[1].transferred, 100u);
}

TEST(SimDriveFaults, DelayPassesOnTheClockInForce) {
    VirtualTime clock;
    OsSetTime(&clock);
    SimDriveConfig config;
    SimFault slow;
    slow.opcode = 0x3C;
    slow.delayMs = 6000;
    config.faults.push_back(slow);
    SimDrive drive(config);
    const uint64_t start = clock.NowMs();
    EXPECT_EQ(ReadIdBlock(drive).status, SIM_STATUS_GOOD);
    EXPECT_EQ(clock.NowMs() - start, 6000u);
    OsSetTime(nullptr);
}

TEST(SimDrive, TranscriptLineFormat) {
    SimDrive drive;
    Send(drive, WriteBufferCdb(0xF0, 0x1D8000, 0x8000), 12, SIM_DIR_OUT, 0x8000, std::vector<uint8_t>(0x8000));
    Send(drive, Cdb({0x00}), 6, SIM_DIR_NONE, 0);
    const auto t = drive.Transcript();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].Format('D'),
              "D 3B05F01D8000008000000000 cdblen=12 dir=out len=32768 status=00 sense=00/00/00 xfer=32768");
    EXPECT_EQ(t[1].Format('E'), "E 000000000000000000000000 cdblen=6 dir=none len=0 status=02 sense=02/3A/00 xfer=0");
}

}  // namespace
