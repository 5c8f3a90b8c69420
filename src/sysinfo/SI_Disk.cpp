#include "sysinfo/SI_Disk.h"

void TDisk::GetInfo() {
  AvailableDisks.clear();
  std::string text;
  ReadSysFile(Roots.Proc + "/self/mounts", text);
  for (const auto& m : ParseMounts(text)) {
    const TMediaType t = MediaTypeOf(m, Roots.Sys);
    if (t == dtUnknown || t == dtRAMDisk) continue;  // kernel and memory file systems
    if (!AvailableDisks.empty()) AvailableDisks += ";";
    AvailableDisks += m.MountPoint;
  }
}

void TDisk::SetDrive(const std::string& drive) {
  FDrive = drive;
  TDiskInfo info;
  GetDiskInfo(drive, info);
  MediaType = info.MediaType;
  FileFlags = info.FileFlags;
  SectorsPerCluster = info.SectorsPerCluster;
  BytesPerSector = info.BytesPerSector;
  FreeClusters = info.FreeClusters;
  TotalClusters = info.TotalClusters;
  Capacity = info.Capacity;
  FreeSpace = info.FreeSpace;
  VolumeLabel = info.VolumeLabel;
  FileSystem = info.FileSystem;
  SerialNumber = info.SerialNumber;
  Serial = info.Serial;
}
