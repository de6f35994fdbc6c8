// What the fuzz targets share: one virtual clock for the whole process (nothing
// ever sleeps for real) whose worker thread is kept for the next worker, one
// emulated drive reset between inputs, the state a dialog's initialisation
// leaves, a dialog stand-in for the worker, and the check that stops the run on
// a broken rule.
#pragma once
#include "commands/big_endian.h"
#include "commands/commands.h"
#include "engine/worker.h"
#include "sim/device_port.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// Aborts (libFuzzer then keeps the input) when `ok` is false.
void FuzzCheck(bool ok, const char* rule);

// Once per process: the virtual clock, the English string table, the buffers.
void FuzzInit();
// Before every input: no worker, no open handle, no device entries, zeroed
// buffers and request record, the transport and command state of a fresh dialog,
// and the emulated drive as new.
void FuzzResetEngine();

// The default emulated drive at D that every input runs against (not installed
// as the device service: each target installs it, or its own port around it).
SimDevicePort& FuzzDrives();
SimDrive& FuzzDrive();

// A scratch folder of this process (created once, removed at exit).
const std::string& FuzzScratchDir();
// Writes `size` bytes, then zeros up to `length` bytes in all (when longer).
bool FuzzWriteFile(const std::string& path, const uint8_t* data, size_t size, size_t length = 0);

// The dialog side of the worker: counts what it is shown and posted.
class FuzzHost : public WorkerHost {
public:
    void PostWorkerNotify(unsigned code, long lParam) override;
    int ShowMessageBox(const char* text, const char* caption, unsigned style) override;
    std::vector<unsigned> Notes();
    int Boxes();

private:
    std::mutex m_mutex;
    std::vector<unsigned> m_notes;
    int m_boxes = 0;
};

// The rules every update run must keep, checked against the commands the
// program issued (12 CDB bytes each, in order).
struct IssuedCommand {
    uint8_t cdb[12];
    bool IsWriteBuffer() const { return cdb[0] == WRITE_BUFFER_CMD; }
    bool IsFirmwareBlock() const { return cdb[0] == WRITE_BUFFER_CMD && cdb[2] == BUFFER_FIRMWARE; }
    bool IsIdBlockRead() const { return cdb[0] == READ_BUFFER_CMD && cdb[2] == BUFFER_ID_BLOCK; }
    uint32_t Offset() const { return GetBig24(cdb + 3); }
    uint32_t Length() const { return GetBig24(cdb + 6); }
};
