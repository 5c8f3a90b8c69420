// Pattern and subject pairs from the error list's point of view: untrusted expressions run over
// arbitrary text. Layout: byte 0 = options, then the pattern up to the first NUL, then the subject.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "shell/RegularExpressions.h"

namespace {
bool KnownCode(int code) {
  return (code >= 100 && code <= 128) || (code >= 1000 && code <= 1017);
}

void Check(bool ok) {
  if (!ok) std::abort();
}

// Group n lies inside the subject and reads back as the subject's text there.
void CheckGroups(const TRegularExpression& r, const std::string& subject) {
  const size_t len = subject.find('\0') == std::string::npos ? subject.size() : subject.find('\0');
  for (int n = 0; n < TRegularExpression::kGroupCount; ++n) {
    const int pos = r.MatchPos(n);
    if (pos < 0) {
      Check(n != 0);
      continue;
    }
    const int l = r.MatchLen(n);
    Check(pos >= 1 && l >= 0 && static_cast<size_t>(pos - 1 + l) <= len);
    Check(r.Match(n) == subject.substr(static_cast<size_t>(pos - 1), static_cast<size_t>(l)));
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t options = data[0];
  const char* rest = reinterpret_cast<const char*>(data + 1);
  const size_t restLen = size - 1;
  const void* nul = std::memchr(rest, 0, restLen);
  const size_t patLen = nul ? static_cast<size_t>(static_cast<const char*>(nul) - rest) : restLen;
  // The lookup caps expressions at 1000 characters; subjects stay small so each run is quick.
  std::string pattern(rest, std::min<size_t>(patLen, 1000));
  std::string subject;
  if (nul) subject.assign(rest + patLen + 1, std::min<size_t>(restLen - patLen - 1, 4096));

  TRegularExpression r;
  r.StepLimit = 200000;
  r.Modifiers = options & 63;
  if (options & 64) r.SetLinePairedSeparator("");
  if (options & 128) r.LineSeparators = "\n";
  r.SetExpression(pattern);
  try {
    const bool found = r.Exec(subject);
    if (found) CheckGroups(r, subject);
    // The same program on the same subject gives the same answer; an empty expression keeps it.
    r.SetExpression("");
    const int pos = r.MatchPos(0), len = r.MatchLen(0);
    Check(r.Exec(subject) == found);
    if (found) Check(r.MatchPos(0) == pos && r.MatchLen(0) == len);
    // Searching again from where the match began finds the same match: nothing before the
    // start position is needed except as context for anchors and word boundaries.
    if (found) {
      r.SetInput(subject);
      Check(r.ExecFrom(pos));
      Check(r.MatchPos(0) == pos && r.MatchLen(0) == len);
      CheckGroups(r, subject);
    }
  } catch (const ERegularExpression& e) {
    Check(KnownCode(e.ErrorCode));
    Check(!e.Message.empty());
  }
  return 0;
}
