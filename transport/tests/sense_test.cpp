// Sense classification, the meanings told to the user, and which record the
// last command's sense is read from.
#include "transport/sense.h"

#include "res/resource.h"
#include "testing/transport_fixture.h"

namespace {

TEST(ClassifySense, Table) {
    struct Case {
        uint8_t key, asc, ascq;
        int expected;
    } cases[] = {
        {0x00, 0x00, 0x00, SENSE_NONE},
        {0x00, 0x00, 0x01, SENSE_OTHER},
        {0x00, 0x3A, 0x00, SENSE_OTHER},
        {0x02, 0x04, 0x01, SENSE_BECOMING_READY},
        {0x02, 0x04, 0x02, SENSE_INIT_REQUIRED},
        {0x02, 0x04, 0x00, SENSE_OTHER},
        {0x02, 0x3A, 0x00, SENSE_NO_MEDIUM},
        {0x02, 0x3A, 0x01, SENSE_NO_MEDIUM},
        {0x02, 0x3A, 0x02, SENSE_NO_MEDIUM},
        {0x02, 0x3A, 0x03, SENSE_OTHER},
        // The key byte is compared whole: a flag bit set is not the plain key.
        {0x22, 0x3A, 0x00, SENSE_OTHER},
        {0x82, 0x04, 0x01, SENSE_OTHER},
        {0x04, 0x08, 0x01, SENSE_COMM_TIMEOUT},
        {0x04, 0x4C, 0x00, SENSE_SELF_CONFIG_FAILED},
        {0x04, 0x3A, 0x00, SENSE_OTHER},
        {0x06, 0x28, 0x00, SENSE_MEDIUM_CHANGED},
        {0x06, 0x29, 0x00, SENSE_RESET},
        {0x06, 0x29, 0x01, SENSE_OTHER},
        {0x06, 0x3A, 0x00, SENSE_OTHER},
        {0x05, 0x20, 0x00, SENSE_OTHER},
        {0x03, 0x3A, 0x00, SENSE_OTHER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.key) << "/" << int(c.asc) << "/" << int(c.ascq));
        EXPECT_EQ(ClassifySense(c.key, c.asc, c.ascq), c.expected);
    }
}

TEST(SenseMeaning, Table) {
    struct Case {
        uint8_t key, asc, ascq;
        unsigned expected;
    } cases[] = {
        {0x03, 0x0C, 0x00, TXT_SENSE_WRITE_ERROR},
        {0x03, 0x0C, 0x01, 0},  // a qualifier the table names is matched exactly
        // Any qualifier of these codes means the same.
        {0x02, 0x3A, 0x00, TXT_SENSE_NO_MEDIUM},
        {0x02, 0x3A, 0x02, TXT_SENSE_NO_MEDIUM},
        {0x02, 0x3A, 0xFF, TXT_SENSE_NO_MEDIUM},
        {0x02, 0x04, 0x01, TXT_SENSE_NOT_READY},
        {0x02, 0x04, 0x02, TXT_SENSE_NOT_READY},
        {0x06, 0x29, 0x00, TXT_SENSE_RESET},
        {0x06, 0x29, 0x03, TXT_SENSE_RESET},
        {0x05, 0x2C, 0x00, TXT_SENSE_SEQUENCE_ERROR},
        {0x05, 0x24, 0x00, TXT_SENSE_INVALID_FIELD},
        {0x05, 0x20, 0x00, TXT_SENSE_UNSUPPORTED},
        // A flag bit of the key byte (ILI, EOM, FILEMARK) leaves the key's meaning.
        {0x23, 0x0C, 0x00, TXT_SENSE_WRITE_ERROR},
        {0xE2, 0x3A, 0x01, TXT_SENSE_NO_MEDIUM},
        // Codes not in the table, and known codes under another key.
        {0x00, 0x00, 0x00, 0},
        {0x05, 0x26, 0x00, 0},
        {0x04, 0x3A, 0x00, 0},
        {0x05, 0x0C, 0x00, 0},
        {0x03, 0x3A, 0x00, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.key) << "/" << int(c.asc) << "/" << int(c.ascq));
        EXPECT_EQ(SenseMeaning(c.key, c.asc, c.ascq), c.expected);
    }
}

using LastSenseTest = TransportTest;

// The last command's class and meaning come from the record of the active
// transport, never from the other one.
TEST_F(LastSenseTest, ReadsTheRecordOfTheActiveTransport) {
    g_sptd.sense[2] = 0x02;
    g_sptd.sense[12] = 0x3A;
    g_srb.SenseArea[2] = 0x06;
    g_srb.SenseArea[12] = 0x29;
    struct Case {
        int transport;
        int senseClass;
        unsigned meaning;
    } cases[] = {
        {0, SENSE_NO_MEDIUM, TXT_SENSE_NO_MEDIUM},
        {TRANSPORT_SPTI, SENSE_NO_MEDIUM, TXT_SENSE_NO_MEDIUM},
        {TRANSPORT_ASPI, SENSE_RESET, TXT_SENSE_RESET},
    };
    for (const Case& c : cases) {
        g_transport = c.transport;
        EXPECT_EQ(GetSenseClass(), c.senseClass) << "transport " << c.transport;
        EXPECT_EQ(LastSenseMeaning(), c.meaning) << "transport " << c.transport;
    }
}

}  // namespace
