// Drive discovery: finds the one supported drive model by drive letter (SPTI) or by
// host adapter and target (ASPI) and fills g_devices with every drive that matches.
//
// Each probe command runs on a worker thread that the scan waits for, and the
// main dialog lists what it finds; both belong to floors above this one, so the scan
// reaches them through ScanHost.
#pragma once
#include <cstdint>

// The text searched for in the identification block from byte 16 on.
constexpr char DRIVE_SIGNATURE[] = "0082VARNDT  ";
// INQUIRY bytes 8..31 (vendor, product) of the supported drive.
constexpr char DRIVE_ID_TEXT[] = "TORVELL DVD-RW  WKZ4471 ";
constexpr int DRIVE_ID_LENGTH = 24;
constexpr int DRIVE_ID_BLOCK_LENGTH = 48;
constexpr int SCAN_INQUIRY_LENGTH = 254;
constexpr int ASPI_TARGETS_PER_ADAPTER = 8;

// The two probe operations, by the worker's operation codes.
constexpr uint32_t SCAN_PROBE_INQUIRY = 274;
constexpr uint32_t SCAN_PROBE_ID_BLOCK = 316;

// What RunProbe reports.
constexpr int PROBE_NOT_STARTED = 0;  // the drive letter would not open: nothing ran
constexpr int PROBE_DONE = 1;         // the probe ended within its wait; its results stand
constexpr int PROBE_TIMED_OUT = 2;    // still running after the wait; its results are void

class ScanHost {
public:
    virtual ~ScanHost() = default;
    // Runs one probe (`op`) against `driveLetter` (SPTI; opens it when g_hDevice is
    // closed) or the ASPI probe address, waiting for it a bounded time.
    virtual int RunProbe(uint32_t op, char driveLetter) = 0;
    // Blocks until a probe that outlived its wait has ended. The scan calls it before
    // it touches g_dataIn, g_scsiStatus or g_hDevice again after PROBE_TIMED_OUT, so
    // a late probe never writes into the next one's data or uses a closed handle.
    virtual void SettleProbe() = 0;
    // The drive list of the main dialog; other hosts ignore them.
    virtual void ClearDriveList() {}
    virtual void AddDriveListItem(const char* text) { (void)text; }
    // Each drive found, as it is added to g_devices: its INQUIRY reply, of which the
    // first `length` bytes were reported to have arrived.
    virtual void DriveFound(const uint8_t* inquiry, uint32_t length) { (void)inquiry, (void)length; }
};

// 1 when DRIVE_SIGNATURE occurs anywhere in `text` (a NUL-terminated string).
int HasDriveSignature(const char* text);

// Both return the number of drives found, left in g_devices[0..count-1] in scan
// order (letters C..Z; adapters, then targets 0..7). A probe that times out counts
// as no match for its letter or target: it is waited for, its late result is
// discarded, and (SPTI) the handle is closed only after it has ended.
int ScanDrivesSpti(ScanHost& host);
// Over ASPI a target with the signature is taken without checking its INQUIRY ids.
// Finds nothing when the ASPI manager is missing or reports no adapters.
int ScanDrivesAspi(ScanHost& host);
