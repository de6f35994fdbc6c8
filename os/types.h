// Types shared by every floor above the platform seams.
#pragma once
#include <cstdint>

// An opaque system handle (file, device, module, thread, event). nullptr is "none":
// the seams turn INVALID_HANDLE_VALUE and failed opens into nullptr.
using OsHandle = void*;
