#include "transport/sense.h"

#include "res/resource.h"
#include "transport/last_request.h"

namespace {

constexpr int kAnyAscq = -1;

struct Meaning {
    uint8_t key, asc;
    int ascq;
    unsigned text;
};

// The emulated drive raises some of these codes from a list of its own: it
// shares no constants with the product, so the two lists stay apart.
const Meaning kMeanings[] = {
    {0x03, 0x0C, 0x00, TXT_SENSE_WRITE_ERROR},
    {0x02, 0x3A, kAnyAscq, TXT_SENSE_NO_MEDIUM},
    {0x05, 0x2C, 0x00, TXT_SENSE_SEQUENCE_ERROR},
    {0x02, 0x04, kAnyAscq, TXT_SENSE_NOT_READY},
    {0x05, 0x24, 0x00, TXT_SENSE_INVALID_FIELD},
    {0x05, 0x20, 0x00, TXT_SENSE_UNSUPPORTED},
    {0x06, 0x29, kAnyAscq, TXT_SENSE_RESET},
};

}  // namespace

unsigned SenseMeaning(uint8_t senseKey, uint8_t asc, uint8_t ascq) {
    const uint8_t key = senseKey & 0x0F;
    for (const Meaning& m : kMeanings)
        if (m.key == key && m.asc == asc && (m.ascq == kAnyAscq || m.ascq == ascq)) return m.text;
    return 0;
}

unsigned LastSenseMeaning() {
    const uint8_t* sense = LastSenseBytes();
    return SenseMeaning(sense[2], sense[12], sense[13]);
}
