// The firmware image file: where it is looked for, which of its bytes are read, and
// the two checks before an update (is it newer than the drive's firmware; does it
// belong to this drive).
#pragma once
#include "engine/worker.h"
#include <cstdint>

constexpr char IMAGE_FILE_NAME[] = "Q5518306.707";
constexpr char IMAGE_BUILD_DATE[] = "09/08/21";
constexpr int LOCATE_PATH_SIZE = 1024;
// READ BUFFER mode of the identification block (buffer BUFFER_ID_BLOCK).
constexpr uint8_t BUFFER_MODE_ID_BLOCK = 0x02;

// Header fields: file offset and length.
constexpr uint32_t IMAGE_ID_OFFSET = 96;
constexpr uint32_t IMAGE_VERSION_OFFSET = 144;
constexpr uint32_t IMAGE_SIGNATURE1_OFFSET = 176;
constexpr uint32_t IMAGE_SIGNATURE2_OFFSET = 208;
constexpr uint32_t IMAGE_DATE_OFFSET = 304;
constexpr uint32_t IMAGE_VERSION_LENGTH = 4;
constexpr uint32_t IMAGE_SIGNATURE_PART_LENGTH = 8;
constexpr uint32_t IMAGE_DATE_LENGTH = 8;
// The last header field ends here; a shorter file has no header.
constexpr uint32_t IMAGE_HEADER_END = IMAGE_DATE_OFFSET + IMAGE_DATE_LENGTH;

// Writes the current directory, a separator and IMAGE_FILE_NAME into `path`
// (LOCATE_PATH_SIZE bytes, always NUL-terminated). Returns 1 when that file can be
// opened, else 0; also 0 when the whole path does not fit (`path` then shows as much
// of it as fits and is never opened).
int LocateImage(char* path);

// Copies `path` into g_imagePath. False, leaving g_imagePath empty, when it does not
// fit (the caller shows message 114): a cut path must never name another file.
bool SetImagePath(const char* path);

// What the version check compares, each field NUL-terminated.
struct VersionRecord {
    char currentVersion[5];  // INQUIRY bytes 32..35
    char imageVersion[5];    // image bytes 144..147
    char driveDate[7];       // INQUIRY bytes 37, 38, 40, 41, 43, 44
    char imageDate[7];       // image bytes 304, 305, 307, 308, 310, 311
    char driveName[17];      // INQUIRY bytes 8..23: vendor and the first 8 of the product
};

// The drive's side of the record, from 254 bytes of INQUIRY data.
void FillDriveVersion(const uint8_t* inquiry, VersionRecord& record);
// The image's side: opens the image, reads 4 bytes at 144 and 8 at 304, closes it.
// False when it cannot be opened or either read comes back short.
bool ReadImageVersion(const char* imagePath, VersionRecord& record);

// The version rule: versions that differ as text are compared by the values the C
// runtime's atof reads from them (locale-independent, exact on every build); equal
// ones by their six-digit dates. True when the image is the newer.
bool IsUpdateNeeded(const VersionRecord& record);

constexpr int IMAGE_UNREADABLE = -1;
constexpr int IMAGE_NOT_NEEDED = 0;
constexpr int IMAGE_NEEDED = 1;
// Fills `record` from the INQUIRY data and the image and applies the version rule.
// IMAGE_UNREADABLE when the image cannot be read (the dialog shows message 114).
int ImageUpdateNeeded(const uint8_t* inquiry, const char* imagePath, VersionRecord& record);

// Checks, on the worker, that the image at g_imagePath belongs to the selected
// drive: its signature against the drive's identification block, its build date, its
// drive identification, and that it holds the whole transfer. Shows 119 (block
// unreadable) or 118 (mismatch, or an image too short for its header or for the
// 1,966,080 bytes sent) owned by `owner`; an image that cannot be opened
// fails with no message. Returns 1 when the image may be sent.
int ValidateImage(WorkerHost& owner);
