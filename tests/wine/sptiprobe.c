/* Minimal SPTI client: proves that a Windows program under Wine reaches the
 * emulated drive through "\\.\D:" and IOCTL_SCSI_PASS_THROUGH_DIRECT.
 * Prints the INQUIRY identification and revision, then the sense of a command
 * the drive must refuse, so that both the data path and the sense path show.
 * Usage: sptiprobe [letter]   (default D). Exit 0 when both answers arrived. */
#include <windows.h>
#include <ntddscsi.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

typedef struct {
  SCSI_PASS_THROUGH_DIRECT sptd;
  ULONG filler;
  UCHAR sense[32];
} SptdWithSense;

/* The same buffer goes in and out: Wine takes the record from the output. */
static int Send(HANDLE h, const UCHAR *cdb, UCHAR cdbLen, UCHAR dataIn, void *data, ULONG len,
                SptdWithSense *r) {
  DWORD returned = 0;
  memset(r, 0, sizeof *r);
  r->sptd.Length = sizeof r->sptd;
  r->sptd.CdbLength = cdbLen;
  r->sptd.SenseInfoLength = 18;
  r->sptd.DataIn = dataIn;
  r->sptd.DataTransferLength = len;
  r->sptd.TimeOutValue = 120;
  r->sptd.DataBuffer = data;
  r->sptd.SenseInfoOffset = (ULONG)offsetof(SptdWithSense, sense);
  memcpy(r->sptd.Cdb, cdb, cdbLen);
  if (!DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, r, sizeof *r, r, sizeof *r, &returned, NULL)) {
    printf("DeviceIoControl failed: error %lu\n", (unsigned long)GetLastError());
    return 0;
  }
  return 1;
}

int main(int argc, char **argv) {
  char path[8] = "\\\\.\\D:";
  static UCHAR data[256];
  SptdWithSense r;
  HANDLE h;
  int ok = 1;

  if (argc > 1 && argv[1][0]) path[4] = argv[1][0];
  {
    char root[4] = "D:\\";
    root[0] = path[4];
    printf("drive type: %u\n", GetDriveTypeA(root)); /* 5 = DRIVE_CDROM */
  }
  h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                  OPEN_EXISTING, 0, NULL);
  if (h == INVALID_HANDLE_VALUE) {
    printf("cannot open %s: error %lu\n", path, (unsigned long)GetLastError());
    return 2;
  }

  {
    /* 254 bytes, as the updater asks; the drive has fewer to give. */
    static const UCHAR inquiry[6] = {0x12, 0, 0, 0, 254, 0};
    if (Send(h, inquiry, 6, SCSI_IOCTL_DATA_IN, data, 254, &r) && r.sptd.ScsiStatus == 0) {
      char id[25], rev[5];
      int n = 24;
      memcpy(id, data + 8, 24);
      while (n > 0 && id[n - 1] == ' ') n--;
      id[n] = 0;
      memcpy(rev, data + 32, 4);
      rev[4] = 0;
      printf("inquiry: %s\nrevision: %s\n", id, rev);
      printf("inquiry DataTransferLength after: %lu\n", (unsigned long)r.sptd.DataTransferLength);
    } else {
      printf("inquiry failed: status %02X\n", r.sptd.ScsiStatus);
      ok = 0;
    }
  }
  {
    /* An opcode the drive does not implement: it must answer CHECK CONDITION
     * with fixed-format sense at SenseInfoOffset. */
    static const UCHAR unknown[12] = {0xE7};
    if (Send(h, unknown, 12, SCSI_IOCTL_DATA_UNSPECIFIED, NULL, 0, &r)) {
      printf("refusal: status %02X sense %02X/%02X/%02X\n", r.sptd.ScsiStatus, r.sense[2] & 0x0F,
             r.sense[12], r.sense[13]);
      printf("refusal SenseInfoLength after: %u\n", r.sptd.SenseInfoLength);
    } else {
      ok = 0;
    }
  }
  CloseHandle(h);
  return ok ? 0 : 1;
}
