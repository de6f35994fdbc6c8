// The Linux names of the drives: letters C..Z stand for /dev/sr0../dev/sr23. The
// device service opens by them, and the native program shows and takes them.
#pragma once
#include <string>

// "/dev/srN" for drive letters C..Z (either case), "" for anything else.
std::string DevicePathForLetter(char driveLetter);
// The inverse, for exactly "/dev/srN" with N 0..23 written without leading zeros;
// 0 for anything else (links are not followed here).
char DriveLetterForDevicePath(const char* path);
