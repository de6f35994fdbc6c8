// The update sequence against the emulated drive: a refusal at every command
// position of a full update, validation failures, and faults of the image file.
#include "testing/engine_fixture.h"

#include "commands/commands.h"
#include "engine/messages.h"
#include "testing/scratch_dir.h"
#include "testing/twin_image.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

enum class Step { Validate, TestUnitReady, Eject, StateRead, SwitchIn, Block, SwitchOut, FinalRead };

struct Command {
    Step step;
    uint8_t opcode;
    int bufferId;  // -1: not a buffer command
    uint32_t offset;
};

// Every command of a successful update, in order.
std::vector<Command> FullUpdate(bool blankState) {
    std::vector<Command> c = {{Step::Validate, 0x3C, BUFFER_ID_BLOCK, 0},
                              {Step::TestUnitReady, 0x00, -1, 0},
                              {Step::TestUnitReady, 0x00, -1, 0},
                              {Step::Eject, 0x1B, -1, 0},
                              {Step::StateRead, 0x3C, BUFFER_ID_BLOCK, 0}};
    if (!blankState) c.push_back({Step::SwitchIn, 0x3B, BUFFER_MODE_SWITCH, 0});
    for (uint32_t n = 0; n < IMAGE_BLOCK_COUNT; ++n)
        c.push_back({Step::Block, 0x3B, BUFFER_FIRMWARE, n * IMAGE_BLOCK_SIZE});
    c.push_back({Step::SwitchOut, 0x3B, BUFFER_MODE_SWITCH, 0});
    c.push_back({Step::FinalRead, 0x3C, BUFFER_ID_BLOCK, 0});
    return c;
}

struct Expectation {
    bool ok;
    bool commandError;     // IDS_COMMAND_ERROR from the worker
    bool transferStarted;  // NOTIFY_TRANSFER_STARTED posted
};

// What a refusal (05/24/00) of a command at this step leads to.
Expectation WhenRefused(Step step) {
    switch (step) {
    case Step::Validate: return {false, true, false};
    case Step::TestUnitReady: return {true, false, true};  // results not used
    case Step::Eject: return {false, false, false};        // sense other than no medium
    case Step::StateRead: return {false, false, false};
    case Step::SwitchIn: return {false, true, false};
    case Step::Block: return {false, true, true};
    case Step::SwitchOut: return {false, true, true};
    case Step::FinalRead: return {true, false, true};  // the drive restarted: no answer
    }
    return {};
}

std::string CommandReportOf(const SimCommandRecord& r, const SimSense& sense) {
    std::string text = "Command    : ";
    char hex[4];
    for (uint8_t b : r.cdb) {
        std::snprintf(hex, sizeof hex, "%02x ", b);
        text += hex;
    }
    char line[40];
    std::snprintf(line, sizeof line, "\r\nSense Code : %02x-%02x-%02x\r\n", sense.key, sense.asc, sense.ascq);
    return text + line;
}

class UpdateTest : public EngineTest {
protected:
    static ScratchDir s_dir;  // the suite's image, written once
    static std::string s_image;
    static uint64_t s_imageDigest;

    static void SetUpTestSuite() {
        s_dir = ScratchDir("qm-update");
        ASSERT_TRUE(s_dir.Made()) << std::strerror(errno);
        s_image = s_dir.Path() + "/" + IMAGE_FILE_NAME;
        std::string error;
        ASSERT_TRUE(SimWriteImage(s_image, SimImageOptions(), &error)) << error;
        ASSERT_TRUE(SimDigestFile(s_image, &s_imageDigest));
    }
    static void TearDownTestSuite() { EXPECT_TRUE(s_dir.Remove()) << s_dir.Path(); }

    SimDrive& Drive(SimDriveConfig config = SimDriveConfig()) {
        config.letter = 'D';
        return devices.AddDrive(config);
    }

    // The one update, as the dialogs start it, of the image handed over before,
    // reported to `to`: a test of several cases gives each a host of its own. The
    // handle is closed after it, for the next case's drive.
    void RunUpdateOf(RecordingHost& to) {
        g_workerOp = OP_UPDATE;
        ASSERT_EQ(StartWorker(&to, 'D', false), 1);
        WaitForWorker(OS_WAIT_FOREVER);
        CloseDevice(g_hDevice);
    }
    void RunUpdate(const std::string& image) {
        HandToUpdate(image);
        RunUpdateOf(host);
    }

    // The commands the drive received, against the start of `expected`.
    static void ExpectCommands(const std::vector<SimCommandRecord>& got,
                               const std::vector<Command>& expected, size_t count) {
        ASSERT_EQ(got.size(), count);
        for (size_t i = 0; i < count; ++i) {
            EXPECT_EQ(got[i].Opcode(), expected[i].opcode) << "command " << i + 1;
            if (expected[i].bufferId >= 0) {
                EXPECT_EQ(got[i].cdb[2], expected[i].bufferId) << "command " << i + 1;
                EXPECT_EQ(got[i].BufferOffset(), expected[i].offset) << "command " << i + 1;
            }
        }
    }

    void ExpectNoMessage() { EXPECT_TRUE(host.Boxes().empty()) << host.Boxes()[0].text; }

    void ExpectOneMessageFromWorker(const std::string& text, size_t notesBefore) {
        std::vector<ShownBox> boxes = host.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, text);
        EXPECT_EQ(boxes[0].caption, "firmware updater");
        EXPECT_EQ(boxes[0].style, MB_ICONHAND);
        EXPECT_NE(boxes[0].thread, std::this_thread::get_id());
        EXPECT_EQ(boxes[0].notesBefore, notesBefore);
    }
};
ScratchDir UpdateTest::s_dir;
std::string UpdateTest::s_image;
uint64_t UpdateTest::s_imageDigest = 0;

struct FaultCase {
    bool blankState;
    size_t position;  // 1-based number of the refused command
    SimSense sense;
};
void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << (c.blankState ? "blank state, " : "state 01, ") << "command " << c.position;
}

std::string StepName(Step s) {
    static const char* const kNames[] = {"validate", "test_unit_ready", "eject", "state_read",
                                         "switch_in", "block", "switch_out", "final_read"};
    return kNames[static_cast<int>(s)];
}

std::vector<FaultCase> AllPositions() {
    std::vector<FaultCase> cases;
    for (bool blank : {false, true}) {
        size_t n = FullUpdate(blank).size();
        for (size_t p = 1; p <= n; ++p) cases.push_back({blank, p, {0x05, 0x24, 0x00}});
    }
    return cases;
}

class RefusedCommand : public UpdateTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(RefusedCommand, EndsTheUpdateAsItsStepRequires) {
    const FaultCase& c = GetParam();
    const std::vector<Command> full = FullUpdate(c.blankState);
    const Step step = full[c.position - 1].step;
    const Expectation expected = WhenRefused(step);

    SimDriveConfig config;
    config.state = c.blankState ? SIM_STATE_BLANK : 0x01;
    SimFault fault;
    fault.nth = static_cast<uint32_t>(c.position);
    fault.refuse = true;
    fault.sense = c.sense;
    config.faults.push_back(fault);
    SimDrive& drive = Drive(config);

    RunUpdate(s_image);

    EXPECT_EQ(FinalReport(), expected.ok ? int(NOTIFY_UPDATE_OK) : int(NOTIFY_UPDATE_FAILED));
    EXPECT_EQ(host.Posted(NOTIFY_TRANSFER_STARTED), expected.transferStarted);
    std::vector<PostedNotify> notes = host.Notes();
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.back().lParam, LPARAM_WORKER_ENDED);  // the final report comes last
    for (size_t i = 0; i + 1 < notes.size(); ++i) {
        EXPECT_EQ(notes[i].code, NOTIFY_TRANSFER_STARTED);
        EXPECT_EQ(notes[i].lParam, 0);
    }

    std::vector<SimCommandRecord> got = drive.Transcript();
    // A failure stops the update at the refused command: nothing follows it.
    ExpectCommands(got, full, expected.ok ? full.size() : c.position);
    if (expected.commandError) {
        ExpectOneMessageFromWorker(
            "command error occured\r\n" + CommandReportOf(got[c.position - 1], c.sense),
            expected.transferStarted ? 1 : 0);
    } else {
        ExpectNoMessage();
    }
    if (expected.ok) {
        EXPECT_EQ(drive.ImagesApplied(), 1);
        EXPECT_EQ(drive.ImageDigest(), s_imageDigest);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPosition, RefusedCommand, ::testing::ValuesIn(AllPositions()),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                             const FaultCase& c = info.param;
                             char name[80];
                             std::snprintf(name, sizeof name, "%s_%02zu_%s",
                                           c.blankState ? "blank" : "nonblank", c.position,
                                           StepName(FullUpdate(c.blankState)[c.position - 1].step).c_str());
                             return std::string(name);
                         });

// Replies that move fewer bytes than asked, at each step that reads or writes
// data: an identification block without its state byte is no answer to decide
// on, and a data-out command the drive did not take whole is a failed command.
struct ShortCase {
    const char* name;
    size_t position;  // 1-based number of the short command in FullUpdate(false)
    uint32_t bytes;   // what it moves
    SimAfterSwitch after;
    bool ok;
    bool commandError;  // IDS_COMMAND_ERROR
};
void PrintTo(const ShortCase& c, std::ostream* os) { *os << c.name; }

const ShortCase kShortCases[] = {
    {"validation_block_without_state_byte", 1, 32, SimAfterSwitch::Keep, false, true},
    {"validation_block_empty", 1, 0, SimAfterSwitch::Keep, false, true},
    {"state_read_without_state_byte", 5, 32, SimAfterSwitch::Keep, false, false},
    {"first_switch_taken_in_part", 6, 255, SimAfterSwitch::Keep, false, true},
    {"block_taken_in_part", 7 + 10, 0x7FFF, SimAfterSwitch::Keep, false, true},
    {"last_block_taken_in_part", 7 + 59, 1, SimAfterSwitch::Keep, false, true},
    {"final_switch_taken_in_part", 67, 20, SimAfterSwitch::Keep, false, true},
    // The state byte left by the read before the download says "not blank".
    {"final_read_without_state_byte_of_a_blank_drive", 68, 32, SimAfterSwitch::Blank, false, false},
    {"final_read_empty", 68, 0, SimAfterSwitch::Keep, false, false},
    {"final_read_whole", 68, 48, SimAfterSwitch::Keep, true, false},
};

class ShortReply : public UpdateTest, public ::testing::WithParamInterface<ShortCase> {};

TEST_P(ShortReply, DecidesOnlyOnWhatMoved) {
    const ShortCase& c = GetParam();
    SimDriveConfig config;
    config.afterSwitch = c.after;
    SimFault fault;
    fault.nth = static_cast<uint32_t>(c.position);
    fault.shortTo = c.bytes;
    config.faults.push_back(fault);
    SimDrive& drive = Drive(config);
    RunUpdate(s_image);

    EXPECT_EQ(FinalReport(), c.ok ? int(NOTIFY_UPDATE_OK) : int(NOTIFY_UPDATE_FAILED));
    const std::vector<Command> full = FullUpdate(false);
    ExpectCommands(drive.Transcript(), full, c.ok ? full.size() : c.position);
    if (c.commandError) {
        ASSERT_EQ(host.Boxes().size(), 1u);
        EXPECT_EQ(host.Boxes()[0].text.rfind("command error occured\r\n", 0), 0u);
    } else {
        ExpectNoMessage();
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ShortReply, ::testing::ValuesIn(kShortCases),
                         [](const ::testing::TestParamInfo<ShortCase>& info) { return std::string(info.param.name); });

TEST_F(UpdateTest, SucceedsWithEveryBlockInOrderForBothStates) {
    for (bool blank : {false, true}) {
        SimDriveConfig config;
        config.state = blank ? SIM_STATE_BLANK : 0x01;
        SimDrive& drive = Drive(config);
        RecordingHost fresh;
        HandToUpdate(s_image);
        RunUpdateOf(fresh);

        std::vector<PostedNotify> notes = fresh.Notes();
        ASSERT_EQ(notes.size(), 2u);
        EXPECT_EQ(notes[1].code, NOTIFY_UPDATE_OK);
        EXPECT_TRUE(fresh.Boxes().empty());

        std::vector<SimCommandRecord> got = drive.Transcript();
        // From the state read on: 63 commands, 64 with the first mode switch.
        ASSERT_EQ(got.size(), 4u + (blank ? 63u : 64u));
        std::vector<uint32_t> offsets;
        for (const SimCommandRecord& r : got)
            if (r.Opcode() == 0x3B && r.cdb[2] == BUFFER_FIRMWARE) {
                offsets.push_back(r.BufferOffset());
                EXPECT_EQ(r.BufferLength(), IMAGE_BLOCK_SIZE);
                EXPECT_EQ(r.cdb[1], BUFFER_MODE_DOWNLOAD);
            }
        ASSERT_EQ(offsets.size(), 60u);
        EXPECT_EQ(offsets.front(), 0u);
        EXPECT_EQ(offsets.back(), 0x1D8000u);
        for (size_t i = 1; i < offsets.size(); ++i) EXPECT_EQ(offsets[i], offsets[i - 1] + IMAGE_BLOCK_SIZE);
        EXPECT_EQ(drive.ImageDigest(), s_imageDigest);
        EXPECT_EQ(drive.Revision(), "1.10");  // the image's
    }
}

TEST_F(UpdateTest, FinalStateDecidesTheOutcome) {
    struct {
        SimAfterSwitch after;
        unsigned report;
    } const cases[] = {
        {SimAfterSwitch::Keep, NOTIFY_UPDATE_OK},
        {SimAfterSwitch::Silent, NOTIFY_UPDATE_OK},  // restarted into the new firmware
        {SimAfterSwitch::Blank, NOTIFY_UPDATE_FAILED},
    };
    for (const auto& c : cases) {
        SimDriveConfig config;
        config.afterSwitch = c.after;
        Drive(config);
        RecordingHost fresh;
        HandToUpdate(s_image);
        RunUpdateOf(fresh);
        ASSERT_FALSE(fresh.Notes().empty());
        EXPECT_EQ(fresh.Notes().back().code, c.report) << int(c.after);
        EXPECT_TRUE(fresh.Boxes().empty()) << int(c.after);
    }
}

TEST_F(UpdateTest, EjectWithoutMediumGoesOn) {
    for (SimSense noMedium : {SimSense{0x02, 0x3A, 0x00}, SimSense{0x02, 0x3A, 0x02}}) {
        SimDriveConfig config;
        config.discLoaded = true;
        SimFault fault;
        fault.opcode = 0x1B;
        fault.refuse = true;
        fault.sense = noMedium;
        config.faults.push_back(fault);
        SimDrive& drive = Drive(config);
        RecordingHost fresh;
        HandToUpdate(s_image);
        RunUpdateOf(fresh);
        EXPECT_EQ(fresh.Notes().back().code, NOTIFY_UPDATE_OK);
        EXPECT_EQ(drive.ImagesApplied(), 1);
    }
}

// Images that do not belong to the drive: IDS_INCOMPATIBLE_IMAGE and not one command
// after the identification block was read.
struct BadImage {
    const char* name;
    SimImageOptions options;
};
void PrintTo(const BadImage& c, std::ostream* os) { *os << c.name; }

SimImageOptions With(void (*change)(SimImageOptions&)) {
    SimImageOptions o;
    change(o);
    return o;
}

const BadImage kBadImages[] = {
    {"signature_part1", With([](SimImageOptions& o) { o.signature[3] = 'X'; })},
    {"signature_part2", With([](SimImageOptions& o) { o.signature[12] = 'X'; })},
    {"build_date", With([](SimImageOptions& o) { o.buildDate = "09/08/22"; })},
    {"identification_without_trailing_blank",
     With([](SimImageOptions& o) { o.identification = "TORVELL DVD-RW  WKZ4471"; })},
    {"identification_other_last_character",
     With([](SimImageOptions& o) { o.identification = "TORVELL DVD-RW  WKZ4471_"; })},
    {"header_cut_inside_the_date", With([](SimImageOptions& o) { o.length = 311; })},
    {"header_cut_before_the_date", With([](SimImageOptions& o) { o.length = 300; })},
    {"empty_file", With([](SimImageOptions& o) { o.length = 0; })},
};

class IncompatibleImage : public UpdateTest, public ::testing::WithParamInterface<BadImage> {};

TEST_P(IncompatibleImage, StopsBeforeAnyCommandThatChangesTheDrive) {
    SimDrive& drive = Drive();
    WriteImage(GetParam().options);
    ASSERT_EQ(RunWorker(OP_UPDATE), 1);
    EXPECT_EQ(FinalReport(), int(NOTIFY_UPDATE_FAILED));
    EXPECT_FALSE(host.Posted(NOTIFY_TRANSFER_STARTED));
    ExpectOneMessageFromWorker("imcompatible firmware file", 0);
    ExpectCommands(drive.Transcript(), FullUpdate(false), 1);
}

INSTANTIATE_TEST_SUITE_P(Table, IncompatibleImage, ::testing::ValuesIn(kBadImages),
                         [](const ::testing::TestParamInfo<BadImage>& info) { return std::string(info.param.name); });

TEST_F(UpdateTest, MissingImageFailsValidationSilently) {
    SimDrive& drive = Drive();
    ASSERT_TRUE(SetImagePath(ImagePath().c_str()));  // never written
    ASSERT_EQ(RunWorker(OP_UPDATE), 1);
    EXPECT_EQ(FinalReport(), int(NOTIFY_UPDATE_FAILED));
    ExpectNoMessage();
    EXPECT_EQ(drive.Transcript().size(), 1u);
}

// The download reads the file that was validated, held open since: a file deleted
// (or renamed over) meanwhile changes nothing of what is sent.
TEST_F(UpdateTest, ImageDeletedAfterValidationIsSentAsValidated) {
    SimDrive& drive = Drive();
    WriteImage();
    host.onNotify = [this](unsigned code) {
        if (code == NOTIFY_TRANSFER_STARTED) std::remove(ImagePath().c_str());
    };
    ASSERT_EQ(RunWorker(OP_UPDATE), 1);
    EXPECT_EQ(FinalReport(), int(NOTIFY_UPDATE_OK));
    ExpectNoMessage();
    EXPECT_EQ(drive.ImageDigest(), s_imageDigest);
}

// The update sends only the image whose version and date the dialog judged.
TEST_F(UpdateTest, ImageNotTheOneJudgedIsRefused) {
    struct Case {
        const char* what;
        const char* version;  // nullptr: nothing handed over
        const char* date;
    } const cases[] = {
        {"older version judged", "1.05", "090821"},
        {"other date judged", "1.10", "090820"},
        {"no version check", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimDrive& drive = Drive();
        RecordingHost fresh;
        ASSERT_TRUE(SetImagePath(s_image.c_str()));
        if (c.version) {
            SetCheckedImage(c.version, c.date);
        } else {
            g_checkedImage = CheckedImage();
        }
        RunUpdateOf(fresh);
        EXPECT_EQ(fresh.Notes().back().code, NOTIFY_UPDATE_FAILED);
        ASSERT_EQ(fresh.Boxes().size(), 1u);
        EXPECT_EQ(fresh.Boxes()[0].text, "imcompatible firmware file");
        EXPECT_EQ(drive.Transcript().size(), 1u);  // the identification read only
    }
}

// The image written over in place after validation, between it and the download
// or in the middle of the blocks: the drive gets exactly the bytes validated and
// switches them in, whatever the change. A twin keeps the digest; it must not
// reach the drive either.
TEST_F(UpdateTest, ImageWrittenOverAfterValidationChangesNothingSent) {
    struct Case {
        const char* what;
        bool twin;               // else bytes of no design
        uint32_t at, length;     // what is written over
        bool duringTheDownload;  // else between validation and the download
    } const cases[] = {
        {"twin, before the download", true, 0x140100, 0, false},
        {"twin, during the download", true, 0x140100, 0, true},
        {"header, before the download", false, IMAGE_VERSION_OFFSET, 1, false},
        {"random bytes, during the download", false, 0x100, IMAGE_TRANSFER_SIZE - 0x200, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimDrive& drive = Drive();
        WriteImage();
        std::vector<uint8_t> changed = ReadTransfer(ImagePath());
        ASSERT_FALSE(changed.empty());
        const ImageDigest digest = DigestOfTransfer(changed);
        uint32_t at = c.at, length = c.length;
        if (c.twin) {
            MakeDigestTwin(changed, c.at);
            length = 2 * IMAGE_DIGEST_GROUP;
            ASSERT_EQ(DigestOfTransfer(changed), digest) << "not a twin";
        } else {
            std::srand(7);
            for (uint32_t k = at; k < at + length; ++k) changed[k] = static_cast<uint8_t>(std::rand());
        }
        RecordingHost fresh;
        auto change = [&] { ASSERT_TRUE(WriteInPlace(ImagePath(), changed, at, length)); };
        g_hDevice = OpenDevice('D');
        ASSERT_EQ(ValidateImage(fresh), 1);
        if (c.duringTheDownload) {
            fresh.onNotify = [&](unsigned code) {
                if (code == NOTIFY_TRANSFER_STARTED) change();
            };
        } else {
            change();
        }
        EXPECT_EQ(DownloadImage(fresh), 1);
        CloseImage();
        CloseDevice(g_hDevice);

        EXPECT_TRUE(fresh.Boxes().empty()) << fresh.Boxes()[0].text;
        EXPECT_EQ(drive.ImageDigest(), s_imageDigest);
        EXPECT_EQ(drive.ImagesApplied(), 1);
        EXPECT_EQ(ReadTransfer(ImagePath()), changed);  // the file did change
    }
}

TEST_F(UpdateTest, ShortImageIsRefusedBeforeAnythingIsWritten) {
    SimDrive& drive = Drive();
    SimImageOptions options;
    options.length = IMAGE_TRANSFER_SIZE - 1;  // one byte short of block 59
    WriteImage(options);
    ASSERT_EQ(RunWorker(OP_UPDATE), 1);
    EXPECT_EQ(FinalReport(), int(NOTIFY_UPDATE_FAILED));
    EXPECT_FALSE(host.Posted(NOTIFY_TRANSFER_STARTED));
    ExpectOneMessageFromWorker("imcompatible firmware file", 0);
    ASSERT_EQ(drive.Transcript().size(), 1u);  // the identification read only
    EXPECT_EQ(drive.ImagesApplied(), 0);
}

// Cut short after validation: the update sends what it validated all the same.
TEST_F(UpdateTest, ImageCutShortDuringTheDownloadIsSentAsValidated) {
    SimDrive& drive = Drive();
    WriteImage();
    host.onNotify = [this](unsigned code) {
        if (code == NOTIFY_TRANSFER_STARTED) {
            ASSERT_EQ(truncate(ImagePath().c_str(), IMAGE_TRANSFER_SIZE - 100), 0);
        }
    };
    ASSERT_EQ(RunWorker(OP_UPDATE), 1);
    EXPECT_EQ(FinalReport(), int(NOTIFY_UPDATE_OK));
    ExpectNoMessage();
    EXPECT_EQ(drive.ImagesApplied(), 1);
    EXPECT_EQ(drive.ImageDigest(), s_imageDigest);
}

}  // namespace
