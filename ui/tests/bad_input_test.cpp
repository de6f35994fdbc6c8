// Bad input for the unattended run (CAutoDlg, headless, virtual clock): malformed
// image files and a drive that misbehaves. For each: the messages the user is
// shown, the exit code, and from the drive's transcript that no firmware block
// (WRITE BUFFER to buffer F0h) was sent unless validation had passed.
#include "ui/auto_dialog.h"

#include "commands/commands.h"
#include "engine/image.h"
#include "engine/update.h"
#include "testing/dialog_fixture.h"
#include "transport/discovery.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kReadBuffer = 0x3C;
constexpr uint8_t kWriteBuffer = 0x3B;

// Another process that holds the file open with the lock that stands for Windows'
// share mode 0, until destroyed. `wait` false: it gives up at once when the lock is
// held already (Holding() then says false).
class OtherProcessHoldsOpen {
public:
    explicit OtherProcessHoldsOpen(const std::string& path, bool wait = true) {
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {  // only async-signal-safe calls from here
            close(ready[0]);
            close(release[1]);
            const int fd = open(path.c_str(), O_RDONLY);
            const char ok = (fd >= 0 && flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB) == 0) ? 1 : 0;
            if (write(ready[1], &ok, 1) != 1) _exit(1);
            char c;
            while (read(release[0], &c, 1) > 0) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        m_release = release[1];
        char ok = 0;
        m_holding = m_pid > 0 && read(ready[0], &ok, 1) == 1 && ok == 1;
        close(ready[0]);
    }
    ~OtherProcessHoldsOpen() {
        if (m_release >= 0) close(m_release);
        if (m_pid > 0) waitpid(m_pid, nullptr, 0);
    }
    bool Holding() const { return m_holding; }

private:
    pid_t m_pid = -1;
    int m_release = -1;
    bool m_holding = false;
};

// The fixture's drives, with a hook that runs on the calling (worker) thread right
// after the drive has answered a command (its number from 1, its CDB).
class HookedPort : public DevicePort {
public:
    explicit HookedPort(DevicePort& inner) : m_inner(inner) {}
    OsHandle Open(char letter) override { return m_inner.Open(letter); }
    void Close(OsHandle device) override { m_inner.Close(device); }
    bool PassThrough(OsHandle device, SptdBuffer* buffer) override {
        const bool answered = m_inner.PassThrough(device, buffer);
        ++m_commands;
        if (afterCommand) afterCommand(m_commands, buffer->sptd.Cdb);
        return answered;
    }
    std::function<void(int number, const uint8_t* cdb)> afterCommand;

private:
    DevicePort& m_inner;
    int m_commands = 0;
};

class BadInput : public DialogTest {
public:
    std::unique_ptr<CAutoDlg> dlg;
    std::unique_ptr<HookedPort> hooked;
    std::unique_ptr<OtherProcessHoldsOpen> holder;

    void SetUp() override {
        DialogTest::SetUp();
        hooked = std::make_unique<HookedPort>(devices);
        OsSetDevices(hooked.get());
    }
    void TearDown() override {
        dlg.reset();
        holder.reset();
        DialogTest::TearDown();  // restores the system's device service
    }

    int Run() {
        CWinApp app;
        dlg = std::make_unique<CAutoDlg>();
        app.m_pMainWnd = dlg.get();
        const int exitCode = app.Run();
        app.m_pMainWnd = nullptr;
        return exitCode;
    }

    void WriteBytes(const std::vector<uint8_t>& bytes) {
        std::FILE* f = std::fopen(ImagePath().c_str(), "wb");
        ASSERT_NE(f, nullptr);
        if (!bytes.empty()) {
            ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        }
        ASSERT_EQ(std::fclose(f), 0);
    }
    void WriteImageWith(void (*change)(SimImageOptions&)) {
        SimImageOptions options;
        change(options);
        WriteImage(options);
    }
    void HoldOpenInAnotherProcess() {
        holder = std::make_unique<OtherProcessHoldsOpen>(ImagePath());
        ASSERT_TRUE(holder->Holding());
    }
};

// Does the image on disk belong to the drive: the evidence validation goes by,
// taken from the file itself.
bool ImageMatchesDrive(const std::string& path, const SimDriveConfig& drive) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::vector<uint8_t> header(IMAGE_HEADER_END);
    const bool whole = std::fread(header.data(), 1, header.size(), f) == header.size();
    std::fclose(f);
    auto is = [&](uint32_t offset, const std::string& text) {
        return std::memcmp(header.data() + offset, text.data(), text.size()) == 0;
    };
    return whole && is(IMAGE_SIGNATURE1_OFFSET, drive.signature.substr(0, 8)) &&
           is(IMAGE_SIGNATURE2_OFFSET, drive.signature.substr(8, 8)) && is(IMAGE_DATE_OFFSET, IMAGE_BUILD_DATE) &&
           is(IMAGE_ID_OFFSET, DRIVE_ID_TEXT);
}

struct Case {
    const char* name;
    const char* scenario;         // drive D
    void (*arrange)(BadInput&);   // the image (written valid before this runs) and the like
    std::vector<int> shown;       // string ids of the message boxes, in order
    int blocksReceived;           // firmware blocks that reached the drive (accepted or not)
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

void ValidImage(BadInput&) {}

const Case kCases[] = {
    // --- The image file ---
    {"EmptyFile", "", [](BadInput& t) { t.WriteBytes({}); }, {IDS_IMAGE_NOT_FOUND}, 0},
    {"OneHundredBytes", "", [](BadInput& t) { t.WriteBytes(std::vector<uint8_t>(100, 'A')); },
     {IDS_IMAGE_NOT_FOUND}, 0},
    {"HeaderOneByteShort", "",
     [](BadInput& t) { t.WriteImageWith([](SimImageOptions& o) { o.length = IMAGE_HEADER_END - 1; }); },
     {IDS_IMAGE_NOT_FOUND}, 0},
    {"WholeHeaderButOneByteShortOfTheTransfer", "",
     [](BadInput& t) { t.WriteImageWith([](SimImageOptions& o) { o.length = IMAGE_TRANSFER_SIZE - 1; }); },
     {IDS_INCOMPATIBLE_IMAGE, IDS_UPDATE_FAILED}, 0},
    {"NulInsideTheIdentification", "",
     [](BadInput& t) {
         t.WriteImageWith([](SimImageOptions& o) { o.identification = std::string("TORVELL\0DVD-RW  WKZ4471 ", 24); });
     },
     {IDS_INCOMPATIBLE_IMAGE, IDS_UPDATE_FAILED}, 0},
    {"SignatureOfNuls", "",
     [](BadInput& t) { t.WriteImageWith([](SimImageOptions& o) { o.signature = std::string(16, '\0'); }); },
     {IDS_INCOMPATIBLE_IMAGE, IDS_UPDATE_FAILED}, 0},
    {"VersionOfNuls", "",  // reads as version 0: never newer than the drive's
     [](BadInput& t) { t.WriteImageWith([](SimImageOptions& o) { o.version = std::string(4, '\0'); }); },
     {IDS_UPDATE_NOT_NEEDED}, 0},
    {"WrongIdentification", "",
     [](BadInput& t) {
         t.WriteImageWith([](SimImageOptions& o) { o.identification = "TORVELL DVD-RW  WKZ4470 "; });
     },
     {IDS_INCOMPATIBLE_IMAGE, IDS_UPDATE_FAILED}, 0},
    {"WrongSignature", "",
     [](BadInput& t) { t.WriteImageWith([](SimImageOptions& o) { o.signature = "0082VARNDT  5519"; }); },
     {IDS_INCOMPATIBLE_IMAGE, IDS_UPDATE_FAILED}, 0},
    {"WrongDate", "",
     [](BadInput& t) { t.WriteImageWith([](SimImageOptions& o) { o.buildDate = "09/08/20"; }); },
     {IDS_INCOMPATIBLE_IMAGE, IDS_UPDATE_FAILED}, 0},
    {"DirectoryInItsPlace", "",
     [](BadInput& t) {
         std::remove(t.ImagePath().c_str());
         ASSERT_EQ(mkdir(t.ImagePath().c_str(), 0755), 0);
     },
     {IDS_IMAGE_NOT_FOUND}, 0},
    // A FIFO has no data until someone writes to it: opening it must not wait for
    // a writer. (Permission bits would not do here: the tests may run as root.)
    {"UnreadableFifo", "",
     [](BadInput& t) {
         std::remove(t.ImagePath().c_str());
         ASSERT_EQ(mkfifo(t.ImagePath().c_str(), 0600), 0);
     },
     {IDS_IMAGE_NOT_FOUND}, 0},
    {"HeldOpenByAnotherProcess", "", [](BadInput& t) { t.HoldOpenInAnotherProcess(); }, {IDS_IMAGE_NOT_FOUND}, 0},

    // --- The drive ---
    // Every identification block read comes back cut to 20 bytes: the signature is
    // never seen whole, so the drive is never found.
    {"ShortIdBlock", "fault = opcode=0x3C buffer=0xF1 short=20\n", ValidImage, {IDS_NO_TARGET}, 0},
    // Only validation's read is short (discovery's two, then validation's): a block
    // without its state byte is a failed read, whatever earlier commands left in
    // the buffer where its signature's tail would be.
    {"ShortIdBlockAtValidation", "fault = opcode=0x3C buffer=0xF1 nth=4 short=24\n", ValidImage,
     {IDS_COMMAND_ERROR, IDS_UPDATE_FAILED}, 0},
    // The INQUIRY of the version check ends before the revision: with nothing to
    // compare, the drive is not flashed.
    {"ShortInquiry", "fault = opcode=0x12 nth=3 short=32\n", ValidImage, {}, 0},
    // ... or inside it: "1." would read as older than the image's 1.10, and the
    // drive at 1.20 would be flashed back.
    {"InquiryCutInsideTheRevision", "revision = 1.20\nfault = opcode=0x12 nth=3 short=34\n", ValidImage, {}, 0},
    // A standard 36-byte reply has no date: equal revisions cannot be told apart.
    {"InquiryWithoutDateAndEqualRevisions", "revision = 1.10\nfault = opcode=0x12 nth=3 short=36\n", ValidImage,
     {}, 0},
    // The state read before the download ends before the state byte: the byte
    // that validation's read left there is not the drive's answer.
    {"ShortStateReadBeforeTheDownload", "fault = opcode=0x3C buffer=0xF1 nth=8 short=32\n", ValidImage,
     {IDS_UPDATE_FAILED}, 0},
    // Data-out commands the drive took only in part.
    {"BlockTakenInPart", "fault = opcode=0x3B buffer=0xF0 offset=0x50000 short=0x4000\n", ValidImage,
     {IDS_COMMAND_ERROR, IDS_UPDATE_FAILED}, 11},
    {"FinalSwitchTakenInPart", "fault = opcode=0x3B buffer=0xFF nth=70 short=16\n", ValidImage,
     {IDS_COMMAND_ERROR, IDS_UPDATE_FAILED}, 60},
    {"GarbageSenseOnTheEject", "fault = opcode=0x1B sense=FF/FF/FF\n", ValidImage, {IDS_UPDATE_FAILED}, 0},
    {"GarbageSenseOnABlock", "fault = opcode=0x3B buffer=0xF0 offset=0x50000 sense=7F/C3/A5\n", ValidImage,
     {IDS_COMMAND_ERROR, IDS_UPDATE_FAILED}, 11},
    {"IdBlockReadNeverCompletes", "fault = opcode=0x3C buffer=0xF1 no-answer\n", ValidImage, {IDS_NO_TARGET}, 0},
    {"BlockNeverCompletes", "fault = opcode=0x3B buffer=0xF0 offset=0x80000 no-answer\n", ValidImage,
     {IDS_COMMAND_ERROR, IDS_UPDATE_FAILED}, 17},
    {"DriveVanishesMidDownload", "fault = opcode=0x3B buffer=0xF0 offset=0x100000 vanish\n", ValidImage,
     {IDS_COMMAND_ERROR, IDS_UPDATE_FAILED}, 33},
};

class BadInputRun : public BadInput, public ::testing::WithParamInterface<Case> {};

TEST_P(BadInputRun, TellsTheUserEndsWith1AndSendsNoBlockUnlessValidated) {
    const Case& c = GetParam();
    AddDrives(c.scenario);
    WriteImage();
    c.arrange(*this);
    if (HasFatalFailure()) return;

    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(boxes.ShownIds(), c.shown);
    for (const auto& box : boxes.Shown()) {
        EXPECT_EQ(box.caption, Text(IDS_CAPTION));
        if (box.stringId == IDS_FILE_OPEN_ERROR) {
            EXPECT_EQ(box.text, Text(IDS_FILE_OPEN_ERROR) + IMAGE_FILE_NAME);  // the path the update was given
        } else if (box.stringId != IDS_COMMAND_ERROR) {
            EXPECT_EQ(box.text, Text(static_cast<unsigned>(box.stringId)));
        }
    }

    // From the transcript: firmware blocks only after validation's identification
    // block read was answered, and only for an image that belongs to the drive.
    const std::vector<SimCommandRecord> transcript = Drive().Transcript();
    int blocks = 0;
    bool validationRead = false;  // an identification block read after the INQUIRY
    bool inquirySeen = false;
    for (const SimCommandRecord& r : transcript) {
        if (r.Opcode() == kInquiry && r.cdb[4] == INQUIRY_LENGTH) inquirySeen = true;
        if (inquirySeen && r.Opcode() == kReadBuffer && r.cdb[2] == BUFFER_ID_BLOCK &&
            r.status == SIM_STATUS_GOOD && r.transferred == DRIVE_ID_BLOCK_LENGTH)
            validationRead = true;
        if (r.Opcode() == kWriteBuffer && r.cdb[2] == BUFFER_FIRMWARE) {
            ++blocks;
            EXPECT_TRUE(validationRead) << "block before validation read the identification block";
        }
    }
    EXPECT_EQ(blocks, c.blocksReceived);
    if (blocks > 0) {
        EXPECT_TRUE(ImageMatchesDrive(ImagePath(), Drive().Config())) << "blocks of an image not for this drive";
    }
    EXPECT_EQ(Drive().ImagesApplied(), 0);
    EXPECT_EQ(Drive().Revision(), Drive().Config().revision);
}

INSTANTIATE_TEST_SUITE_P(Table, BadInputRun, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace

// The image file changed while the run goes on: replaced (another file renamed over
// it), written over in place, deleted, or opened by another program, after the
// version check, during the eject, or between two blocks. The run sends only the
// bytes that were validated, which are those of the file the version check judged:
// a change the held file shows stops it with IDS_INCOMPATIBLE_IMAGE before any
// block, or before the final switch; a file that took its place is never read.
namespace {

enum class Change { Replace, WriteOver, Delete, OpenElsewhere };
enum class Phase { AfterTheVersionCheck, DuringTheEject, BetweenBlocks };

struct ChangeCase {
    const char* name;
    Change change;
    Phase phase;
    int exitCode;
    std::vector<int> shown;
    int blocksReceived;
};
void PrintTo(const ChangeCase& c, std::ostream* os) { *os << c.name; }

bool IsPhase(Phase phase, int number, const uint8_t* cdb) {
    switch (phase) {
    // Discovery's two probes and the version check's INQUIRY, then validation's
    // block read: the file is opened right after it.
    case Phase::AfterTheVersionCheck: return number == 4;
    case Phase::DuringTheEject: return cdb[0] == 0x1B;
    case Phase::BetweenBlocks: return cdb[0] == kWriteBuffer && cdb[2] == BUFFER_FIRMWARE && cdb[3] == 0x10;
    }
    return false;
}

const ChangeCase kChanges[] = {
    {"ReplacedAfterTheVersionCheck", Change::Replace, Phase::AfterTheVersionCheck, 1,
     {IDS_INCOMPATIBLE_IMAGE, IDS_UPDATE_FAILED}, 0},
    {"WrittenOverAfterTheVersionCheck", Change::WriteOver, Phase::AfterTheVersionCheck, 1,
     {IDS_INCOMPATIBLE_IMAGE, IDS_UPDATE_FAILED}, 0},
    {"DeletedAfterTheVersionCheck", Change::Delete, Phase::AfterTheVersionCheck, 1, {IDS_UPDATE_FAILED}, 0},
    {"ReplacedDuringTheEject", Change::Replace, Phase::DuringTheEject, 0, {}, 60},
    // Written over after validation: the update sends what it validated, from its
    // own copy, which no writer reaches.
    {"WrittenOverDuringTheEject", Change::WriteOver, Phase::DuringTheEject, 0, {}, 60},
    {"DeletedDuringTheEject", Change::Delete, Phase::DuringTheEject, 0, {}, 60},
    {"OpenedElsewhereDuringTheEject", Change::OpenElsewhere, Phase::DuringTheEject, 0, {}, 60},
    {"ReplacedBetweenBlocks", Change::Replace, Phase::BetweenBlocks, 0, {}, 60},
    {"WrittenOverBetweenBlocks", Change::WriteOver, Phase::BetweenBlocks, 0, {}, 60},
    {"DeletedBetweenBlocks", Change::Delete, Phase::BetweenBlocks, 0, {}, 60},
};

class ImageChanged : public BadInput, public ::testing::WithParamInterface<ChangeCase> {
public:
    // An image that would pass validation on its own: an older version, another body.
    static std::vector<uint8_t> OtherImage() {
        SimImageOptions options;
        options.version = "0.90";
        options.seed = 7;
        return SimMakeImage(options);
    }

    void ChangeTheFile(Change change) {
        const std::string path = ImagePath();
        const std::vector<uint8_t> other = OtherImage();
        switch (change) {
        case Change::Replace: {
            const std::string temp = path + ".new";
            std::FILE* f = std::fopen(temp.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            ASSERT_EQ(std::fwrite(other.data(), 1, other.size(), f), other.size());
            ASSERT_EQ(std::fclose(f), 0);
            ASSERT_EQ(std::rename(temp.c_str(), path.c_str()), 0);
            break;
        }
        case Change::WriteOver: {
            // Same file, same length: no lock is asked for, as by any other writer.
            const int fd = ::open(path.c_str(), O_WRONLY);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::pwrite(fd, other.data(), other.size(), 0), static_cast<ssize_t>(other.size()));
            ASSERT_EQ(::close(fd), 0);
            break;
        }
        case Change::Delete:
            ASSERT_EQ(std::remove(path.c_str()), 0);
            break;
        case Change::OpenElsewhere:
            // The update holds its sealed copy, not the file: another opener gets
            // the file, and what it may do with it changes nothing that is sent.
            holder = std::make_unique<OtherProcessHoldsOpen>(path, false);
            EXPECT_TRUE(holder->Holding());
            break;
        }
    }
};

TEST_P(ImageChanged, SendsOnlyTheBytesValidated) {
    const ChangeCase& c = GetParam();
    AddDrives("");
    WriteImage();
    uint64_t validated = 0;
    ASSERT_TRUE(SimDigestFile(ImagePath(), &validated));
    bool changed = false;
    hooked->afterCommand = [&](int number, const uint8_t* cdb) {
        if (changed || !IsPhase(c.phase, number, cdb)) return;
        changed = true;
        ChangeTheFile(c.change);
    };

    EXPECT_EQ(Run(), c.exitCode);
    EXPECT_TRUE(changed);
    EXPECT_EQ(boxes.ShownIds(), c.shown);
    EXPECT_EQ(CountCommands(Drive(), kWriteBuffer, BUFFER_FIRMWARE), c.blocksReceived);
    if (c.exitCode == 0) {
        EXPECT_EQ(Drive().ImagesApplied(), 1);
        EXPECT_EQ(Drive().ImageDigest(), validated);
        EXPECT_EQ(Drive().Revision(), "1.10");
    } else {
        EXPECT_EQ(Drive().ImagesApplied(), 0);
        EXPECT_EQ(Drive().Revision(), "1.00");
        // The last mode switch never went out.
        const std::vector<SimCommandRecord> t = Drive().Transcript();
        ASSERT_FALSE(t.empty());
        EXPECT_FALSE(t.back().Opcode() == kWriteBuffer && t.back().cdb[2] == BUFFER_MODE_SWITCH);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ImageChanged, ::testing::ValuesIn(kChanges),
                         [](const ::testing::TestParamInfo<ChangeCase>& info) { return std::string(info.param.name); });

}  // namespace
