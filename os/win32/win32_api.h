// The Windows API as the seams use it. windows.h maps CreateEvent to CreateEventA,
// which would rename TimePort::CreateEvent in every file that includes both.
#pragma once
#include <windows.h>
#undef CreateEvent
