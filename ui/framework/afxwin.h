// Our small dialog framework: the stand-in for the parts of MFC the updater uses.
// An application object with start-up and exit hooks and a message loop, dialogs
// from resource templates (modal and modeless), controls by id, the system menu,
// timers, message boxes and messages posted across threads.
//
// Two back-ends implement it, chosen at link time: win32/ (real windows from the
// resource templates) and headless/ (an in-memory model of every window, used by
// the tests and by the Linux terminal front-end). Portable code includes only this
// header, never <windows.h>.
//
// The constants below (and the message-box styles and answers of os/message_box.h)
// carry the Win32 names and values. A Win32 back-end file must include this header
// before <windows.h> (through win32/win32.h): the system's macros then replace the
// names with the same values.
#pragma once
#include "os/message_box.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>

// --- Messages and their parameters (Win32 values) -----------------------------------
constexpr unsigned WM_NULL = 0x0000;
constexpr unsigned WM_PAINT = 0x000F;
constexpr unsigned WM_CLOSE = 0x0010;
constexpr unsigned WM_QUERYENDSESSION = 0x0011;
constexpr unsigned WM_QUIT = 0x0012;
constexpr unsigned WM_QUERYDRAGICON = 0x0037;
constexpr unsigned WM_KEYDOWN = 0x0100;
constexpr unsigned WM_INITDIALOG = 0x0110;
constexpr unsigned WM_COMMAND = 0x0111;
constexpr unsigned WM_SYSCOMMAND = 0x0112;
constexpr unsigned WM_TIMER = 0x0113;
constexpr unsigned WM_POWERBROADCAST = 0x0218;
constexpr unsigned WM_APP = 0x8000;

constexpr unsigned SC_MOVE = 0xF010;
constexpr unsigned SC_MINIMIZE = 0xF020;
constexpr unsigned SC_CLOSE = 0xF060;
constexpr unsigned SC_RESTORE = 0xF120;

constexpr uintptr_t PBT_APMQUERYSUSPEND = 0x0000;
constexpr intptr_t BROADCAST_QUERY_DENY = 0x424D5144;

constexpr unsigned VK_RETURN = 0x0D;
constexpr unsigned VK_ESCAPE = 0x1B;

constexpr unsigned BN_CLICKED = 0;
constexpr unsigned CBN_SELCHANGE = 1;
constexpr int CB_ERR = -1;

constexpr unsigned MF_BYCOMMAND = 0x0000;
constexpr unsigned MF_STRING = 0x0000;
constexpr unsigned MF_ENABLED = 0x0000;
constexpr unsigned MF_GRAYED = 0x0001;
constexpr unsigned MF_DISABLED = 0x0002;
constexpr unsigned MF_SEPARATOR = 0x0800;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_RESTORE = 9;

// A window handle as the instance mapping stores it: 32 bits (Win32 handles are
// 32-bit significant on both bitnesses; the headless back-end numbers its windows).
using WindowHandle = uint32_t;
// An icon loaded from the resources; opaque.
using UiIcon = const void*;

// A message as the message loop retrieved it.
struct Msg {
    WindowHandle hwnd;
    unsigned message;
    uintptr_t wParam;
    intptr_t lParam;
    const void* native;  // the back-end's own record (Win32: the MSG), or nullptr
};

class CDialog;

// --- Menus -------------------------------------------------------------------------
class CMenu {
public:
    bool AppendMenu(unsigned flags, uintptr_t id = 0, const char* text = nullptr);
    // Returns the previous state (MF_ENABLED, MF_GRAYED, MF_DISABLED bits) or
    // 0xFFFFFFFF when the item does not exist.
    unsigned EnableMenuItem(unsigned id, unsigned enable);

    uintptr_t m_hMenu = 0;     // Win32: the HMENU
    WindowHandle m_owner = 0;  // window whose system menu this is
};

// --- Windows -----------------------------------------------------------------------
class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    WindowHandle GetSafeHwnd() const { return m_hWnd; }

    // From any thread.
    bool PostMessage(unsigned message, uintptr_t wParam = 0, intptr_t lParam = 0);
    // A modal message box owned by this window, shown on the calling thread
    // (the user-interface thread or a worker). Returns the button pressed.
    int MessageBox(const char* text, const char* caption, unsigned type = MB_OK);

    // User-interface thread only.
    void SetWindowText(const char* text);
    std::string GetWindowText() const;
    bool EnableWindow(bool enable = true);  // true when it was disabled before
    bool IsWindowEnabled() const;
    bool ShowWindow(int command);           // true when it was visible before
    void UpdateWindow();
    bool IsWindowVisible() const;
    bool IsIconic() const;
    bool DestroyWindow();

    // A control of this dialog, or nullptr. The object stays owned by this window.
    CWnd* GetDlgItem(int id);
    void SetDlgItemText(int id, const char* text);
    std::string GetDlgItemText(int id);

    // nullptr when the window has no system menu. Owned by this window.
    CMenu* GetSystemMenu(bool revert);

    // Timer `id` posts WM_TIMER every `elapseMs`; replaces a timer of the same id.
    uintptr_t SetTimer(uintptr_t id, unsigned elapseMs);
    bool KillTimer(uintptr_t id);

    // WM_SETICON; returns the previous icon.
    UiIcon SetIcon(UiIcon icon, bool bigIcon);
    // WM_PAINT while minimised: erases the background and draws `icon` centred in
    // the client area.
    void PaintMinimizedIcon(UiIcon icon);

    WindowHandle m_hWnd = 0;

protected:
    std::map<int, std::unique_ptr<CWnd>> m_items;
    CMenu m_systemMenu;
};

class CComboBox : public CWnd {
public:
    void ResetContent();
    // Inserts at `index` (-1: at the end), never sorted. Returns the index or CB_ERR.
    int InsertString(int index, const char* text);
    int GetCount() const;
    int GetCurSel() const;
    // Returns the index, or CB_ERR when it is out of range (the selection is cleared).
    int SetCurSel(int index);
    std::string GetLBText(int index) const;
};

class CProgressCtrl : public CWnd {
public:
    void SetRange32(int lower, int upper);
    void GetRange(int& lower, int& upper) const;
    int SetPos(int pos);        // returns the previous position
    int OffsetPos(int delta);   // PBM_DELTAPOS; returns the previous position
    int GetPos() const;
};

// --- Dialogs -----------------------------------------------------------------------
class CDataExchange {
public:
    CDialog* m_pDlgWnd;
    bool m_bSaveAndValidate;
};

// Binds `control` to control `id` of the dialog being exchanged.
void DDX_Control(CDataExchange* dx, int id, CWnd& control);

class CDialog : public CWnd {
public:
    explicit CDialog(unsigned templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // Runs the dialog modally: its owner (the parent, else the application's main
    // window) is disabled meanwhile. Returns the EndDialog result, -1 when the
    // window cannot be created.
    virtual intptr_t DoModal();
    // Creates the dialog modeless; the template decides whether it is visible.
    virtual bool Create(unsigned templateId, CWnd* parent = nullptr);
    // Ends a modal run with `result`; hides a modeless dialog.
    void EndDialog(int result);

    unsigned GetTemplateId() const { return m_templateId; }
    bool UpdateData(bool saveAndValidate = true);

    // Every message of the window passes here first. The base dispatches to the
    // handlers below; an override that handles a message stores its result and
    // returns true, and calls the base for the rest.
    virtual bool OnWndMsg(unsigned message, uintptr_t wParam, intptr_t lParam, intptr_t* result);
    // Called by the message loop for every message retrieved for this dialog or its
    // controls before it is dispatched; true swallows it. The base performs the
    // dialog keys (Escape → IDCANCEL, Enter → default button or IDOK, Tab ...).
    virtual bool PreTranslateMessage(Msg* msg);

    virtual bool OnInitDialog();  // base: binds the controls (UpdateData(false))
    virtual void DoDataExchange(CDataExchange* dx);
    virtual void OnOK();      // base: EndDialog(IDOK)
    virtual void OnCancel();  // base: EndDialog(IDCANCEL)

    // Handlers dispatched by the base OnWndMsg.
    // WM_COMMAND: true when handled. Base: IDOK → OnOK, IDCANCEL → OnCancel.
    virtual bool OnCommand(unsigned id, unsigned notifyCode);
    // WM_SYSCOMMAND. Base: the system's processing (SC_CLOSE closes the dialog as a
    // cancel unless its cancel button is disabled).
    virtual void OnSysCommand(unsigned id, intptr_t lParam);
    virtual void OnTimer(uintptr_t id);  // base: nothing
    virtual void OnPaint();              // base: the dialog's own painting
    virtual UiIcon OnQueryDragIcon();    // base: none
    // WM_QUERYENDSESSION: true lets the session end. Base: the system's answer (true).
    virtual bool OnQueryEndSession();

    // Inside a handler: have the system's default processing run for the current
    // message once the handler returns.
    void Default();

    // Back-end bookkeeping; not for dialogs.
    struct Dispatch {
        bool defaultWanted = false;
    };
    Dispatch* m_dispatch = nullptr;
    // Hands one message to OnWndMsg; true when the system's default processing
    // must run for it (not handled, or the handler called Default()).
    bool RouteMessage(unsigned message, uintptr_t wParam, intptr_t lParam, intptr_t* result);
    bool m_ended = false;
    intptr_t m_result = 0;
    bool m_modal = false;

protected:
    unsigned m_templateId;
    CWnd* m_pParentWnd;
};

// --- Application -------------------------------------------------------------------
class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Start-up hook: true runs the message loop, false ends the process.
    virtual bool InitInstance();
    // Exit hook: returns the process exit code (base: the quit message's code).
    virtual int ExitInstance();
    // The message loop: until the quit message, then ExitInstance().
    virtual int Run();

    UiIcon LoadIcon(unsigned id) const;

    CWnd* m_pMainWnd = nullptr;
    int m_exitCode = 0;
};

// The one application object (nullptr when none was constructed).
CWinApp* AfxGetApp();
// The framework's start-up: InitInstance, then Run, or ExitInstance when it fails.
// Returns the process exit code. WinMain (Win32 back-end) calls it; on Linux main().
int AfxWinMain();
// PostQuitMessage: ends the calling thread's message loop with `exitCode`.
void AfxPostQuitMessage(int exitCode);
// InitCommonControls.
void AfxInitCommonControls();
// IsWindow and SetForegroundWindow on a handle from the instance mapping.
bool AfxIsWindow(WindowHandle hwnd);
bool AfxSetForegroundWindow(WindowHandle hwnd);
