// Drive discovery against emulated drives, with each probe on a worker that the
// scan waits for on a virtual clock.
#include "transport/discovery.h"

#include "engine/scan_probe.h"
#include "engine/update.h"
#include "os/virtual_time.h"
#include "sim/device_port.h"
#include "testing/fake_aspi.h"
#include "testing/overlap_watch.h"
#include "transport/aspi.h"
#include "transport/transport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// The main dialog's side: the drive list.
class ListHost : public WorkerScanHost {
public:
    ListHost() : WorkerScanHost(nullptr) {}
    void ClearDriveList() override { items.clear(); ++clears; }
    void AddDriveListItem(const char* text) override { items.push_back(text); }
    std::vector<std::string> items;
    int clears = 0;
};

class DiscoveryTest : public ::testing::Test {
protected:
    VirtualTime clock;
    SimDevicePort devices;
    OverlapWatch watch{devices};
    ListHost list;

    void SetUp() override {
        OsSetTime(&clock);
        OsSetDevices(&watch);
        g_transport = TRANSPORT_SPTI;
        g_hDevice = nullptr;
        std::memset(g_devices, 0, sizeof g_devices);
        // Each test loads its own ASPI manager.
        g_hAspiDll = nullptr;
        g_pfnGetASPI32SupportInfo = nullptr;
        g_pfnSendASPI32Command = nullptr;
        std::memset(&g_srb, 0, sizeof g_srb);
        g_srbAbandoned = false;
        ResetCommandState();
        ASSERT_TRUE(AllocateTransferBuffers());
    }
    void TearDown() override {
        WaitForWorker(OS_WAIT_FOREVER);
        CloseDevice(g_hDevice);
        FreeTransferBuffers();
        OsSetLibraries(nullptr);
        OsSetDevices(nullptr);
        OsSetTime(nullptr);
        g_transport = 0;
    }

    SimDrive& Drive(char letter, SimDriveConfig config = SimDriveConfig()) {
        config.letter = letter;
        return devices.AddDrive(config);
    }

    // After a scan: no handle left open, and no command ever overlapped another
    // or outlived its handle.
    void ExpectCleanScan() {
        EXPECT_EQ(g_hDevice, nullptr);
        EXPECT_EQ(devices.OpenHandles(), 0);
        EXPECT_EQ(watch.violations.load(), 0);
    }
};

// A 48-byte identification block with `text` at byte `at` in a text of dots (the
// search reads the block as a string: a NUL would end it).
std::string Block(size_t at, const std::string& text) {
    std::string block(48, '.');
    block.replace(at, std::min(text.size(), 48 - at), text.substr(0, 48 - at));
    block[32] = 0x01;
    return block;
}

struct MatchCase {
    const char* name;
    std::string idBlock;         // empty: the drive's own
    std::string identification;  // INQUIRY bytes 8..31
    bool listed;
};
void PrintTo(const MatchCase& c, std::ostream* os) { *os << c.name; }

const MatchCase kMatchCases[] = {
    {"supported_drive", "", "TORVELL DVD-RW  WKZ4471 ", true},
    {"signature_after_other_text", Block(16, "XYZ0082VARNDT  5518"), "TORVELL DVD-RW  WKZ4471 ", true},
    {"signature_at_the_end_of_the_text", Block(36, "0082VARNDT  "), "TORVELL DVD-RW  WKZ4471 ", true},
    {"signature_cut_at_byte_48", Block(40, "0082VARNDT  "), "TORVELL DVD-RW  WKZ4471 ", false},
    {"signature_before_byte_16", Block(2, "0082VARNDT  "), "TORVELL DVD-RW  WKZ4471 ", false},
    {"no_signature", Block(16, "0082VARNDX  5518"), "TORVELL DVD-RW  WKZ4471 ", false},
    {"other_product", "", "TORVELL DVD-RW  WKZ4470 ", false},
    {"nul_at_byte_31", "", std::string("TORVELL DVD-RW  WKZ4471\0", 24), false},
};

class SptiMatch : public DiscoveryTest, public ::testing::WithParamInterface<MatchCase> {};

TEST_P(SptiMatch, ListsOnlyTheSupportedDrive) {
    const MatchCase& c = GetParam();
    SimDriveConfig config;
    config.idBlock = c.idBlock;
    config.identification = c.identification;
    Drive('D', config);
    // What an earlier command left past the block: it must not complete a
    // signature cut at byte 48.
    std::memcpy(g_dataIn + 48, "DT  ", 4);

    EXPECT_EQ(ScanDrivesSpti(list), c.listed ? 1 : 0);
    EXPECT_EQ(list.items.size(), c.listed ? 1u : 0u);
    if (c.listed) {
        EXPECT_EQ(g_devices[0].driveLetter, 'D');
    }
    ExpectCleanScan();
}

INSTANTIATE_TEST_SUITE_P(Table, SptiMatch, ::testing::ValuesIn(kMatchCases),
                         [](const ::testing::TestParamInfo<MatchCase>& info) { return std::string(info.param.name); });

TEST(DriveSignature, IsFoundAnywhereInTheText) {
    EXPECT_EQ(HasDriveSignature("0082VARNDT  "), 1);
    EXPECT_EQ(HasDriveSignature("..0082VARNDT  .."), 1);
    EXPECT_EQ(HasDriveSignature("0082VARNDT "), 0);  // both trailing blanks belong to it
    EXPECT_EQ(HasDriveSignature(""), 0);
}

TEST_F(DiscoveryTest, TwoDrivesInLetterOrderWithTheirListTexts) {
    SimDriveConfig e;
    e.revision = "1.02";
    Drive('E', e);
    Drive('D');
    SimDriveConfig other;
    other.identification = "OTHER   DVD-RW  XX0000  ";
    Drive('C', other);
    // Entries past the count keep what they held.
    g_devices[2].driveLetter = 'Q';

    ASSERT_EQ(ScanDrivesSpti(list), 2);
    EXPECT_EQ(g_devices[0].driveLetter, 'D');
    EXPECT_EQ(g_devices[1].driveLetter, 'E');
    EXPECT_EQ(g_devices[2].driveLetter, 'Q');
    EXPECT_EQ(list.items, (std::vector<std::string>{"D: TORVELL DVD-RW  WKZ4471 1.00 09/07/15",
                                                    "E: TORVELL DVD-RW  WKZ4471 1.02 09/07/15"}));
    EXPECT_EQ(list.clears, 1);
    ExpectCleanScan();
}

TEST_F(DiscoveryTest, DriveNotReadyAtTheFirstScanIsFoundByTheSecond) {
    SimDriveConfig config;
    config.readyAfter = 1;  // the first identification read sees "becoming ready"
    Drive('D', config);
    EXPECT_EQ(ScanDrivesSpti(list), 0);
    EXPECT_TRUE(list.items.empty());
    EXPECT_EQ(ScanDrivesSpti(list), 1);
    EXPECT_EQ(list.items.size(), 1u);
    ExpectCleanScan();
}

// A probe that outlives its 5000 ms wait: its drive counts as not found, the scan
// waits for it before the handle is closed or the next letter probed, and its
// late answer (which would match) is not taken.
TEST_F(DiscoveryTest, HungProbeIsWaitedForAndItsLateAnswerDiscarded) {
    for (int opcode : {0x3C, 0x12}) {  // the identification probe, then the INQUIRY probe
        SimDriveConfig slow;
        SimFault hang;
        hang.opcode = opcode;
        hang.delayMs = 30000;
        hang.times = 1;
        slow.faults.push_back(hang);
        Drive('D', slow);
        Drive('E');
        uint64_t start = clock.NowMs();

        ASSERT_EQ(ScanDrivesSpti(list), 1) << std::hex << opcode;
        EXPECT_EQ(g_devices[0].driveLetter, 'E');
        ASSERT_EQ(list.items.size(), 1u);
        EXPECT_EQ(list.items[0][0], 'E');
        EXPECT_GE(clock.NowMs() - start, 30000u);
        ExpectCleanScan();
    }
}

TEST_F(DiscoveryTest, NoDrivesNoHandlesLeft) {
    EXPECT_EQ(ScanDrivesSpti(list), 0);
    EXPECT_EQ(list.clears, 1);
    ExpectCleanScan();
}

// ASPI: drives addressed by adapter and target through an in-process manager.
class AspiDiscovery : public DiscoveryTest {
protected:
    FakeAspi aspi;
    std::map<int, std::unique_ptr<SimDrive>> targets;  // by target id, adapter 0

    void SetUp() override {
        DiscoveryTest::SetUp();
        aspi.drive = [this](const uint8_t* cdb, int cdbLength, int direction, uint8_t* data,
                            uint32_t length, uint8_t* sense, int senseLength) {
            auto it = targets.find(g_scanTarget);
            if (g_scanHaId != 0 || it == targets.end()) return 0x02;  // nothing there: no sense
            return it->second->Execute(cdb, cdbLength, direction, data, length, sense, senseLength);
        };
        OsSetLibraries(&aspi);
        ASSERT_EQ(LoadAspiManager(), 0);
        ASSERT_EQ(g_transport, TRANSPORT_ASPI);
    }
    void Target(int id, SimDriveConfig config = SimDriveConfig()) {
        targets[id] = std::make_unique<SimDrive>(config);
    }
};

TEST_F(AspiDiscovery, TakesEveryTargetWithTheSignatureWhateverItsProduct) {
    SimDriveConfig other;
    other.identification = "TORVELL DVD-RW  WKZ4470 ";
    Target(2, other);
    Target(5);
    SimDriveConfig unsigned_;
    unsigned_.signature = "NOSIGNATURE 5518";
    Target(6, unsigned_);
    aspi.adapterName = "ADAPTERNAME16CHRXYZ";  // fills all 16 bytes: no NUL

    ASSERT_EQ(ScanDrivesAspi(list), 2);
    EXPECT_EQ(g_devices[0].haId, 0);
    EXPECT_EQ(g_devices[0].target, 2);
    EXPECT_EQ(g_devices[1].target, 5);
    EXPECT_EQ(g_devices[1].lun, 0);
    EXPECT_EQ(list.items, (std::vector<std::string>{"ADAPTERNAME16CHR TORVELL DVD-RW  WKZ4470 1.00 09/07/15",
                                                    "ADAPTERNAME16CHR TORVELL DVD-RW  WKZ4471 1.00 09/07/15"}));
    EXPECT_EQ(watch.violations.load(), 0);
}

// Whether each adapter reports residuals is taken from its inquiry, for every
// request the program then sends to it.
TEST_F(AspiDiscovery, RemembersWhetherTheAdapterReportsResiduals) {
    Target(5);
    for (bool reports : {true, false}) {
        aspi.reportsResidual = reports;
        ASSERT_EQ(ScanDrivesAspi(list), 1);
        EXPECT_EQ(g_adapterReportsResidual[0], reports);
        EXPECT_EQ(aspi.sent[srb_offset::Flags] & SRB_ENABLE_RESIDUAL_COUNT, reports ? SRB_ENABLE_RESIDUAL_COUNT : 0);
    }
}

// A probe the manager never completes: the scan waits for it a bounded time, then
// every later probe fails at once (the request block is the manager's now), so the
// scan ends with what it found before.
TEST_F(AspiDiscovery, ProbeThatNeverCompletesEndsTheScan) {
    Target(0);
    Target(1);
    Target(2);
    aspi.hangTarget = 1;
    ASSERT_EQ(ScanDrivesAspi(list), 1);
    EXPECT_EQ(g_devices[0].target, 0);
    EXPECT_EQ(list.items.size(), 1u);
    EXPECT_EQ(clock.NowMs(), ASPI_COMMAND_WAIT_MS);
    EXPECT_TRUE(g_srbAbandoned);
    EXPECT_TRUE(targets[2]->Transcript().empty());
    EXPECT_EQ(watch.violations.load(), 0);
    // This manager never signals the event: the test releases what the program may not.
    OsTime().CloseEvent(g_srb.SRB_PostProc);
}

TEST_F(AspiDiscovery, FindsNothingWithoutAdapters) {
    Target(0);
    aspi.supportInfo = (SS_COMP << 8) | 0;
    EXPECT_EQ(ScanDrivesAspi(list), 0);
    aspi.supportInfo = (SS_ERR << 8) | 1;
    EXPECT_EQ(ScanDrivesAspi(list), 0);
    EXPECT_EQ(aspi.sendCalls, 0);
    EXPECT_EQ(list.clears, 2);
}

}  // namespace
