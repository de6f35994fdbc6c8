#include "engine/restart.h"

#include "engine/messages.h"
#include "os/session.h"
#include "testing/recording_host.h"
#include "transport/transport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Records the order of the session calls, and the boxes shown before each.
class RecordingSession : public SessionPort {
public:
    explicit RecordingSession(RecordingHost& host) : m_host(host) {}
    bool GetScreenSaverActive(int* active) override {
        *active = 0;
        return true;
    }
    void SetScreenSaverActive(bool) override {}
    void EnableShutdownPrivilege() override { Record("privilege"); }
    void ForceRestart() override { Record("restart"); }

    std::vector<std::string> calls;

private:
    void Record(const char* what) {
        calls.push_back(std::to_string(m_host.Boxes().size()) + " boxes, " + what);
    }
    RecordingHost& m_host;
};

class Restart : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("LC_ALL", "C", 1);
        OsSetSession(&m_session);
    }
    void TearDown() override {
        OsSetSession(nullptr);
        g_transport = 0;
    }
    RecordingHost m_host;
    RecordingSession m_session{m_host};
};

TEST_F(Restart, AspiRestartsAtOnceWithoutNotice) {
    g_transport = TRANSPORT_ASPI;
    RestartWindows(m_host);
    EXPECT_EQ(m_session.calls, (std::vector<std::string>{"0 boxes, restart"}));
}

TEST_F(Restart, OtherTransportsConfirmThenTakeThePrivilege) {
    for (int transport : {TRANSPORT_SPTI, 0}) {
        RecordingHost host;
        RecordingSession session(host);
        OsSetSession(&session);
        g_transport = transport;
        RestartWindows(host);
        ASSERT_EQ(host.Boxes().size(), 1u);
        EXPECT_EQ(host.Boxes()[0].text, "Firmware update completes.\r\nrestart PC.");
        EXPECT_EQ(host.Boxes()[0].caption, "firmware updater");
        EXPECT_EQ(host.Boxes()[0].style, 0x1040u);
        EXPECT_EQ(session.calls, (std::vector<std::string>{"1 boxes, privilege", "1 boxes, restart"}))
            << "transport " << transport;
    }
}

}  // namespace
