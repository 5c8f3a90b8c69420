#pragma once
// Start-up care of the program's own files in the user and common folders.
#include <string>

// Removes the temporary files that interrupted saves left behind ("env.dat.tmp<pid>" and the
// like, only of this program's files, only when that process is gone). Logs how many.
void RemoveStaleSaveFiles();
// The same in one folder, silently (for -uninstall, which keeps no log); the number removed.
int RemoveStaleSaveFilesIn(const std::string& dir);

// "" when the user folder takes new files; otherwise the text that tells the player, once, that
// this run's settings and replays cannot be saved (also written to the trace log and noted as
// this run's save failure, below).
std::string UserFolderProblem();

// A save of the player's files (settings, highscores, replays, downloads) that failed is told to
// the player once per run, by the menu when it is in front (never from inside a game). The
// savers note the failure from any thread; the first one noted is the one told. The box names
// the file that failed and what failed on it: the read of a save's source, or the write.
enum class TFileOp { Read, Write };
void NoteSaveFailure(const std::string& fileName, const std::string& reason, TFileOp op = TFileOp::Write);
// The text of the box for the failure noted first, once: "" when nothing failed or it was told.
std::string TakeSaveFailureText();
// A new run: nothing noted, nothing told.
void ResetSaveFailures();
// SaveFileAtomically for the player's files: a failure is noted with the system's reason, and
// errno is left as the failed save set it.
bool SaveUserFile(const std::string& fileName, const std::string& bytes);
