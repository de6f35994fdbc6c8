// Shared between the files of the headless back-end only.
#pragma once
#include "ui/framework/afxwin.h"

namespace headless {
namespace detail {
// Hands a message box to the responder in force; texts converted to UTF-8.
int ShowMessageBox(WindowHandle owner, const char* text, const char* caption, unsigned style);
}  // namespace detail
}  // namespace headless
