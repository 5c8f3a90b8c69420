#pragma once
// Mounted file systems and one selected volume. Linux has no drive letters: a "drive" is a path,
// and the system's drive is "/".
#include <cstdint>
#include <string>

#include "sysinfo/Routines.h"
#include "sysinfo/SI_Common.h"

class TDisk : public TSIObject {
public:
  const char* ClassName() const override { return "TDisk"; }
  void GetInfo() override;  // the list of mount points only
  // Selects and describes a volume; the whole path is kept (a mount point is longer than "C:").
  void SetDrive(const std::string& drive);
  const std::string& Drive() const { return FDrive; }
  bool MediaPresent() const { return DiskInDrive(FDrive); }

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
