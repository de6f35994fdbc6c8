// Shared by the Win32 back-end's files only. The framework header comes first, so
// that <windows.h> turns its constant names into the system's macros of the same
// values; then the system's generic-name macros that collide with the framework's
// member names are removed (this back-end calls the ...A functions by name).
#pragma once
#include "ui/framework/afxwin.h"

#include <windows.h>
#include <commctrl.h>

#undef AppendMenu
#undef GetDlgItemText
#undef GetWindowText
#undef LoadIcon
#undef MessageBox
#undef PostMessage
#undef SendMessage
#undef SetDlgItemText
#undef SetWindowText

namespace win32 {

inline HWND H(WindowHandle hwnd) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(hwnd)); }
inline WindowHandle W(HWND hwnd) { return static_cast<WindowHandle>(reinterpret_cast<uintptr_t>(hwnd)); }

// The owner a dialog without a parent gets: the application's main window.
HWND DefaultOwner(const CWnd* self);
// Gives the message to its dialog's PreTranslateMessage, then translates and
// dispatches it unless that swallowed it.
void TranslateAndDispatch(MSG& msg);

}  // namespace win32
