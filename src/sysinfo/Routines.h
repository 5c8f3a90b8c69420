#pragma once
// Routines the area classes share, and the facts about the running system computed once at start.
#include <cstdint>
#include <map>
#include <string>

class TStringList;

// Generation codes of the older desktop systems; every Linux system is 0 (unknown), so the
// generation flags are all false and the areas take their Linux sources.
uint8_t GetOS();

extern uint8_t OSGeneration;
extern bool IsNT, IsWin95, IsOSR2, IsWin98, IsWin98SE, IsWinME, IsWin2000, IsWinXP;
extern std::string OSName;       // PRETTY_NAME of os-release, else NAME, else the kernel name
extern std::string UserName;
extern std::string MachineName;  // upper-cased host name
extern std::string ProfilePath;

enum TConnectionType : uint8_t { ctNone, ctLAN, ctDialup };

// Duration text of a number of seconds (units down to years of 365.5 days and months of 31).
std::string FormatSeconds(bool WholeSeconds, bool AllUnits, bool Clock, int64_t Seconds);
std::string DequoteStr(const std::string& s);
std::string StripSpaces(const std::string& s);
// Drops characters from the end (and enclosing quotes) until the text names an existing file.
std::string GetFileFromCommand(const std::string& command);
// The entries of a NUL-separated block joined without separator, up to two NULs in a row or the
// end of the block.
std::string MultiSzToStr(const std::string& block);

std::string GetMachine();
std::string GetUser();
void GetEnvironment(TStringList& list);
std::string GetWinDir();  // the root of the installed system: "/"
std::string GetSysDir();  // the system's program folder
std::string GetWinSysDir();
std::string GetTempDir();
std::string GetProfilePath();  // the home folder

std::string GetDefaultBrowser();
std::string GetDefaultMailClient();
std::string GetProxyServer();
int RasConnectionCount();
TConnectionType GetConnectionType();

// Reading /proc, /sys and /etc files: bounded, never throws. False when the file cannot be read.
bool ReadSysFile(const std::string& path, std::string& out, size_t maxBytes = 1 << 20);
// The first line of a file without its end of line, "" when unreadable.
std::string ReadSysLine(const std::string& path);
// os-release style KEY=value lines: quotes removed, backslash escapes resolved, comments and
// malformed lines skipped.
std::map<std::string, std::string> ParseOSRelease(const std::string& text);
// "Key: value" lines as in /proc/meminfo and /proc/cpuinfo (first block only for cpuinfo):
// keys and values trimmed; lines without a colon skipped.
std::map<std::string, std::string> ParseColonFile(const std::string& text, bool firstBlockOnly);
// The leading decimal number of a text, `def` when there is none or it overflows.
int64_t ParseLeadingInt(const std::string& s, int64_t def);
