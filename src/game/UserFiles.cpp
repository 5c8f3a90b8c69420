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
  std::string FileName, Reason;
};
TSaveFailures& SaveFailures() {
  static TSaveFailures* failures = new TSaveFailures;  // savers may run until the very end
  return *failures;
}
}  // namespace

void RemoveStaleSaveFiles() {
  static const std::vector<std::string> kNames = {"env.dat",      "env.dat.damaged", "qv.log",       "last.gmp",
                                                  "mybest.gmp",   "worldbest.gmp", "l3codecx.acm",
                                                  "KTGame.wav",   "KTMenu.wav",   "KTHighScore.wav"};
  static const std::vector<std::string> kExtensions = {".lvl", ".scn"};
  int removed = RemoveStaleTempFiles(UserDataDir, kNames, kExtensions);
  if (CommonDataDir != UserDataDir) removed += RemoveStaleTempFiles(CommonDataDir, kNames, kExtensions);
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

void NoteSaveFailure(const std::string& fileName, const std::string& reason) {
  TSaveFailures& f = SaveFailures();
  std::lock_guard<std::mutex> g(f.Lock);
  if (f.Noted) return;
  f.Noted = true;
  f.FileName = fileName;
  f.Reason = reason;
}

std::string TakeSaveFailureText() {
  TSaveFailures& f = SaveFailures();
  std::lock_guard<std::mutex> g(f.Lock);
  if (!f.Noted || f.Told) return {};
  f.Told = true;
  if (!f.FileName.empty() && f.FileName.back() == '/') return FolderProblemText(f.FileName, f.Reason);
  return "Kestrune could not save the file " + f.FileName + " (" + f.Reason + ").\r" +
         "Settings, highscores and replays of this session may not be saved.";
}

void ResetSaveFailures() {
  TSaveFailures& f = SaveFailures();
  std::lock_guard<std::mutex> g(f.Lock);
  f.Noted = f.Told = false;
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
