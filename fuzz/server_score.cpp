// The score server's reply: the page, ID and upload field can go into an address, the record
// and a form header without escaping anything out of them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "game/ServerReplies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const TScoreReply r = ParseScoreReply(std::string(reinterpret_cast<const char*>(data), size));
  auto check = [](bool ok) {
    if (!ok) std::abort();
  };
  check(r.ID.size() <= 32 && r.Page.size() <= 64 && r.Upload.size() <= 64);
  for (const std::string* v : {&r.Page, &r.ID, &r.Upload})
    check(v->find_first_of("|/\\\"?&#%<> \r\n") == std::string::npos);
  const std::string escaped = QueryEscape(r.Page + r.ID);
  check(escaped.find_first_of("&#?/ ") == std::string::npos);
  return 0;
}
