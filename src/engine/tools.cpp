#include "engine/tools.h"

#include <cstdio>

#include "base/Classes.h"
#include "base/Exceptions.h"
#include "base/SysUtils.h"
#include "base/Threads.h"

namespace {
const char* const kBegin = "<*** Begin ***>";
const char* const kEnd = "<*** End ***>";
const std::size_t kMarkedLineMax = 10000;

TCriticalSection& LogLock() {
  static TCriticalSection lock;
  return lock;
}
std::string LogFileName;
bool LogLineOpen = false;

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

// Appends bytes to the log file; false when it cannot (the caller drops the write).
bool Append(const std::string& bytes) {
  if (LogFileName.empty()) return false;
  std::FILE* f = std::fopen(LogFileName.c_str(), "ab");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fflush(f) == 0 && ok;
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

void WriteLine(const std::string& line) {
  std::lock_guard<TCriticalSection> g(LogLock());
  std::string out;
  if (LogLineOpen) {
    LogLineOpen = false;
    out = " !\r\n";
  }
  out += line;
  out += "\r\n";
  Append(out);
}

bool LoadLines(TStringList& lines) {
  if (LogFileName.empty()) return false;
  try {
    lines.LoadFromFile(LogFileName);
    return true;
  } catch (...) {
    return false;
  }
}

void SaveLines(const TStringList& lines) {
  if (LogFileName.empty()) return;
  try {
    lines.SaveToFile(LogFileName);
  } catch (...) {
  }
}

bool IsErrorLine(const std::string& s) { return StartsText("* Msg", s) || StartsText("* Error:", s); }
}  // namespace

void SetLogFile(const std::string& fileName) {
  std::lock_guard<TCriticalSection> g(LogLock());
  LogFileName = fileName;
  if (!fileName.empty() && !FileExists(fileName)) {
    if (std::FILE* f = std::fopen(fileName.c_str(), "wb")) std::fclose(f);
  }
}

const std::string& LogFile() { return LogFileName; }

void Log(const std::string& text, uint32_t kind) { WriteLine(LineFor(text, kind & 0x7F)); }

void LogCode(const std::string& text, uint32_t code) { WriteLine(LineFor(text, code)); }

void LogPlain(const std::string& text) {
  std::lock_guard<TCriticalSection> g(LogLock());
  std::string piece;
  if (LogLineOpen) {
    piece = text;
  } else {
    LogLineOpen = true;
    piece = "! " + text;
  }
  Append(piece);
}

void LogBegin() {
  std::lock_guard<TCriticalSection> g(LogLock());
  TStringList lines;
  LoadLines(lines);
  for (int i = lines.Count() - 1; i >= 0; --i) {
    if (SameText(lines[i], kBegin)) {
      lines.Strings.erase(lines.Strings.begin(), lines.Strings.begin() + i);
      break;
    }
  }
  lines.Add(kBegin);
  SaveLines(lines);
}

void LogEnd() {
  std::lock_guard<TCriticalSection> g(LogLock());
  std::string out;
  if (LogLineOpen) {
    LogLineOpen = false;
    out = " !\r\n";
  }
  out += kEnd;
  out += "\r\n";
  Append(out);
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
}

void LogAndRaise(const std::string& message, uint32_t code, const std::string& context) {
  std::string text = context.empty() ? message : message + " (" + context + ")";
  if (code != 0) LogCode(text, code);
  else Log(text, ltError);
  throw Exception(message);
}
