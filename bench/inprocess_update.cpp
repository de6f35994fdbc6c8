// A full unattended update against the emulated drive in-process: the dialog,
// the worker and the update sequence with no process start, socket or server
// between them and the drive. What is left is the program's own work.
//   qm-inprocess-update [RUNS]   (default 15)
// One line per run on stdout:
//   wall_ms=<elapsed> cpu_ms=<user+sys of this process, threads included>
//   commands=<the drive received> exit=<the dialog's exit code>
// Every run starts from a fresh drive at revision 1.00 and must end with exit
// code 0 and the drive holding the image; otherwise the program fails (exit 1).
// Time is a virtual clock, as in the tests: waits cost nothing, so this is the
// CPU-bound part of an update, not what a user waits for.
#include "engine/image.h"
#include "engine/worker.h"
#include "os/platform.h"
#include "os/time.h"
#include "os/virtual_time.h"
#include "sim/device_port.h"
#include "sim/drive.h"
#include "sim/image.h"
#include "testing/scratch_dir.h"
#include "transport/transport.h"
#include "ui/auto_dialog.h"
#include "ui/framework/headless/headless.h"
#include "ui/indicator_dialog.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

double CpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// One update; false with a message when it did not update the drive.
bool RunOnce(uint64_t imageDigest, const std::string& scratch, int run) {
    // The updater mutex is held until the process ends: each run gets a runtime
    // directory of its own, so that it starts with none.
    const std::string runtime = scratch + "/run" + std::to_string(run);
    if (::mkdir(runtime.c_str(), 0700) != 0) return false;
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);

    VirtualTime clock;
    SimDevicePort devices;
    std::string error;
    if (!devices.AddScenario("drive = D\nrevision = 1.00\ndate = 09/07/15\n", &error)) {
        std::fprintf(stderr, "qm-inprocess-update: %s\n", error.c_str());
        return false;
    }
    OsSetTime(&clock);
    OsSetDevices(&devices);

    const auto start = std::chrono::steady_clock::now();
    const double cpuBefore = CpuMs();
    int exitCode;
    {
        CWinApp app;
        CAutoDlg dialog;
        app.m_pMainWnd = &dialog;
        exitCode = app.Run();
        app.m_pMainWnd = nullptr;
        WaitForWorker(OS_WAIT_FOREVER);
    }
    const double cpuMs = CpuMs() - cpuBefore;
    const double wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

    CloseDevice(g_hDevice);
    delete g_autoIndicator;
    g_autoIndicator = nullptr;
    headless::Reset();
    FreeTransferBuffers();
    OsSetDevices(nullptr);
    OsSetTime(nullptr);

    const SimDrive* drive = devices.Drive('D');
    const size_t commands = drive->Transcript().size();
    std::printf("wall_ms=%.2f cpu_ms=%.2f commands=%zu exit=%d\n", wallMs, cpuMs, commands, exitCode);
    if (exitCode != 0 || drive->ImageDigest() != imageDigest) {
        std::fprintf(stderr, "qm-inprocess-update: run %d did not update the drive (exit %d)\n", run, exitCode);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 15;
    if (runs < 1) {
        std::fprintf(stderr, "usage: qm-inprocess-update [RUNS]\n");
        return 2;
    }
    setenv("LC_ALL", "C", 1);  // the English texts
    ScratchDir folder("qm-inprocess");
    const std::string scratch = folder.Path();
    if (!folder.Made() || chdir(scratch.c_str()) != 0) {
        std::perror("qm-inprocess-update: scratch folder");
        return 1;
    }
    const std::string imagePath = scratch + "/" + IMAGE_FILE_NAME;
    std::string error;
    if (!SimWriteImage(imagePath, SimImageOptions(), &error)) {
        std::fprintf(stderr, "qm-inprocess-update: %s\n", error.c_str());
        return 1;
    }
    uint64_t digest = 0;
    SimDigestFile(imagePath, &digest);

    bool ok = true;
    for (int run = 0; run < runs && ok; ++run) ok = RunOnce(digest, scratch, run);
    if (!folder.Remove()) std::fprintf(stderr, "qm-inprocess-update: %s left behind\n", scratch.c_str());
    return ok ? 0 : 1;
}
