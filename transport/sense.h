// What a sense code means, in a few words, for the lines that report a refused
// command to the user.
#pragma once
#include <cstdint>

// The text id (a TXT_SENSE_ id of res/resource.h) of what "03/0C/00" and the like
// mean; 0 for a code not in the table. The key byte's flag bits (ILI, EOM,
// FILEMARK) do not change the meaning of its key.
unsigned SenseMeaning(uint8_t senseKey, uint8_t asc, uint8_t ascq);

// The meaning of the last command's sense, read from the record of the active
// transport.
unsigned LastSenseMeaning();
