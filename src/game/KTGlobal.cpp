#include "game/KTGlobal.h"
#include "game/ServerReplies.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdlib>

#include "base/Classes.h"
#include "base/Exceptions.h"
#include "base/PasMath.h"
#include "base/Streams.h"
#include "base/SysUtils.h"
#include "engine/Cryptography.h"
#include "engine/StreamFilters.h"
#include "engine/tools.h"
#include "game/GameSounds.h"
#include "game/Options.h"
#include "game/UserFiles.h"
#include "platform/Http.h"

std::string UserDataDir;
std::string CommonDataDir;
float SqrtTable[256];
float CosTable[360];
float SinTable[360];

const std::array<const char*, 244> Countries = {
#include "game/Countries.inc"
};
const std::array<const char*, 2> MenuBitmapNames = {"menu_logo.jpg", "menu_net.jpg"};
const std::array<const char*, 4> CommonDataFileNames = {"GameMusic.wav", "HighScoreMusic.wav",
                                                         "MenuMusic.wav", "l3codecx.acm"};

std::unique_ptr<TThreadedHttpGet> HostsListThread;
bool HostsListApplied = false;
bool UninstallDone = false;
std::function<void(const std::string&)> ErrorMessageHook;
std::function<bool()> ConnectionTestHook;

namespace {

int InstanceLockFd = -1;  // the lock file
int FolderLockFd = -1;    // the user folder
std::string SingleInstanceNote;  // for the trace log, once it is open
constexpr const char* kProductName = "Kestrune";
constexpr const char* kTraceLogName = "qv.log";  // the shell's trace log in the user folder
// How long finalisation waits for a hosts-list fetch that is being cancelled.
constexpr uint32_t kHostsListExitWaitMs = 2000;

void ShowError(const std::string& text) {
  if (ErrorMessageHook) ErrorMessageHook(text);
}

// $VAR when it is an absolute path, else $HOME + fallback; "" when neither is known.
std::string XdgDir(const char* var, const char* homeFallback) {
  const char* v = std::getenv(var);
  if (v && v[0] == '/') return IncludeTrailingPathDelimiter(v);
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return IncludeTrailingPathDelimiter(std::string(home) + homeFallback);
  return "";
}

void ResolveFolders() {
  std::string base = XdgDir("XDG_DATA_HOME", "/.local/share");
  if (!base.empty()) {
    UserDataDir = base + "Orvalent/QV/";
    if (!ForceDirectories(UserDataDir)) UserDataDir.clear();
  }
  base = XdgDir("XDG_CACHE_HOME", "/.cache");
  if (!base.empty()) {
    CommonDataDir = base + "Orvalent/";
    bool usable = ForceDirectories(CommonDataDir);
    if (usable) {
      std::string test = CommonDataDir + "test.txt";
      int fd = CreateNewFile(test, O_WRONLY);
      usable = fd >= 0;
      if (fd >= 0) ::close(fd);
      if (usable && !DeleteFile(test)) usable = false;
    }
    if (!usable) CommonDataDir.clear();
  }
  if (CommonDataDir.empty()) CommonDataDir = ProgramDir();
  if (UserDataDir.empty()) UserDataDir = ProgramDir();
}

void DeleteCommonFiles(const std::string& dir) {
  for (const char* name : CommonDataFileNames) DeleteFile(dir + name);
  // The music caches go by the names the sound table writes them under, which the list above
  // does not hold; with them any cache an interrupted run left half-written.
  for (const std::string& name : MusicCacheFileNames()) {
    DeleteFile(dir + name);
    DeleteFile(dir + name + ".tmp");
  }
}

// A folder of ours ("dir/" with its trailing '/'), once nothing is left in it.
void RemoveFolderIfEmpty(const std::string& dir) {
  if (dir.size() > 1) ::rmdir(dir.substr(0, dir.size() - 1).c_str());
}

std::string InstanceLockFileName() {
  std::string dir;
  const char* run = std::getenv("XDG_RUNTIME_DIR");
  if (run && run[0] == '/' && DirectoryExists(run)) dir = IncludeTrailingPathDelimiter(run);
  else dir = UserDataDir.empty() ? ProgramDir() : UserDataDir;
  return dir + kProductName + ".lock";
}

// "-uninstall": everything the program writes into its folders, then the folders it made.
void Uninstall() {
  const std::string programDir = ProgramDir();
  // What killed saves left: their folders would not be empty otherwise.
  for (const std::string& dir : {UserDataDir, CommonDataDir, programDir}) RemoveStaleSaveFilesIn(dir);
  DeleteUserFiles(UserDataDir);
  DeleteFile(UserDataDir + kTraceLogName);
  if (UserDataDir != programDir) {
    DeleteUserFiles(programDir);
    DeleteFile(programDir + kTraceLogName);
  }
  DeleteCommonFiles(CommonDataDir);
  if (CommonDataDir != programDir) DeleteCommonFiles(programDir);
  // The lock file of the single-instance guard, unless a running instance holds it.
  if (AcquireSingleInstance()) {
    DeleteFile(InstanceLockFileName());
    ReleaseSingleInstance();
  }
  if (UserDataDir != programDir) {
    RemoveFolderIfEmpty(UserDataDir);
    RemoveFolderIfEmpty(ExtractFilePath(UserDataDir.substr(0, UserDataDir.size() - 1)));
  }
  if (CommonDataDir != programDir) RemoveFolderIfEmpty(CommonDataDir);
}

}  // namespace

std::string DeploymentValue(const char* envName, const char* builtIn) {
  const char* v = std::getenv(envName);
  return v && *v ? std::string(v) : std::string(builtIn);
}
std::string HostsListURL() {
  return DeploymentValue("KESTRUNE_HOSTS_URL", "http://www.orvalent.example/kestrune/kthosts.txt");
}
std::string DefaultHighScoreHost() { return DeploymentValue("KESTRUNE_HIGHSCORE_HOST", "www.orvalent.example"); }
std::string DefaultInternalHost() { return DeploymentValue("KESTRUNE_INTERNAL_HOST", "www.orvalent.example"); }
std::string DefaultSupportURL() {
  // The support folder: the help page's path follows it. A folder given without its final '/'
  // still means the folder.
  std::string url = DeploymentValue("KESTRUNE_SUPPORT_URL", "http://www.orvalent.example/kestrune/support/");
  if (url.back() != '/') url += '/';
  return url;
}
std::string DefaultHighScoreBase() { return "/"; }
std::string DefaultInternalBase() { return "/kestruneinternal/"; }

// ---- hosts-list thread ----

TThreadedHttpGet::TThreadedHttpGet(std::string url) : TThread(true), URL(std::move(url)) {}

TThreadedHttpGet::~TThreadedHttpGet() {
  CancelFlag = true;
  TerminateAndWait();
}

void TThreadedHttpGet::Execute() {
  THttpClient client;
  client.ConnectTimeoutMs = ConnectTimeoutMs;
  client.TimeoutMs = TimeoutMs;
  client.CancelFlag = &CancelFlag;
  client.MaxBodyBytes = MaxBytes;
  std::string body = client.Get(URL);  // a failure ends the thread with Done and Success false
  Text = std::move(body);
  Success = true;
  Done = true;
}

void TThreadedHttpGet::StartAndWait() {
  Start();
  WaitFor();
}

bool TThreadedHttpGet::CancelAndWait(uint32_t timeoutMs) {
  CancelFlag = true;
  return WaitFor(timeoutMs);
}

// ---- start and end ----

void InitGlobals(const std::string& firstParam) {
  UserDataDir.clear();
  CommonDataDir.clear();
  for (int i = 0; i < 256; ++i) SqrtTable[i] = static_cast<float>(std::sqrt(static_cast<double>(i)));
  for (int i = 0; i < 360; ++i) {
    double a = i * M_PI / 180.0;
    CosTable[i] = static_cast<float>(std::cos(a));
    SinTable[i] = static_cast<float>(std::sin(a));
  }
  ResolveFolders();
  HttpGlobalInit();  // here, before the hosts-list thread or any other can run a request
  if (LowerCase(firstParam) == "-uninstall") {
    Uninstall();
    UninstallDone = true;
  } else {
    HostsListThread = std::make_unique<TThreadedHttpGet>(HostsListURL());
  }
}

void DoneGlobals() {
  if (HostsListThread) {
    // A fetch still under way is cancelled; one that does not end in time is left behind (the
    // process is ending) rather than waited for.
    if (HostsListThread->CancelAndWait(kHostsListExitWaitMs)) HostsListThread.reset();
    else (void)HostsListThread.release();
  }
  ReleaseSingleInstance();
  UserDataDir.clear();
  CommonDataDir.clear();
}

// ---- single instance ----

namespace {
// An exclusive lock on `fd` without waiting: 1 taken, 0 held by another instance, -1 not possible.
int LockExclusive(int fd) {
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return 1;
  return errno == EWOULDBLOCK ? 0 : -1;
}

// The lock file, when a regular file of ours can stand there: its descriptor, or -1. A link in its
// place is nobody's lock: replaced, never opened through. A folder, FIFO or the like in its place
// gives -1 (O_NONBLOCK: a FIFO is never waited on); `why` then tells what is wrong.
int OpenInstanceLockFile(const std::string& name, std::string& why) {
  const int flags = O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
  int fd = ::open(name.c_str(), flags, 0600);
  if (fd < 0 && errno == ELOOP && ::unlink(name.c_str()) == 0) fd = ::open(name.c_str(), flags, 0600);
  if (fd < 0) {
    why = std::strerror(errno);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    why = "not a file";
    return -1;
  }
  return fd;
}
}  // namespace

bool AcquireSingleInstance() {
  if (InstanceLockFd >= 0 || FolderLockFd >= 0) return true;
  // Two locks: the lock file (one instance per user, whatever its folders) and the user folder
  // itself, which nothing put in the lock file's place can take away: two instances never share
  // one data folder.
  const std::string name = InstanceLockFileName();
  std::string why;
  int fileFd = OpenInstanceLockFile(name, why);
  if (fileFd < 0)
    SingleInstanceNote =
        "The lock file " + name + " cannot be used (" + why + "); the user folder alone guards against a second instance";
  if (fileFd >= 0 && LockExclusive(fileFd) == 0) {
    ::close(fileFd);
    return false;
  }
  const std::string dir = UserDataDir.empty() ? ProgramDir() : UserDataDir;
  int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0 && LockExclusive(dirFd) == 0) {
    ::close(dirFd);
    if (fileFd >= 0) ::close(fileFd);
    return false;
  }
  // A lock that cannot be taken at all does not stop the user from playing.
  InstanceLockFd = fileFd;
  FolderLockFd = dirFd;
  return true;
}

void ReleaseSingleInstance() {
  if (InstanceLockFd >= 0) ::close(InstanceLockFd);
  if (FolderLockFd >= 0) ::close(FolderLockFd);
  InstanceLockFd = -1;
  FolderLockFd = -1;
}

void LogSingleInstanceNote() {
  if (!SingleInstanceNote.empty()) Log(SingleInstanceNote, ltWarning);
  SingleInstanceNote.clear();
}

void CheckSingleInstance() {
  if (AcquireSingleInstance()) return;
  ShowError(std::string("Another instance of ") + kProductName + " is already running." + "\r" +
            "Application will close.");
  std::exit(0);
}

// ---- internet and hosts list ----

bool CheckInternet(bool showMessage) {
  bool connected = ConnectionTestHook ? ConnectionTestHook() : true;
  if (!connected) {
    Log("Unable to connect to the internet", ltInfo);
    if (showMessage) ShowError("Unable to connect to the internet");
    return false;
  }
  ApplyHostsList();
  return true;
}

std::function<void(TThreadedHttpGet&)>& HostsListWaitHook() {
  static std::function<void(TThreadedHttpGet&)> hook;
  return hook;
}

void ApplyHostsList(bool wait) {
  if (HostsListApplied) return;
  TGameEnvironment& env = GameEnvironment;
  TThreadedHttpGet* thread = HostsListThread.get();
  // a fetch that failed has finished without being done: the built-in values serve then
  if (thread && !thread->Done && !thread->Finished()) {
    thread->Start();
    if (!env.HighScoreHost.empty() || !wait) return;  // applied by a later call, without waiting
    if (HostsListWaitHook()) HostsListWaitHook()(*thread);
    else thread->StartAndWait();
    if (!thread->Done) thread->CancelAndWait(0);  // given up: the built-in values serve
  }
  if (thread && thread->Done && thread->Success) {
    // A value that is missing, empty or malformed (a captive portal's page, say) keeps the
    // stored one, or takes the built-in one when none is stored.
    // A value the settings cannot keep as it stands (a host too long for its field) counts as
    // missing too.
    const THostsList list = ParseHostsList(thread->Text);
    auto take = [](TTextField kind, std::string& field, const std::string& value, const std::string& builtIn) {
      const std::string kept = SettingsText(kind, value);
      if (!kept.empty()) field = kept;
      else if (field.empty()) field = SettingsText(kind, builtIn);
    };
    take(TTextField::HighScoreHost, env.HighScoreHost, list.HighScoreHost, DefaultHighScoreHost());
    take(TTextField::HighScoreBase, env.HighScoreBase, list.HighScoreBase, DefaultHighScoreBase());
    take(TTextField::InternalHost, env.InternalHost, list.InternalHost, DefaultInternalHost());
    take(TTextField::InternalBase, env.InternalBase, list.InternalBase, DefaultInternalBase());
    take(TTextField::SupportURL, env.SupportURL, list.SupportURL, DefaultSupportURL());
  } else {
    env.HighScoreHost = SettingsText(TTextField::HighScoreHost, DefaultHighScoreHost());
    env.InternalHost = SettingsText(TTextField::InternalHost, DefaultInternalHost());
    env.HighScoreBase = SettingsText(TTextField::HighScoreBase, DefaultHighScoreBase());
    env.InternalBase = SettingsText(TTextField::InternalBase, DefaultInternalBase());
    env.SupportURL = SettingsText(TTextField::SupportURL, DefaultSupportURL());
  }
  HostsListApplied = true;
}

// ---- files and resources ----

void DeleteUserFiles(const std::string& dir) {
  for (int n = 11; DeleteFile(dir + std::to_string(n) + ".lvl"); ++n) {
  }
  for (int n = 11; DeleteFile(dir + std::to_string(n) + ".scn"); ++n) {
  }
  for (const char* name : {"env.dat", "mybest.gmp", "mybest.old.gmp", "last.gmp", "worldbest.gmp", "dip.dat"})
    DeleteFile(dir + name);
  // The copies of damaged env.dat files the settings loader keeps.
  for (int n = 1; n <= kDamagedCopies; ++n) DeleteFile(dir + DamagedCopyName(n));
}

int32_t CountUserLevels() {
  // A link in a level's place is no level of ours (it is never opened): the download replaces it.
  auto isLevel = [](int32_t n) {
    const std::string name = UserDataDir + std::to_string(n) + ".lvl";
    return FileExists(name) && !IsSymbolicLink(name);
  };
  int32_t n = 11;
  while (isLevel(n)) ++n;
  return n - 1;
}

std::unique_ptr<TStream> OpenGfxResource(const std::string& resType, const std::string& name) {
  return std::make_unique<TResourceStream>(ChangeFileExt(name, ""), resType);
}

std::string DirectXErrorText(uint32_t code) {
  if (code == 0x81020002u) return "Could not find any 3D hardware accelerated DirectX 8 device.";
  return "Unrecognized Error";
}

char ScanCodeChar(int32_t scanCode) {
  static const char* const kRows[] = {"1234567890", "QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"};
  static const int kFirst[] = {2, 16, 30, 44};
  if (scanCode == 57) return ' ';
  for (int r = 0; r < 4; ++r) {
    int i = scanCode - kFirst[r];
    if (i >= 0 && i < static_cast<int>(std::char_traits<char>::length(kRows[r]))) return kRows[r][i];
  }
  return 0;
}

// ---- math ----

float AngleOf(float dx, float dy) {
  const float pi = static_cast<float>(M_PI);
  if (dy == 0) return dx >= 0 ? pi / 2 : -pi / 2;
  if (dy > 0) {
    if (dx > 0) return std::atan(dx / dy);
    return 2 * pi - std::atan(-dx / dy);
  }
  if (dx <= 0) return std::atan(dx / dy) + pi;
  return pi - std::atan(dx / -dy);
}

float FalloffOfDistance(float d) {
  if (d <= 2) return 1;
  if (d < 10) return (10 - d) / 8;
  return 0;
}

float FalloffOfVector(float dx, float dy) {
  float sum = dx * dx + dy * dy;
  if (!(sum < 100)) return 0;  // also catches NaN; Round below cannot overflow
  int64_t s = PasRound(sum);
  if (s >= 100) return 0;
  return FalloffOfDistance(SqrtTable[s]);
}

namespace {
int32_t DegreeIndex(float a) {
  double deg = static_cast<double>(a) * 180.0 / M_PI;
  if (!std::isfinite(deg)) return 0;
  // Reducing by a multiple of 360 first keeps Round exact (an even shift keeps half-to-even).
  deg = std::fmod(deg, 360.0);
  int64_t i = PasRound(deg) % 360;
  if (i < 0) i += 360;
  return static_cast<int32_t>(i);
}
}  // namespace

float FastCos(float a) { return CosTable[DegreeIndex(a)]; }
float FastSin(float a) { return SinTable[DegreeIndex(a)]; }

int32_t PingPong(int32_t counter, int32_t n) {
  if (n <= 0) return 0;
  int64_t period = 2 * static_cast<int64_t>(n);
  int64_t v = counter % period;
  if (v < 0) v += period;
  return static_cast<int32_t>(v < n ? v : period - 1 - v);
}

// ---- sprite list ----

int32_t TSimpleSpriteList::Add() {
  Items.push_back(std::make_unique<TSimpleSprite>());
  return Count() - 1;
}

TSimpleSprite* TSimpleSpriteList::Get(int32_t index) {
  return const_cast<TSimpleSprite*>(static_cast<const TSimpleSpriteList*>(this)->Get(index));
}

const TSimpleSprite* TSimpleSpriteList::Get(int32_t index) const {
  if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return Items[static_cast<size_t>(index)].get();
}

void TSimpleSpriteList::Delete(int32_t index) {
  if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  Items.erase(Items.begin() + index);
}

// ---- enciphered files ----

std::string EncipherBytes(const std::string& keyText, const std::string& plain) {
  TBlowfish cipher(keyText);
  TStringStream out;
  {
    TEncryptionStream enc(&out, false, &cipher, false);
    enc.WriteBuffer(plain.data(), static_cast<int32_t>(plain.size()));
    enc.Flush();
  }
  return out.DataString;
}

std::string DecipherStream(const std::string& keyText, TStream& source, std::size_t maxBytes) {
  TBlowfish cipher(keyText);
  TDecryptionStream dec(&source, false, &cipher, false);
  std::string out;
  char buf[4096];
  while (out.size() < maxBytes) {
    int32_t n = dec.Read(buf, static_cast<int32_t>(std::min<std::size_t>(sizeof buf, maxBytes - out.size())));
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}
