// The hosts list from the server: whatever arrives, each value is empty or well formed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "game/ServerReplies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const THostsList h = ParseHostsList(std::string(reinterpret_cast<const char*>(data), size));
  auto check = [](bool ok) {
    if (!ok) std::abort();
  };
  check(h.HighScoreHost.empty() || IsHostValue(h.HighScoreHost));
  check(h.InternalHost.empty() || IsHostValue(h.InternalHost));
  check(h.HighScoreBase.empty() || IsBaseValue(h.HighScoreBase));
  check(h.InternalBase.empty() || IsBaseValue(h.InternalBase));
  check(h.SupportURL.empty() || h.SupportURL.rfind("http", 0) == 0);
  for (char c : h.SupportURL) check(static_cast<unsigned char>(c) > 0x20 && c != 0x7f);
  return 0;
}
