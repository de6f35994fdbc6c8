#include "engine/image.h"

#include "commands/commands.h"
#include "engine/messages.h"
#include "engine/update.h"
#include "os/file.h"
#include "transport/discovery.h"
#include "transport/transport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Reads exactly `length` bytes at `offset` and NUL-terminates them in `field`
// (length + 1 bytes). A short read is a failure, never a partly stale field.
bool ReadField(OsHandle file, uint32_t offset, char* field, uint32_t length) {
    std::memset(field, 0, length + 1);
    uint32_t got = 0;
    if (!OsSeekFile(file, offset)) return false;
    if (!OsReadFile(file, field, length, &got) || got != length) {
        std::memset(field, 0, length + 1);
        return false;
    }
    return true;
}

// The six digits of a "YY/MM/DD" text: positions 0, 1, 3, 4, 6, 7.
void TakeDateDigits(const char* date, char* digits) {
    static const int kPositions[6] = {0, 1, 3, 4, 6, 7};
    for (int i = 0; i < 6; ++i) digits[i] = date[kPositions[i]];
    digits[6] = 0;
}

void CopyText(char* to, const uint8_t* from, size_t length) {
    std::memcpy(to, from, length);
    to[length] = 0;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int LocateImage(char* path) {
    std::memset(path, 0, LOCATE_PATH_SIZE);
    char directory[LOCATE_PATH_SIZE] = {};
    uint32_t length = OsGetCurrentDirectory(sizeof directory, directory);
    if (length == 0 || length >= sizeof directory) return 0;
    // A directory that already ends in a separator gets a second one; the system
    // accepts the doubled separator.
    int written = std::snprintf(path, LOCATE_PATH_SIZE, "%s%c%s", directory,
                                kOsPathSeparator, IMAGE_FILE_NAME);
    if (written < 0 || written >= LOCATE_PATH_SIZE) return 0;
    OsHandle file = OsOpenImageFile(path);
    if (file == nullptr) return 0;
    OsCloseFile(file);
    return 1;
}

bool SetImagePath(const char* path) {
    size_t length = 0;
    while (length < static_cast<size_t>(IMAGE_PATH_SIZE) && path[length] != 0) ++length;
    if (length == static_cast<size_t>(IMAGE_PATH_SIZE)) {
        g_imagePath[0] = 0;
        return false;
    }
    std::memcpy(g_imagePath, path, length + 1);
    return true;
}

namespace {
// A field arrived when the reply reached its end and none of its bytes still
// holds the mark every data-in reply area starts with (an adapter's residual of
// 0 may mean "not reported").
bool FieldArrived(const uint8_t* reply, uint32_t length, uint32_t begin, uint32_t end) {
    if (length < end) return false;
    for (uint32_t i = begin; i < end; ++i)
        if (reply[i] == REPLY_NOT_ARRIVED) return false;
    return true;
}
}  // namespace

void FillDriveVersion(const uint8_t* inquiry, uint32_t length, VersionRecord& record) {
    // Bytes the drive did not send are none of its data, whatever the buffer held.
    uint8_t arrived[INQUIRY_LENGTH] = {};
    std::memcpy(arrived, inquiry, length < sizeof arrived ? length : sizeof arrived);
    CopyText(record.currentVersion, arrived + 32, 4);
    CopyText(record.driveName, arrived + 8, 16);
    char date[9];
    CopyText(date, arrived + 37, 8);
    TakeDateDigits(date, record.driveDate);
    record.revisionArrived = FieldArrived(inquiry, length, INQUIRY_REVISION_END - 4, INQUIRY_REVISION_END);
    record.dateArrived = FieldArrived(inquiry, length, INQUIRY_DATE_END - 8, INQUIRY_DATE_END);
}

InquiryFields DecodeInquiry(const uint8_t* inquiry, uint32_t length) {
    const auto field = [&](uint32_t from, uint32_t end) {
        if (!FieldArrived(inquiry, length, from, end)) return std::string();
        std::string text(reinterpret_cast<const char*>(inquiry) + from, end - from);
        while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
        return text;
    };
    return InquiryFields{field(8, 32), field(INQUIRY_REVISION_END - 4, INQUIRY_REVISION_END),
                         field(INQUIRY_DATE_END - 8, INQUIRY_DATE_END)};
}

bool ReadImageVersion(const char* imagePath, VersionRecord& record) {
    std::memset(record.imageVersion, 0, sizeof record.imageVersion);
    std::memset(record.imageDate, 0, sizeof record.imageDate);
    OsHandle file = OsOpenImageFile(imagePath);
    if (file == nullptr) return false;
    char version[IMAGE_VERSION_LENGTH + 1];
    char date[IMAGE_DATE_LENGTH + 1];
    bool ok = ReadField(file, IMAGE_VERSION_OFFSET, version, IMAGE_VERSION_LENGTH) &&
              ReadField(file, IMAGE_DATE_OFFSET, date, IMAGE_DATE_LENGTH);
    OsCloseFile(file);
    if (!ok) return false;
    std::memcpy(record.imageVersion, version, sizeof record.imageVersion);
    TakeDateDigits(date, record.imageDate);
    return true;
}

namespace {

// A version text's value as the Windows C runtime of the program's era reads it
// with atof: leading blanks, a sign, digits with at most one '.', and an exponent
// introduced by e, E, d or D; the longest such prefix, 0 when there is none. No
// hexadecimal, infinity or NaN forms, and '.' whatever the locale says.
// Kept as an exact decimal, 0.digits x 10^exponent: digits holds the significant
// digits without leading or trailing zeros, and is empty for zero.
struct DecimalValue {
    bool negative = false;
    std::string digits;
    long exponent = 0;
};

DecimalValue ReadVersionValue(const char* text) {
    DecimalValue value;
    const char* p = text;
    while (IsBlank(*p)) ++p;
    if (*p == '+' || *p == '-') value.negative = (*p++ == '-');
    long pointAt = 0;  // digits before the '.', less the leading zeros dropped
    bool any = false;
    for (; IsDigit(*p); ++p, any = true) {
        if (*p == '0' && value.digits.empty()) continue;
        value.digits += *p;
        ++pointAt;
    }
    if (*p == '.') {
        for (++p; IsDigit(*p); ++p, any = true) {
            if (*p == '0' && value.digits.empty()) {
                --pointAt;
            } else {
                value.digits += *p;
            }
        }
    }
    if (!any) return DecimalValue();
    long exponent = 0;
    if (*p == 'e' || *p == 'E' || *p == 'd' || *p == 'D') {
        const char* q = p + 1;
        bool negativeExponent = false;
        if (*q == '+' || *q == '-') negativeExponent = (*q++ == '-');
        for (; IsDigit(*q); ++q) {
            if (exponent < 100000) exponent = exponent * 10 + (*q - '0');
        }
        if (negativeExponent) exponent = -exponent;
    }
    while (!value.digits.empty() && value.digits.back() == '0') value.digits.pop_back();
    if (value.digits.empty()) return DecimalValue();  // zero, whatever its sign
    value.exponent = pointAt + exponent;
    return value;
}

// -1, 0 or 1 as a is below, equal to or above b.
int CompareMagnitudes(const DecimalValue& a, const DecimalValue& b) {
    if (a.digits.empty() || b.digits.empty()) {
        if (a.digits.empty() == b.digits.empty()) return 0;
        return a.digits.empty() ? -1 : 1;
    }
    if (a.exponent != b.exponent) return a.exponent < b.exponent ? -1 : 1;
    int order = a.digits.compare(b.digits);  // a shorter prefix is the smaller fraction
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

// Compares two version texts by the doubles atof would make of them, without
// floating point: an i686 build computes on the x87, where one value held in an
// 80-bit register and the other rounded to a double made "1.10" and "01.1"
// differ. Comparing the exact decimals decides the same as comparing the doubles
// for the four-character fields here: they hold at most four significant digits
// and, when not zero, lie between 1e-9 and 1e100, where distinct decimals of up
// to 15 significant digits round to distinct doubles and rounding keeps order.
int CompareVersionValues(const char* a, const char* b) {
    DecimalValue x = ReadVersionValue(a);
    DecimalValue y = ReadVersionValue(b);
    if (x.negative != y.negative) return x.negative ? -1 : 1;  // zero is never negative
    int order = CompareMagnitudes(x, y);
    return x.negative ? -order : order;
}

}  // namespace

bool IsUpdateNeeded(const VersionRecord& record) {
    if (std::strcmp(record.currentVersion, record.imageVersion) != 0) {
        return CompareVersionValues(record.imageVersion, record.currentVersion) > 0;
    }
    return std::atoi(record.imageDate) > std::atoi(record.driveDate);
}

int ImageUpdateNeeded(const uint8_t* inquiry, uint32_t inquiryLength, const char* imagePath,
                      VersionRecord& record) {
    record = VersionRecord();
    FillDriveVersion(inquiry, inquiryLength, record);
    // A value that did not arrive never makes an update needed.
    if (!record.revisionArrived) return IMAGE_DRIVE_UNKNOWN;
    if (!ReadImageVersion(imagePath, record)) return IMAGE_UNREADABLE;
    // The dates decide only between revisions equal as text.
    if (!record.dateArrived && std::strcmp(record.currentVersion, record.imageVersion) == 0)
        return IMAGE_DRIVE_UNKNOWN;
    return IsUpdateNeeded(record) ? IMAGE_NEEDED : IMAGE_NOT_NEEDED;
}

CheckedImage g_checkedImage = {};
OsHandle g_hImage = nullptr;
ImageDigest g_imageDigest = {};

void SetCheckedImage(const char* version, const char* date) {
    g_checkedImage = CheckedImage();
    std::strncpy(g_checkedImage.version, version, sizeof g_checkedImage.version - 1);
    std::strncpy(g_checkedImage.date, date, sizeof g_checkedImage.date - 1);
    g_checkedImage.set = true;
}

void CloseImage() {
    OsCloseFile(g_hImage);
    g_hImage = nullptr;
}

const ImageDigest IMAGE_DIGEST_START = {
    {0xcbf29ce484222325ull, 0x84caa73b8f5a9e51ull, 0x6c62272e07bb0142ull, 0x9e3779b97f4a7c15ull}};

bool ImageDigest::operator==(const ImageDigest& other) const {
    bool same = true;
    for (int k = 0; k < IMAGE_DIGEST_LANES; ++k) same = same && lane[k] == other.lane[k];
    return same;
}

namespace {

// One step of a lane. The xor is one-to-one in the word and in the state; the odd
// multiplier (one-to-one modulo 2^64) carries low bits upwards; the shift-xor
// (one-to-one: the high half passes unchanged) brings high bits down. Integer
// operations only: every build computes the same.
uint64_t MixWord(uint64_t lane, const uint8_t* at) {
    uint64_t word;
    std::memcpy(&word, at, 8);
    lane = (lane ^ word) * 0x9e3779b97f4a7c15ull;
    return lane ^ (lane >> 32);
}

// Each 32 KiB block starts a round: the lane of a word is its place in the image.
static_assert(IMAGE_BLOCK_SIZE % IMAGE_DIGEST_GROUP == 0, "a block is whole rounds");

}  // namespace

void DigestBytes(ImageDigest& digest, const uint8_t* data, uint32_t size) {
    // The lanes in locals, each step independent of the other lanes: four chains
    // of multiplies in flight at once instead of one.
    uint64_t l0 = digest.lane[0], l1 = digest.lane[1], l2 = digest.lane[2], l3 = digest.lane[3];
    const uint8_t* at = data;
    for (uint32_t rounds = size / IMAGE_DIGEST_GROUP; rounds > 0; --rounds, at += IMAGE_DIGEST_GROUP) {
        l0 = MixWord(l0, at);
        l1 = MixWord(l1, at + 8);
        l2 = MixWord(l2, at + 16);
        l3 = MixWord(l3, at + 24);
    }
    digest.lane[0] = l0;
    digest.lane[1] = l1;
    digest.lane[2] = l2;
    digest.lane[3] = l3;
    // A tail short of a round: its words into the first lanes, the last one padded.
    uint32_t left = size % IMAGE_DIGEST_GROUP;
    for (int k = 0; left > 0; ++k) {
        const uint32_t take = left < 8 ? left : 8;
        uint8_t word[8] = {};
        std::memcpy(word, at, take);
        digest.lane[k] = MixWord(digest.lane[k], word);
        left -= take;
        if (left > 0) at += 8;
    }
}

bool DigestImage(OsHandle file, ImageDigest* digest, uint8_t* header) {
    *digest = IMAGE_DIGEST_START;
    if (header) std::memset(header, 0, IMAGE_HEADER_END);
    if (!OsSeekFile(file, 0)) return false;
    for (uint32_t n = 0; n < IMAGE_BLOCK_COUNT; ++n) {
        uint32_t got = 0;
        if (!OsReadFile(file, g_dataIn, IMAGE_BLOCK_SIZE, &got) || got != IMAGE_BLOCK_SIZE) return false;
        if (n == 0 && header) std::memcpy(header, g_dataIn, IMAGE_HEADER_END);
        DigestBytes(*digest, g_dataIn, IMAGE_BLOCK_SIZE);
    }
    return true;
}

int ValidateImage(WorkerHost& owner) {
    // A block that ends before its state byte is a failed read: its signature may
    // not have arrived whole either.
    if (!CmdReadBuffer(BUFFER_ID_BLOCK, BUFFER_MODE_ID_BLOCK, 0, DRIVE_ID_BLOCK_LENGTH) ||
        !StateByteArrived()) {
        ShowCommandError(owner);
        return 0;
    }
    char blockPart1[IMAGE_SIGNATURE_PART_LENGTH + 1];
    char blockPart2[IMAGE_SIGNATURE_PART_LENGTH + 1];
    CopyText(blockPart1, g_dataIn + 16, IMAGE_SIGNATURE_PART_LENGTH);
    CopyText(blockPart2, g_dataIn + 24, IMAGE_SIGNATURE_PART_LENGTH);

    CloseImage();
    // Held so that what is read from it now is what the download reads later.
    g_hImage = OsOpenImageForUpdate(g_imagePath, IMAGE_TRANSFER_SIZE);
    if (g_hImage == nullptr) return 0;
    // One reading gives both the header fields compared here and the digest that
    // the download is held to: the bytes judged are the bytes sent.
    uint8_t header[IMAGE_HEADER_END];
    ImageDigest digest = {};
    const bool complete = DigestImage(g_hImage, &digest, header);
    char part1[IMAGE_SIGNATURE_PART_LENGTH + 1];
    char part2[IMAGE_SIGNATURE_PART_LENGTH + 1];
    char date[IMAGE_DATE_LENGTH + 1];
    char id[DRIVE_ID_LENGTH + 1];
    char version[IMAGE_VERSION_LENGTH + 1];
    char dateDigits[7];
    CopyText(part1, header + IMAGE_SIGNATURE1_OFFSET, IMAGE_SIGNATURE_PART_LENGTH);
    CopyText(part2, header + IMAGE_SIGNATURE2_OFFSET, IMAGE_SIGNATURE_PART_LENGTH);
    CopyText(date, header + IMAGE_DATE_OFFSET, IMAGE_DATE_LENGTH);
    CopyText(id, header + IMAGE_ID_OFFSET, DRIVE_ID_LENGTH);
    CopyText(version, header + IMAGE_VERSION_OFFSET, IMAGE_VERSION_LENGTH);
    TakeDateDigits(date, dateDigits);

    // An image too short for its header, or for the whole transfer, is no image for
    // this drive: a download that stops part-way leaves the drive half-written. One
    // whose version or date is not what the version check judged is not the image
    // the user was shown.
    if (!complete || std::strcmp(blockPart1, part1) != 0 || std::strcmp(blockPart2, part2) != 0 ||
        std::strcmp(IMAGE_BUILD_DATE, date) != 0 || std::strcmp(DRIVE_ID_TEXT, id) != 0 ||
        !g_checkedImage.set || std::strcmp(g_checkedImage.version, version) != 0 ||
        std::strcmp(g_checkedImage.date, dateDigits) != 0) {
        CloseImage();
        ShowEngineMessage(owner, IDS_INCOMPATIBLE_IMAGE, std::string(), MB_ICONHAND);
        return 0;
    }
    g_imageDigest = digest;
    return 1;
}
