// Dialog templates as data, for the platform without a resource loader (Linux):
// the headless dialog back-end builds its windows from these. Generated from the
// same source as the Windows resources.
#pragma once
#include <cstdint>

struct ResControl {
    int id;                 // -1 for a control without an id
    const char* className;  // "BUTTON", "STATIC", "COMBOBOX", "msctls_progress32"
    const char* text;       // UTF-8
    uint32_t style;         // Win32 style bits, WS_CHILD | WS_VISIBLE included
    int x, y, cx, cy;       // dialog units
};

struct ResDialog {
    unsigned id;
    int language;
    uint32_t style;
    uint32_t exStyle;
    int cx, cy;
    int fontSize;
    const char* fontName;
    const char* caption;  // UTF-8
    const ResControl* controls;
    int controlCount;
};

// The template `id` in `language`, or nullptr when there is none.
const ResDialog* ResourceDialog(unsigned id, int language);
// Whether icon resource `id` exists.
bool ResourceIconExists(unsigned id);
