// The process's raw command line and its resources' strings.
#pragma once

// GetCommandLineA. On Linux the program path and the arguments joined by single
// spaces, recorded by OsSetCommandLine from main().
const char* OsGetCommandLine();
void OsSetCommandLine(int argc, char** argv);

// LoadStringA from the string table in the user's language (English 1033 or
// Japanese 1041). Returns the length copied, 0 when the id does not exist.
int OsLoadString(unsigned id, char* buffer, int size);

// The language of the resources the user sees, the string table's and the dialog
// templates' alike. Linux: Japanese (1041) when the first of LC_ALL, LC_MESSAGES
// and LANG that is set begins with "ja", else English (1033); a language fixed by
// OsSetResourceLanguage (tests) comes first, and 0 goes back to the locale.
// Windows: the resource loader chooses by itself; this answers 0 and fixes nothing.
int OsResourceLanguage();
void OsSetResourceLanguage(int language);
