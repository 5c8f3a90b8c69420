#include "engine/tools.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>

#include "base/Classes.h"
#include "base/Exceptions.h"
#include "base/SysUtils.h"
#include "base/Threads.h"

namespace {
const char* const kBegin = "<*** Begin ***>";
const char* const kEnd = "<*** End ***>";
const std::size_t kMarkedLineMax = 10000;
// The most of an old log that is ever read or kept: a run that logged more loses its oldest
// lines, so a huge log costs neither start-up time nor memory.
std::size_t LogKeepBytes = 4u << 20;
// What one run may write; both below LogKeepBytes.
std::size_t RunCap = 1u << 20;
std::size_t RunCeiling = 2u << 20;
// A longer text of one line is cut: a line built from a page's address or reply cannot take
// the run's whole budget at once.
const std::size_t kLineTextMax = 64 * 1024;
// Kinds of page notes a run tells apart; notes of further kinds are counted only.
const std::size_t kPageNoteKindsMax = 64;

TCriticalSection& LogLock() {
  static TCriticalSection lock;
  return lock;
}
std::string LogFileName;
bool LogLineOpen = false;
std::size_t LogLineBytes = 0;  // of the open LogPlain line, which is cut as a single line is
// Room held in the file for the end of the run (a pending " !", the note of left-out page notes,
// the end marker): a disk that fills up meanwhile cannot stop the end, and a run that ended
// normally is never taken for a crash at the next start.
const std::size_t kEndReserve = 256;
bool LogWasLink = false;  // SetLogFile found a link in the log's place and started afresh

// The current run's share of the file, under LogLock.
struct TLogRun {
  std::size_t Bytes = 0;
  bool Capped = false;  // past RunCap: warnings and errors only
  bool Closed = false;  // past RunCeiling: nothing until the run's end
  std::set<std::string> NotedKinds;
  uint64_t NotesLeftOut = 0;
};
TLogRun Run;

std::string SizeText(std::size_t bytes) {
  if (bytes >= (1u << 20) && bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MB";
  if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KB";
  return std::to_string(bytes) + " bytes";
}

// The text cut to at most `max` bytes at a whole character, "..." added where it was cut.
std::string CutText(const std::string& text, std::size_t max) {
  if (text.size() <= max) return text;
  std::size_t n = max;
  for (int back = 0; back < 4 && n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80; ++back) --n;
  return text.substr(0, n) + "...";
}
std::string Bounded(const std::string& text) { return CutText(text, kLineTextMax); }

std::string LineFor(const std::string& text, uint32_t kind) {
  switch (kind) {
    case ltInfo: return "* Info: " + text;
    case ltWarning: return "* Warning: " + text;
    case ltError: return "* Error: " + text;
    case ltCheckpoint: return "* Checkpoint: " + text;
    case ltNote: return "* Note: " + text;
    case ltEntering: return "* Entering: " + text;
    case ltExiting: return "* Exiting: " + text;
    case ltSeparator: return "* Separator: " + text;
    default: break;
  }
  if (kind >= 256) return "* Msg " + IntToHex(kind, 8) + ": " + text;
  return "* Unknown: " + text;
}

bool WriteAll(int fd, const char* p, std::size_t left) {
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// A file with a second name is another file as much as ours: lines appended to it, or its bytes
// sent with an error report, would reach that other file. The log is the one file written in
// place, so it alone has to refuse hard links.
bool HasOtherNames(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) != 0 || st.st_nlink > 1;
}

int OpenLog(int flags) {
  const int fd = OpenRegularFile(LogFileName, flags);
  if (fd >= 0 && HasOtherNames(fd)) {
    ::close(fd);
    errno = EMLINK;
    return -1;
  }
  return fd;
}

// Holds `bytes` of room past the file's end without changing its size. False only when the
// disk has no such room; a file system that cannot hold room is let be.
bool HoldRoom(int fd, std::size_t bytes) {
  struct stat st {};
  if (bytes == 0 || ::fstat(fd, &st) != 0) return true;
  int r;
  while ((r = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, st.st_size, static_cast<off_t>(bytes))) != 0 && errno == EINTR) {
  }
  return r == 0 || (errno != ENOSPC && errno != EDQUOT && errno != EFBIG);
}

// Appends bytes to the log file; false when it cannot (the caller drops the write). Every write
// but the run's end keeps the end's room behind it: one that would take that room is dropped.
bool Append(const std::string& bytes, std::size_t reserve = kEndReserve) {
  if (LogFileName.empty()) return false;
  const int fd = OpenLog(O_WRONLY | O_APPEND | O_CREAT);
  if (fd < 0) return false;
  const bool ok = HoldRoom(fd, bytes.size() + reserve) && WriteAll(fd, bytes.data(), bytes.size());
  return ::close(fd) == 0 && ok;
}

// Reads the log, or only its last LogKeepBytes from a line start when it is longer (`cut`).
bool ReadTail(std::string& out, bool& cut) {
  out.clear();
  cut = false;
  if (LogFileName.empty()) return false;
  const int fd = OpenLog(O_RDONLY);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  const uint64_t size = ok ? static_cast<uint64_t>(st.st_size) : 0;
  uint64_t from = size > LogKeepBytes ? size - LogKeepBytes : 0;
  if (ok) out.resize(static_cast<std::size_t>(size - from));
  std::size_t got = 0;
  while (ok && got < out.size()) {
    const ssize_t n = ::pread(fd, out.data() + got, out.size() - got, static_cast<off_t>(from + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (!ok) {
    out.clear();
    return false;
  }
  out.resize(got);  // the file may have shrunk meanwhile
  if (from > 0) {
    // Start at the first whole line.
    std::size_t p = out.find_first_of("\r\n");
    p = p == std::string::npos ? out.size() : p + 1;
    if (p < out.size() && out[p - 1] == '\r' && out[p] == '\n') ++p;
    out.erase(0, p);
    cut = true;
  }
  return true;
}

// Appends bytes that belong to the run; under LogLock.
void Put(const std::string& bytes, std::size_t reserve = kEndReserve) {
  Run.Bytes += bytes.size();
  Append(bytes, reserve);
}

// One whole line, closing a pending LogPlain line first; under LogLock.
void PutLine(const std::string& line, std::size_t reserve = kEndReserve) {
  std::string out;
  if (LogLineOpen) {
    LogLineOpen = false;
    LogLineBytes = 0;
    out = " !\r\n";
  }
  out += line;
  out += "\r\n";
  Put(out, reserve);
}

// Whether `size` more bytes fit in the run's limits; says once where the run passes each of
// them. Warnings and errors (`important`) have the room between the two. Under LogLock.
bool Admit(std::size_t size, bool important) {
  if (!Run.Capped && Run.Bytes + size <= RunCap) return true;
  if (!Run.Capped) {
    Run.Capped = true;
    PutLine("* Warning: This run's log has reached " + SizeText(RunCap) +
            ": from here on only its warnings and errors are written");
  }
  if (!important || Run.Closed) return false;
  if (Run.Bytes + size <= RunCeiling) return true;
  Run.Closed = true;
  PutLine("* Warning: This run's log has reached " + SizeText(RunCeiling) + ": nothing more is written until it ends");
  return false;
}

void WriteLine(const std::string& text, uint32_t kind) {
  const std::string line = LineFor(Bounded(text), kind);
  const bool important = kind == ltWarning || kind == ltError || kind >= 256;
  std::lock_guard<TCriticalSection> g(LogLock());
  if (Admit(line.size() + 6, important)) PutLine(line);  // 6: the line end, a pending " !"
}

bool LoadLines(TStringList& lines) {
  std::string text;
  bool cut = false;
  if (!ReadTail(text, cut)) return false;
  lines.SetText(text);
  return true;
}

// Through a temporary file and a rename: a kill or a full disk leaves the old log whole.
void SaveLines(const TStringList& lines) {
  if (LogFileName.empty()) return;
  try {
    SaveFileAtomically(LogFileName, lines.Text());
  } catch (...) {
  }
}

bool IsErrorLine(const std::string& s) { return StartsText("* Msg", s) || StartsText("* Error:", s); }
}  // namespace

void SetLogFile(const std::string& fileName) {
  std::lock_guard<TCriticalSection> g(LogLock());
  LogFileName = fileName;
  LogWasLink = false;
  Run = TLogRun{};  // another file: another run
  if (!fileName.empty()) {
    // A link in the log's place (symbolic, or a second name of another file) is replaced by a
    // new, empty log: what it leads to is never read, appended to or mailed with a report.
    struct stat st {};
    if (::lstat(fileName.c_str(), &st) == 0 && (S_ISLNK(st.st_mode) || (S_ISREG(st.st_mode) && st.st_nlink > 1))) {
      const int fd = CreateNewFile(fileName, O_WRONLY);
      if (fd >= 0) ::close(fd);
      LogWasLink = true;
      return;
    }
    // Creates a missing file; anything else in its place is left as it is.
    const int fd = OpenRegularFile(fileName, O_WRONLY | O_CREAT);
    if (fd >= 0) ::close(fd);
  }
}

void SetLogKeepBytes(std::size_t bytes) {
  std::lock_guard<TCriticalSection> g(LogLock());
  LogKeepBytes = bytes;
}

void SetLogRunLimits(std::size_t cap, std::size_t ceiling) {
  std::lock_guard<TCriticalSection> g(LogLock());
  RunCap = cap;
  RunCeiling = ceiling < cap ? cap : ceiling;
}

std::string LogFile() {
  std::lock_guard<TCriticalSection> g(LogLock());
  return LogFileName;
}

void Log(const std::string& text, uint32_t kind) { WriteLine(text, kind & 0x7F); }

void LogCode(const std::string& text, uint32_t code) { WriteLine(text, code); }

void LogPageNote(const std::string& kind, const std::string& text) {
  std::lock_guard<TCriticalSection> g(LogLock());
  if (Run.NotedKinds.count(kind) || Run.NotedKinds.size() >= kPageNoteKindsMax) {
    ++Run.NotesLeftOut;
    return;
  }
  Run.NotedKinds.insert(kind);
  WriteLine(text, ltNote);
}

void LogPlain(const std::string& text) {
  std::lock_guard<TCriticalSection> g(LogLock());
  // The joined line is cut as one line's text is: what passes the cut is left out until it ends.
  const std::size_t used = LogLineOpen ? LogLineBytes : 0;
  if (used >= kLineTextMax) return;
  const bool cut = text.size() > kLineTextMax - used;
  const std::string body = CutText(text, kLineTextMax - used);
  const std::string piece = LogLineOpen ? body : "! " + body;
  if (!Admit(piece.size() + 4, false)) return;  // 4: the line's close
  LogLineOpen = true;
  LogLineBytes = cut ? kLineTextMax : used + body.size();
  Put(piece);
}

void LogBegin() {
  std::lock_guard<TCriticalSection> g(LogLock());
  Run = TLogRun{};
  Run.Bytes = std::char_traits<char>::length(kBegin) + 2;
  if (LogWasLink) {
    LogWasLink = false;
    Append(std::string(kBegin) + "\r\n* Warning: The trace log was a link to another file; a new log was started\r\n");
    return;
  }
  std::string text;
  bool cut = false;
  if (!ReadTail(text, cut)) {
    // Missing: made by the append. Unreadable or no regular file: its lines are what the error
    // lookup and the report need, so it is never rewritten, only appended to where that works.
    Append(std::string(kBegin) + "\r\n");
    return;
  }
  TStringList lines;
  lines.SetText(text);
  int first = 0;
  for (int i = lines.Count() - 1; i >= 0; --i) {
    if (SameText(lines[i], kBegin)) {
      first = i;
      break;
    }
  }
  if (first == 0 && !cut && (text.empty() || text.back() == '\n' || text.back() == '\r')) {
    // Nothing to drop: an append keeps the file without a rewrite.
    Append(std::string(kBegin) + "\r\n");
    return;
  }
  lines.Strings.erase(lines.Strings.begin(), lines.Strings.begin() + first);
  // The rewritten file holds no room yet: the new run begins with an append that holds it.
  SaveLines(lines);
  Append(std::string(kBegin) + "\r\n");
}

void LogEnd() {
  std::lock_guard<TCriticalSection> g(LogLock());
  // Past every limit: these lines are few, and a run without its end would count as a crash.
  // They go into the room the run's writes held.
  if (Run.NotesLeftOut > 0)
    PutLine("* Note: " + std::to_string(Run.NotesLeftOut) +
                " further page notes were left out (each kind is noted once per run)",
            0);
  Run.NotesLeftOut = 0;
  PutLine(kEnd, 0);
}

bool LogHasErrors() {
  std::lock_guard<TCriticalSection> g(LogLock());
  TStringList lines;
  if (!LoadLines(lines)) return false;
  for (const std::string& s : lines.Strings)
    if (IsErrorLine(s)) return true;
  for (int i = 1; i < lines.Count(); ++i)
    if (SameText(lines[i], kBegin) && !SameText(lines[i - 1], kEnd)) return true;
  return false;
}

std::string GetLogText() {
  std::lock_guard<TCriticalSection> g(LogLock());
  TStringList lines;
  if (!LoadLines(lines)) return {};
  return lines.Text();
}

void MarkLogReported() {
  std::lock_guard<TCriticalSection> g(LogLock());
  TStringList lines;
  if (!LoadLines(lines)) return;
  for (std::string& s : lines.Strings)
    if (IsErrorLine(s)) s = ">" + s.substr(1, kMarkedLineMax);
  for (int i = lines.Count() - 1; i >= 1; --i)
    if (SameText(lines[i], kBegin) && !SameText(lines[i - 1], kEnd)) lines.Insert(i, kEnd);
  SaveLines(lines);
  // The new file has to hold the running run's end again.
  const int fd = OpenLog(O_WRONLY | O_APPEND);
  if (fd >= 0) {
    HoldRoom(fd, kEndReserve);
    ::close(fd);
  }
}

void LogAndRaise(const std::string& message, uint32_t code, const std::string& context) {
  std::string text = context.empty() ? message : message + " (" + context + ")";
  if (code != 0) LogCode(text, code);
  else Log(text, ltError);
  throw Exception(message);
}
