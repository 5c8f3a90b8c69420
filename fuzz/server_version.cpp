// version.txt from the server: the shown version is short and printable, and the page is a web
// address or nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "game/ServerReplies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TVersionReply r;
  if (!ParseVersionReply(std::string(reinterpret_cast<const char*>(data), size), r)) return 0;
  auto check = [](bool ok) {
    if (!ok) std::abort();
  };
  check(r.Latest.size() <= 40 && r.RawPage.size() <= 300);
  for (char c : r.Latest) check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
  check(r.Page.empty() || r.Page.rfind("http://", 0) == 0 || r.Page.rfind("https://", 0) == 0);
  for (char c : r.Page) check(static_cast<unsigned char>(c) > 0x20 && c != 0x7f);
  return 0;
}
