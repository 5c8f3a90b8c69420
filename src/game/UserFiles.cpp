#include "game/UserFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "base/SysUtils.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"

namespace {
std::string FolderProblemText(const std::string& dir, const std::string& reason) {
  return "Kestrune cannot save in the folder " + dir + " (" + reason + ").\r" +
         "Settings, highscores and replays of this session will not be saved.";
}

struct TSaveFailures {
  std::mutex Lock;
  bool Noted = false, Told = false;
  TFileOp Op = TFileOp::Write;
  std::string FileName, Reason;
};
TSaveFailures& SaveFailures() {
  static TSaveFailures* failures = new TSaveFailures;  // savers may run until the very end
  return *failures;
}
}  // namespace

int RemoveStaleSaveFilesIn(const std::string& dir) {
  static const std::vector<std::string> kNames = {"env.dat",    "env.dat.damaged", "qv.log",        "last.gmp",
                                                  "mybest.gmp", "mybest.old.gmp",  "worldbest.gmp", "l3codecx.acm",
                                                  "KTGame.wav", "KTMenu.wav",      "KTHighScore.wav"};
  static const std::vector<std::string> kExtensions = {".lvl", ".scn"};
  return RemoveStaleTempFiles(dir, kNames, kExtensions);
}

void RemoveStaleSaveFiles() {
  int removed = RemoveStaleSaveFilesIn(UserDataDir);
  if (CommonDataDir != UserDataDir) removed += RemoveStaleSaveFilesIn(CommonDataDir);
  if (removed > 0) Log("Removed " + std::to_string(removed) + " unfinished temporary file(s) of earlier saves", ltInfo);
}

std::string UserFolderProblem() {
  // What every save does first: a new file beside the old one.
  const std::string probe = UserDataDir + "env.dat.tmp" + std::to_string(::getpid());
  const int fd = OpenRegularFile(probe, O_WRONLY | O_CREAT | O_EXCL);
  if (fd >= 0) {
    ::close(fd);
    DeleteFile(probe);
    return {};
  }
  const std::string reason = std::strerror(errno);
  Log("The user folder " + UserDataDir + " cannot be written to (" + reason + ")", ltWarning);
  NoteSaveFailure(UserDataDir, reason);
  return FolderProblemText(UserDataDir, reason);
}

void NoteSaveFailure(const std::string& fileName, const std::string& reason, TFileOp op) {
  TSaveFailures& f = SaveFailures();
  std::lock_guard<std::mutex> g(f.Lock);
  if (f.Noted) return;
  f.Noted = true;
  f.Op = op;
  f.FileName = fileName;
  f.Reason = reason;
}

std::string TakeSaveFailureText() {
  TSaveFailures& f = SaveFailures();
  std::lock_guard<std::mutex> g(f.Lock);
  if (!f.Noted || f.Told) return {};
  f.Told = true;
  if (!f.FileName.empty() && f.FileName.back() == '/') return FolderProblemText(f.FileName, f.Reason);
  return std::string("Kestrune could not ") + (f.Op == TFileOp::Read ? "read" : "save") + " the file " + f.FileName +
         " (" + f.Reason + ").\r" + "Settings, highscores and replays of this session may not be saved.";
}

void ResetSaveFailures() {
  TSaveFailures& f = SaveFailures();
  std::lock_guard<std::mutex> g(f.Lock);
  f.Noted = f.Told = false;
  f.Op = TFileOp::Write;
  f.FileName.clear();
  f.Reason.clear();
}

bool SaveUserFile(const std::string& fileName, const std::string& bytes) {
  if (SaveFileAtomically(fileName, bytes)) return true;
  const int e = errno;
  NoteSaveFailure(fileName, std::strerror(e));
  errno = e;
  return false;
}
