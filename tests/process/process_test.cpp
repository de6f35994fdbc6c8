// The native quillmor as a whole process, run unattended against the emulated
// drive: two runs on one drive, signals during the download, a reader of standard
// error that has gone, closed standard descriptors, the image written over during
// the update, sleep and shutdown held off through logind.
#include "tests/process/quillmor_fixture.h"

namespace process_test {
namespace {

// --- Two runs, one drive -------------------------------------------------------------

TEST_F(Quillmor, SecondRunIsRefusedWhileTheFirstWritesAndTouchesNothing) {
    // The last block waits a little, so that the first run is surely mid-download
    // when it is stopped.
    StartServer("fault = opcode=0x3B buffer=0xF0 offset=0x1D8000 delay=300\n");
    const Child first = StartUpdater({RunDir("first")});
    ASSERT_TRUE(WaitForBlocks(1));
    ASSERT_EQ(::kill(first.pid, SIGSTOP), 0);  // holds the drive, frozen mid-download
    int status = 0;
    ASSERT_EQ(::waitpid(first.pid, &status, WUNTRACED), first.pid);
    ASSERT_TRUE(WIFSTOPPED(status));

    // Another runtime directory: the updater mutex does not stop this one.
    RunOptions other{RunDir("second")};
    other.listCommands = true;
    const Child second = StartUpdater(other);
    EXPECT_EQ(Wait(second), 1);
    const std::string err = ReadFile(second.errPath);
    EXPECT_NE(err.find(std::string("the drive ") + kDevice + " " + kInUse), std::string::npos) << err;
    // Its discovery claims the drive first and so never probes it: between the
    // first run's blocks the drive sees nothing of the second.
    EXPECT_TRUE(OpcodesSent(err).empty()) << err;
    const std::string seen = Transcript();
    const size_t firstBlock = seen.find(kWriteBlock);
    ASSERT_NE(firstBlock, std::string::npos);
    EXPECT_EQ(CountLines(seen.substr(firstBlock), "D "), CountLines(seen.substr(firstBlock), kWriteBlock)) << seen;

    ASSERT_EQ(::kill(first.pid, SIGCONT), 0);
    EXPECT_EQ(Wait(first), 0) << ReadFile(first.errPath);
    EXPECT_EQ(CountLines(Transcript(), kWriteBlock), 60);
    EXPECT_EQ(Digest(), imageDigest_ + "\n");
    EXPECT_TRUE(Applied());
}

TEST_F(Quillmor, DriveOfARunThatWasKilledCanBeUpdatedByTheNext) {
    StartServer("fault = opcode=0x3B buffer=0xF0 offset=0x1D8000 delay=300\n");
    const Child first = StartUpdater({RunDir("first")});
    ASSERT_TRUE(WaitForBlocks(1));
    ASSERT_EQ(::kill(first.pid, SIGKILL), 0);
    EXPECT_EQ(Wait(first), 128 + SIGKILL);
    ASSERT_FALSE(Applied());

    // Its claim on the drive went with it; its updater mutex too, so the same
    // runtime directory serves.
    const Child second = StartUpdater({RunDir("first")});
    EXPECT_EQ(Wait(second), 0) << ReadFile(second.errPath);
    EXPECT_EQ(Digest(), imageDigest_ + "\n");
    EXPECT_TRUE(Applied());
}

// --- Signals and standard descriptors ---------------------------------------------

struct SignalCase {
    const char* name;
    std::vector<int> signals;  // sent once the download has begun
    std::vector<int> stops;    // the stops seen after it, each continued
    int end;                   // exit code, or 128 + the signal that ended the run
};
void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.name; }

class QuillmorSignals : public Quillmor, public testing::WithParamInterface<SignalCase> {};

TEST_P(QuillmorSignals, WaitUntilTheDriveIsOutOfDownloadMode) {
    const SignalCase& c = GetParam();
    StartServer("fault = opcode=0x3B buffer=0xF0 offset=0x1D8000 delay=300\n");
    const Child run = StartUpdater({RunDir("run")});
    ASSERT_TRUE(WaitForBlocks(1));
    for (int s : c.signals) ASSERT_EQ(::kill(run.pid, s), 0);

    int status = 0;
    for (int stop : c.stops) {
        ASSERT_EQ(::waitpid(run.pid, &status, WUNTRACED), run.pid);
        ASSERT_TRUE(WIFSTOPPED(status)) << status;
        EXPECT_EQ(WSTOPSIG(status), stop);
        EXPECT_TRUE(Applied()) << "stopped in the middle of the download";
        ::kill(run.pid, SIGCONT);
    }
    EXPECT_EQ(Wait(run), c.end) << ReadFile(run.errPath);
    // Whatever the signal did, it did once the drive had its new firmware.
    EXPECT_EQ(CountLines(Transcript(), kWriteBlock), 60);
    EXPECT_EQ(Digest(), imageDigest_ + "\n");
    EXPECT_TRUE(Applied());
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuillmorSignals,
    testing::Values(SignalCase{"UserAndAlarmEndItAfterwards", {SIGUSR1, SIGALRM}, {}, 128 + SIGUSR1},
                    SignalCase{"StopsFromTheTerminalComeAfterwards", {SIGTSTP, SIGTTIN, SIGTTOU},
                               {SIGTSTP, SIGTTIN, SIGTTOU}, 0},
                    // Held like any other, with a note at once; the lowest number ends it.
                    SignalCase{"InterruptAndTerminateEndItAfterwards", {SIGINT, SIGTERM}, {}, 128 + SIGINT}),
    [](const testing::TestParamInfo<SignalCase>& info) { return std::string(info.param.name); });

// A signal held back during the blocks waits until the run has told the outcome
// on the terminal and in the log; then it ends the run.
struct OutcomeCase {
    const char* name;
    std::vector<int> signals;  // sent once the download has begun
    int end;                   // 128 + the signal that ends the run
    bool noted;                // the run says at once that it cannot be interrupted
};
void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.name; }

class QuillmorOutcome : public Quillmor, public testing::WithParamInterface<OutcomeCase> {};

TEST_P(QuillmorOutcome, IsToldAndLoggedBeforeAHeldSignalEndsTheRun) {
    const OutcomeCase& c = GetParam();
    StartServer("fault = opcode=0x3B buffer=0xF0 offset=0x1D8000 delay=300\n");
    RunOptions options{RunDir("run")};
    options.args = {"--yes", "--log", "run.log"};
    const Child run = StartUpdater(options);
    ASSERT_TRUE(WaitForBlocks(1));
    for (int s : c.signals) ASSERT_EQ(::kill(run.pid, s), 0);
    EXPECT_EQ(Wait(run), c.end);
    const std::string err = ReadFile(run.errPath);
    for (const char* text : {"now reports revision 1.10", "Restart the computer before you use the drive."})
        EXPECT_NE(err.find(text), std::string::npos) << text << "\n" << err;
    EXPECT_EQ(err.find("the update cannot be interrupted") != std::string::npos, c.noted) << err;
    EXPECT_NE(ReadFile(work_ + "/run.log").find("update: succeeded"), std::string::npos) << ReadFile(work_ + "/run.log");
    EXPECT_EQ(Digest(), imageDigest_ + "\n");
    EXPECT_TRUE(Applied());
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuillmorOutcome,
    testing::Values(OutcomeCase{"UserAndAlarm", {SIGUSR1, SIGALRM}, 128 + SIGUSR1, false},
                    OutcomeCase{"InterruptAndTerminate", {SIGINT, SIGTERM}, 128 + SIGINT, true}),
    [](const testing::TestParamInfo<OutcomeCase>& info) { return std::string(info.param.name); });

TEST_F(Quillmor, StandardErrorWhoseReaderHasGoneIsNoEnd) {
    StartServer("");
    int gone[2];
    ASSERT_EQ(::pipe(gone), 0);
    ::close(gone[0]);
    const Child run = StartUpdater({RunDir("run"), false, gone[1]});
    ::close(gone[1]);
    EXPECT_EQ(Wait(run), 0);
    EXPECT_EQ(Digest(), imageDigest_ + "\n");
}

TEST_F(Quillmor, ClosedStandardDescriptorsNeverBecomeTheDrive) {
    StartServer("fault = opcode=0x3B buffer=0xF0 offset=0x1D8000 delay=300\n");
    const Child run = StartUpdater({RunDir("run"), true});
    ASSERT_TRUE(WaitForBlocks(1));
    ASSERT_EQ(::kill(run.pid, SIGSTOP), 0);
    // The drive is open now; the progress text goes to descriptor 2.
    for (int fd = 0; fd <= 2; ++fd) {
        char target[256] = {};
        const std::string link = "/proc/" + std::to_string(run.pid) + "/fd/" + std::to_string(fd);
        ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0) << link;
        EXPECT_STREQ(target, "/dev/null") << link;
    }
    ASSERT_EQ(::kill(run.pid, SIGCONT), 0);
    EXPECT_EQ(Wait(run), 0);
    EXPECT_EQ(Digest(), imageDigest_ + "\n");
}

// --- The image written over during the update ---------------------------------------

// Written over in place once the blocks have begun: a twin that keeps the image's
// digest, or bytes of no design. The drive gets exactly the image validated.
struct WriteOverCase {
    const char* name;
    bool twin;
};
void PrintTo(const WriteOverCase& c, std::ostream* os) { *os << c.name; }

class QuillmorImageWrittenOver : public Quillmor, public testing::WithParamInterface<WriteOverCase> {};

TEST_P(QuillmorImageWrittenOver, DriveGetsExactlyTheValidatedImage) {
    const WriteOverCase& c = GetParam();
    const std::string path = work_ + "/" + SIM_IMAGE_FILE_NAME;
    std::vector<uint8_t> changed = ReadTransfer(path);
    ASSERT_FALSE(changed.empty());
    uint32_t at = 0x140100, length = 2 * IMAGE_DIGEST_GROUP;
    if (c.twin) {
        const ImageDigest digest = DigestOfTransfer(changed);
        MakeDigestTwin(changed, at);
        ASSERT_EQ(DigestOfTransfer(changed), digest) << "not a twin";
    } else {
        at = 0;
        length = IMAGE_TRANSFER_SIZE;
        std::srand(11);
        for (uint8_t& b : changed) b = static_cast<uint8_t>(std::rand());
    }
    StartServer("fault = opcode=0x3B buffer=0xF0 offset=0x8000 delay=300\n");
    RunOptions options{RunDir("run")};
    options.args = {"--yes"};
    const Child run = StartUpdater(options);
    ASSERT_TRUE(WaitForBlocks(1));
    ASSERT_TRUE(WriteInPlace(path, changed, at, length));
    EXPECT_EQ(Wait(run), 0) << ReadFile(run.errPath);
    EXPECT_EQ(CountLines(Transcript(), kWriteBlock), 60);
    EXPECT_EQ(Digest(), imageDigest_ + "\n");
    EXPECT_TRUE(Applied());
}

INSTANTIATE_TEST_SUITE_P(Table, QuillmorImageWrittenOver,
                         testing::Values(WriteOverCase{"Twin", true}, WriteOverCase{"RandomBytes", false}),
                         [](const testing::TestParamInfo<WriteOverCase>& info) { return std::string(info.param.name); });

// --- Sleep and shutdown ------------------------------------------------------------

const char kNotHeldOff[] = "quillmor: warning: sleep and shutdown are not held off during the update (";

TEST_F(Quillmor, HoldsOffSleepAndShutdownWhileItWritesTheDrive) {
    MockLogind logind;
    if (!logind.Start()) return;
    StartServer("fault = opcode=0x3B buffer=0xF0 offset=0x1D8000 delay=300\n");
    RunOptions options{RunDir("run")};
    options.systemBus = logind.Address();
    const Child run = StartUpdater(options);
    ASSERT_TRUE(WaitForBlocks(1));
    ASSERT_EQ(::kill(run.pid, SIGSTOP), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(run.pid, &status, WUNTRACED), run.pid);
    ASSERT_TRUE(WIFSTOPPED(status));

    std::vector<MockInhibitor> held;
    ASSERT_TRUE(logind.Inhibitors(&held));
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].what, "sleep:shutdown:idle");
    EXPECT_EQ(held[0].who, "quillmor");
    EXPECT_EQ(held[0].mode, "block");
    EXPECT_EQ(held[0].why, "Writing the DVD-RW drive's firmware: cut off, the drive may not start again");

    ASSERT_EQ(::kill(run.pid, SIGCONT), 0);
    EXPECT_EQ(Wait(run), 0);
    EXPECT_EQ(ReadFile(run.errPath).find(kNotHeldOff), std::string::npos) << ReadFile(run.errPath);
    EXPECT_EQ(Digest(), imageDigest_ + "\n");
}

struct NoLogindCase {
    const char* name;
    bool bus;            // a system bus runs, with nobody on it as logind
    const char* reason;  // in the warning's parentheses
};
void PrintTo(const NoLogindCase& c, std::ostream* os) { *os << c.name; }

class QuillmorWithoutLogind : public Quillmor, public testing::WithParamInterface<NoLogindCase> {};

TEST_P(QuillmorWithoutLogind, WarnsOnceAndUpdates) {
    const NoLogindCase& c = GetParam();
    MockLogind bus;
    RunOptions options{RunDir("run")};
    if (c.bus) {
        if (!bus.Start(false)) return;
        options.systemBus = bus.Address();
    }
    StartServer("");
    const Child run = StartUpdater(options);
    EXPECT_EQ(Wait(run), 0);
    const std::string err = ReadFile(run.errPath);
    EXPECT_EQ(CountLines(err, kNotHeldOff), 1) << err;
    EXPECT_NE(err.find(std::string(kNotHeldOff) + c.reason), std::string::npos) << err;
    EXPECT_EQ(Digest(), imageDigest_ + "\n");
    EXPECT_TRUE(Applied());
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuillmorWithoutLogind,
    testing::Values(NoLogindCase{"NoSystemBus", false, "no system bus: "},
                    NoLogindCase{"NobodyOnTheBus", true, "no systemd-logind on the system bus)"}),
    [](const testing::TestParamInfo<NoLogindCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace process_test
