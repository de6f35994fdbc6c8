// Message-box styles and the buttons that answer them, with the Win32 names and
// values: the engine asks for boxes in these terms and the dialog framework shows
// them. Include this before <windows.h>, whose macros then stand for the same
// values (the framework's Win32 back-end does so through its own header).
#pragma once

constexpr unsigned MB_OK = 0x0000;
constexpr unsigned MB_OKCANCEL = 0x0001;
constexpr unsigned MB_YESNO = 0x0004;
constexpr unsigned MB_TYPEMASK = 0x000F;
constexpr unsigned MB_ICONHAND = 0x0010;
constexpr unsigned MB_ICONEXCLAMATION = 0x0030;
constexpr unsigned MB_ICONINFORMATION = 0x0040;
constexpr unsigned MB_SYSTEMMODAL = 0x1000;

// The buttons; IDOK and IDCANCEL are the dialogs' button ids too.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
