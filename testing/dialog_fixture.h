// What the dialog tests run on: a virtual clock, emulated drives behind the device
// seam, a platform and a session that tests set up and inspect, a scratch folder
// that is the current directory, the runtime directory of the named objects (so
// every test starts with no updater mutex and no instance mapping) and TMPDIR, and
// message boxes answered from a script.
#pragma once
#include "engine/image.h"
#include "engine/update.h"
#include "engine/worker.h"
#include "os/device.h"
#include "os/guard.h"
#include "os/process.h"
#include "os/time.h"
#include "os/virtual_time.h"
#include "sim/device_port.h"
#include "sim/image.h"
#include "testing/os_fakes.h"
#include "testing/scratch_dir.h"
#include "transport/aspi.h"
#include "transport/transport.h"
#include "ui/framework/headless/headless.h"
#include "ui/indicator_dialog.h"
#include "ui/updater_common.h"
#include "ui/updater_dialog.h"
#include "res/strings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

// The emulated drives, and drives that stop opening: after `openLimit` successful
// opens (or once `refuseOpen` is set) every open fails, as for a drive that
// discovery found but that cannot be opened any more.
class DrivePort : public DevicePort {
public:
    OsHandle Open(char letter) override { return Refused() ? nullptr : Counted(sim.Open(letter)); }
    OsHandle OpenForUpdate(char letter) override {
        return Refused() ? nullptr : Counted(sim.OpenForUpdate(letter));
    }
    void Close(OsHandle device) override { sim.Close(device); }
    bool PassThrough(OsHandle device, SptdBuffer* buffer) override { return sim.PassThrough(device, buffer); }

    SimDevicePort sim;
    std::atomic<bool> refuseOpen{false};
    std::atomic<int> openLimit{-1};
    std::atomic<int> opens{0};

private:
    bool Refused() const { return refuseOpen || (openLimit >= 0 && opens >= openLimit); }
    OsHandle Counted(OsHandle handle) {
        if (handle) ++opens;
        return handle;
    }
};

// Leaves the process `headroomBytes` of address space beyond what it maps now, so
// that the 2 MiB transfer buffers cannot be had. For death tests in the
// "threadsafe" style only: the child is a fresh run of the test program, whose
// heap holds no freed buffer that an allocation could reuse.
inline bool LimitAddressSpace(size_t headroomBytes = 1u << 20) {
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm) return false;
    unsigned long pages = 0;
    const bool read = std::fscanf(statm, "%lu", &pages) == 1;
    std::fclose(statm);
    if (!read) return false;
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = pages * static_cast<unsigned long>(sysconf(_SC_PAGESIZE)) + headroomBytes;
    return setrlimit(RLIMIT_AS, &limit) == 0;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;  // a limited address space starves the sanitizer
#else
constexpr bool kSanitized = false;
#endif

class DialogTest : public ::testing::Test {
public:
    VirtualTime clock;  // first: outlives every worker that may still run on it
    DrivePort devices;
    FakePlatform platform;
    FakeSession session;
    headless::ScriptedResponder boxes;
    ScratchDir scratch;
    std::string dir;
    std::string oldDirectory;
    std::string oldTmpDir;
    bool hadTmpDir = false;

    void SetUp() override {
        setenv("LC_ALL", "C", 1);  // the English string table
        OsSetTime(&clock);
        OsSetDevices(&devices);
        OsSetPlatform(&platform);
        OsSetSession(&session);
        OsSetResourceLanguage(LANG_ENGLISH_US);
        headless::SetResponder(&boxes);
        g_transport = 0;
        g_hDevice = nullptr;
        g_selectedDevice = 0;
        g_workerOp = 0;
        g_scsiStatus = 0;
        g_updateRunning = false;
        std::memset(g_devices, 0, sizeof g_devices);
        std::memset(g_inquiryData, 0, sizeof g_inquiryData);

        const char* tmpdir = std::getenv("TMPDIR");
        hadTmpDir = tmpdir != nullptr;
        if (tmpdir) oldTmpDir = tmpdir;
        scratch = ScratchDir("qm-dialogs");
        ASSERT_TRUE(scratch.Made()) << std::strerror(errno);
        dir = scratch.Path();
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        oldDirectory = cwd;
        ASSERT_EQ(chdir(dir.c_str()), 0);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        // A death test in the "threadsafe" style runs the test again in a fresh
        // process, whose SetUp makes a folder of its own and which ends without
        // TearDown: that folder is made in this one, and goes with it.
        setenv("TMPDIR", dir.c_str(), 1);
    }

    void TearDown() override {
        WaitForWorker(OS_WAIT_FOREVER);
        OsReleaseSignals();  // an update's hold ends with the test
        CloseDevice(g_hDevice);
        delete g_mainIndicator;
        delete g_autoIndicator;
        headless::Reset();
        FreeTransferBuffers();
        OsSetSession(nullptr);
        OsSetPlatform(nullptr);
        OsSetDevices(nullptr);
        OsSetTime(nullptr);
        g_transport = 0;
        unsetenv("XDG_RUNTIME_DIR");
        if (hadTmpDir)
            setenv("TMPDIR", oldTmpDir.c_str(), 1);
        else
            unsetenv("TMPDIR");
        ASSERT_EQ(chdir(oldDirectory.c_str()), 0);
        EXPECT_TRUE(scratch.Remove()) << dir;
    }

    std::string ImagePath() const { return dir + "/" + IMAGE_FILE_NAME; }

    void WriteImage(const SimImageOptions& options = SimImageOptions()) {
        std::string error;
        ASSERT_TRUE(SimWriteImage(ImagePath(), options, &error)) << error;
    }

    // Adds drives from scenario text (see sim/README.md).
    void AddDrives(const std::string& scenario) {
        std::string error;
        ASSERT_TRUE(devices.sim.AddScenario(scenario, &error)) << error;
    }

    SimDrive& Drive(char letter = 'D') { return *devices.sim.Drive(letter); }

    // The drive's commands with this opcode (and buffer id, for READ/WRITE BUFFER).
    static int CountCommands(const SimDrive& drive, uint8_t opcode, int bufferId = -1) {
        int n = 0;
        for (const SimCommandRecord& r : drive.Transcript())
            if (r.Opcode() == opcode && (bufferId < 0 || r.cdb[2] == bufferId)) ++n;
        return n;
    }

    static std::string Text(unsigned id) {
        const char* s = ResourceString(id, LANG_ENGLISH_US);
        return s ? s : "";
    }

    headless::WindowState State(WindowHandle hwnd) {
        headless::WindowState s;
        EXPECT_TRUE(headless::GetWindowState(hwnd, &s));
        return s;
    }

    static std::string ControlText(const headless::WindowState& s, int id) {
        const headless::ControlState* c = s.Control(id);
        return c ? c->text : "<no control>";
    }
    static bool ControlEnabled(const headless::WindowState& s, int id) {
        const headless::ControlState* c = s.Control(id);
        return c && c->enabled;
    }
};
