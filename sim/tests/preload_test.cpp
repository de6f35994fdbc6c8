// The preload library's kept connections to the drive server: every command
// gets its own answer whichever thread or process sends it, a command that
// timed out leaves no late answer behind for the next one, and a server that
// was restarted still answers. Raw SG_IO on the two device files of
// preload_test.sh, which starts the server and this program with the library;
// skipped when started without them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr unsigned char kTimedOut = 0x03;  // host status DID_TIME_OUT

struct Answer {
    bool ioctlOk = false;
    unsigned status = 0xFF, host = 0xFF;
    std::string revision;  // INQUIRY bytes 32..35
};

Answer Send(int fd, const unsigned char* cdb, unsigned char cdbLen, bool dataIn, unsigned timeoutMs) {
    unsigned char data[96] = {};
    unsigned char sense[32] = {};
    sg_io_hdr_t h{};
    h.interface_id = 'S';
    h.cmdp = const_cast<unsigned char*>(cdb);
    h.cmd_len = cdbLen;
    h.dxfer_direction = dataIn ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
    h.dxferp = dataIn ? data : nullptr;
    h.dxfer_len = dataIn ? sizeof data : 0;
    h.sbp = sense;
    h.mx_sb_len = sizeof sense;
    h.timeout = timeoutMs;
    Answer a;
    a.ioctlOk = ioctl(fd, SG_IO, &h) == 0;
    a.status = h.status;
    a.host = h.host_status;
    if (dataIn && h.dxfer_len - unsigned(h.resid) >= 36) a.revision.assign(reinterpret_cast<char*>(data) + 32, 4);
    return a;
}

Answer Inquiry(int fd) {
    const unsigned char cdb[6] = {0x12, 0, 0, 0, 96, 0};
    return Send(fd, cdb, 6, true, 10000);
}

class PreloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* d = std::getenv("QM_TEST_DEVICE_D");
        const char* e = std::getenv("QM_TEST_DEVICE_E");
        if (!d || !e || !std::getenv("LD_PRELOAD")) GTEST_SKIP() << "run through preload_test.sh";
        m_d = ::open(d, O_RDWR | O_NONBLOCK);
        m_e = ::open(e, O_RDWR | O_NONBLOCK);
        ASSERT_GE(m_d, 0);
        ASSERT_GE(m_e, 0);
    }
    void TearDown() override {
        if (m_d >= 0) ::close(m_d);
        if (m_e >= 0) ::close(m_e);
    }
    // D is at revision 1.00, E at 1.10 (preload_test.sh's scenario).
    int Mismatches(int rounds) {
        int wrong = 0;
        for (int i = 0; i < rounds; ++i) {
            const bool useE = (i % 2) != 0;
            const Answer a = Inquiry(useE ? m_e : m_d);
            if (!a.ioctlOk || a.status != 0 || a.host != 0 || a.revision != (useE ? "1.10" : "1.00")) ++wrong;
        }
        return wrong;
    }
    int m_d = -1, m_e = -1;
};

TEST_F(PreloadTest, EveryThreadGetsItsOwnAnswers) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back([&] { wrong += Mismatches(200); });
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(PreloadTest, AForkedChildAndItsParentGetTheirOwnAnswers) {
    ASSERT_EQ(Mismatches(2), 0);  // the parent has kept connections before the fork
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(Mismatches(200) == 0 ? 0 : 1);
    EXPECT_EQ(Mismatches(200), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child got answers not its own";
}

// E holds every TEST UNIT READY for a second; asked to wait 1 ms, the caller
// gives up, and that answer must not arrive as the next command's.
TEST_F(PreloadTest, ACommandThatTimedOutLeavesNoLateAnswer) {
    const unsigned char tur[6] = {};
    const Answer late = Send(m_e, tur, 6, false, 1);
    EXPECT_TRUE(late.ioctlOk);
    EXPECT_EQ(late.host, kTimedOut);
    const Answer next = Inquiry(m_e);
    EXPECT_EQ(next.host, 0u);
    EXPECT_EQ(next.revision, "1.10");
}

TEST_F(PreloadTest, AServerStartedAgainStillAnswers) {
    ASSERT_EQ(Mismatches(2), 0);  // connections kept to the first server
    const char* restart = std::getenv("QM_TEST_RESTART_SERVER");
    ASSERT_NE(restart, nullptr);
    ASSERT_EQ(std::system(restart), 0);
    EXPECT_EQ(Mismatches(4), 0);
}

}  // namespace
