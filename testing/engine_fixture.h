// The state a dialog's initialisation leaves (buffers, transport, command state),
// on a virtual clock, with emulated drives behind the device seam and a scratch
// directory for image files.
#pragma once
#include "engine/image.h"
#include "engine/update.h"
#include "engine/worker.h"
#include "os/device.h"
#include "os/guard.h"
#include "os/time.h"
#include "os/virtual_time.h"
#include "sim/device_port.h"
#include "sim/image.h"
#include "testing/recording_host.h"
#include "testing/scratch_dir.h"
#include "transport/aspi.h"
#include "transport/transport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

class EngineTest : public ::testing::Test {
protected:
    VirtualTime clock;  // first: outlives everything that may still run on it
    SimDevicePort devices;
    RecordingHost host;
    ScratchDir scratch;

    void SetUp() override {
        setenv("LC_ALL", "C", 1);  // the English string table
        OsSetTime(&clock);
        OsSetDevices(&devices);
        g_transport = TRANSPORT_SPTI;
        g_hDevice = nullptr;
        g_selectedDevice = 0;
        g_scsiStatus = 0;
        std::memset(&g_sptd, 0, sizeof g_sptd);
        std::memset(g_devices, 0, sizeof g_devices);
        g_hAspiDll = nullptr;  // no ASPI manager unless a test loads one
        g_pfnGetASPI32SupportInfo = nullptr;
        g_pfnSendASPI32Command = nullptr;
        ResetCommandState();
        ASSERT_TRUE(AllocateTransferBuffers());
        scratch = ScratchDir("qm-engine");
        ASSERT_TRUE(scratch.Made()) << std::strerror(errno);
    }

    void TearDown() override {
        WaitForWorker(OS_WAIT_FOREVER);
        OsReleaseSignals();  // an update's hold ends with the test
        CloseDevice(g_hDevice);
        FreeTransferBuffers();
        OsSetDevices(nullptr);
        OsSetTime(nullptr);
        g_transport = 0;
        EXPECT_TRUE(scratch.Remove()) << scratch.Path();
    }

    std::string ImagePath() const { return scratch.Path() + "/" + IMAGE_FILE_NAME; }

    // Hands the image at `path` to the update as a dialog does after its version
    // check: the path, and the version and date the check read.
    static void HandToUpdate(const std::string& path) {
        ASSERT_TRUE(SetImagePath(path.c_str()));
        VersionRecord record{};
        ReadImageVersion(path.c_str(), record);  // none read: the fields stay empty
        SetCheckedImage(record.imageVersion, record.imageDate);
    }

    // Writes the image and hands it to the update.
    void WriteImage(const SimImageOptions& options = SimImageOptions()) {
        std::string error;
        ASSERT_TRUE(SimWriteImage(ImagePath(), options, &error)) << error;
        HandToUpdate(ImagePath());
    }

    // Runs one worker for `op` on drive D to its end.
    int RunWorker(uint32_t op, char letter = 'D') {
        g_workerOp = op;
        int started = StartWorker(&host, letter, false);
        WaitForWorker(OS_WAIT_FOREVER);
        return started;
    }

    // The final report of the last worker: its code, or -1 when there was none.
    int FinalReport() {
        int code = -1;
        for (const PostedNotify& n : host.Notes())
            if (n.lParam == LPARAM_WORKER_ENDED) code = static_cast<int>(n.code);
        return code;
    }
};
