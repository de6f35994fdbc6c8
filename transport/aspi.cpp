// The ASPI manager back-end of the 95/98 family.
#include "transport/aspi.h"

#include "os/library.h"
#include "os/time.h"
#include "res/resource.h"
#include "transport/transport.h"

#include <cstring>

OsHandle g_hAspiDll = nullptr;
PfnGetASPI32SupportInfo g_pfnGetASPI32SupportInfo = nullptr;
PfnSendASPI32Command g_pfnSendASPI32Command = nullptr;
SrbExecScsiCmd g_srb;
bool g_srbAbandoned = false;
bool g_adapterReportsResidual[256] = {};
uint8_t g_scanHaId = 0;
uint8_t g_scanTarget = 0;
uint8_t g_scanLun = 0;

namespace {

constexpr uint8_t kSenseLength = 22;

template <typename Pfn>
Pfn EntryPoint(const char* name) {
    return reinterpret_cast<Pfn>(OsLibraries().GetProcAddress(g_hAspiDll, name));
}

// Whether the request may be handed to the manager at all; otherwise the status
// that tells why not.
int RefusalBeforeSending(const uint8_t* buffer, uint32_t length) {
    if (!AspiAvailable()) return SS_NO_ASPI;
    if (length > TRANSFER_BUFFER_SIZE) return SS_BUFFER_TOO_BIG;
    if (length > 0 && buffer == nullptr) return SS_ERR;
    return SS_PENDING;
}

constexpr uint32_t kImpossible = 0xFFFFFFFFu;

// What the manager reports of the bytes moved by a completed request; kImpossible
// when its report describes no transfer that can have happened.
uint32_t BytesMoved(uint32_t length, bool residualCounted) {
    if (residualCounted) return g_srb.SRB_BufLen > length ? kImpossible : length - g_srb.SRB_BufLen;
    if (g_srb.SRB_BufLen > length) return kImpossible;
    if (g_srb.SRB_BufLen < length) return g_srb.SRB_BufLen;
    // A transfer that was short or long, without a count: which bytes arrived is unknown.
    if (g_srb.SRB_HaStat == HASTAT_DO_DU) return 0;
    return length;
}

bool AspiExecute(uint8_t haId, uint8_t target, uint8_t lun, uint8_t flags, uint8_t* buffer,
                 uint8_t cdbLength, uint32_t length, const uint8_t* cdb, int refusal) {
    g_bytesTransferred = 0;
    g_transferUnknown = false;
    if (g_srbAbandoned) {
        // The manager may still be reading or writing the block: it is not touched.
        g_scsiStatus = SS_ASPI_IS_BUSY;
        return false;
    }
    if (g_adapterReportsResidual[haId]) flags |= SRB_ENABLE_RESIDUAL_COUNT;
    if ((flags & SRB_DIR_IN) && refusal == SS_PENDING) MarkReplyNotArrived(length);
    // The block keeps its sense area from earlier commands: ASPI writes it only
    // on CHECK CONDITION.
    g_srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    g_srb.SRB_HaId = haId;
    g_srb.SRB_Target = target;
    g_srb.SRB_Lun = lun;
    g_srb.SRB_Flags = flags;
    g_srb.SRB_BufPointer = buffer;
    g_srb.SRB_BufLen = length;
    g_srb.SRB_SenseLen = kSenseLength;
    g_srb.SRB_CDBLen = cdbLength;
    std::memcpy(g_srb.CDBByte, cdb, 12);
    g_srb.SRB_PostProc = nullptr;

    OsHandle event = nullptr;
    if (refusal == SS_PENDING) {
        event = OsTime().CreateEvent();
        if (!event) refusal = SS_INSUFFICIENT_RESOURCES;
    }
    if (refusal != SS_PENDING) {
        g_srb.SRB_Status = static_cast<uint8_t>(refusal);
        g_scsiStatus = refusal;
        return false;
    }

    g_srb.SRB_PostProc = event;
    // Only an accepted request is completed through the event; one refused at
    // once already carries its status and the event will never be signalled.
    if (g_pfnSendASPI32Command(&g_srb) == static_cast<uint32_t>(SS_PENDING) &&
        !OsTime().WaitEvent(event, ASPI_COMMAND_WAIT_MS)) {
        // Given up, not cancelled: the block, the buffers and the event stay the
        // manager's for as long as the process lives.
        g_srbAbandoned = true;
        g_scsiStatus = SS_ERR;
        return false;
    }
    OsTime().CloseEvent(event);
    g_srb.SRB_PostProc = nullptr;

    g_scsiStatus = g_srb.SRB_Status;
    if (g_scsiStatus != SS_COMP) return false;
    const uint32_t moved = BytesMoved(length, (flags & SRB_ENABLE_RESIDUAL_COUNT) != 0);
    g_transferUnknown = moved == kImpossible;
    if (g_transferUnknown || ((flags & SRB_DIR_OUT) && moved < length)) {
        // The count is no count at all, or the drive took only part of the data.
        g_scsiStatus = SS_ERR;
        return false;
    }
    g_bytesTransferred = moved;
    return true;
}

bool ExecuteSelected(uint8_t cdbLength, int direction, uint32_t length, const uint8_t* cdb) {
    // A no-data command leaves the direction to the command and names no buffer.
    uint8_t flags = SRB_EVENT_NOTIFY;
    uint8_t* buffer = nullptr;
    if (direction == DIR_IN) {
        flags |= SRB_DIR_IN;
        buffer = g_dataIn;
    } else if (direction == DIR_OUT) {
        flags |= SRB_DIR_OUT;
        buffer = g_dataOut;
    }
    int refusal = RefusalBeforeSending(buffer, length);
    DeviceEntry device{};
    if (g_selectedDevice >= 0 && g_selectedDevice < MAX_DEVICES)
        device = g_devices[g_selectedDevice];
    else if (refusal == SS_PENDING)
        refusal = SS_NO_DEVICE;  // no entry to address: nothing is sent anywhere
    return AspiExecute(device.haId, device.target, device.lun, flags, buffer, cdbLength, length, cdb,
                       refusal);
}

// Discovery's probes always read; any other direction goes out as data-out.
bool ExecuteScan(uint8_t cdbLength, int direction, uint32_t length, const uint8_t* cdb) {
    const bool in = direction == DIR_IN;
    uint8_t* buffer = in ? g_dataIn : g_dataOut;
    return AspiExecute(g_scanHaId, g_scanTarget, g_scanLun,
                       static_cast<uint8_t>(SRB_EVENT_NOTIFY | (in ? SRB_DIR_IN : SRB_DIR_OUT)), buffer,
                       cdbLength, length, cdb, RefusalBeforeSending(buffer, length));
}

}  // namespace

int LoadAspiManager() {
    int failure = 0;
    if (!g_hAspiDll) g_hAspiDll = OsLibraries().LoadSystemLibrary("wnaspi32");
    if (!g_hAspiDll) {
        failure = IDS_ASPI_NOT_LOADED;
    } else {
        g_pfnGetASPI32SupportInfo = EntryPoint<PfnGetASPI32SupportInfo>("GetASPI32SupportInfo");
        g_pfnSendASPI32Command = EntryPoint<PfnSendASPI32Command>("SendASPI32Command");
        if (!g_pfnGetASPI32SupportInfo)
            failure = IDS_ASPI_NO_SUPPORT_INFO;
        else if (!g_pfnSendASPI32Command)
            failure = IDS_ASPI_NO_SEND_COMMAND;
    }
    g_transport = TRANSPORT_ASPI;
    return failure;
}

bool AspiAvailable() { return g_pfnGetASPI32SupportInfo != nullptr && g_pfnSendASPI32Command != nullptr; }

bool AspiHostAdapterCount(int* count) {
    *count = 0;
    if (!AspiAvailable()) return false;
    const uint32_t info = g_pfnGetASPI32SupportInfo();
    if (((info >> 8) & 0xFF) != static_cast<uint32_t>(SS_COMP)) return false;
    *count = static_cast<int>(info & 0xFF);
    return true;
}

void AspiInquireAdapter(SrbHaInquiry& block) {
    block.SRB_Cmd = SC_HA_INQUIRY;
    if (!AspiAvailable()) {
        block.SRB_Status = static_cast<uint8_t>(SS_NO_ASPI);
        return;
    }
    // The manager answers an adapter inquiry before it returns.
    g_pfnSendASPI32Command(&block);
}

bool AspiExecute6(int direction, uint32_t length, const uint8_t* cdb) {
    return ExecuteSelected(6, direction, length, cdb);
}

bool AspiExecute10(int direction, uint32_t length, const uint8_t* cdb) {
    return ExecuteSelected(10, direction, length, cdb);
}

bool AspiExecute12(int direction, uint32_t length, const uint8_t* cdb) {
    return ExecuteSelected(12, direction, length, cdb);
}

bool AspiScanExecute6(int direction, uint32_t length, const uint8_t* cdb) {
    return ExecuteScan(6, direction, length, cdb);
}

bool AspiScanExecute12(int direction, uint32_t length, const uint8_t* cdb) {
    return ExecuteScan(12, direction, length, cdb);
}
