#include "engine/messages.h"

#include "os/process.h"
#include "transport/report.h"

std::string LoadMessageText(unsigned id) {
    char text[1024];
    int length = OsLoadString(id, text, sizeof text);
    if (length <= 0) return std::string();
    if (length >= static_cast<int>(sizeof text)) length = sizeof text - 1;
    return std::string(text, static_cast<size_t>(length));
}

int ShowEngineMessage(WorkerHost& owner, unsigned id, const std::string& tail, unsigned style) {
    std::string text = LoadMessageText(id) + tail;
    std::string caption = LoadMessageText(IDS_CAPTION);
    owner.EngineMessageShown(id);
    return owner.ShowMessageBox(text.c_str(), caption.c_str(), style);
}

void ShowCommandError(WorkerHost& owner) {
    std::string report;
    FormatCommandReport(report);
    ShowEngineMessage(owner, IDS_COMMAND_ERROR, "\r\n" + report, MB_ICONHAND);
}
