// The update holds off sleep and shutdown through logind (python3-dbusmock's, on a
// private bus, with the system's own implementation of the service): already held
// when the eject reaches the drive, held for every command after it, and let go
// once the update has ended, whichever way it ended.
#include "testing/engine_fixture.h"
#include "os/inhibit.h"
#include "testing/mock_logind.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr uint8_t kEject = 0x1B;

// In front of the emulated drives: before each command reaches the drive, asks the
// mock what it holds.
class AskingDevices : public DevicePort {
public:
    AskingDevices(DevicePort& inner, MockLogind& logind) : m_inner(inner), m_logind(logind) {}
    OsHandle Open(char letter) override { return m_inner.Open(letter); }
    OsHandle OpenForUpdate(char letter) override { return m_inner.OpenForUpdate(letter); }
    void Close(OsHandle device) override { m_inner.Close(device); }
    bool PassThrough(OsHandle device, SptdBuffer* buffer) override {
        Seen seen{buffer->sptd.Cdb[0], {}};
        m_logind.Inhibitors(&seen.held);
        this->seen.push_back(seen);
        return m_inner.PassThrough(device, buffer);
    }

    struct Seen {
        uint8_t opcode;
        std::vector<MockInhibitor> held;
    };
    std::vector<Seen> seen;  // written by the worker, read once it has ended

private:
    DevicePort& m_inner;
    MockLogind& m_logind;
};

SimFault Refuse(int opcode, int bufferId, int64_t offset, SimSense sense) {
    SimFault f;
    f.opcode = opcode;
    f.bufferId = bufferId;
    f.offset = offset;
    f.refuse = true;
    f.sense = sense;
    return f;
}

struct InhibitCase {
    const char* name;
    std::vector<SimFault> faults;
    unsigned report;
    uint8_t lastOpcode;  // of the last command the update sent
};
void PrintTo(const InhibitCase& c, std::ostream* os) { *os << c.name; }

class SleepInhibit : public EngineTest, public ::testing::WithParamInterface<InhibitCase> {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        if (const char* bus = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")) m_savedBus = bus;
    }
    void TearDown() override {
        OsSetInhibit(nullptr);
        if (m_savedBus.empty())
            unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        else
            setenv("DBUS_SYSTEM_BUS_ADDRESS", m_savedBus.c_str(), 1);
        EngineTest::TearDown();
    }

    MockLogind logind;

private:
    std::string m_savedBus;
};

TEST_P(SleepInhibit, HeldFromTheEjectUntilTheUpdateHasEnded) {
    const InhibitCase& c = GetParam();
    if (!logind.Start()) return;
    setenv("DBUS_SYSTEM_BUS_ADDRESS", logind.Address().c_str(), 1);
    OsSetInhibit(&OsSystemInhibit());
    AskingDevices asking(devices, logind);
    OsSetDevices(&asking);
    SimDriveConfig config;
    config.faults = c.faults;
    devices.AddDrive(config);
    WriteImage();

    ASSERT_EQ(RunWorker(OP_UPDATE), 1);
    OsSetDevices(&devices);
    EXPECT_EQ(FinalReport(), int(c.report));

    size_t eject = 0;
    while (eject < asking.seen.size() && asking.seen[eject].opcode != kEject) ++eject;
    ASSERT_LT(eject, asking.seen.size()) << "no eject was sent";
    EXPECT_EQ(asking.seen.back().opcode, c.lastOpcode);
    for (size_t i = eject; i < asking.seen.size(); ++i) {
        const std::vector<MockInhibitor>& held = asking.seen[i].held;
        ASSERT_EQ(held.size(), 1u) << "command " << i + 1 << " (opcode " << int(asking.seen[i].opcode) << ")";
        EXPECT_EQ(held[0].what, "sleep:shutdown:idle");
        EXPECT_EQ(held[0].who, "quillmor");
        EXPECT_NE(held[0].why, "");
        EXPECT_EQ(held[0].mode, "block");
    }
    // The lock is given back with the end of the update, not of the process.
    std::vector<MockInhibitor> left;
    EXPECT_TRUE(logind.WaitForInhibitors(0, &left)) << left.size() << " still held";
}

INSTANTIATE_TEST_SUITE_P(
    Table, SleepInhibit,
    ::testing::Values(
        InhibitCase{"Updated", {}, NOTIFY_UPDATE_OK, 0x3C},
        // The first command that changes the drive is refused: the update ends there.
        InhibitCase{"EjectRefused", {Refuse(kEject, -1, -1, {0x05, 0x24, 0x00})}, NOTIFY_UPDATE_FAILED, kEject},
        // Halfway through the image, after the mode switch.
        InhibitCase{"BlockRefused", {Refuse(0x3B, 0xF0, 0x100000, {0x03, 0x0C, 0x00})}, NOTIFY_UPDATE_FAILED, 0x3B}),
    [](const ::testing::TestParamInfo<InhibitCase>& info) { return std::string(info.param.name); });

}  // namespace
