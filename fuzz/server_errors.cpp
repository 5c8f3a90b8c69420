// errors.txt from the server: every page that is kept ends an address under errors/ on the same
// host (no control characters, nothing an address cannot carry, no way up or out), and every
// expression has at most 1000 bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "game/ServerReplies.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}

int Hex(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  return -1;
}

// One round of %XX decoding.
std::string Decoded(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && Hex(s[i + 1]) >= 0 && Hex(s[i + 2]) >= 0) {
      out += static_cast<char>(Hex(s[i + 1]) * 16 + Hex(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

void CheckPath(const std::string& path) {
  for (char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    Check(c > 0x20 && c < 0x7f && ch != '\\' && ch != '"' && ch != '<' && ch != '>');
  }
  std::string p = path.substr(0, path.find_first_of("?#"));
  for (int round = 0; round < 10; ++round) {
    Check(p.empty() || (p[0] != '/' && p[0] != '\\'));
    for (size_t start = 0; start <= p.size();) {
      size_t end = p.find_first_of("/\\", start);
      if (end == std::string::npos) end = p.size();
      Check(p.substr(start, end - start) != "..");
      start = end + 1;
    }
    for (char ch : p) Check(static_cast<unsigned char>(ch) >= 0x20 && ch != 0x7f);
    std::string next = Decoded(p);
    if (next == p) break;
    p = next;
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (const TErrorListEntry& e : ParseErrorList(std::string(reinterpret_cast<const char*>(data), size))) {
    if (e.PageRefused) Check(e.PagePath.empty());
    else CheckPath(e.PagePath);
    Check(e.Expression.size() <= 1000);
  }
  return 0;
}
