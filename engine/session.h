// What every front-end does alike around the update: the one-updater mutex, the
// engine's start (transfer buffers, state, transport), discovery with its retry,
// and the INQUIRY that identifies the chosen drive.
#pragma once
#include "transport/discovery.h"

#include <cstdint>

constexpr char UPDATER_MUTEX_NAME[] = "VARN_UPDATER_BY_TORVELL";
constexpr uint32_t DISCOVERY_RETRY_MS = 3500;

// Takes the updater mutex for the rest of the process: its existence is what
// stops a second updater, whichever front-end either is. False when another
// updater holds it (or took it at the same moment).
bool TakeUpdaterMutex();

// The transfer buffers, the engine's state and the transport. False when the
// buffers cannot be had: nothing could be sent, no drive has been touched.
bool StartEngine();

// Discovery over the chosen transport (ASPI, else SPTI) and, when it finds
// nothing, once more after DISCOVERY_RETRY_MS. Returns the number of drives.
int DiscoverDrives(ScanHost& host);

// INQUIRY of the drive on g_hDevice into g_inquiryData; g_inquiryLength tells how
// much of it arrived (0 when the command failed; the rest is copied as the buffer
// held it).
void ReadInquiry();
