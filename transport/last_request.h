// The record of the last command of the active transport, as the sense
// classification and the command report read it.
#pragma once
#include <cstdint>

// The twelve CDB bytes last sent.
const uint8_t* LastCdbBytes();
// The sense area of the last command: key byte at 2, ASC at 12, ASCQ at 13.
const uint8_t* LastSenseBytes();
