// The application: the single-instance guard (the instance mapping), the choice of
// mode from the raw command line, and the end of the process.
#pragma once
#include "os/types.h"
#include "ui/framework/afxwin.h"

#include <cstdint>

// "トーベルCBC1" as its Shift-JIS bytes: every instance must use exactly these.
// (Split so that the hex escape does not swallow the letters after it.)
constexpr char INSTANCE_MAPPING_NAME[] = "\x83\x67\x81\x5B\x83\x78\x83\x8B" "CBC1";
constexpr uint32_t INSTANCE_MAPPING_SIZE = 10;

// The four bytes space, '/', 'a', 'u' anywhere in the raw command line.
bool IsUnattendedCommandLine(const char* commandLine);

class CAutoDlg;

class CUpdaterApp : public CWinApp {
public:
    CUpdaterApp();
    ~CUpdaterApp() override;

    bool InitInstance() override;
    int ExitInstance() override;

    // The instance mapping, in the process that created it; null otherwise.
    OsHandle m_hMapping = nullptr;

private:
    CAutoDlg* m_autoDlg = nullptr;
};
