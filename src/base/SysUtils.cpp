#include "base/SysUtils.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "base/Exceptions.h"

[[noreturn]] void Abort() { throw EAbort("Operation aborted"); }

std::string UpperCase(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return r;
}

std::string LowerCase(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return r;
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && UpperCase(a) == UpperCase(b);
}

bool StartsText(const std::string& prefix, const std::string& s) {
  return s.size() >= prefix.size() && SameText(prefix, s.substr(0, prefix.size()));
}

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

std::string IntToStr(int64_t v) { return std::to_string(v); }

std::string IntToHex(uint64_t v, int digits) {
  static const char* hex = "0123456789ABCDEF";
  std::string r;
  do {
    r.insert(r.begin(), hex[v & 15]);
    v >>= 4;
  } while (v != 0);
  while (static_cast<int>(r.size()) < digits) r.insert(r.begin(), '0');
  return r;
}

int64_t StrToIntDef(const std::string& s, int64_t def) {
  std::string t = Trim(s);
  if (t.empty()) return def;
  bool neg = false;
  std::size_t i = 0;
  if (t[0] == '-' || t[0] == '+') {
    neg = t[0] == '-';
    i = 1;
  }
  int base = 10;
  if (i < t.size() && t[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= t.size()) return def;
  int64_t v = 0;
  for (; i < t.size(); ++i) {
    int d;
    char c = t[i];
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return def;
    if (d >= base) return def;
    if (v > (INT64_MAX - d) / base) return def;
    v = v * base + d;
  }
  return neg ? -v : v;
}

std::string ToCrLf(const std::string& s) {
  std::string out;
  out.reserve(s.size() + s.size() / 16);
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r') {
      out += "\r\n";
      if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
    } else if (s[i] == '\n') {
      out += "\r\n";
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string Format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string r(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(r.data(), r.size() + 1, fmt, ap2);
  va_end(ap2);
  return r;
}

std::string IncludeTrailingPathDelimiter(const std::string& dir) {
  if (!dir.empty() && dir.back() == '/') return dir;
  return dir + "/";
}

std::string ExtractFilePath(const std::string& fileName) {
  std::size_t p = fileName.find_last_of('/');
  return p == std::string::npos ? std::string() : fileName.substr(0, p + 1);
}

std::string ExtractFileName(const std::string& fileName) {
  std::size_t p = fileName.find_last_of('/');
  return p == std::string::npos ? fileName : fileName.substr(p + 1);
}

std::string ExtractFileExt(const std::string& fileName) {
  std::string n = ExtractFileName(fileName);
  std::size_t p = n.find_last_of('.');
  return p == std::string::npos ? std::string() : n.substr(p);
}

std::string ChangeFileExt(const std::string& fileName, const std::string& ext) {
  std::string e = ExtractFileExt(fileName);
  return fileName.substr(0, fileName.size() - e.size()) + ext;
}

bool FileExists(const std::string& fileName) {
  struct stat st;
  return ::stat(fileName.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& dir) {
  struct stat st;
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& dir) {
  if (dir.empty()) return false;
  std::string d = dir;
  while (d.size() > 1 && d.back() == '/') d.pop_back();
  if (DirectoryExists(d)) return true;
  std::string parent = ExtractFilePath(d);
  if (!parent.empty() && parent != d + "/" && parent != "/" && !ForceDirectories(parent)) return false;
  return ::mkdir(d.c_str(), 0755) == 0 || DirectoryExists(d);
}

bool DeleteFile(const std::string& fileName) { return ::unlink(fileName.c_str()) == 0; }

bool RenameFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: a second name fails on a taken one, then the first goes.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

int64_t FileSize(const std::string& fileName) {
  struct stat st;
  if (::stat(fileName.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

namespace {
int OpenRegular(const std::string& fileName, int flags, unsigned mode) {
  // O_NONBLOCK keeps the open itself from waiting on a FIFO without a peer.
  int fd = ::open(fileName.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, static_cast<mode_t>(mode));
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int e = S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
    ::close(fd);
    errno = e;
    return -1;
  }
  if ((flags & O_NONBLOCK) == 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}
}  // namespace

int OpenRegularFile(const std::string& fileName, int flags, unsigned mode) {
  return OpenRegular(fileName, flags | O_NOFOLLOW, mode);
}

int OpenForeignRegularFile(const std::string& fileName, int flags) { return OpenRegular(fileName, flags, 0); }

int CreateNewFile(const std::string& fileName, int flags, unsigned mode) {
  const int create = (flags & O_ACCMODE) | O_CREAT | O_EXCL;
  int fd = OpenRegularFile(fileName, create, mode);
  // One removal and one more try: a name taken again at once is someone else's doing.
  if (fd < 0 && errno == EEXIST && (::unlink(fileName.c_str()) == 0 || errno == ENOENT))
    fd = OpenRegularFile(fileName, create, mode);
  return fd;
}

bool IsSymbolicLink(const std::string& fileName) {
  struct stat st;
  return ::lstat(fileName.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool ReadFileBytes(const std::string& fileName, std::string& out, std::size_t maxBytes) {
  int fd = OpenRegularFile(fileName, O_RDONLY);
  if (fd < 0) return false;
  out.clear();
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size > 0)
    out.reserve(static_cast<std::size_t>(std::min<uint64_t>(static_cast<uint64_t>(st.st_size), maxBytes)));
  char buf[65536];
  while (out.size() < maxBytes) {
    ssize_t n = ::read(fd, buf, std::min<std::size_t>(sizeof buf, maxBytes - out.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

bool SaveFileAtomically(const std::string& fileName, const void* data, std::size_t size) {
  std::string tmp = fileName + ".tmp" + std::to_string(::getpid());
  int fd = CreateNewFile(tmp, O_WRONLY);
  if (fd < 0) return false;
  const char* p = static_cast<const char*>(data);
  std::size_t left = size;
  bool ok = true;
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(tmp.c_str(), fileName.c_str()) != 0) ok = false;
  if (!ok) {
    int e = errno;
    ::unlink(tmp.c_str());
    errno = e;
  }
  return ok;
}

int RemoveStaleTempFiles(const std::string& dir, const std::vector<std::string>& ownNames,
                         const std::vector<std::string>& ownExtensions) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) return 0;
  int removed = 0;
  const std::string folder = IncludeTrailingPathDelimiter(dir);
  while (struct dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    const std::size_t p = name.rfind(".tmp");
    if (p == std::string::npos || p == 0 || p + 4 >= name.size()) continue;
    const std::string digits = name.substr(p + 4);
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string base = name.substr(0, p);
    bool ours = false;
    for (const std::string& n : ownNames) ours = ours || SameText(base, n);
    for (const std::string& x : ownExtensions)
      ours = ours || (base.size() > x.size() && SameText(base.substr(base.size() - x.size()), x));
    if (!ours) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(digits));
    if (pid <= 0 || pid == ::getpid()) continue;
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;  // still running, or not ours to judge
    struct stat st;
    const std::string path = folder + name;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::unlink(path.c_str()) == 0) ++removed;
  }
  ::closedir(d);
  return removed;
}

std::string ProgramDir() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  buf[n] = 0;
  return ExtractFilePath(buf);
}

uint32_t GetTickCount() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

int64_t QueryPerformanceCounter() {
  using namespace std::chrono;
  return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t QueryPerformanceFrequency() { return 1000000000LL; }

void Sleep(uint32_t ms) {
  if (ms == 0) std::this_thread::yield();
  else std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
