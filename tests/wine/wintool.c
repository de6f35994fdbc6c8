/* Reads the windows of a Wine session for the end-to-end tests: which windows
 * are up, their titles and the texts, states and places of their controls,
 * and the X11 window behind each, so that xdotool can click there. It reads
 * from inside Wine because a message box's text lives in a control that no X
 * tool can read. It also types keys, as the keyboard would.
 *
 *   wintool.exe list
 *       every visible top-level window and its controls
 *   wintool.exe wait TIMEOUT_MS TITLE [ID=TEXT | ID~TEXT | ID! | ID? ...]
 *       waits until a visible top-level window titled TITLE exists whose
 *       controls match every condition (ID: the control id, decimal or 0x..;
 *       =TEXT the whole text, ~TEXT a part of it, with \r, \n and \\ for CR,
 *       LF and backslash; ! enabled, ? disabled),
 *       then prints it; exit 1 with the list of windows after TIMEOUT_MS
 *   wintool.exe gone TIMEOUT_MS HWND
 *       waits until the window HWND (hex) no longer exists or is hidden
 *   wintool.exe foreground
 *       the foreground window
 *   wintool.exe post HWND MSG WPARAM LPARAM
 *       posts a message (numbers decimal or 0x..)
 *   wintool.exe hold MS TITLE
 *       shows a window titled TITLE, makes it the foreground window and
 *       keeps it for MS milliseconds (another program in front of the tested one)
 *   wintool.exe key HWND KEY...
 *       makes HWND the foreground window and presses and releases each KEY
 *       (Return, Tab, Escape, space) through the system's keyboard input, so
 *       the key goes to the focus of that window, as a user's would. Each
 *       release reaches Wine even when the press closed the window, which a key
 *       sent to the window's X11 window cannot: a lost release would leave the
 *       key down for every later program of a long-lived wineserver.
 *
 * Output is UTF-8 whatever the code page. A window is printed as
 *   window HWND x11=XID pid=PID class=CLASS rect=L,T,R,B enabled=0|1 title=TEXT
 * and each of its controls (all descendants) as
 *   control ID x11=XID class=CLASS rect=L,T,R,B enabled=0|1 visible=0|1 text=TEXT
 * with CR, LF and backslash in texts written as \r, \n and \\. Rectangles are
 * in screen coordinates, which without a window manager are the X screen's. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static char out[1 << 16];
static size_t outLength;

static void Flush(void) {
    DWORD written;
    if (outLength) WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out, (DWORD)outLength, &written, NULL);
    outLength = 0;
}

static void Put(const char* text) {
    size_t n = strlen(text);
    if (outLength + n > sizeof out) Flush();
    if (n > sizeof out) n = sizeof out;
    memcpy(out + outLength, text, n);
    outLength += n;
}

/* Wide text as escaped UTF-8. */
static void PutText(const WCHAR* text) {
    char utf8[4096], escaped[8192];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL);
    size_t j = 0;
    if (n <= 0) utf8[0] = 0;
    for (size_t i = 0; utf8[i] && j + 3 < sizeof escaped; ++i) {
        char c = utf8[i];
        if (c == '\r' || c == '\n' || c == '\\') {
            escaped[j++] = '\\';
            escaped[j++] = c == '\r' ? 'r' : c == '\n' ? 'n' : '\\';
        } else {
            escaped[j++] = c;
        }
    }
    escaped[j] = 0;
    Put(escaped);
}

/* The X11 window Wine keeps for a window, 0 when it has none (yet). */
static unsigned long X11Window(HWND hwnd) {
    return (unsigned long)(ULONG_PTR)GetPropA(hwnd, "__wine_x11_whole_window");
}

/* The text of a window of another process: Wine keeps window texts in its
 * server, and a control's text is its window text. */
static void TextOf(HWND hwnd, WCHAR* text, int size) {
    DWORD_PTR result = 0;
    text[0] = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, (WPARAM)size, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, &result))
        GetWindowTextW(hwnd, text, size);
    text[size - 1] = 0;
}

static void PutRect(HWND hwnd) {
    RECT r;
    char line[80];
    GetWindowRect(hwnd, &r);
    snprintf(line, sizeof line, " rect=%ld,%ld,%ld,%ld", r.left, r.top, r.right, r.bottom);
    Put(line);
}

static BOOL CALLBACK PrintControl(HWND hwnd, LPARAM unused) {
    WCHAR className[64], text[2048];
    char line[128];
    (void)unused;
    GetClassNameW(hwnd, className, 64);
    TextOf(hwnd, text, 2048);
    snprintf(line, sizeof line, "  control %d x11=%lu class=", GetDlgCtrlID(hwnd), X11Window(hwnd));
    Put(line);
    PutText(className);
    PutRect(hwnd);
    snprintf(line, sizeof line, " enabled=%d visible=%d text=", IsWindowEnabled(hwnd) ? 1 : 0,
             IsWindowVisible(hwnd) ? 1 : 0);
    Put(line);
    PutText(text);
    Put("\n");
    return TRUE;
}

static void Describe(HWND hwnd) {
    WCHAR className[64], title[512];
    char line[160];
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    GetClassNameW(hwnd, className, 64);
    TextOf(hwnd, title, 512);
    snprintf(line, sizeof line, "window %p x11=%lu pid=%lu class=", (void*)hwnd, X11Window(hwnd), pid);
    Put(line);
    PutText(className);
    PutRect(hwnd);
    snprintf(line, sizeof line, " enabled=%d title=", IsWindowEnabled(hwnd) ? 1 : 0);
    Put(line);
    PutText(title);
    Put("\n");
    EnumChildWindows(hwnd, PrintControl, 0);
}

/* Top-level windows worth reporting: visible, and not Wine's own desktop or
 * message-only machinery. */
static BOOL Reportable(HWND hwnd) {
    WCHAR className[64];
    if (!IsWindowVisible(hwnd)) return FALSE;
    GetClassNameW(hwnd, className, 64);
    return wcscmp(className, L"#32769") != 0;
}

static BOOL CALLBACK PrintTopLevel(HWND hwnd, LPARAM unused) {
    (void)unused;
    if (Reportable(hwnd)) Describe(hwnd);
    return TRUE;
}

static long Number(const WCHAR* text) { return wcstol(text, NULL, 0); }
static HWND Handle(const WCHAR* text) { return (HWND)(ULONG_PTR)_wcstoui64(text, NULL, 16); }

/* One condition on a control: "ID=TEXT", "ID~TEXT", "ID!" or "ID?". */
typedef struct {
    int id;
    char op;
    WCHAR text[1024];
} Condition;

static int ParseCondition(const WCHAR* arg, Condition* c) {
    WCHAR* end;
    c->id = (int)wcstol(arg, &end, 0);
    if (end == arg || !*end || !wcschr(L"=~!?", *end)) return 0;
    c->op = (char)*end;
    c->text[0] = 0;
    if (c->op == '=' || c->op == '~') {
        /* \r, \n and \\ as in the output: line breaks are awkward in arguments. */
        const WCHAR* from = end + 1;
        int n = 0;
        while (*from && n < 1023) {
            if (from[0] == '\\' && (from[1] == 'r' || from[1] == 'n' || from[1] == '\\')) {
                c->text[n++] = from[1] == 'r' ? '\r' : from[1] == 'n' ? '\n' : '\\';
                from += 2;
            } else {
                c->text[n++] = *from++;
            }
        }
        c->text[n] = 0;
    }
    return 1;
}

typedef struct {
    const Condition* conditions;
    int count;
    WCHAR title[512];
    HWND found;
} Search;

static BOOL Holds(HWND window, const Condition* c) {
    WCHAR text[2048];
    HWND control = GetDlgItem(window, c->id);
    if (!control) return FALSE;
    switch (c->op) {
    case '!': return IsWindowEnabled(control);
    case '?': return !IsWindowEnabled(control);
    }
    TextOf(control, text, 2048);
    return c->op == '=' ? wcscmp(text, c->text) == 0 : wcsstr(text, c->text) != NULL;
}

static BOOL CALLBACK Match(HWND hwnd, LPARAM param) {
    Search* s = (Search*)param;
    WCHAR title[512];
    if (!Reportable(hwnd)) return TRUE;
    TextOf(hwnd, title, 512);
    if (wcscmp(title, s->title) != 0) return TRUE;
    for (int i = 0; i < s->count; ++i)
        if (!Holds(hwnd, &s->conditions[i])) return TRUE;
    s->found = hwnd;
    return FALSE;
}

static int Wait(int argc, WCHAR** argv) {
    static Condition conditions[16];
    Search s;
    DWORD timeout = (DWORD)Number(argv[2]), start = GetTickCount();
    memset(&s, 0, sizeof s);
    lstrcpynW(s.title, argv[3], 512);
    for (int i = 4; i < argc && s.count < 16; ++i) {
        if (!ParseCondition(argv[i], &conditions[s.count])) {
            fprintf(stderr, "wintool: bad condition '%ls'\n", argv[i]);
            return 2;
        }
        ++s.count;
    }
    s.conditions = conditions;
    for (;;) {
        s.found = NULL;
        EnumWindows(Match, (LPARAM)&s);
        if (s.found) {
            /* A window that has just appeared may still be getting its X11
             * window; xdotool needs it. */
            for (int i = 0; i < 50 && !X11Window(s.found); ++i) Sleep(20);
            Describe(s.found);
            Flush();
            return 0;
        }
        if (GetTickCount() - start >= timeout) break;
        Sleep(50);
    }
    Put("wintool: no such window; the windows are:\n");
    EnumWindows(PrintTopLevel, 0);
    Flush();
    return 1;
}

static int Gone(WCHAR** argv) {
    DWORD timeout = (DWORD)Number(argv[2]), start = GetTickCount();
    HWND hwnd = Handle(argv[3]);
    while (IsWindow(hwnd) && IsWindowVisible(hwnd)) {
        if (GetTickCount() - start >= timeout) return 1;
        Sleep(50);
    }
    return 0;
}

static LRESULT CALLBACK HolderProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

static int Hold(WCHAR** argv) {
    DWORD duration = (DWORD)Number(argv[2]), start = GetTickCount();
    WNDCLASSW wc;
    MSG msg;
    HWND hwnd;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = HolderProc;
    wc.hInstance = GetModuleHandleW(NULL);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = L"QmWintoolHolder";
    if (!RegisterClassW(&wc)) return 1;
    hwnd = CreateWindowW(wc.lpszClassName, argv[3], WS_OVERLAPPEDWINDOW | WS_VISIBLE, 500, 400, 300, 120, NULL, NULL,
                         wc.hInstance, NULL);
    if (!hwnd) return 1;
    SetForegroundWindow(hwnd);
    SetTimer(hwnd, 1, 50, NULL);
    while (GetTickCount() - start < duration && GetMessageW(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    DestroyWindow(hwnd);
    return 0;
}

static int Keys(int argc, WCHAR** argv) {
    static const struct {
        const WCHAR* name;
        WORD vk;
    } kKeys[] = {{L"Return", VK_RETURN}, {L"Tab", VK_TAB}, {L"Escape", VK_ESCAPE}, {L"space", VK_SPACE}};
    HWND hwnd = Handle(argv[2]);
    DWORD start = GetTickCount();
    int i;
    while (GetForegroundWindow() != hwnd) {
        if (!IsWindow(hwnd) || GetTickCount() - start >= 2000) {
            fprintf(stderr, "wintool: window %p is not in front\n", (void*)hwnd);
            return 1;
        }
        SetForegroundWindow(hwnd);
        Sleep(20);
    }
    for (i = 3; i < argc; ++i) {
        INPUT input[2];
        size_t k = 0;
        while (k < sizeof kKeys / sizeof kKeys[0] && wcscmp(kKeys[k].name, argv[i]) != 0) ++k;
        if (k == sizeof kKeys / sizeof kKeys[0]) {
            fprintf(stderr, "wintool: unknown key %ls\n", argv[i]);
            return 2;
        }
        memset(input, 0, sizeof input);
        input[0].type = input[1].type = INPUT_KEYBOARD;
        input[0].ki.wVk = input[1].ki.wVk = kKeys[k].vk;
        input[0].ki.wScan = input[1].ki.wScan = (WORD)MapVirtualKeyW(kKeys[k].vk, MAPVK_VK_TO_VSC);
        input[1].ki.dwFlags = KEYEVENTF_KEYUP;
        if (SendInput(2, input, sizeof input[0]) != 2) return 1;
    }
    return 0;
}

/* Wide arguments: the ANSI ones would lose the Japanese titles outside code page 932. */
int wmain(int argc, WCHAR** argv) {
    if (argc >= 2 && wcscmp(argv[1], L"list") == 0) {
        EnumWindows(PrintTopLevel, 0);
        Flush();
        return 0;
    }
    if (argc >= 4 && wcscmp(argv[1], L"wait") == 0) return Wait(argc, argv);
    if (argc == 4 && wcscmp(argv[1], L"gone") == 0) return Gone(argv);
    if (argc == 2 && wcscmp(argv[1], L"foreground") == 0) {
        HWND hwnd = GetForegroundWindow();
        if (hwnd) Describe(hwnd);
        Flush();
        return hwnd ? 0 : 1;
    }
    if (argc == 6 && wcscmp(argv[1], L"post") == 0) {
        HWND hwnd = Handle(argv[2]);
        return PostMessageW(hwnd, (UINT)Number(argv[3]), (WPARAM)Number(argv[4]), (LPARAM)Number(argv[5])) ? 0 : 1;
    }
    if (argc == 4 && wcscmp(argv[1], L"hold") == 0) return Hold(argv);
    if (argc >= 4 && wcscmp(argv[1], L"key") == 0) return Keys(argc, argv);
    fprintf(stderr,
            "usage: wintool.exe list | wait TIMEOUT_MS TITLE [ID=TEXT|ID~TEXT|ID!|ID? ...] | gone TIMEOUT_MS HWND\n"
            "                   | foreground | post HWND MSG WPARAM LPARAM | hold MS TITLE | key HWND KEY...\n");
    return 2;
}
