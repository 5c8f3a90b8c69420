// The trace-log reader and its rewrites on damaged and huge logs. The first byte chooses a
// keep size and whether a hole of megabytes comes before the bytes (a huge log that must be read
// only at its tail). After LogBegin the log ends with a begin marker; after MarkLogReported no
// error is found any more; nothing read is ever longer than the keep size.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/Classes.h"
#include "base/SysUtils.h"
#include "engine/tools.h"

namespace {
std::string LogName() {
  static const std::string dir = [] {
    std::string d = "/tmp/kt_fuzz_tracelog_" + std::to_string(::getpid()) + "/";
    ForceDirectories(d);
    return d;
  }();
  return dir + "qv.log";
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::size_t keep = 64u << (data[0] & 7);  // 64 bytes .. 8 KB
  const bool hole = (data[0] & 8) != 0;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string name = LogName();
  DeleteFile(name);
  if (hole) {
    SaveFileAtomically(name, "", 0);
    if (::truncate(name.c_str(), 64 << 20) != 0) return 0;
    if (FILE* f = std::fopen(name.c_str(), "ab")) {
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
  } else {
    SaveFileAtomically(name, bytes);
  }
  SetLogKeepBytes(keep);
  SetLogFile(name);
  const std::string text = GetLogText();
  // Re-joined lines grow by at most one byte per line (a lone CR or LF becomes CR LF).
  if (text.size() > 2 * keep + 2) std::abort();
  LogHasErrors();
  LogBegin();
  TStringList lines;
  lines.SetText(GetLogText());
  if (lines.Count() == 0 || lines[lines.Count() - 1] != "<*** Begin ***>") std::abort();
  Log("after", ltError);
  MarkLogReported();
  if (LogHasErrors()) std::abort();
  SetLogFile("");
  return 0;
}
