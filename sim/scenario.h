// Scenario files: the emulated drives and their state and faults, chosen without
// recompiling. The format is described in sim/README.md.
#pragma once
#include "sim/drive.h"

#include <string>
#include <vector>

// Fills `drives` (one default drive D for an empty text). False with a message
// naming the line on the first error; `drives` is then left unchanged.
bool SimParseScenario(const std::string& text, std::vector<SimDriveConfig>* drives, std::string* error);
bool SimLoadScenario(const std::string& path, std::vector<SimDriveConfig>* drives, std::string* error);
