#include "engine/restart.h"

#include "engine/messages.h"
#include "os/session.h"
#include "transport/transport.h"

#include <string>

void RestartWindows(WorkerHost& dialog) {
    SessionPort& session = OsSession();
    if (g_transport != TRANSPORT_ASPI) {
        ShowEngineMessage(dialog, MSG_RESTART, std::string(),
                          MB_SYSTEMMODAL_STYLE | MB_ICONINFORMATION_STYLE);
        session.EnableShutdownPrivilege();
    }
    session.ForceRestart();
}
