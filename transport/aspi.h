// The ASPI manager back-end (Windows 95/98).
#pragma once
#include "os/types.h"
#include "transport/transport.h"
#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
// The published SRB_ExecSCSICmd with a 24-byte sense area: 88 bytes.
struct SrbExecScsiCmd {
    uint8_t  SRB_Cmd;
    uint8_t  SRB_Status;
    uint8_t  SRB_HaId;
    uint8_t  SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t  SRB_Target;
    uint8_t  SRB_Lun;
    uint16_t SRB_Rsvd1;
    uint32_t SRB_BufLen;
    uint8_t* SRB_BufPointer;
    uint8_t  SRB_SenseLen;
    uint8_t  SRB_CDBLen;
    uint8_t  SRB_HaStat;
    uint8_t  SRB_TargStat;
    void*    SRB_PostProc;     // the completion event's handle
    uint8_t  SRB_Rsvd2[20];
    uint8_t  CDBByte[16];
    uint8_t  SenseArea[24];
};
// The published SRB_HAInquiry: 60 bytes.
struct SrbHaInquiry {
    uint8_t  SRB_Cmd;
    uint8_t  SRB_Status;
    uint8_t  SRB_HaId;
    uint8_t  SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t  HA_Count;
    uint8_t  HA_SCSI_ID;
    uint8_t  HA_ManagerId[16];
    uint8_t  HA_Identifier[16];
    uint8_t  HA_Unique[16];
    uint16_t HA_Rsvd1;
};
#pragma pack(pop)
// ASPI for Win32 is a 32-bit interface; the 64-bit builds keep the same fields
// with 8-byte pointers so that the test manager and the program agree.
static_assert(sizeof(void*) != 4 || sizeof(SrbExecScsiCmd) == 88, "SRB_ExecSCSICmd is 88 bytes");
static_assert(sizeof(void*) != 4 || offsetof(SrbExecScsiCmd, CDBByte) == 48, "CDB at 48");
static_assert(sizeof(void*) != 4 || offsetof(SrbExecScsiCmd, SenseArea) == 64, "sense at 64");
static_assert(sizeof(SrbHaInquiry) == 60, "SRB_HAInquiry is 60 bytes");

constexpr uint8_t SC_HA_INQUIRY = 0;
constexpr uint8_t SC_EXEC_SCSI_CMD = 2;
constexpr uint8_t SRB_DIR_IN = 0x08;
constexpr uint8_t SRB_DIR_OUT = 0x10;
constexpr uint8_t SRB_EVENT_NOTIFY = 0x40;
// With this flag, a manager whose adapter reports residuals writes the bytes NOT
// moved into SRB_BufLen when the request completes; the adapter inquiry tells
// whether it does (HA_Unique byte 2, bit 1).
constexpr uint8_t SRB_ENABLE_RESIDUAL_COUNT = 0x04;
constexpr int HA_UNIQUE_FEATURES = 2;
constexpr uint8_t HA_REPORTS_RESIDUAL = 0x02;

// ASPI status codes the executors report for a request they never hand to the
// manager (besides SS_ERR of transport.h, for a transfer without a buffer).
constexpr int SS_NO_DEVICE = 0x82;               // g_selectedDevice names no table entry
constexpr int SS_NO_ASPI = 0xE3;                 // the manager or an entry point is missing
constexpr int SS_ASPI_IS_BUSY = 0xE5;            // g_srb is still held by a request that never completed
constexpr int SS_BUFFER_TOO_BIG = 0xE6;          // longer than the transfer buffers
constexpr int SS_INSUFFICIENT_RESOURCES = 0xE9;  // no completion event could be created

// SRB_HaStat of a transfer that moved another number of bytes than asked.
constexpr uint8_t HASTAT_DO_DU = 0x12;

// How long a command the manager accepted is waited for: as long as the SPTI
// back-end lets a command take.
constexpr uint32_t ASPI_COMMAND_WAIT_MS = SPTI_TIMEOUT_SECONDS * 1000;

// ASPI entry points are cdecl.
typedef uint32_t (*PfnGetASPI32SupportInfo)(void);
typedef uint32_t (*PfnSendASPI32Command)(void* srb);

extern OsHandle g_hAspiDll;
extern PfnGetASPI32SupportInfo g_pfnGetASPI32SupportInfo;
extern PfnSendASPI32Command g_pfnSendASPI32Command;
extern SrbExecScsiCmd g_srb;
// Set when the manager did not complete a request within ASPI_COMMAND_WAIT_MS. It
// may still write into g_srb, the transfer buffers and signal the event later, so
// none of them is reused, freed or closed again: every later command fails at
// once with SS_ASPI_IS_BUSY, and the buffers stay allocated until the process ends.
extern bool g_srbAbandoned;
// Per adapter id: its inquiry said that it reports residuals (discovery fills it).
extern bool g_adapterReportsResidual[256];
extern uint8_t g_scanHaId;
extern uint8_t g_scanTarget;
extern uint8_t g_scanLun;

// Loads "wnaspi32" from the system directory and both entry points; returns the
// string id naming the failure (IDS_ASPI_NOT_LOADED, IDS_ASPI_NO_SUPPORT_INFO,
// IDS_ASPI_NO_SEND_COMMAND) or 0. Sets TRANSPORT_ASPI either way.
int LoadAspiManager();
// True when both entry points are present. Without them nothing is ever called:
// every executor fails with SS_NO_ASPI and discovery finds no adapter.
bool AspiAvailable();

// GetASPI32SupportInfo: true with the number of host adapters when the manager
// reports SS_COMP; false (count 0) otherwise or when it is missing.
bool AspiHostAdapterCount(int* count);
// Sends an SRB_HAInquiry (SRB_Cmd set to SC_HA_INQUIRY, SRB_HaId as the caller
// set it). The manager answers it before returning, so nothing is waited for.
// Without the manager SRB_Status reads SS_NO_ASPI and nothing else changes.
void AspiInquireAdapter(SrbHaInquiry& block);

// The executors: SendASPI32Command with g_srb, waiting for the completion event
// only when the manager accepted the request (SS_PENDING), and then at most
// ASPI_COMMAND_WAIT_MS (after which the request is abandoned: SS_ERR, and see
// g_srbAbandoned). The status left in SRB_Status becomes g_scsiStatus; true on
// SS_COMP. The sense area is never cleared: after a success it still holds the
// last failure's sense.
//
// g_bytesTransferred is what the manager reports: the length asked, or the
// smaller count it writes back into SRB_BufLen; with SRB_HaStat HASTAT_DO_DU and
// no count, nothing is known to have arrived (0). A data-out command that the
// manager reports short is a failure (SS_ERR).

bool AspiExecute6(int direction, uint32_t length, const uint8_t* cdb);
bool AspiExecute10(int direction, uint32_t length, const uint8_t* cdb);
bool AspiExecute12(int direction, uint32_t length, const uint8_t* cdb);
bool AspiScanExecute6(int direction, uint32_t length, const uint8_t* cdb);
bool AspiScanExecute12(int direction, uint32_t length, const uint8_t* cdb);
