#pragma once
// What the whole game and the shell share: the data folders, the uninstall clean-up, the
// single-instance guard, the hosts list (fetched on a thread of its own), the connection check,
// lookup tables and math helpers, the resource opener and a small owning sprite list.
// The program folder is ProgramDir() of base/SysUtils.h.
#include <array>
#include <cstddef>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Streams.h"
#include "base/Threads.h"


extern std::string UserDataDir;    // env.dat, replay packs, downloaded levels, the trace log
extern std::string CommonDataDir;  // the music cache and the codec file

extern float SqrtTable[256];  // sqrt(0..255)
extern float CosTable[360];   // cos of whole degrees
extern float SinTable[360];

// "World", then the 243 countries; the settings' Country number is an index here (0 = none).
extern const std::array<const char*, 244> Countries;
extern const std::array<const char*, 2> MenuBitmapNames;
// What "-uninstall" deletes from the common folder.
extern const std::array<const char*, 4> CommonDataFileNames;

// Deployment values: built-in constants, each overridable by an environment variable so tests
// can point the program at loopback. A host may carry ":port".
std::string DeploymentValue(const char* envName, const char* builtIn);
std::string HostsListURL();           // KESTRUNE_HOSTS_URL
std::string DefaultHighScoreHost();   // KESTRUNE_HIGHSCORE_HOST
std::string DefaultInternalHost();    // KESTRUNE_INTERNAL_HOST
std::string DefaultSupportURL();      // KESTRUNE_SUPPORT_URL
std::string DefaultHighScoreBase();   // "/"
std::string DefaultInternalBase();    // "/kestruneinternal/"

// Fetches one URL on a worker thread (created suspended). Text, Success and Done are written by
// the thread; read them only after Done is seen set or after waiting for the thread's end.
class TThreadedHttpGet : public TThread {
public:
  explicit TThreadedHttpGet(std::string url);
  ~TThreadedHttpGet() override;

  std::string URL;
  std::string Text;
  std::atomic<bool> Done{false};
  std::atomic<bool> Success{false};
  uint32_t ConnectTimeoutMs = 5000;
  uint32_t TimeoutMs = 15000;

  size_t MaxBytes = 16 * 1024;  // a longer reply fails the fetch (kMaxHostsListBytes)

  void Start() { TThread::Start(); }  // resumes the thread the first time only
  void StartAndWait();
  // Aborts the request in progress and waits at most timeoutMs for the thread to end.
  bool CancelAndWait(uint32_t timeoutMs);

protected:
  void Execute() override;

private:
  std::atomic<bool> CancelFlag{false};
};

extern std::unique_ptr<TThreadedHttpGet> HostsListThread;
extern bool HostsListApplied;  // applied in this run; the shell's reset clears it
extern bool UninstallDone;     // "-uninstall" was handled: the program ends without a window

// Hooks the shell fills: an error message box with an OK button, and the connection test
// (unset: connected).
extern std::function<void(const std::string& text)> ErrorMessageHook;
extern std::function<bool()> ConnectionTestHook;

// Module start and end. `firstParam` is the first command-line parameter ("" when none).
void InitGlobals(const std::string& firstParam);
void DoneGlobals();

// The single-instance guard: an advisory lock on "Kestrune.lock" in $XDG_RUNTIME_DIR (else the
// user folder), held until DoneGlobals or the process's end. CheckSingleInstance shows the
// message and ends the program when another instance holds it.
bool AcquireSingleInstance();
void ReleaseSingleInstance();
void CheckSingleInstance();
// Writes to the trace log what the guard found wrong in the lock file's place, once the log is
// open (the guard runs before).
void LogSingleInstanceNote();

bool CheckInternet(bool showMessage);
// Applies the hosts list once per run. A fetch still under way is waited for (through
// HostsListWaitHook) only when `wait` is set and no addresses are stored yet; otherwise the
// list is applied by a later call.
void ApplyHostsList(bool wait = true);
// How the list is waited for: the shell runs the wait off its GUI thread with a wait window
// and Cancel; unset, the calling thread waits for the fetch's end.
std::function<void(TThreadedHttpGet& thread)>& HostsListWaitHook();
// Deletes the downloaded levels (11.lvl, 12.lvl, ... then 11.scn, ...), env.dat, the three
// replay packs and dip.dat from one folder.
void DeleteUserFiles(const std::string& dir);
// The highest playable level number: 10 plus the run of downloaded levels 11, 12, ...
int32_t CountUserLevels();
// A read-only stream over a resource of the program ("GFX", "LVL", ...); the name's extension
// is ignored. Raises EResNotFound.
std::unique_ptr<TStream> OpenGfxResource(const std::string& resType, const std::string& name);
std::string DirectXErrorText(uint32_t code);
char ScanCodeChar(int32_t scanCode);  // 0 for keys without a character

float AngleOf(float dx, float dy);
float FalloffOfDistance(float d);
float FalloffOfVector(float dx, float dy);
float FastCos(float a);
float FastSin(float a);
int32_t PingPong(int32_t counter, int32_t n);

// A 24-byte record of six floats; what the fields mean belongs to the list's user (sparkles of
// the energy cells, floating hearts).
struct TSimpleSprite {
  float X = 0, Y = 0, DX = 0, DY = 0, Scale = 0, Expiry = 0;
};

// Owning list of sprite records; the records stay where they are while the list grows.
class TSimpleSpriteList {
public:
  int32_t Add();  // a new zeroed record at the end; its index
  TSimpleSprite* Get(int32_t index);  // EListError outside 0..Count-1
  const TSimpleSprite* Get(int32_t index) const;
  void Delete(int32_t index);
  void Clear() { Items.clear(); }
  int32_t Count() const { return static_cast<int32_t>(Items.size()); }

private:
  std::vector<std::unique_ptr<TSimpleSprite>> Items;
};

// The enciphered per-user files (env.dat, replay packs): the whole plain content through the
// cipher streams with the file kind's key text. Deciphering reads the source from its position
// to its end, or until maxBytes plain bytes are in; a trailing part block is dropped.
std::string EncipherBytes(const std::string& keyText, const std::string& plain);
std::string DecipherStream(const std::string& keyText, TStream& source, std::size_t maxBytes = SIZE_MAX);
