#include "sysinfo/SI_Disk.h"

#include <sys/statvfs.h>
#include <dirent.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "base/SysUtils.h"
#include "sysinfo/Routines.h"

namespace {
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' && s[i + 2] >= '0' &&
        s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
      out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<TMountEntry> LiveMounts() {
  std::string text;
  ReadSysFile("/proc/self/mounts", text);
  return ParseMounts(text);
}

// The entry whose mount point holds `path` (the longest matching mount point).
const TMountEntry* MountOf(const std::vector<TMountEntry>& mounts, const std::string& path) {
  const TMountEntry* best = nullptr;
  for (const auto& m : mounts) {
    const std::string& p = m.MountPoint;
    bool inside = path == p || (path.compare(0, p.size(), p) == 0 && (p == "/" || path[p.size()] == '/'));
    if (inside && (!best || p.size() >= best->MountPoint.size())) best = &m;
  }
  return best;
}

std::string LabelOf(const std::string& device) {
  char real[PATH_MAX];
  if (!realpath(device.c_str(), real)) return "";
  DIR* d = opendir("/dev/disk/by-label");
  if (!d) return "";
  std::string label;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    char target[PATH_MAX];
    std::string link = "/dev/disk/by-label/" + n;
    if (realpath(link.c_str(), target) && std::string(target) == real) {
      label = ParseOSRelease("L=\"" + n + "\"")["L"];  // by-label names escape blanks as \x20
      break;
    }
  }
  closedir(d);
  return label;
}
}  // namespace

std::vector<TMountEntry> ParseMounts(const std::string& text) {
  std::vector<TMountEntry> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    std::vector<std::string> f;
    size_t p = 0;
    while (p < line.size() && f.size() < 3) {
      size_t sp = line.find(' ', p);
      if (sp == std::string::npos) sp = line.size();
      if (sp > p) f.push_back(Unescape(line.substr(p, sp - p)));
      p = sp + 1;
    }
    if (f.size() < 3 || f[1].empty() || f[1][0] != '/') continue;
    out.push_back({f[0], f[1], f[2]});
  }
  return out;
}

TMediaType MediaTypeOf(const TMountEntry& m) {
  const std::string& fs = m.FileSystem;
  if (fs == "nfs" || fs == "nfs4" || fs == "cifs" || fs == "smb3" || fs == "sshfs" || fs == "fuse.sshfs" ||
      fs == "9p")
    return dtRemote;
  if (fs == "iso9660" || fs == "udf") return dtCDROM;
  if (fs == "tmpfs" || fs == "ramfs") return dtRAMDisk;
  if (m.Device.rfind("/dev/", 0) == 0) {
    std::string dev = m.Device.substr(5);
    std::string base = dev;
    while (!base.empty() && base.back() >= '0' && base.back() <= '9') base.pop_back();
    if (ReadSysLine("/sys/block/" + base + "/removable") == "1") return dtRemovable;
    return dtFixed;
  }
  if (fs == "overlay" || fs == "btrfs" || fs == "zfs" || fs == "xfs" || fs.rfind("ext", 0) == 0) return dtFixed;
  return dtUnknown;
}

void TDisk::GetInfo() {
  AvailableDisks.clear();
  for (const auto& m : LiveMounts()) {
    TMediaType t = MediaTypeOf(m);
    if (t == dtUnknown || t == dtRAMDisk) continue;  // kernel and memory file systems
    if (!AvailableDisks.empty()) AvailableDisks += ";";
    AvailableDisks += m.MountPoint;
  }
}

bool TDisk::MediaPresent() const {
  struct statvfs st{};
  return !FDrive.empty() && statvfs(FDrive.c_str(), &st) == 0;
}

void TDisk::SetDrive(const std::string& drive) {
  FDrive = drive;
  auto mounts = LiveMounts();
  const TMountEntry* m = MountOf(mounts, drive);
  MediaType = m ? MediaTypeOf(*m) : (DirectoryExists(drive) ? dtUnknown : dtNotExists);
  FileFlags = 0;
  FreeClusters = TotalClusters = SectorsPerCluster = BytesPerSector = 0;
  FreeSpace = Capacity = 0;
  SerialNumber.clear();
  VolumeLabel.clear();
  FileSystem.clear();
  Serial = 0;
  struct statvfs st{};
  if (drive.empty() || statvfs(drive.c_str(), &st) != 0) return;
  const uint64_t unit = st.f_frsize ? st.f_frsize : st.f_bsize;
  BytesPerSector = 512;
  SectorsPerCluster = static_cast<uint32_t>(unit / 512 ? unit / 512 : 1);
  TotalClusters = static_cast<uint32_t>(std::min<uint64_t>(st.f_blocks, UINT32_MAX));
  FreeClusters = static_cast<uint32_t>(std::min<uint64_t>(st.f_bavail, UINT32_MAX));
  Capacity = static_cast<int64_t>(st.f_blocks * unit);
  FreeSpace = static_cast<int64_t>(st.f_bavail * unit);
  Serial = static_cast<uint32_t>(st.f_fsid);
  std::string hex = IntToHex(Serial, 8);
  SerialNumber = hex.substr(0, 4) + "-" + hex.substr(4, 4);
  if (m) {
    FileSystem = m->FileSystem;
    if (m->Device.rfind("/dev/", 0) == 0) VolumeLabel = LabelOf(m->Device);
    const std::string& fs = FileSystem;
    bool posixNames = fs.rfind("ext", 0) == 0 || fs == "xfs" || fs == "btrfs" || fs == "zfs" ||
                      fs == "overlay" || fs == "tmpfs" || fs == "f2fs";
    if (posixNames) FileFlags |= (1u << fsCaseIsPreserved) | (1u << fsCaseSensitive) | (1u << fsPersistentAcls);
    if (fs == "btrfs" || fs == "zfs") FileFlags |= 1u << fsFileCompression;
    if (fs == "ext4" || fs == "f2fs") FileFlags |= 1u << fsEncryptedFileSystemSupport;
    if (posixNames) FileFlags |= 1u << fsSparseFilesSupport;
  }
  if (st.f_namemax == 255) FileFlags |= 1u << fsLongFileNames;
}
