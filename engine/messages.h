// The message boxes the engine shows: texts from the string table, the program's
// caption, owned by the dialog that started the work.
#pragma once
#include "engine/worker.h"
#include <string>

constexpr unsigned MSG_RESTART = 109;
constexpr unsigned MSG_CAPTION = 112;
constexpr unsigned MSG_IMAGE_NOT_FOUND = 114;
constexpr unsigned MSG_INCOMPATIBLE_IMAGE = 118;
constexpr unsigned MSG_COMMAND_ERROR = 119;
constexpr unsigned MSG_FILE_OPEN_ERROR = 120;
constexpr unsigned MSG_UPDATE_NOT_NEEDED = 121;

// The text of string `id` in the user's language; empty when there is none.
std::string LoadMessageText(unsigned id);

// Shows string `id` followed by `tail`, caption 112, and returns the button pressed.
int ShowEngineMessage(WorkerHost& owner, unsigned id, const std::string& tail, unsigned style);

// Message 119: "command error occured", CR LF, and the report of the failed command.
void ShowCommandError(WorkerHost& owner);
