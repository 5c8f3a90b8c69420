#include "game/UserFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/SysUtils.h"
#include "engine/tools.h"
#include "game/KTGlobal.h"

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
  return "Kestrune cannot save in the folder " + UserDataDir + " (" + reason + ").\r" +
         "Settings, highscores and replays of this session will not be saved.";
}
