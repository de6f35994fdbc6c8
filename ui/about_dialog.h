// The about box: names the program and its version. Opened modally from the main
// dialog's system menu; OK, Escape and the close box all end it.
#pragma once
#include "ui/framework/afxwin.h"

constexpr unsigned IDM_ABOUT = 0x0010;  // the system-menu command that opens it

class CAboutDlg : public CDialog {
public:
    static constexpr unsigned IDD = 100;
    CAboutDlg() : CDialog(IDD) {}
};
