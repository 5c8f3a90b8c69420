#pragma once
// Start-up care of the program's own files in the user and common folders.
#include <string>

// Removes the temporary files that interrupted saves left behind ("env.dat.tmp<pid>" and the
// like, only of this program's files, only when that process is gone). Logs how many.
void RemoveStaleSaveFiles();

// "" when the user folder takes new files; otherwise the text that tells the player, once, that
// this run's settings and replays cannot be saved (also written to the trace log).
std::string UserFolderProblem();
