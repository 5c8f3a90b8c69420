// The first-place reply: a file name, when given, stays inside the server's upload folder and
// the user folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "game/ServerReplies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string name;
  const TFirstPlaceReply kind = ParseFirstPlaceReply(std::string(reinterpret_cast<const char*>(data), size), name);
  auto check = [](bool ok) {
    if (!ok) std::abort();
  };
  if (kind != TFirstPlaceReply::NewFile) {
    check(name.empty());
    return 0;
  }
  check(!name.empty() && name.size() <= 256 && name.find("..") == std::string::npos);
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    check(u > 0x20 && u != 0x7f && c != '/' && c != '\\' && c != '?' && c != '#' && c != '%' && c != '&');
  }
  return 0;
}
