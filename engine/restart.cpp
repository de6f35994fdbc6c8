#include "engine/restart.h"

#include "engine/messages.h"
#include "os/session.h"
#include "transport/transport.h"

#include <string>

void RestartWindows(WorkerHost& dialog) {
    SessionPort& session = OsSession();
    if (g_transport != TRANSPORT_ASPI) {
        ShowEngineMessage(dialog, IDS_RESTART, std::string(), MB_SYSTEMMODAL | MB_ICONINFORMATION);
        session.EnableShutdownPrivilege();
    }
    session.ForceRestart();
}
