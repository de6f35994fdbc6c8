#include "transport/discovery.h"

#include "transport/aspi.h"
#include "transport/transport.h"

#include <cstdio>
#include <cstring>

namespace {

// The accepted signatures; the drive model has had only one.
const char* const kSignatures[] = {DRIVE_SIGNATURE};

// The combo text ends at INQUIRY byte 44: vendor, product, revision and the date.
constexpr int kListTextEnd = 45;

// Runs one probe and tells whether its results may be read. A probe that outlived
// its wait is waited for here, before anyone touches the shared state again, and
// its late results are not used.
bool ProbeCompleted(ScanHost& host, uint32_t op, char driveLetter) {
    int result = host.RunProbe(op, driveLetter);
    if (result == PROBE_TIMED_OUT) {
        host.SettleProbe();
        return false;
    }
    return result == PROBE_DONE;
}

// Ends the text that starts at byte `from` of the probe's reply at byte `end`, or
// earlier where the reply ended: bytes that did not arrive are no part of it.
const char* ArrivedText(uint32_t from, uint32_t end) {
    uint32_t arrived = g_bytesTransferred < end ? g_bytesTransferred : end;
    if (arrived < from) arrived = from;
    g_dataIn[arrived] = 0;
    return reinterpret_cast<const char*>(g_dataIn) + from;
}

// The identification probe: the block must be read and carry the signature in
// the text from byte 16, cut at byte 48.
bool HasSignatureBlock(ScanHost& host, char driveLetter) {
    std::memset(g_dataIn, 0, DRIVE_ID_BLOCK_LENGTH);
    if (!ProbeCompleted(host, SCAN_PROBE_ID_BLOCK, driveLetter)) return false;
    if (g_scsiStatus != SS_COMP) return false;
    return HasDriveSignature(ArrivedText(16, DRIVE_ID_BLOCK_LENGTH)) == 1;
}

// The INQUIRY probe; its status is not tested, only its data (none when it failed).
bool InquiryCompleted(ScanHost& host, char driveLetter) {
    std::memset(g_dataIn, 0, SCAN_INQUIRY_LENGTH);
    return ProbeCompleted(host, SCAN_PROBE_INQUIRY, driveLetter);
}

bool InquiryNamesTheDrive() {
    return g_bytesTransferred >= 8 + DRIVE_ID_LENGTH &&
           std::strncmp(reinterpret_cast<const char*>(g_dataIn) + 8, DRIVE_ID_TEXT, DRIVE_ID_LENGTH) == 0;
}

const char* InquiryListText() { return ArrivedText(8, kListTextEnd); }

}  // namespace

int HasDriveSignature(const char* text) {
    for (const char* signature : kSignatures) {
        if (std::strstr(text, signature) != nullptr) return 1;
    }
    return 0;
}

int ScanDrivesSpti(ScanHost& host) {
    int count = 0;
    host.ClearDriveList();
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        if (count < MAX_DEVICES && HasSignatureBlock(host, letter) &&
            InquiryCompleted(host, letter) && InquiryNamesTheDrive()) {
            g_devices[count].driveLetter = static_cast<uint8_t>(letter);
            host.DriveFound(g_dataIn, g_bytesTransferred);
            char text[64];
            std::snprintf(text, sizeof text, "%c: %s", letter, InquiryListText());
            host.AddDriveListItem(text);
            ++count;
        }
        // Every probe of this letter has ended by now (see ProbeCompleted).
        CloseDevice(g_hDevice);
    }
    return count;
}

int ScanDrivesAspi(ScanHost& host) {
    int count = 0;
    host.ClearDriveList();
    int adapters = 0;
    if (!AspiHostAdapterCount(&adapters)) return 0;

    SrbHaInquiry adapter;
    std::memset(&adapter, 0, sizeof adapter);
    adapter.SRB_Cmd = SC_HA_INQUIRY;
    for (int ha = 0; ha < adapters; ++ha) {
        g_scanHaId = static_cast<uint8_t>(ha);
        AspiInquireAdapter(adapter);
        g_adapterReportsResidual[ha & 0xFF] =
            adapter.SRB_Status == SS_COMP && (adapter.HA_Unique[HA_UNIQUE_FEATURES] & HA_REPORTS_RESIDUAL) != 0;
        // The identifier need not end in a NUL within its 16 bytes.
        char identifier[sizeof adapter.HA_Identifier + 1];
        std::memcpy(identifier, adapter.HA_Identifier, sizeof adapter.HA_Identifier);
        identifier[sizeof adapter.HA_Identifier] = 0;

        for (int target = 0; target < ASPI_TARGETS_PER_ADAPTER; ++target) {
            g_scanTarget = static_cast<uint8_t>(target);
            if (count >= MAX_DEVICES) break;
            if (!HasSignatureBlock(host, 0) || !InquiryCompleted(host, 0)) continue;
            host.DriveFound(g_dataIn, g_bytesTransferred);
            char text[64];
            std::snprintf(text, sizeof text, "%s %s", identifier, InquiryListText());
            host.AddDriveListItem(text);
            g_devices[count].haId = g_scanHaId;
            g_devices[count].target = g_scanTarget;
            g_devices[count].lun = g_scanLun;
            ++count;
        }
        ++adapter.SRB_HaId;
    }
    return count;
}
