// The version rule's cases, shared by the native unit test and the Windows
// program that runs them on the i686 and x86_64 builds under Wine.
#pragma once
#include "engine/image.h"

#include <cstddef>
#include <cstring>

struct VersionRuleCase {
    const char* name;
    const char* current;  // the drive's revision, INQUIRY bytes 32..35
    const char* image;    // the image's version, file bytes 144..147
    const char* driveDate;
    const char* imageDate;
    bool needed;
};

// Each pair whose texts differ carries an image date later than the drive's,
// so a case that wrongly falls through to the dates says "needed".
constexpr VersionRuleCase kVersionRuleCases[] = {
    // Same text: the six-digit dates decide.
    {"same version and date", "1.00", "1.00", "090821", "090821", false},
    {"same version, image a day later", "1.00", "1.00", "090821", "090822", true},
    {"same version, image older", "1.00", "1.00", "090822", "090821", false},
    {"dates compared as numbers", "1.00", "1.00", "091231", "100101", true},
    // Numerically equal texts: no update, whatever the dates. Neither 1.1, 0.1 nor
    // 1.3 is a double exactly; 2.5 is.
    {"1.10 and 01.1 are equal", "1.10", "01.1", "090715", "090821", false},
    {"1.10 and 1.1 are equal", "1.10", "1.1", "090715", "090821", false},
    {"01.1 and 1.10 are equal", "01.1", "1.10", "090715", "090821", false},
    {"0.10 and .1 are equal", "0.10", ".1", "090715", "090821", false},
    {"1.30 and 1.3 are equal", "1.30", "1.3", "090715", "090821", false},
    {"2.50 and 02.5 are equal", "2.50", "02.5", "090715", "090821", false},
    {"1.00 and 01.0 are equal", "1.00", "01.0", "090821", "991231", false},
    {"explicit plus sign", "1.10", "+1.1", "090715", "090821", false},
    // By value, not as text.
    {"lower version whatever the dates", "1.10", "1.09", "090821", "991231", false},
    {"compared as numbers, not as text", "9.00", "10.0", "090821", "090821", true},
    {"fraction digits count by value", "1.09", "1.1 ", "090821", "090821", true},
    {"drive without a revision", "0000", "1.00", "000000", "090821", true},
    // Leading blanks are skipped; the number ends at the first other character.
    {"leading blank", " 1.0", "1.00", "090821", "991231", false},
    {"leading tab", "1.10", "\t1.1", "090715", "090821", false},
    {"trailing letter ends the number", "1.10", "1.1a", "090715", "090821", false},
    {"trailing letter after a newer number", "1.10", "1.2a", "090715", "090821", true},
    {"no number in the image reads as 0", "1.00", "ABCD", "090821", "991231", false},
    {"no number in the drive reads as 0", "ABCD", "0.01", "991231", "090821", true},
    {"hexadecimal is not read", "1.10", "0X20", "090715", "090821", false},
    {"infinity is not read", "1.10", "INF ", "090715", "090821", false},
    {"NaN is not read", "NAN ", "1.00", "090821", "090821", true},
    {"negative image", "0000", "-1.0", "090715", "090821", false},
    {"negative zero equals zero", "0000", "-0.0", "090715", "090821", false},
    {"negative drive", "-1.0", "0000", "090821", "090821", true},
    // Exponents: e, E, d or D, as the C runtime of the program's era reads them.
    {"exponent form", "2E0 ", "1.50", "090821", "090821", false},
    {"exponent without digits", "1.00", "1E  ", "090715", "090821", false},
    {"large values", "1E99", "9E99", "090821", "090821", true},
    {"large values, lower image", "9E99", "1E99", "090821", "090821", false},
    {"d exponent equals e exponent", "9E99", "9D99", "090715", "090821", false},
    {"d exponent is read", "9.00", "1D01", "090821", "090821", true},
    {"tiny value above zero", "0000", "1E-9", "090821", "090821", true},
    {"tiny values", "1E-9", "2E-9", "090821", "090821", true},
    {"tiny values equal", "1E-9", "1d-9", "090715", "090821", false},
};

// Copies at most size - 1 characters of `text` into the field and ends it there.
template <size_t size>
void SetVersionField(char (&field)[size], const char* text) {
    size_t n = std::strlen(text);
    if (n > size - 1) n = size - 1;
    std::memcpy(field, text, n);
    field[n] = 0;
}

inline VersionRecord VersionRuleRecord(const VersionRuleCase& c) {
    VersionRecord r{};
    SetVersionField(r.currentVersion, c.current);
    SetVersionField(r.imageVersion, c.image);
    SetVersionField(r.driveDate, c.driveDate);
    SetVersionField(r.imageDate, c.imageDate);
    return r;
}
