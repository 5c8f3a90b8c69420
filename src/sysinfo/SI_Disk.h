#pragma once
// Mounted file systems and one selected volume. Linux has no drive letters: a "drive" is a
// mount point, and the system's drive is "/".
#include <cstdint>
#include <string>
#include <vector>

#include "sysinfo/SI_Common.h"

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
TMediaType MediaTypeOf(const TMountEntry& entry);

class TDisk : public TSIObject {
public:
  const char* ClassName() const override { return "TDisk"; }
  void GetInfo() override;  // the list of mount points only
  void SetDrive(const std::string& drive);  // selects and describes a mount point
  const std::string& Drive() const { return FDrive; }
  bool MediaPresent() const;

  std::string AvailableDisks;  // mount points of real file systems, separated by ";"
  TMediaType MediaType = dtUnknown;
  TFileFlags FileFlags = 0;
  std::string FileSystem;
  uint32_t FreeClusters = 0, TotalClusters = 0, SectorsPerCluster = 0, BytesPerSector = 0;
  int64_t FreeSpace = 0, Capacity = 0;
  std::string SerialNumber, VolumeLabel;
  uint32_t Serial = 0;

private:
  std::string FDrive;
};
