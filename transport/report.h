// The two-line report of the last failed command.
#pragma once
#include <string>

void FormatCommandReport(std::string& report);
