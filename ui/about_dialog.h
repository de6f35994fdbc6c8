// The about box: names the program and its version. Opened modally from the main
// dialog's system menu; OK, Escape and the close box all end it.
#pragma once
#include "res/resource.h"
#include "ui/framework/afxwin.h"

class CAboutDlg : public CDialog {
public:
    static constexpr unsigned IDD = IDD_ABOUTBOX;
    CAboutDlg() : CDialog(IDD) {}
};
