#pragma once
// Routines the area classes share, and the facts about the running system computed once at start.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class TStringList;

// Generation codes of the older desktop systems; every Linux system is 0 (unknown), so the
// generation flags are all false and the areas take their Linux sources.
uint8_t GetOS();
// The generation code of a version record: platform id (2 = NT family), major, minor and the
// service text.
uint8_t OSGenerationOf(uint32_t platformId, uint32_t major, uint32_t minor, const std::string& csd);

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
std::string GetHomeDir();
// The Linux folder that stands for a shell special folder (CSIDL number), "" where none does.
std::string GetSpecialFolder(int csidl);
std::string GetProfilePath();  // the folder that holds the desktop folder

// A desktop entry stands for a shortcut: its Exec line split into the program and its
// arguments. 0 on success, else an error code (the entry cannot be read, is hidden or has no Exec).
int ResolveLink(const std::string& fileName, std::string& path, std::string& arguments);

struct TVersionInfo {
  std::string FileName, Version, Description, LegalCopyright;
  uint32_t Major = 0, Minor = 0, Release = 0, Build = 0;
};
// The version information of one of the program's own files: the running program reads its
// embedded version block, another file the block found in its bytes. Files without one (every
// file not built by this project) give false with only FileName set.
bool GetFileVerInfo(const std::string& fileName, TVersionInfo& info);

// The devices of a class, from /sys/class: `classRoot` is the class folder ("/sys/class"),
// `className` the class, found without regard to case ("net"); `classKey` receives the class's
// folder. For each device folder in name order, the first line of its file `valueName` (the
// device's name when `valueName` is empty) is added once. Nothing when the class is not there.
void GetClassDevices(const std::string& classRoot, const std::string& className, const std::string& valueName,
                     std::string& classKey, TStringList& list);

// Volumes. Linux has no drive letters: a "drive" is a path, and the volume is the file system
// mounted there.
enum TMediaType : uint8_t { dtUnknown, dtNotExists, dtRemovable, dtFixed, dtRemote, dtCDROM, dtRAMDisk };
enum TFileFlag : uint8_t {
  fsCaseIsPreserved, fsCaseSensitive, fsUnicodeStoredOnDisk, fsPersistentAcls, fsFileCompression,
  fsVolumeIsCompressed, fsLongFileNames, fsEncryptedFileSystemSupport, fsObjectIDsSupport,
  fsReparsePointsSupport, fsSparseFilesSupport, fsDiskQuotasSupport
};
using TFileFlags = uint16_t;  // bit per TFileFlag

struct TMountEntry {
  std::string Device, MountPoint, FileSystem;
};
// The lines of /proc/self/mounts; octal escapes ("\040") resolved, short lines skipped.
std::vector<TMountEntry> ParseMounts(const std::string& text);
// The kind of a mounted volume; a block device is removable when its whole disk says so under
// `sysRoot` (/sys).
TMediaType MediaTypeOf(const TMountEntry& entry, const std::string& sysRoot = "/sys");
// The whole disk a block device name belongs to: "sda1" -> "sda", "nvme0n1p1" -> "nvme0n1",
// "mmcblk0p1" -> "mmcblk0"; a whole disk ("nvme0n1", "sr0") stays as it is.
std::string WholeDiskName(const std::string& device, const std::string& sysRoot = "/sys");
// The entry whose mount point holds `path` (the longest match), nullptr when none does.
const TMountEntry* MountOf(const std::vector<TMountEntry>& mounts, const std::string& path);

struct TDiskInfo {
  std::string Drive;
  TMediaType MediaType = dtUnknown;
  TFileFlags FileFlags = 0;
  uint32_t SectorsPerCluster = 0, BytesPerSector = 0, FreeClusters = 0, TotalClusters = 0;
  uint32_t Serial = 0;
  int64_t Capacity = 0, FreeSpace = 0;
  std::string VolumeLabel, SerialNumber, FileSystem;
};
bool DiskInDrive(const std::string& drive);
void GetDiskInfo(const std::string& drive, TDiskInfo& info);

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
