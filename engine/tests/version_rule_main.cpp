// The version rule's cases as a Windows console program, run under Wine for the
// i686 and the x86_64 build: the i686 build computes on the x87, the x86_64 one
// with SSE. Prints a line for each case decided wrongly and then the summary;
// the exit code is the number of wrong decisions.
#include "engine/image.h"
#include "engine/tests/version_cases.h"

#include <cstdio>

int main() {
    int total = 0;
    int failed = 0;
    for (const VersionRuleCase& c : kVersionRuleCases) {
        ++total;
        bool needed = IsUpdateNeeded(VersionRuleRecord(c));
        if (needed != c.needed) {
            ++failed;
            std::printf("FAILED: %s: drive \"%s\" %s, image \"%s\" %s: %s, expected %s\n", c.name, c.current,
                        c.driveDate, c.image, c.imageDate, needed ? "needed" : "not needed",
                        c.needed ? "needed" : "not needed");
        }
    }
    std::printf("version rule: %d cases, %d failed\n", total, failed);
    return failed;
}
