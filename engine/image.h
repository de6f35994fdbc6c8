// The firmware image file: where it is looked for, which of its bytes are read, and
// the two checks before an update (is it newer than the drive's firmware; does it
// belong to this drive).
#pragma once
#include "engine/worker.h"
#include "os/types.h"
#include <cstdint>
#include <string>

constexpr char IMAGE_FILE_NAME[] = "Q5518306.707";
constexpr char IMAGE_BUILD_DATE[] = "09/08/21";
constexpr int LOCATE_PATH_SIZE = 1024;

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
// fit (the caller shows IDS_IMAGE_NOT_FOUND): a cut path must never name another
// file.
bool SetImagePath(const char* path);

// What the version check compares, each field NUL-terminated.
struct VersionRecord {
    char currentVersion[5];  // INQUIRY bytes 32..35
    char imageVersion[5];    // image bytes 144..147
    char driveDate[7];       // INQUIRY bytes 37, 38, 40, 41, 43, 44
    char imageDate[7];       // image bytes 304, 305, 307, 308, 310, 311
    char driveName[17];      // INQUIRY bytes 8..23: vendor and the first 8 of the product
    bool revisionArrived;    // the INQUIRY reply reached byte 35
    bool dateArrived;        // ... and byte 44
};

// INQUIRY bytes the version rule needs: the revision ends at 35, the date at 44.
constexpr uint32_t INQUIRY_REVISION_END = 36;
constexpr uint32_t INQUIRY_DATE_END = 45;

// The drive's side of the record, from the first `length` bytes of INQUIRY data that
// arrived (of INQUIRY_LENGTH); bytes past them read as NUL.
void FillDriveVersion(const uint8_t* inquiry, uint32_t length, VersionRecord& record);
// What a drive's INQUIRY tells a person, each field as the reply holds it with
// trailing blanks taken off; empty when it did not arrive.
struct InquiryFields {
    std::string model;     // vendor and product, bytes 8..31
    std::string revision;  // bytes 32..35
    std::string date;      // bytes 37..44, as the drive writes it ("09/07/15")
};
// From the first `length` bytes of INQUIRY data that arrived.
InquiryFields DecodeInquiry(const uint8_t* inquiry, uint32_t length);
// The image's side: opens the image, reads 4 bytes at 144 and 8 at 304, closes it.
// False when it cannot be opened or either read comes back short.
bool ReadImageVersion(const char* imagePath, VersionRecord& record);

// The version rule: versions that differ as text are compared by the values the C
// runtime's atof reads from them (locale-independent, exact on every build); equal
// ones by their six-digit dates. True when the image is the newer.
bool IsUpdateNeeded(const VersionRecord& record);

constexpr int IMAGE_DRIVE_UNKNOWN = -2;
constexpr int IMAGE_UNREADABLE = -1;
constexpr int IMAGE_NOT_NEEDED = 0;
constexpr int IMAGE_NEEDED = 1;
// Fills `record` from the first `inquiryLength` bytes of INQUIRY data and from the
// image, and applies the version rule. IMAGE_DRIVE_UNKNOWN when the drive's revision
// did not arrive (the image is then not read), or its date did not and the
// revisions are equal as text: the dialogs end as for a failed INQUIRY.
// IMAGE_UNREADABLE when the image cannot be read (the dialog shows
// IDS_IMAGE_NOT_FOUND).
int ImageUpdateNeeded(const uint8_t* inquiry, uint32_t inquiryLength, const char* imagePath,
                      VersionRecord& record);

// The image's side of the version check that the dialog judged, handed to the
// update together with g_imagePath: validation accepts only an image that still
// carries it, so that a file replaced after the check is never sent on the strength
// of the old one's version. Nothing is sent while none was handed over.
struct CheckedImage {
    bool set;
    char version[5];  // as VersionRecord::imageVersion
    char date[7];     // as VersionRecord::imageDate
};
extern CheckedImage g_checkedImage;
void SetCheckedImage(const char* version, const char* date);

// A digest of the image in four lanes: 8-byte word k of the data (counted from
// the first call) goes to lane k % 4, whose 64-bit state takes it in by steps that
// are each one-to-one in the word and in the state. The lanes are independent
// chains, so the processor overlaps their multiplies; the four states are
// compared as a whole. So a change confined to one word always changes its lane
// and the digest. It is no cryptographic hash: a change of several words worked
// out on purpose keeps it, so it is a check against slips, never what keeps
// another process's change out of the drive (the image is held as
// OsOpenImageForUpdate opens it for that). The result depends on the data only,
// never on the build.
constexpr int IMAGE_DIGEST_LANES = 4;
constexpr uint32_t IMAGE_DIGEST_GROUP = 8 * IMAGE_DIGEST_LANES;  // bytes a round takes
struct ImageDigest {
    uint64_t lane[IMAGE_DIGEST_LANES];
    bool operator==(const ImageDigest& other) const;
    bool operator!=(const ImageDigest& other) const { return !(*this == other); }
};
static_assert(sizeof(ImageDigest) == 8 * IMAGE_DIGEST_LANES, "four 64-bit lanes, no padding");
// Where every digest starts: a distinct value per lane, so that lanes fed the same
// words still end in different states.
extern const ImageDigest IMAGE_DIGEST_START;
// Continues `digest` over `size` bytes. A call whose size is not a multiple of
// IMAGE_DIGEST_GROUP takes its last words (the very last one padded with zeros)
// into the first lanes and ends the lane order: the image is digested a block at
// a time, and blocks are whole groups.
void DigestBytes(ImageDigest& digest, const uint8_t* data, uint32_t size);

// The image that validation accepted, held (OsOpenImageForUpdate: unchangeable
// while held) until the update ends: the download reads the bytes that were
// validated, never the path a second time.
extern OsHandle g_hImage;
// The digest of the 1,966,080 bytes as validation read them; the final mode switch
// goes out only after blocks that digest the same.
extern ImageDigest g_imageDigest;
void CloseImage();

// Reads the whole transfer from `file`, offset 0 on, a block at a time through
// g_dataIn (never the whole image at once), into *digest; the first
// IMAGE_HEADER_END bytes also into `header` when given. False when the file ends
// before the transfer does.
bool DigestImage(OsHandle file, ImageDigest* digest, uint8_t* header = nullptr);

// Checks, on the worker, that the image at g_imagePath belongs to the selected
// drive: its signature against the drive's identification block, its build date, its
// drive identification, that it holds the whole transfer, and that it is the image
// the version check judged (g_checkedImage). Every field comes from the one reading
// that the digest is taken of. Shows IDS_COMMAND_ERROR (block unreadable, or
// without its state byte) or IDS_INCOMPATIBLE_IMAGE (mismatch, or an image too short
// for its header or for the 1,966,080 bytes sent) owned by `owner`; an image that
// cannot be opened fails with no message. Returns 1, holding the image in g_hImage,
// when it may be sent.
int ValidateImage(WorkerHost& owner);
