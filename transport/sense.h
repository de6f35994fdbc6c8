// What a sense code means, in a few words, for the lines that report a refused
// command to the user.
#pragma once
#include <cstdint>

// "03/0C/00" and the like to a few words; "" for a code not in the table. The
// key byte's flag bits (ILI, EOM, FILEMARK) do not change the meaning of its key.
const char* SenseMeaning(uint8_t senseKey, uint8_t asc, uint8_t ascq, bool japanese);

// The meaning of the last command's sense, read from the record of the active
// transport.
const char* LastSenseMeaning(bool japanese);
