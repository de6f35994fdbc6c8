// The Linux runs of quillmor as whole processes against the emulated drive:
// options, exit codes, --check, the drive choice, the streams and --json, progress
// on a terminal, the log and the image's SHA-256.
#include "tests/process/quillmor_fixture.h"

namespace process_test {
namespace {

// --- The Linux runs: options, exit codes, --check, drive choice, progress, the log ----

struct ExitCase {
    const char* name;
    const char* scenario;
    std::vector<std::string> args;
    int code;
    std::vector<std::string> printed;  // each somewhere in what the run printed
    bool writes;                       // a changing command reached the drive
};
void PrintTo(const ExitCase& c, std::ostream* os) { *os << c.name; }

class QuillmorExit : public Quillmor, public testing::WithParamInterface<ExitCase> {
protected:
    void SetUp() override {
        Quillmor::SetUp();
        SimImageOptions foreign;
        foreign.signature = "0082VARNDT  9999";
        std::string error;
        ASSERT_TRUE(SimWriteImage(work_ + "/foreign.img", foreign, &error)) << error;
        SimImageOptions cut;
        cut.length = 0x1D8000;
        ASSERT_TRUE(SimWriteImage(work_ + "/short.img", cut, &error)) << error;
        ASSERT_EQ(::symlink(kDevice, (work_ + "/cdrom").c_str()), 0);
    }
};

// The opcodes that change a drive: WRITE BUFFER and START STOP UNIT.
bool ChangedTheDrive(const std::string& transcript) {
    std::istringstream lines(transcript);
    for (std::string line; std::getline(lines, line);)
        if (line.compare(2, 2, "3B") == 0 || line.compare(2, 2, "1B") == 0) return true;
    return false;
}

TEST_P(QuillmorExit, EndsWithItsDocumentedCode) {
    const ExitCase& c = GetParam();
    StartServer(c.scenario);
    const Finished run = RunToEnd(c.args);
    EXPECT_EQ(run.code, c.code) << run.err;
    const std::string& err = run.err;
    for (const std::string& text : c.printed) EXPECT_NE(err.find(text), std::string::npos) << text << "\n" << err;
    EXPECT_EQ(ChangedTheDrive(Transcript()), c.writes) << Transcript();
}

const char kRefusedBlock11[] = "fault = opcode=0x3B buffer=0xF0 offset=0x50000 sense=03/0C/00\n";

INSTANTIATE_TEST_SUITE_P(
    Table, QuillmorExit,
    testing::Values(
        ExitCase{"Help", "", {"--help"}, 0, {"Usage: quillmor", "--check", "Exit codes"}, false},
        ExitCase{"Version", "", {"-V"}, 0, {"quillmor 1.0.0\n"}, false},
        ExitCase{"UnknownOption", "", {"--dry-run", "/au"}, 2, {"unknown option --dry-run", "Usage: quillmor"}, false},
        ExitCase{"StrayArgument", "", {"--yes", "now"}, 2, {"unexpected argument 'now'", "Usage:"}, false},
        ExitCase{"BadLanguage", "", {"--lang", "fr"}, 2, {"--lang takes en or ja", "Usage:"}, false},
        ExitCase{"UsageErrorInJapanese", "", {"--lang", "ja", "--wait", "1m"}, 2,
                 {"quillmor: --wait には 0 から 3600 までの秒数", "Usage: quillmor", "使い方は 'quillmor --help'"}, false},
        ExitCase{"NotAnOpticalDevice", "", {"-d", "/dev/sda"}, 2, {"--device takes", "Usage:"}, false},
        ExitCase{"CheckWithYes", "", {"--check", "-y"}, 2, {"Usage:"}, false},
        ExitCase{"CheckNewer", "", {"--check"}, 0,
                 {"Drive:    /dev/sr1  TORVELL DVD-RW  WKZ4471  1.00  09/07/15", "1.10  09/08/21",
                  "Decision: newer", "Nothing was written"}, false},
        ExitCase{"CheckNotNewer", "revision = 1.10\ndate = 09/08/21\n", {"--check"}, 3, {"Decision: not newer"}, false},
        ExitCase{"CheckIncompatible", "", {"--check", "-i", "foreign.img"}, 5, {"imcompatible", "Decision: incompatible"}, false},
        ExitCase{"CheckTooShort", "", {"--check", "--image", "short.img"}, 5, {"Decision: incompatible"}, false},
        ExitCase{"CheckImageMissing", "", {"--check", "-i", "absent.img"}, 5,
                 {"quillmor: cannot open the image absent.img: No such file or directory; nothing was done."}, false},
        ExitCase{"CheckIdentificationUnreadable", "fault = opcode=0x3C nth=4 sense=05/24/00\n", {"--check"}, 4,
                 {"command error occured", "invalid field in the command", "Decision: cannot tell"}, false},
        ExitCase{"CheckTwoDrives", "drive = D\ndrive = E\n", {"--check"}, 4,
                 {"more than one TORVELL DVD-RW WKZ4471 found; name one with --device:", "/dev/sr1  TORVELL", "/dev/sr2  TORVELL"}, false},
        // A link such as /dev/cdrom names the drive it points to.
        ExitCase{"CheckThroughALink", "", {"--check", "--device", "cdrom"}, 0, {"Drive:    /dev/sr1  TORVELL"}, false},
        ExitCase{"DeviceIsNotTheDrive", "", {"--check", "--device", "/dev/sr5"}, 4,
                 {"/dev/sr5 is not a TORVELL DVD-RW WKZ4471"}, false},
        ExitCase{"NoDrive", "identification = \"OTHER   DVD-RW  WKZ4471 \"\n", {"--yes"}, 4,
                 {"no TORVELL DVD-RW WKZ4471 found; asked twice, 3.5 s apart: /dev/sr1 /dev/sr2 (another model, or no answer)."}, false},
        ExitCase{"YesUpdates", "", {"--yes"}, 0,
                 {"block 10 of 60", "written: block 60 of 60", "now reports revision 1.10",
                  "Restart the computer before you use the drive."}, true},
        ExitCase{"YesNothingToDo", "revision = 1.10\ndate = 09/08/21\n", {"-y"}, 3,
                 {"Nothing to do: /dev/sr1 has firmware 1.10 (09/08/21); the image's 1.10 (09/08/21) is not newer."}, false},
        ExitCase{"YesIncompatible", "", {"-y", "-i", "foreign.img"}, 5,
                 {"imcompatible", "is not for this drive, or is too short. Nothing was written to /dev/sr1."}, false},
        // The drive refuses block 11: what was shown never runs past what was
        // accepted, the bar stops there, and the user is told what the drive is now.
        ExitCase{"YesBlockRefused", kRefusedBlock11, {"-y"}, 1,
                 {"block 10 of 60", "stopped: block 10 of 60 accepted", "Sense meaning: write error",
                  "The update failed. WARNING:", "has no valid firmware now", "Do not power off",
                  "Run quillmor again"}, true},
        ExitCase{"YesBlockRefusedInJapanese", kRefusedBlock11, {"-y", "--lang", "ja"}, 1,
                 {"センスの意味: 書き込みエラー"}, true},
        // The state byte no longer answers after the switch; the INQUIRY does, and confirms.
        ExitCase{"YesSilentDriveAfterwards", "after_switch = silent\n", {"-y"}, 0,
                 {"now reports revision 1.10 (09/08/21)"}, true},
        // After the update the drive's own INQUIRY decides: the image's revision and
        // date, its old ones, or no answer within --wait.
        ExitCase{"YesStillOldFirmware",
                 "fault = opcode=0x3B buffer=0xFF skip=1 short=16 resid=zero\nfault = opcode=0x3C skip=5 no-answer\n",
                 {"-y"}, 8, {"still reports its old firmware 1.00 (09/07/15)", "not the image's 1.10 (09/08/21)"}, true},
        ExitCase{"CheckHalfWritten", "state = blank\n", {"--check"}, 0,
                 {"write again: the drive holds no valid firmware", "Do not power it off"}, false},
        ExitCase{"CheckHalfWrittenNotNewer", "state = blank\nrevision = 1.10\ndate = 09/08/21\n", {"--check"}, 3,
                 {"not newer", "The drive holds no valid firmware (an earlier update stopped half-way)"}, false},
        ExitCase{"YesNoAnswerAfterwards", "fault = opcode=0x3C applied no-answer\nfault = opcode=0x12 applied vanish\n",
                 {"-y", "--wait", "1"}, 9, {"did not answer within 1 seconds", "quillmor --check"}, true},
        // An empty value is no value: it never means "every drive" or "the default image".
        ExitCase{"EmptyDevice", "drive = D\ndrive = E\n", {"-y", "--device", "", "--image", ""}, 2,
                 {"--device needs a value, not an empty one"}, false},
        ExitCase{"EmptyImage", "", {"-y", "-i", ""}, 2, {"-i needs a value, not an empty one"}, false},
        ExitCase{"EmptyLog", "", {"--check", "--log="}, 2, {"--log needs a value, not an empty one"}, false},
        ExitCase{"WaitNotANumber", "", {"-y", "--wait", "1m"}, 2, {"--wait takes whole seconds"}, false},
        ExitCase{"Sha256NotADigest", "", {"-y", "--sha256", "Q5518306.707"}, 2,
                 {"--sha256 takes the image's SHA-256 as 64 hex digits, not 'Q5518306.707'", "Usage:"}, false},
        ExitCase{"NobodyToAnswer", "", {}, 7, {"No (no terminal to answer", "Nothing was done: you did not say yes."}, false},
        ExitCase{"NobodyToAnswerInJapanese", "", {"--lang", "ja"}, 7, {"いいえ"}, false}),
    [](const testing::TestParamInfo<ExitCase>& info) { return std::string(info.param.name); });

// What a script reads on standard output is the result alone: the --check report,
// or the outcome; questions, progress and the engine's messages go to standard error.
struct StreamCase {
    const char* name;
    const char* scenario;
    std::vector<std::string> args;
    int code;
    std::string out;                       // standard output, whole ({work}: the work folder)
    std::vector<std::string> onlyInErr;    // each on standard error
};

class QuillmorStreams : public Quillmor, public testing::WithParamInterface<StreamCase> {};

TEST_P(QuillmorStreams, ResultsGoToStandardOutputAlone) {
    const StreamCase& c = GetParam();
    StartServer(c.scenario);
    const Finished run = RunToEnd(c.args, true);
    EXPECT_EQ(run.code, c.code);
    const std::string& out = run.out;
    const std::string& err = run.err;
    std::string expected = c.out;
    const size_t work = expected.find("{work}");
    if (work != std::string::npos) expected.replace(work, 6, work_);
    const size_t sha = expected.find("{sha256}");
    if (sha != std::string::npos) expected.replace(sha, 8, Sha256Sum(work_ + "/" + SIM_IMAGE_FILE_NAME));
    EXPECT_EQ(out, expected) << err;
    for (const std::string& text : c.onlyInErr) EXPECT_NE(err.find(text), std::string::npos) << text << "\n" << err;
    // Every update reached block 10; only -q keeps its progress off the screen.
    const auto given = [&](const char* arg) { return std::find(c.args.begin(), c.args.end(), arg) != c.args.end(); };
    if (given("-y")) {
        EXPECT_EQ(err.find("block 10 of 60") == std::string::npos, given("-q")) << err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuillmorStreams,
    testing::Values(
        StreamCase{"Check", "", {"--check"}, 0,
                   "Drive:    /dev/sr1  TORVELL DVD-RW  WKZ4471  1.00  09/07/15\n"
                   "Image:    {work}/Q5518306.707  1.10  09/08/21\n"
                   "SHA-256:  {sha256}\n"
                   "Decision: newer: the image may be written to this drive\n"
                   "Nothing was written to the drive.\n",
                   {}},
        StreamCase{"Update", "", {"-y"}, 0,
                   "The firmware was updated: /dev/sr1 now reports revision 1.10 (09/08/21).\n"
                   "Restart the computer before you use the drive.\n",
                   {"Drive /dev/sr1  TORVELL DVD-RW  WKZ4471: firmware 1.00 --> 1.10", "written: block 60 of 60"}},
        // -q: the result, and the drive's errors; no progress, no drive list.
        StreamCase{"Quiet", "", {"-y", "-q"}, 0,
                   "The firmware was updated: /dev/sr1 now reports revision 1.10 (09/08/21).\n"
                   "Restart the computer before you use the drive.\n",
                   {}},
        StreamCase{"Failure", kRefusedBlock11, {"-y"}, 1,
                   "The update failed. WARNING: the drive /dev/sr1 was left in download mode or half-written: it has "
                   "no valid firmware now.\nDo not power off or restart the computer. Run quillmor again to write the image.\n",
                   {"command error occured", "stopped: block 10 of 60 accepted"}}),
    [](const testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

// --json: standard output holds one JSON object, read here by Python's parser; each
// field as the schema in the manual gives it.
struct JsonCase {
    const char* name;
    const char* scenario;
    std::vector<std::string> args;
    int code;
    std::vector<std::string> fields;  // "key=value" as the parser reads them (None: null;
                                      // {sha256}: the image's, as sha256sum prints it)
};

class QuillmorJson : public Quillmor, public testing::WithParamInterface<JsonCase> {};

TEST_P(QuillmorJson, IsOneObjectOfTheDocumentedFields) {
    const JsonCase& c = GetParam();
    StartServer(c.scenario);
    const Finished run = RunToEnd(c.args, true);
    EXPECT_EQ(run.code, c.code) << run.err;
    const std::string parsed = work_ + "/parsed";
    const std::string command =
        "python3 -c 'import json, sys\n"
        "d = json.load(open(sys.argv[1]))\n"
        "keys = [\"schema\", \"mode\", \"device\", \"model\", \"revision\", \"date\", \"image\", \"image_version\",\n"
        "        \"image_date\", \"image_sha256\", \"decision\", \"outcome\", \"reason\", \"exit_code\", \"confirmed_revision\"]\n"
        "assert sorted(d) == sorted(keys), sorted(d)\n"
        "for k in keys: print(\"%s=%s\" % (k, d[k]))' '" +
        run.outPath + "' >'" + parsed + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << ReadFile(parsed) << run.out;
    const std::string text = ReadFile(parsed);
    const std::string sha256 = Sha256Sum(work_ + "/" + SIM_IMAGE_FILE_NAME);
    for (std::string field : c.fields) {
        const size_t at = field.find("{sha256}");
        if (at != std::string::npos) field.replace(at, 8, sha256);
        EXPECT_NE(text.find(field + "\n"), std::string::npos) << field << "\n" << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuillmorJson,
    testing::Values(
        JsonCase{"Check", "", {"--check", "--json"}, 0,
                 {"schema=1", "mode=check", "device=/dev/sr1", "model=TORVELL DVD-RW  WKZ4471", "revision=1.00",
                  "date=09/07/15", "image_version=1.10", "image_date=09/08/21", "image_sha256={sha256}", "decision=newer",
                  "outcome=update-possible", "reason=newer: the image may be written to this drive", "exit_code=0",
                  "confirmed_revision=None"}},
        JsonCase{"Updated", "", {"-y", "--json"}, 0,
                 {"mode=update", "image_sha256={sha256}", "decision=None", "outcome=updated", "exit_code=0",
                  "confirmed_revision=1.10"}},
        JsonCase{"Failed", kRefusedBlock11, {"-y", "--json"}, 1,
                 {"outcome=update-failed",
                  "reason=The update failed. WARNING: the drive /dev/sr1 was left in download mode or half-written: it "
                  "has no valid firmware now.\nDo not power off or restart the computer. Run quillmor again to write the image.",
                  "exit_code=1", "confirmed_revision=None"}},
        JsonCase{"NoImage", "", {"--check", "--json", "-i", "absent.img"}, 5,
                 {"device=None", "revision=None", "image=absent.img", "image_version=None", "image_sha256=None",
                  "outcome=image-problem",
                  "reason=quillmor: cannot open the image absent.img: No such file or directory; nothing was done.",
                  "exit_code=5"}},
        // A file name need not be UTF-8; the object must be, for any parser to read it.
        JsonCase{"ImageNameNotUtf8", "", {"--check", "--json", "-i", "absent\xff\xc3.img"}, 5,
                 {"image=absent\xef\xbf\xbd\xef\xbf\xbd.img", "outcome=image-problem"}}),
    [](const testing::TestParamInfo<JsonCase>& info) { return std::string(info.param.name); });

// --- The image's SHA-256 ----------------------------------------------------------

// The images of these runs beside the default one: "long.img" holds bytes past the
// 1,966,080 sent, which its SHA-256 covers as well; "other.img" is as valid as the
// default image (same header) with another body.
struct Sha256Case {
    const char* name;
    std::vector<std::string> args;  // "{given}": the SHA-256 of `given`, as sha256sum prints it
    const char* given;
    bool upper;                     // given in upper case
    int code;
    // Each somewhere in what the run printed; "{given}" as above, "{image}" the
    // SHA-256 of the image the run uses.
    std::vector<std::string> printed;
    bool asked;                     // any command reached the drive
    bool writes;                    // a changing command reached it
};
void PrintTo(const Sha256Case& c, std::ostream* os) { *os << c.name; }

class QuillmorSha256 : public Quillmor, public testing::WithParamInterface<Sha256Case> {
protected:
    void SetUp() override {
        Quillmor::SetUp();
        SimImageOptions longer;
        longer.length = SIM_FIRMWARE_AREA_SIZE + 4099;
        SimImageOptions other;
        other.seed = 7;
        std::string error;
        ASSERT_TRUE(SimWriteImage(work_ + "/long.img", longer, &error)) << error;
        ASSERT_TRUE(SimWriteImage(work_ + "/other.img", other, &error)) << error;
    }
};

TEST_P(QuillmorSha256, IsToldAndHeldToWhatIsGiven) {
    const Sha256Case& c = GetParam();
    std::string given = Sha256Sum(work_ + "/" + c.given);
    ASSERT_EQ(given.size(), 64u);
    std::string image = work_ + "/" + SIM_IMAGE_FILE_NAME;
    for (size_t i = 0; i + 1 < c.args.size(); ++i)
        if (c.args[i] == "-i") image = work_ + "/" + c.args[i + 1];
    const std::string imageSha = Sha256Sum(image);
    const auto fill = [&](std::string text) {
        for (const char* mark : {"{given}", "{image}"}) {
            const size_t at = text.find(mark);
            if (at != std::string::npos) text.replace(at, 7, mark[1] == 'g' ? given : imageSha);
        }
        return text;
    };
    std::string typed = given;
    if (c.upper)
        for (char& ch : typed) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    StartServer("");
    std::vector<std::string> args;
    for (const std::string& arg : c.args) args.push_back(arg == "{given}" ? typed : arg);
    const Finished run = RunToEnd(args);
    EXPECT_EQ(run.code, c.code);
    const std::string& err = run.err;
    for (const std::string& text : c.printed) EXPECT_NE(err.find(fill(text)), std::string::npos) << fill(text) << "\n" << err;
    EXPECT_EQ(!Transcript().empty(), c.asked) << Transcript();
    EXPECT_EQ(ChangedTheDrive(Transcript()), c.writes) << Transcript();
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuillmorSha256,
    testing::Values(
        // Of the whole file, bytes past those sent included.
        Sha256Case{"CheckTellsTheWholeFilesDigest", {"--check", "-i", "long.img"}, "long.img", false, 0,
                   {"SHA-256:  {image}\nDecision: newer"}, true, false},
        Sha256Case{"RightDigestUpdates", {"-y", "--sha256", "{given}"}, SIM_IMAGE_FILE_NAME, false, 0,
                   {"now reports revision 1.10"}, true, true},
        Sha256Case{"RightDigestInUpperCaseUpdates", {"-y", "--sha256", "{given}"}, SIM_IMAGE_FILE_NAME, true, 0,
                   {"now reports revision 1.10"}, true, true},
        Sha256Case{"RightDigestOfALongerFileUpdates", {"-y", "-i", "long.img", "--sha256", "{given}"}, "long.img", false, 0,
                   {"now reports revision 1.10"}, true, true},
        Sha256Case{"RightDigestChecks", {"--check", "--sha256", "{given}"}, SIM_IMAGE_FILE_NAME, false, 0,
                   {"SHA-256:  {image}", "Decision: newer"}, true, false},
        // Another image is refused before anything reaches the drive, both digests told.
        Sha256Case{"WrongDigestIsRefusedBeforeAnyCommand", {"-y", "--sha256", "{given}"}, "other.img", false, 5,
                   {"quillmor: the image ", "Q5518306.707 has SHA-256 {image}, not the {given} given with --sha256; "
                                            "nothing was done."},
                   false, false},
        Sha256Case{"WrongDigestChecksNothing", {"--check", "--sha256", "{given}"}, "other.img", false, 5,
                   {"has SHA-256 {image}, not the {given} given with --sha256"}, false, false},
        Sha256Case{"WrongDigestAsksNothingInteractively", {"--sha256", "{given}"}, "long.img", false, 5,
                   {"has SHA-256 {image}, not the {given}"}, false, false}),
    [](const testing::TestParamInfo<Sha256Case>& info) { return std::string(info.param.name); });

// The file is swapped for another valid image after the first look, while the
// question stands: the update holds the new file's bytes, whose SHA-256 is not the
// one given, and sends nothing of them.
TEST_F(Quillmor, ImageSwappedAfterItsDigestWasTakenIsNotWritten) {
    SimImageOptions other;
    other.seed = 7;
    std::string error;
    ASSERT_TRUE(SimWriteImage(work_ + "/other.img", other, &error)) << error;
    const std::string given = Sha256Sum(work_ + "/" + SIM_IMAGE_FILE_NAME);
    const std::string swapped = Sha256Sum(work_ + "/other.img");
    StartServer("");
    std::string asked;
    const Child run = StartUntilAsked({"--sha256", given, "--log", "run.log"}, &asked);
    ASSERT_NE(asked.find("[y/N]"), std::string::npos) << asked;
    ASSERT_EQ(::rename((work_ + "/other.img").c_str(), (work_ + "/" + SIM_IMAGE_FILE_NAME).c_str()), 0);
    const std::string screen = asked + ReadPty("y\n");
    EXPECT_EQ(Wait(run), 5) << screen;
    EXPECT_NE(screen.find("has SHA-256 " + swapped + ", not the " + given +
                          " given with --sha256; nothing was written to the drive."),
              std::string::npos)
        << screen;
    EXPECT_FALSE(ChangedTheDrive(Transcript())) << Transcript();
    const std::string log = ReadFile(work_ + "/run.log");
    EXPECT_NE(log.find("image SHA-256: " + given), std::string::npos) << log;
    EXPECT_NE(log.find("image SHA-256 of the bytes held for the update: " + swapped), std::string::npos) << log;
}

// --check as well judges the bytes it validated: swapped after the first look (the
// validation's READ BUFFER held back meanwhile), the file is not the one given.
TEST_F(Quillmor, CheckOfAnImageSwappedAfterItsDigestWasTakenSaysSo) {
    SimImageOptions other;
    other.seed = 7;
    std::string error;
    ASSERT_TRUE(SimWriteImage(work_ + "/other.img", other, &error)) << error;
    const std::string given = Sha256Sum(work_ + "/" + SIM_IMAGE_FILE_NAME);
    const std::string swapped = Sha256Sum(work_ + "/other.img");
    StartServer("fault = opcode=0x3C skip=1 times=1 delay=300\n");
    RunOptions options{RunDir("run")};
    options.args = {"--check", "--sha256", given};
    const Child run = StartUpdater(options);
    // Discovery's two commands and the version check's INQUIRY: the image is validated next.
    ASSERT_TRUE(WaitInDirectory(State(), [&] { return CountLines(Transcript(), "D 12") >= 2; })) << Transcript();
    ASSERT_EQ(::rename((work_ + "/other.img").c_str(), (work_ + "/" + SIM_IMAGE_FILE_NAME).c_str()), 0);
    EXPECT_EQ(Wait(run), 5);
    const std::string err = ReadFile(run.errPath);
    EXPECT_NE(err.find("SHA-256:  " + swapped + "\nDecision: not the image given: its SHA-256 is not the " + given +
                       " given with --sha256"),
              std::string::npos)
        << err;
    EXPECT_FALSE(ChangedTheDrive(Transcript())) << Transcript();
}

// The image is removed after the first look, while the question stands: no copy of
// it can be held for the update, which says so and sends nothing of it.
TEST_F(Quillmor, ImageGoneBeforeItCouldBeHeldIsToldAndNotWritten) {
    StartServer("");
    std::string asked;
    const Child run = StartUntilAsked({}, &asked);
    ASSERT_NE(asked.find("[y/N]"), std::string::npos) << asked;
    ASSERT_EQ(::unlink((work_ + "/" + SIM_IMAGE_FILE_NAME).c_str()), 0);
    const std::string screen = asked + ReadPty("y\n");
    EXPECT_EQ(Wait(run), 5) << screen;
    EXPECT_NE(screen.find(std::string(SIM_IMAGE_FILE_NAME) +
                          " could not be read again and held for the update. Nothing was written to /dev/sr1"),
              std::string::npos)
        << screen;
    EXPECT_EQ(screen.find("is not for this drive"), std::string::npos) << screen;
    EXPECT_FALSE(ChangedTheDrive(Transcript())) << Transcript();
}

// --check likewise: removed once the version check has read it (the log says so),
// while the validation's READ BUFFER is held back.
TEST_F(Quillmor, CheckOfAnImageGoneBeforeItCouldBeHeldSaysSo) {
    StartServer("fault = opcode=0x3C skip=1 times=1 delay=300\n");
    RunOptions options{RunDir("run")};
    options.args = {"--check", "--log", "run.log"};
    const Child run = StartUpdater(options);
    ASSERT_TRUE(WaitInDirectory(work_, [&] { return ReadFile(work_ + "/run.log").find("version rule:") != std::string::npos; }))
        << ReadFile(work_ + "/run.log");
    ASSERT_EQ(::unlink((work_ + "/" + SIM_IMAGE_FILE_NAME).c_str()), 0);
    EXPECT_EQ(Wait(run), 5);
    const std::string err = ReadFile(run.errPath);
    EXPECT_NE(err.find("Decision: unreadable: the image could not be read again and held for the check"), std::string::npos)
        << err;
    EXPECT_FALSE(ChangedTheDrive(Transcript())) << Transcript();
}

// After a failure the warning not to power off goes by what the drive then
// reports, not by which commands were sent.
struct WarningCase {
    const char* name;
    const char* scenario;
    bool warned;
};

class QuillmorFailureWarning : public Quillmor, public testing::WithParamInterface<WarningCase> {};

TEST_P(QuillmorFailureWarning, FollowsWhatTheDriveReports) {
    const WarningCase& c = GetParam();
    StartServer(c.scenario);
    const Finished run = RunToEnd({"-y"});
    EXPECT_EQ(run.code, 1) << run.err;
    const std::string& err = run.err;
    EXPECT_NE(err.find("The update failed"), std::string::npos) << err;
    EXPECT_EQ(err.find("has no valid firmware now") != std::string::npos, c.warned) << err;
    EXPECT_EQ(err.find("kept the firmware it had") != std::string::npos, !c.warned) << err;
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuillmorFailureWarning,
    testing::Values(
        // Blank already: nothing was switched when its first block was refused.
        WarningCase{"BlankDriveFirstBlockRefused", "state = blank\nfault = opcode=0x3B buffer=0xF0 offset=0 sense=03/0C/00\n",
                    true},
        // The drive kept its firmware: the first switch was refused.
        WarningCase{"FirstSwitchRefused", "fault = opcode=0x3B buffer=0xFF sense=05/26/00\n", false},
        WarningCase{"InDownloadModeAtBlock11", kRefusedBlock11, true}),
    [](const testing::TestParamInfo<WarningCase>& info) { return std::string(info.param.name); });

// An adapter whose residual lies: 0 after a short reply (as USB bridges that
// ignore the residue report it), below 0, or past the request. A decision never
// rests on a byte that may not have arrived, so each case ends safe: an INQUIRY
// cut before the revision updates nothing; a final state read cut before the
// state byte is no success; a final mode switch taken in part is no success.
struct LyingAdapterCase {
    const char* name;
    const char* fault;  // completed with " resid=..." for each kind of lie
    int code;
    const char* printed;
    bool writes;
};
void PrintTo(const LyingAdapterCase& c, std::ostream* os) { *os << c.name; }

class QuillmorLyingAdapter : public Quillmor, public testing::WithParamInterface<LyingAdapterCase> {};

TEST_P(QuillmorLyingAdapter, DecidesOnlyOnWhatArrived) {
    const LyingAdapterCase& c = GetParam();
    for (const char* lie : {"zero", "negative", "over"}) {
        SCOPED_TRACE(lie);
        StartServer(std::string(c.fault) + " resid=" + lie + "\n");
        RunOptions options{RunDir(lie)};
        options.args = {"-y", "--wait", "0"};
        const Child run = StartUpdater(options);
        EXPECT_EQ(Wait(run), c.code);
        const std::string err = ReadFile(run.errPath);
        EXPECT_NE(err.find(c.printed), std::string::npos) << err;
        EXPECT_EQ(ChangedTheDrive(Transcript()), c.writes) << Transcript();
        StopServer();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuillmorLyingAdapter,
    testing::Values(
        // A 1.20 drive whose INQUIRY (the version check's, after discovery's) stops at 34.
        LyingAdapterCase{"InquiryCutBeforeTheRevision", "revision = 1.20\nfault = opcode=0x12 skip=1 short=34", 4,
                         "did not tell its firmware revision", false},
        LyingAdapterCase{"FinalStateReadCut", "after_switch = blank\nfault = opcode=0x3C applied short=20", 1,
                         "The update failed.", true},
        LyingAdapterCase{"FinalSwitchTakenInPart", "fault = opcode=0x3B buffer=0xFF skip=1 short=16", 1,
                         "The update failed.", true}),
    [](const testing::TestParamInfo<LyingAdapterCase>& info) { return std::string(info.param.name); });

TEST_F(Quillmor, ProgressNeverShowsMoreThanTheDriveAccepted) {
    StartServer(kRefusedBlock11);
    const Finished run = RunToEnd({"-y"});
    EXPECT_EQ(run.code, 1) << run.err;
    const std::string& err = run.err;
    EXPECT_EQ(CountLines(Transcript(), kWriteBlock), 11);  // ten taken, the eleventh refused
    EXPECT_EQ(err.find("block 11 of 60"), std::string::npos) << err;
    EXPECT_EQ(err.find("block 20 of 60"), std::string::npos) << err;
    // No bar after the failure.
    EXPECT_EQ(err.find("] block", err.find("stopped: block 10")), std::string::npos) << err;
}

TEST_F(Quillmor, SecondRunIsToldAnotherUpdaterRuns) {
    StartServer("fault = opcode=0x3B buffer=0xF0 offset=0x1D8000 delay=300\n");
    const Child first = StartUpdater({RunDir("first")});
    ASSERT_TRUE(WaitForBlocks(1));
    ASSERT_EQ(::kill(first.pid, SIGSTOP), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(first.pid, &status, WUNTRACED), first.pid);

    RunOptions sameMutex{RunDir("first")};
    sameMutex.args = {"--check"};
    const Child second = StartUpdater(sameMutex);
    EXPECT_EQ(Wait(second), 6);
    EXPECT_NE(ReadFile(second.errPath).find("another firmware updater is running"), std::string::npos);

    RunOptions otherMutex{RunDir("third")};
    otherMutex.args = {"--check"};
    const Child third = StartUpdater(otherMutex);
    EXPECT_EQ(Wait(third), 6);
    EXPECT_NE(ReadFile(third.errPath).find(kInUse), std::string::npos) << ReadFile(third.errPath);

    ASSERT_EQ(::kill(first.pid, SIGCONT), 0);
    EXPECT_EQ(Wait(first), 0);
    EXPECT_EQ(CountLines(Transcript(), kWriteBlock), 60);
}

// A command as the run shows it (log, -v) is the server's transcript line with the
// device's path for its letter and a residual after it: what remains is the
// transcript's words, or the line marked where its residual is not len less xfer.
std::string TranscriptWords(const std::string& shown) {
    const size_t resid = shown.rfind(" resid=");
    const size_t len = shown.find(" len=");
    const size_t xfer = shown.rfind(" xfer=");
    if (resid == std::string::npos || len == std::string::npos || xfer == std::string::npos)
        return shown + " <no len, xfer or resid>";
    const unsigned long asked = std::stoul(shown.substr(len + 5)), moved = std::stoul(shown.substr(xfer + 6));
    if (moved > asked || shown.substr(resid + 7) != std::to_string(asked - moved)) return shown + " <resid>";
    return shown.substr(0, resid);
}

// The transcript's words of each command the run showed for the drive, after `head`.
std::vector<std::string> CommandsShown(const std::string& text, const std::string& head) {
    std::vector<std::string> shown;
    const std::string lead = head + kDevice + " ";
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find(lead);
        if (at != std::string::npos) shown.push_back(TranscriptWords(line.substr(at + lead.size())));
    }
    return shown;
}

// The server's transcript lines without their letter.
std::vector<std::string> CommandsServed(const std::string& transcript) {
    std::vector<std::string> served;
    std::istringstream lines(transcript);
    for (std::string line; std::getline(lines, line);) served.push_back(line.substr(2));
    return served;
}

TEST_F(Quillmor, LogRecordsEveryCommandTheDriveSaw) {
    StartServer("");
    const Finished run = RunToEnd({"--yes", "--log", "run.log"});
    ASSERT_EQ(run.code, 0) << run.err;
    // Each drive command of the log is the server's line, in the same order, with
    // a time before it.
    EXPECT_EQ(CommandsShown(ReadFile(work_ + "/run.log"), " "), CommandsServed(Transcript()));
    EXPECT_EQ(CountLines(Transcript(), kWriteBlock), 60);
    const std::string text = ReadFile(work_ + "/run.log");
    for (const char* entry : {"image ", "version=\"1.10\"", "signature=", "identification=", "version rule: the image is newer",
                              "update: succeeded"})
        EXPECT_NE(text.find(entry), std::string::npos) << entry << "\n" << text;
}

// Each run's record opens with what ran: the version, the command line as a shell
// reads it back, the local time with its zone and the device; a second run with
// the same --log appends its own after the first's.
TEST_F(Quillmor, LogOfEachRunOpensWithWhatRanWhenAndWhere) {
    StartServer("");
    const std::vector<std::vector<std::string>> runs = {{"--check", "--log", "my run.log"},
                                                        {"-y", "--device", kDevice, "--log=my run.log"}};
    for (const std::vector<std::string>& args : runs) {
        const Finished run = RunToEnd(args);
        ASSERT_EQ(run.code, 0) << run.err;
    }
    const std::string log = ReadFile(work_ + "/my run.log");
    std::vector<std::string> lines;  // without their time stamps
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) lines.push_back(line.size() > 24 ? line.substr(24) : line);
    std::vector<size_t> starts;
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == "quillmor 1.0.0") starts.push_back(i);
    ASSERT_EQ(starts.size(), 2u) << log;
    EXPECT_EQ(starts[0], 0u) << log;
    ASSERT_LT(starts[1] + 3, lines.size());
    EXPECT_EQ(lines[starts[1] - 1].rfind("check: newer", 0), 0u) << "the second run's record follows the first's\n" << log;

    char zone[16];
    const std::time_t now = std::time(nullptr);
    std::tm local;
    std::strftime(zone, sizeof zone, "%z", localtime_r(&now, &local));
    // "+0900": its sign is no regular expression's.
    const std::regex started(std::string(R"(started: \d{4}-\d\d-\d\d \d\d:\d\d:\d\d \)") + zone + R"( \(\S+\))");
    const std::string image = work_ + "/" + SIM_IMAGE_FILE_NAME;
    const std::string digest = Sha256Sum(image);
    EXPECT_EQ(lines[1], std::string("command line: ") + QM_QUILLMOR + " --check --log 'my run.log'");
    EXPECT_TRUE(std::regex_match(lines[2], started)) << lines[2];
    EXPECT_EQ(lines[3], "device: not named; told once chosen");
    EXPECT_EQ(lines[starts[1] + 1], std::string("command line: ") + QM_QUILLMOR + " -y --device /dev/sr1 '--log=my run.log'");
    EXPECT_TRUE(std::regex_match(lines[starts[1] + 2], started)) << lines[starts[1] + 2];
    EXPECT_EQ(lines[starts[1] + 3], "device: /dev/sr1");
    const auto first = lines.begin() + static_cast<long>(starts[1]);
    EXPECT_NE(std::find(lines.begin(), first, "drive chosen: /dev/sr1"), first) << log;
    // The image's SHA-256 in each, and the second's of the bytes it held for the update.
    EXPECT_NE(std::find(lines.begin(), first, "image SHA-256: " + digest), first) << log;
    EXPECT_NE(std::find(first, lines.end(), "image SHA-256: " + digest), lines.end()) << log;
    EXPECT_NE(std::find(first, lines.end(), "image SHA-256 of the bytes held for the update: " + digest), lines.end()) << log;
}

// -v prints each command on standard error as it completes, in the log's words:
// every command the drive saw, in order, with its CDB. Without it, none.
TEST_F(Quillmor, VerbosePrintsEveryCommandTheDriveSaw) {
    StartServer("");
    for (const bool verbose : {true, false}) {
        SCOPED_TRACE(verbose ? "-v" : "without -v");
        const size_t seenBefore = Transcript().size();
        RunOptions options{RunDir(verbose ? "verbose" : "quiet")};
        options.args = {"--check"};
        if (verbose) options.args.push_back("-v");
        const Child run = StartUpdater(options);
        ASSERT_EQ(Wait(run), 0) << ReadFile(run.errPath);
        const std::string err = ReadFile(run.errPath);
        const std::vector<std::string> served = CommandsServed(Transcript().substr(seenBefore));
        ASSERT_FALSE(served.empty());
        if (verbose) {
            EXPECT_EQ(CommandsShown(err, "quillmor: "), served) << err;
            continue;
        }
        for (const std::string& command : served) {
            const std::string cdb = command.substr(0, command.find(' '));
            EXPECT_EQ(err.find(cdb), std::string::npos) << cdb << "\n" << err;
        }
    }
}

// What --log may name: the run writes only into a regular file of its own user's,
// appended to, never truncated; anything else is refused before any drive is
// touched and left as it was.
struct LogCase {
    const char* name;
    void (*plant)(const std::string& log, const std::string& victim);
    int code;
};
void PrintTo(const LogCase& c, std::ostream* os) { *os << c.name; }

class QuillmorLog : public Quillmor, public testing::WithParamInterface<LogCase> {};

constexpr uid_t kOtherUser = 65534;
const char kKept[] = "root's own data, or an earlier run's record\n";

TEST_P(QuillmorLog, NeverTouchesAFileThatIsNotItsOwn) {
    const LogCase& c = GetParam();
    const std::string log = work_ + "/run.log";
    const std::string victim = work_ + "/victim";
    std::ofstream(victim) << kKept;
    c.plant(log, victim);
    StartServer("");
    const Finished run = RunToEnd({"--yes", "--log", "run.log"});
    EXPECT_EQ(run.code, c.code) << run.err;
    const std::string& err = run.err;
    EXPECT_EQ(ReadFile(victim).rfind(kKept, 0), 0u) << ReadFile(victim);
    if (c.code == 0) {
        // Its own file: appended to, the earlier record kept.
        EXPECT_EQ(ReadFile(log).rfind(kKept, 0), 0u);
        EXPECT_NE(ReadFile(log).find("update: succeeded"), std::string::npos);
        return;
    }
    EXPECT_EQ(ReadFile(victim), kKept);
    EXPECT_NE(err.find("quillmor: the log run.log is not a plain file of yours"), std::string::npos) << err;
    EXPECT_TRUE(Transcript().empty()) << Transcript();
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuillmorLog,
    testing::Values(
        LogCase{"LinkToAnotherFile",
                [](const std::string& log, const std::string& victim) { ASSERT_EQ(::symlink(victim.c_str(), log.c_str()), 0); }, 2},
        LogCase{"LinkToNothingYet",
                [](const std::string& log, const std::string& victim) {
                    ASSERT_EQ(::symlink((victim + ".new").c_str(), log.c_str()), 0);
                },
                2},
        LogCase{"SecondNameOfAnotherFile",
                [](const std::string& log, const std::string& victim) { ASSERT_EQ(::link(victim.c_str(), log.c_str()), 0); }, 2},
        LogCase{"AnotherUsersFile",
                [](const std::string& log, const std::string&) {
                    std::ofstream(log) << kKept;
                    ASSERT_EQ(::chown(log.c_str(), kOtherUser, kOtherUser), 0);
                },
                2},
        LogCase{"Fifo", [](const std::string& log, const std::string&) { ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0); }, 2},
        LogCase{"Directory", [](const std::string& log, const std::string&) { ASSERT_EQ(::mkdir(log.c_str(), 0700), 0); }, 2},
        LogCase{"OwnEarlierRecord",
                [](const std::string& log, const std::string&) { std::ofstream(log) << kKept; }, 0}),
    [](const testing::TestParamInfo<LogCase>& info) { return std::string(info.param.name); });

// The folder of root's named objects made first by another user: the run says so,
// instead of blaming another updater, and touches no drive.
TEST_F(Quillmor, SquattedLockFolderIsNamedAndNothingIsDone) {
    if (::geteuid() != 0) GTEST_SKIP() << "making another user's folder needs root";
    StartServer("");
    const std::string shared = RunDir("shared");
    ASSERT_EQ(::mkdir(shared.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    const std::string squatted = shared + "/quillmor-0";
    ASSERT_EQ(::mkdir(squatted.c_str(), 0700), 0);
    ASSERT_EQ(::chown(squatted.c_str(), kOtherUser, kOtherUser), 0);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--check"}, std::vector<std::string>{"/au"}}) {
        RunOptions options{shared};
        options.args = args;
        const Child run = StartUpdater(options);
        EXPECT_EQ(Wait(run), args[0] == "/au" ? 1 : 6);
        const std::string err = ReadFile(run.errPath);
        EXPECT_NE(err.find("quillmor: the lock folder " + squatted + " is not yours alone"), std::string::npos) << err;
        EXPECT_EQ(err.find("another firmware updater is running"), std::string::npos) << err;
    }
    EXPECT_TRUE(Transcript().empty()) << Transcript();
}

TEST_F(Quillmor, OnATerminalTheUserPicksTheSecondDriveAndSeesOneBar) {
    StartServer("drive = D\ndrive = E\n");
    // Drive 2, yes to the warning, yes to the update.
    const auto [screen, code] = RunOnTerminal({}, "2\ny\ny\n");
    EXPECT_EQ(code, 0) << screen;
    EXPECT_NE(screen.find("1. /dev/sr1  TORVELL DVD-RW  WKZ4471  1.00  09/07/15"), std::string::npos) << screen;
    EXPECT_NE(screen.find("2. /dev/sr2  TORVELL DVD-RW  WKZ4471  1.00  09/07/15"), std::string::npos) << screen;
    EXPECT_NE(screen.find("Update the firmware of /dev/sr2 from 1.00 to 1.10? [y/N]"), std::string::npos) << screen;
    // Redrawn in place, in fewer than the terminal's 80 columns.
    EXPECT_NE(screen.find("\r[######################] block 60 of 60"), std::string::npos) << screen;
    EXPECT_NE(screen.find("/dev/sr2 now reports revision 1.10"), std::string::npos) << screen;
    EXPECT_EQ(CountLines(Transcript(), "E 3B05F0"), 60);
    EXPECT_EQ(CountLines(Transcript(), kWriteBlock), 0);
}

// The drive is judged, then the question stands for as long as the user takes:
// whatever took its place meanwhile is not written.
struct ChangeCase {
    const char* name;
    const char* becomes;  // the scenario the drive is reloaded with while the question stands
    const char* said;
};

class QuillmorDriveChanged : public Quillmor, public testing::WithParamInterface<ChangeCase> {};

TEST_P(QuillmorDriveChanged, WhileTheQuestionStoodIsNotWritten) {
    const ChangeCase& c = GetParam();
    StartServer("");
    std::string asked;
    const Child run = StartUntilAsked({}, &asked);
    ASSERT_NE(asked.find("[y/N]"), std::string::npos) << asked;
    std::ofstream(work_ + "/scenario", std::ios::trunc) << c.becomes;
    ASSERT_EQ(Control("reset"), "");
    const std::string screen = asked + ReadPty("y\n");
    EXPECT_EQ(Wait(run), 10) << screen;
    EXPECT_NE(screen.find(std::string("quillmor: the drive ") + kDevice + " changed after it was checked (" + c.said),
              std::string::npos)
        << screen;
    EXPECT_FALSE(ChangedTheDrive(Transcript())) << Transcript();
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuillmorDriveChanged,
    testing::Values(ChangeCase{"NewerRevision", "revision = 1.20\n",
                               "it was TORVELL DVD-RW  WKZ4471  1.00  09/07/15, it is now TORVELL DVD-RW  WKZ4471  1.20"},
                    ChangeCase{"AnotherModelSameSignature", "identification = \"TORVELL DVD-RW  WKZ4472 \"\n",
                               "it was TORVELL DVD-RW  WKZ4471  1.00  09/07/15, it is now TORVELL DVD-RW  WKZ4472  1.00  09/07/15)"},
                    ChangeCase{"IdentificationBlockOnly", "state = blank\n",
                               "its identification block is not the one checked"},
                    ChangeCase{"Gone", "fault = opcode=0x12 no-answer\n", "it does not answer now"}),
    [](const testing::TestParamInfo<ChangeCase>& info) { return std::string(info.param.name); });

TEST_F(Quillmor, AMissingImageIsToldBeforeTheWarningAndAnyCommand) {
    StartServer("");
    const auto [screen, code] = RunOnTerminal({"-i", "absent.img"}, "");
    EXPECT_EQ(code, 5) << screen;
    EXPECT_NE(screen.find("cannot open the image absent.img"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("[Notes]"), std::string::npos) << screen;
    EXPECT_TRUE(Transcript().empty()) << Transcript();
}

// The redrawn progress line never reaches the terminal's last column, whatever its
// width and language: a line that wrapped would be drawn again a row lower each time.
struct WidthCase {
    const char* name;
    unsigned short columns;
    const char* lang;
};

class QuillmorWidth : public Quillmor, public testing::WithParamInterface<WidthCase> {};

TEST_P(QuillmorWidth, ProgressNeverWraps) {
    const WidthCase& c = GetParam();
    StartServer("");
    const auto [screen, code] = RunOnTerminal({"-y", "--lang", c.lang}, "", c.columns);
    EXPECT_EQ(code, 0) << screen;
    // Each redraw starts with a carriage return and ends at the next one, or at the
    // line's end.
    int redraws = 0;
    for (size_t at = screen.find('\r'); at != std::string::npos; at = screen.find('\r', at + 1)) {
        const size_t end = screen.find_first_of("\r\n", at + 1);
        const std::string line = screen.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
        if (line.empty() || line[0] != '[') continue;
        ++redraws;
        EXPECT_LT(DisplayColumns(TrimmedRight(line)), c.columns) << line;
    }
    EXPECT_GE(redraws, 60) << screen;
}

INSTANTIATE_TEST_SUITE_P(Table, QuillmorWidth,
                         testing::Values(WidthCase{"English80", 80, "en"}, WidthCase{"English40", 40, "en"},
                                         WidthCase{"Japanese80", 80, "ja"}, WidthCase{"Japanese40", 40, "ja"}),
                         [](const testing::TestParamInfo<WidthCase>& info) { return std::string(info.param.name); });

TEST_F(Quillmor, OnATerminalTheUnattendedRunEndsWithItsOutcome) {
    StartServer("");
    const auto [screen, code] = RunOnTerminal({"/au"}, "");
    EXPECT_EQ(code, 0) << screen;
    EXPECT_NE(screen.find("quillmor /au: updated (exit code 0)."), std::string::npos) << screen;
}

TEST_F(Quillmor, OnATerminalTheDiscWarningWaitsForEnterAndNoMeansNothingWritten) {
    StartServer("disc = present\n");
    const auto [screen, code] = RunOnTerminal({"--lang", "ja"}, "y\n\nn\n");
    EXPECT_EQ(code, 7) << screen;
    EXPECT_NE(screen.find("Enter キーを押すと続行します。"), std::string::npos) << screen;
    EXPECT_NE(screen.find("[y/N] (はい=y)"), std::string::npos) << screen;
    EXPECT_FALSE(ChangedTheDrive(Transcript())) << Transcript();
}

}  // namespace
}  // namespace process_test
