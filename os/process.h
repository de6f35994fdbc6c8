// The process's raw command line and its resources' strings.
#pragma once

// GetCommandLineA. On Linux the program path and the arguments joined by single
// spaces, recorded by OsSetCommandLine from main().
const char* OsGetCommandLine();
void OsSetCommandLine(int argc, char** argv);

// LoadStringA from the string table in the user's language (English 1033 or
// Japanese 1041). Returns the length copied, 0 when the id does not exist.
// Linux picks Japanese when LC_ALL, LC_MESSAGES or LANG begins with "ja".
int OsLoadString(unsigned id, char* buffer, int size);
