// The message boxes the engine shows: texts from the string table, the program's
// caption, owned by the dialog that started the work.
#pragma once
#include "engine/worker.h"
#include "res/resource.h"

#include <string>

// The text of string `id` in the user's language; empty when there is none.
std::string LoadMessageText(unsigned id);

// Shows string `id` followed by `tail`, caption IDS_CAPTION, and returns the
// button pressed.
int ShowEngineMessage(WorkerHost& owner, unsigned id, const std::string& tail, unsigned style);

// IDS_COMMAND_ERROR, "command error occured", CR LF, and the report of the
// failed command.
void ShowCommandError(WorkerHost& owner);
