// The two-line report of the last command, shown after a command error.
#include "transport/report.h"

#include "transport/last_request.h"

#include <cstdio>

void FormatCommandReport(std::string& report) {
    const uint8_t* c = LastCdbBytes();
    const uint8_t* s = LastSenseBytes();
    char command[80];
    std::snprintf(command, sizeof command,
                  "Command    : %02x %02x %02x %02x %02x %02x %02x %02x %02x %02x %02x %02x ",
                  c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], c[8], c[9], c[10], c[11]);
    char sense[32];
    std::snprintf(sense, sizeof sense, "Sense Code : %02x-%02x-%02x", s[2], s[12], s[13]);
    report = command;
    report += "\r\n";
    report += sense;
    report += "\r\n";
}
