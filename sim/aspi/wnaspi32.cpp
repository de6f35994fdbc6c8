// wnaspi32.dll over the emulated drive: an ASPI for Win32 manager that Windows
// programs load under Wine (Windows version win98, wnaspi32 overridden to
// native). Test attachment only; never shipped.
//
// One host adapter (0). Each drive of the scenario sits at target
// (letter - 'C'), LUN 0: the default drive D at target 1; letters past J have
// no target. Other targets refuse at once with SS_NO_DEVICE, so a program's
// "refused without pending" path runs during every scan.
//
// Commands for a drive return SS_PENDING and complete later on the manager's
// own thread: SRB_HaStat, SRB_TargStat and the sense area are filled (a transfer
// shorter than SRB_BufLen sets HASTAT_DO_DU; SRB_BufLen then holds the residual
// when the request asked for it with SRB_ENABLE_RESIDUAL_COUNT, which the
// adapter inquiry offers, and the count moved otherwise), then SRB_Status, then the SRB_PostProc event is signalled (SRB_EVENT_NOTIFY).
// Completion waits a little first, so a program that reads the status without
// waiting for the event reads SS_PENDING and fails.
//
// Environment (Windows paths; under Wine "Z:\tmp\x" is /tmp/x):
//   QM_ASPI_SCENARIO  scenario file (sim/README.md); unset: one default drive D
//   QM_ASPI_STATE     folder for transcript.txt and status.txt, in the drive
//                     server's formats, updated after every command, and
//                     loaded.txt, one line per process that loaded the manager;
//                     error.txt names a scenario that could not be read
#include <windows.h>
#undef CreateEvent  // TimePort::CreateEvent

#include "os/time.h"
#include "sim/drive.h"
#include "sim/scenario.h"
#include "transport/aspi.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPending = 0x00;         // SS_PENDING
constexpr DWORD kComplete = 0x01;        // SS_COMP
constexpr DWORD kError = 0x04;           // SS_ERR
constexpr DWORD kInvalidAdapter = 0x81;  // SS_INVALID_HA
constexpr DWORD kNoDevice = 0x82;        // SS_NO_DEVICE
constexpr DWORD kInvalidSrb = 0xE0;      // SS_INVALID_SRB
constexpr DWORD kFailedInit = 0xE4;      // SS_FAILED_INIT

constexpr uint8_t kGetDeviceType = 1;    // SC_GET_DEV_TYPE
constexpr uint8_t kHostTimeout = 0x09;   // HASTAT_TIMEOUT
constexpr uint8_t kOverUnderrun = 0x12;  // HASTAT_DO_DU
constexpr uint8_t kCheckCondition = 0x02;
constexpr uint8_t kTargets = 8;
constexpr DWORD kCompletionDelayMs = 2;

// The drive model only ever sleeps (a fault's delay); nothing else of the
// time service is used here.
class DllTime : public TimePort {
public:
    uint64_t NowMs() override { return GetTickCount64(); }
    void Sleep(uint32_t ms) override { ::Sleep(ms); }
    OsHandle StartThread(void (*)(void*), void*) override { return nullptr; }
    bool WaitThread(OsHandle, uint32_t) override { return false; }
    void CloseThread(OsHandle) override {}
    OsHandle CreateEvent() override { return nullptr; }
    void SetEvent(OsHandle) override {}
    bool WaitEvent(OsHandle, uint32_t) override { return false; }
    void CloseEvent(OsHandle) override {}
};

struct Manager {
    std::vector<std::unique_ptr<SimDrive>> drives;
    bool ready = false;  // the scenario was read
    std::string stateDir;

    CRITICAL_SECTION lock;
    CONDITION_VARIABLE queued;
    std::deque<SrbExecScsiCmd*> queue;
    HANDLE thread = nullptr;
};

Manager g_manager;
INIT_ONCE g_initOnce = INIT_ONCE_STATIC_INIT;

std::string Environment(const char* name) {
    char value[1024];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

void WriteFileText(const std::string& path, const std::string& text, bool append) {
    HANDLE file = CreateFileA(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::string StatePath(const char* name) { return g_manager.stateDir + "\\" + name; }

// Rewritten whole and then renamed, so a reader never sees half a file.
void WriteStatus() {
    if (g_manager.stateDir.empty()) return;
    std::string text;
    for (auto& drive : g_manager.drives) text += drive->StatusLine() + "\n";
    const std::string temp = StatePath("status.txt.new");
    WriteFileText(temp, text, false);
    MoveFileExA(temp.c_str(), StatePath("status.txt").c_str(), MOVEFILE_REPLACE_EXISTING);
}

BOOL CALLBACK Initialise(PINIT_ONCE, PVOID, PVOID*) {
    Manager& m = g_manager;
    InitializeCriticalSection(&m.lock);
    InitializeConditionVariable(&m.queued);
    m.stateDir = Environment("QM_ASPI_STATE");

    std::vector<SimDriveConfig> configs;
    std::string error;
    const std::string scenario = Environment("QM_ASPI_SCENARIO");
    m.ready = scenario.empty() ? SimParseScenario("", &configs, &error) : SimLoadScenario(scenario, &configs, &error);
    if (!m.ready) {
        if (!m.stateDir.empty()) WriteFileText(StatePath("error.txt"), error + "\n", false);
        return TRUE;
    }
    for (const SimDriveConfig& config : configs) m.drives.push_back(std::make_unique<SimDrive>(config));
    if (!m.stateDir.empty()) WriteFileText(StatePath("transcript.txt"), "", false);
    WriteStatus();
    return TRUE;
}

void EnsureInitialised() { InitOnceExecuteOnce(&g_initOnce, Initialise, nullptr, nullptr); }

SimDrive* DriveAt(uint8_t haId, uint8_t target, uint8_t lun) {
    if (haId != 0 || lun != 0 || target >= kTargets) return nullptr;
    for (auto& drive : g_manager.drives)
        if (drive->Letter() - 'C' == target) return drive.get();
    return nullptr;
}

// Publishes the outcome: the status byte last, then the event.
void Finish(SrbExecScsiCmd* srb, DWORD status) {
    std::atomic_thread_fence(std::memory_order_release);
    reinterpret_cast<volatile uint8_t&>(srb->SRB_Status) = static_cast<uint8_t>(status);
    if ((srb->SRB_Flags & SRB_EVENT_NOTIFY) && srb->SRB_PostProc) ::SetEvent(static_cast<HANDLE>(srb->SRB_PostProc));
}

void Complete(SrbExecScsiCmd* srb) {
    SimDrive* drive = DriveAt(srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun);
    const uint8_t dirBits = srb->SRB_Flags & (SRB_DIR_IN | SRB_DIR_OUT);
    const int direction = dirBits == SRB_DIR_IN ? SIM_DIR_IN : dirBits == SRB_DIR_OUT ? SIM_DIR_OUT : SIM_DIR_NONE;
    uint8_t sense[sizeof srb->SenseArea] = {};
    const int senseLength = std::min<int>(srb->SRB_SenseLen, sizeof sense);
    const SimResult result = drive->Run(srb->CDBByte, srb->SRB_CDBLen, direction, srb->SRB_BufPointer,
                                        srb->SRB_BufLen, sense, senseLength);
    if (!g_manager.stateDir.empty()) {
        WriteFileText(StatePath("transcript.txt"), drive->Record(result.record).Format(drive->Letter()) + "\n", true);
        WriteStatus();
    }
    DWORD status = kComplete;
    srb->SRB_HaStat = 0;
    srb->SRB_TargStat = 0;
    if (result.status == SIM_NO_ANSWER) {
        srb->SRB_HaStat = kHostTimeout;
        status = kError;
    } else if (result.status != SIM_STATUS_GOOD) {
        srb->SRB_TargStat = static_cast<uint8_t>(result.status);
        // The sense area is written only on CHECK CONDITION: after any other
        // outcome it keeps what an earlier command left there.
        if (result.status == kCheckCondition) std::memcpy(srb->SenseArea, sense, size_t(result.senseWritten));
        status = kError;
    } else if (direction != SIM_DIR_NONE && (srb->SRB_Flags & SRB_ENABLE_RESIDUAL_COUNT)) {
        // Residual counting asked for: the bytes not moved, as the adapter
        // reports them (a scenario may make that report wrong).
        if (result.transferred < srb->SRB_BufLen) srb->SRB_HaStat = kOverUnderrun;
        srb->SRB_BufLen = static_cast<DWORD>(result.residual);
    } else if (result.residual != int64_t(srb->SRB_BufLen) - result.transferred) {
        // A wrong report without residual counting: none at all (zero), or a
        // count past the request.
        if (result.residual != 0) srb->SRB_BufLen = srb->SRB_BufLen + 16;
    } else if (result.transferred < srb->SRB_BufLen) {
        // A short transfer: flagged, and its count written back where the block
        // carried the length.
        srb->SRB_HaStat = kOverUnderrun;
        srb->SRB_BufLen = result.transferred;
    }
    Finish(srb, status);
}

DWORD WINAPI CompletionThread(LPVOID) {
    Manager& m = g_manager;
    for (;;) {
        EnterCriticalSection(&m.lock);
        while (m.queue.empty()) SleepConditionVariableCS(&m.queued, &m.lock, INFINITE);
        SrbExecScsiCmd* srb = m.queue.front();
        m.queue.pop_front();
        LeaveCriticalSection(&m.lock);
        Sleep(kCompletionDelayMs);
        Complete(srb);
    }
}

DWORD Refuse(uint8_t* status, DWORD code) {
    *status = static_cast<uint8_t>(code);
    return code;
}

DWORD ExecScsiCommand(SrbExecScsiCmd* srb) {
    if (!g_manager.ready) return Refuse(&srb->SRB_Status, kFailedInit);
    if (srb->SRB_HaId != 0) return Refuse(&srb->SRB_Status, kInvalidAdapter);
    if (!DriveAt(srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun)) return Refuse(&srb->SRB_Status, kNoDevice);
    const uint8_t dirBits = srb->SRB_Flags & (SRB_DIR_IN | SRB_DIR_OUT);
    // Both directions at once, a transfer without a direction or a buffer, or
    // a CDB that does not fit its field: refused as a real manager does.
    if (dirBits == (SRB_DIR_IN | SRB_DIR_OUT) || (dirBits == 0 && srb->SRB_BufLen != 0) ||
        (srb->SRB_BufLen != 0 && srb->SRB_BufPointer == nullptr) || srb->SRB_CDBLen == 0 ||
        srb->SRB_CDBLen > sizeof srb->CDBByte)
        return Refuse(&srb->SRB_Status, kInvalidSrb);

    Manager& m = g_manager;
    srb->SRB_Status = kPending;
    EnterCriticalSection(&m.lock);
    if (!m.thread) m.thread = CreateThread(nullptr, 0, CompletionThread, nullptr, 0, nullptr);
    if (!m.thread) {
        LeaveCriticalSection(&m.lock);
        return Refuse(&srb->SRB_Status, kError);
    }
    m.queue.push_back(srb);
    WakeConditionVariable(&m.queued);
    LeaveCriticalSection(&m.lock);
    return kPending;
}

void CopyPadded(uint8_t* field, size_t size, const char* text) {
    std::memset(field, 0, size);
    std::memcpy(field, text, std::min(size, std::strlen(text)));
}

DWORD AdapterInquiry(SrbHaInquiry* srb) {
    if (srb->SRB_HaId != 0) return Refuse(&srb->SRB_Status, kInvalidAdapter);
    srb->HA_Count = 1;
    srb->HA_SCSI_ID = 7;
    CopyPadded(srb->HA_ManagerId, sizeof srb->HA_ManagerId, "ASPI for WIN32");
    CopyPadded(srb->HA_Identifier, sizeof srb->HA_Identifier, "QM-SIM");
    std::memset(srb->HA_Unique, 0, sizeof srb->HA_Unique);
    srb->HA_Unique[HA_UNIQUE_FEATURES] = HA_REPORTS_RESIDUAL;
    srb->HA_Unique[3] = kTargets;                     // targets per adapter
    const uint32_t maxTransfer = 0x200000;            // bytes 4..7, little-endian
    std::memcpy(srb->HA_Unique + 4, &maxTransfer, 4);
    return Refuse(&srb->SRB_Status, kComplete);
}

// SRB_GDEVBlock: the device type at byte 8 after target and LUN.
DWORD DeviceType(uint8_t* srb) {
    if (srb[2] != 0) return Refuse(&srb[1], kInvalidAdapter);
    if (!DriveAt(srb[2], srb[8], srb[9])) return Refuse(&srb[1], kNoDevice);
    srb[10] = 0x05;  // CD/DVD device
    return Refuse(&srb[1], kComplete);
}

}  // namespace

// The drive model's clock: the system's (the DLL has no os/ floor of its own).
TimePort& OsTime() {
    static DllTime time;
    return time;
}

extern "C" {

__declspec(dllexport) DWORD GetASPI32SupportInfo() {
    EnsureInitialised();
    if (!g_manager.ready) return kFailedInit << 8;
    return (kComplete << 8) | 1;  // one host adapter
}

__declspec(dllexport) DWORD SendASPI32Command(void* request) {
    EnsureInitialised();
    if (!request) return kInvalidSrb;
    auto* header = static_cast<uint8_t*>(request);
    switch (header[0]) {
    case SC_HA_INQUIRY: return AdapterInquiry(static_cast<SrbHaInquiry*>(request));
    case kGetDeviceType: return DeviceType(header);
    case SC_EXEC_SCSI_CMD: return ExecScsiCommand(static_cast<SrbExecScsiCmd*>(request));
    default: return Refuse(&header[1], kInvalidSrb);
    }
}

__declspec(dllexport) DWORD GetASPI32DLLVersion() { return 1; }

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        // Tells the tests which processes loaded the manager at all; only
        // kernel32 is safe to use here.
        const std::string state = Environment("QM_ASPI_STATE");
        if (!state.empty()) {
            char line[64];
            std::snprintf(line, sizeof line, "loaded pid=%lu\n", GetCurrentProcessId());
            WriteFileText(state + "\\loaded.txt", line, true);
        }
    }
    return TRUE;
}

}  // extern "C"
