#include "sim/scenario.h"

#include <gtest/gtest.h>

namespace {

TEST(SimScenario, EmptyTextIsOneDefaultDrive) {
    std::vector<SimDriveConfig> drives;
    std::string error;
    ASSERT_TRUE(SimParseScenario("# nothing here\n\n", &drives, &error)) << error;
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_EQ(drives[0].letter, 'D');
    EXPECT_EQ(drives[0].revision, "1.00");
}

TEST(SimScenario, ReadsEveryKey) {
    const char* text =
        "revision = 1.05   # the drive's firmware\n"
        "date = 09/06/30\n"
        "identification = \"TORVELL DVD-RW  WKZ4471\\0\"\n"
        "signature = \"0082VARNDT  \\x41BCD\"\n"
        "state = blank\n"
        "disc = present\n"
        "tray = open\n"
        "eject_without_disc = accept\n"
        "gesn_polled = required\n"
        "ready_after = 4\n"
        "after_switch = silent\n"
        "fault = opcode=0x3B buffer=0xF0 offset=0x1D8000 times=1 sense=03/0C/00\n"
        "fault = nth=7 delay=6000 short=10\n"
        "fault = opcode=0x3C no-answer vanish\n"
        "fault = opcode=0x12 skip=2 applied short=34 resid=zero\n"
        "drive = e\n"
        "state = 0x7F\r\n";
    std::vector<SimDriveConfig> drives;
    std::string error;
    ASSERT_TRUE(SimParseScenario(text, &drives, &error)) << error;
    ASSERT_EQ(drives.size(), 2u);
    const SimDriveConfig& d = drives[0];
    EXPECT_EQ(d.letter, 'D');
    EXPECT_EQ(d.revision, "1.05");
    EXPECT_EQ(d.date, "09/06/30");
    EXPECT_EQ(d.identification, std::string("TORVELL DVD-RW  WKZ4471\0", 24));
    EXPECT_EQ(d.signature, "0082VARNDT  ABCD");
    EXPECT_EQ(d.state, SIM_STATE_BLANK);
    EXPECT_TRUE(d.discLoaded);
    EXPECT_TRUE(d.trayOpen);
    EXPECT_FALSE(d.ejectWithoutDiscFails);
    EXPECT_TRUE(d.gesnRequiresPolled);
    EXPECT_EQ(d.readyAfter, 4u);
    EXPECT_EQ(d.afterSwitch, SimAfterSwitch::Silent);
    ASSERT_EQ(d.faults.size(), 4u);
    EXPECT_EQ(d.faults[0].opcode, 0x3B);
    EXPECT_EQ(d.faults[0].bufferId, 0xF0);
    EXPECT_EQ(d.faults[0].offset, 0x1D8000);
    EXPECT_EQ(d.faults[0].times, 1);
    EXPECT_TRUE(d.faults[0].refuse);
    EXPECT_EQ(d.faults[0].sense, (SimSense{0x03, 0x0C, 0x00}));
    EXPECT_EQ(d.faults[1].nth, 7u);
    EXPECT_EQ(d.faults[1].delayMs, 6000u);
    EXPECT_EQ(d.faults[1].shortTo, 10);
    EXPECT_FALSE(d.faults[1].refuse);
    EXPECT_TRUE(d.faults[2].noAnswer);
    EXPECT_TRUE(d.faults[2].vanish);
    EXPECT_EQ(d.faults[3].skip, 2);
    EXPECT_TRUE(d.faults[3].applied);
    EXPECT_EQ(d.faults[3].residual, SimResidual::Zero);
    // A second drive starts from the defaults, not from the first one.
    EXPECT_EQ(drives[1].letter, 'E');
    EXPECT_EQ(drives[1].state, 0x7F);
    EXPECT_EQ(drives[1].revision, "1.00");
    EXPECT_TRUE(drives[1].faults.empty());
}

TEST(SimScenario, IdBlockInHexOrQuoted) {
    std::vector<SimDriveConfig> drives;
    std::string error;
    const std::string hex(96, '4');
    ASSERT_TRUE(SimParseScenario("id_block = " + hex + "\n", &drives, &error)) << error;
    EXPECT_EQ(drives[0].idBlock, std::string(48, 'D'));
    ASSERT_TRUE(SimParseScenario("id_block = \"" + std::string(48, 'x') + "\"\n", &drives, &error)) << error;
    EXPECT_EQ(drives[0].idBlock, std::string(48, 'x'));
}

TEST(SimScenario, ErrorsNameTheLineAndChangeNothing) {
    struct Case {
        const char* text;
        const char* expected;  // part of the message
    };
    const Case cases[] = {
        {"revision = 1.0\n", "line 1: must be exactly 4 bytes"},
        {"\nrevison = 1.00\n", "line 2: unknown key 'revison'"},
        {"identification = TORVELL DVD-RW  WKZ4471\n", "exactly 24 bytes"},
        {"signature = \"0082VARNDT  5518\n", "unterminated"},
        {"signature = \"0082VARNDT  55\\q8\"\n", "unknown escape"},
        {"signature = \"0082VARNDT  5518\" x\n", "text after the quoted value"},
        {"state = 256\n", "state"},
        {"state = -1\n", "state"},
        {"disc = maybe\n", "present, none"},
        {"after_switch = later\n", "keep, blank, silent"},
        {"ready_after = many\n", "ready_after"},
        {"fault = opcode=0x3B\n", "needs an action"},
        {"fault = nth=0 sense=02/3A/00\n", "counts from 1"},
        {"fault = sense=2/3A/0\n", "KK/AA/QQ"},
        {"fault = opcode=0x100 sense=05/20/00\n", "bad number"},
        {"fault = offset=0x1000000 delay=1\n", "bad number"},
        {"fault = sometimes\n", "unknown fault word"},
        {"drive = B\n", "C..Z"},
        {"drive = DE\n", "C..Z"},
        {"drive = D\ndrive = d\n", "line 2: drive D given twice"},
        {"revision\n", "key = value"},
        {"revision =\n", "missing value"},
        {"id_block = 1234\n", "48 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<SimDriveConfig> drives(3);
        std::string error;
        EXPECT_FALSE(SimParseScenario(c.text, &drives, &error));
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        EXPECT_EQ(drives.size(), 3u);
    }
}

TEST(SimScenario, MissingFileIsAnError) {
    std::vector<SimDriveConfig> drives;
    std::string error;
    EXPECT_FALSE(SimLoadScenario("/nonexistent/scenario", &drives, &error));
    EXPECT_NE(error.find("/nonexistent/scenario"), std::string::npos);
}

}  // namespace
