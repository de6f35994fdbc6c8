// Every transport test starts from the state a dialog's initialisation leaves:
// buffers allocated, no transport chosen, the request records zero, and the
// device, library and time seams replaced by fakes.
#pragma once
#include "os/virtual_time.h"
#include "testing/fake_aspi.h"
#include "testing/os_fakes.h"
#include "testing/scripted_device.h"
#include "transport/aspi.h"
#include "transport/transport.h"

#include <gtest/gtest.h>

#include <cstring>

class TransportTest : public ::testing::Test {
protected:
    VirtualTime clock;
    CountingTime time{clock};
    ScriptedDevice device;
    FakeAspi aspi;

    void SetUp() override {
        OsSetTime(&time);
        OsSetDevices(&device);
        OsSetLibraries(&aspi);
        ResetTransportState();
        ASSERT_TRUE(AllocateTransferBuffers());
    }

    void TearDown() override {
        aspi.Drain();
        CloseDevice(g_hDevice);
        FreeTransferBuffers();
        ResetTransportState();
        OsSetLibraries(nullptr);
        OsSetDevices(nullptr);
        OsSetTime(nullptr);
    }

    static void ResetTransportState() {
        g_transport = 0;
        g_scsiStatus = 0;
        g_selectedDevice = 0;
        g_hDevice = nullptr;
        std::memset(g_devices, 0, sizeof g_devices);
        std::memset(&g_sptd, 0, sizeof g_sptd);
        std::memset(&g_srb, 0, sizeof g_srb);
        g_srbAbandoned = false;
        std::memset(g_adapterReportsResidual, 0, sizeof g_adapterReportsResidual);
        g_hAspiDll = nullptr;
        g_pfnGetASPI32SupportInfo = nullptr;
        g_pfnSendASPI32Command = nullptr;
        g_scanHaId = g_scanTarget = g_scanLun = 0;
    }

    void UseSpti() {
        g_transport = TRANSPORT_SPTI;
        g_hDevice = OpenDevice(device.letter);
        ASSERT_NE(g_hDevice, nullptr);
    }

    void UseAspi() { ASSERT_EQ(LoadAspiManager(), 0); }
};
