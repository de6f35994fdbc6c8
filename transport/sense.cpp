#include "transport/sense.h"

#include "transport/last_request.h"

namespace {

constexpr int kAnyAscq = -1;

struct Meaning {
    uint8_t key, asc;
    int ascq;
    const char* en;
    const char* ja;
};

// The emulated drive raises some of these codes from a list of its own: it
// shares no constants with the product, so the two lists stay apart.
const Meaning kMeanings[] = {
    {0x03, 0x0C, 0x00, "write error", "書き込みエラー"},
    {0x02, 0x3A, kAnyAscq, "no medium", "ディスクがありません"},
    {0x05, 0x2C, 0x00, "command sequence error", "コマンドの順序エラー"},
    {0x02, 0x04, kAnyAscq, "the drive is not ready", "ドライブの準備ができていません"},
    {0x05, 0x24, 0x00, "invalid field in the command", "コマンドの値が不正です"},
    {0x05, 0x20, 0x00, "command not supported", "対応していないコマンドです"},
    {0x06, 0x29, kAnyAscq, "the drive was reset", "ドライブがリセットされました"},
};

}  // namespace

const char* SenseMeaning(uint8_t senseKey, uint8_t asc, uint8_t ascq, bool japanese) {
    const uint8_t key = senseKey & 0x0F;
    for (const Meaning& m : kMeanings)
        if (m.key == key && m.asc == asc && (m.ascq == kAnyAscq || m.ascq == ascq)) return japanese ? m.ja : m.en;
    return "";
}

const char* LastSenseMeaning(bool japanese) {
    const uint8_t* sense = LastSenseBytes();
    return SenseMeaning(sense[2], sense[12], sense[13], japanese);
}
