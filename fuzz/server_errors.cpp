// errors.txt from the server: every kept line names a plain page under errors/ and an
// expression of at most 1000 bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "game/ServerReplies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto check = [](bool ok) {
    if (!ok) std::abort();
  };
  for (const TErrorListEntry& e : ParseErrorList(std::string(reinterpret_cast<const char*>(data), size))) {
    check(e.Page.size() <= 100 && e.Page.find("..") == std::string::npos);
    check(e.Page.find_first_of("/\\:?#%") == std::string::npos);
    check(e.Expression.size() <= 1000);
  }
  return 0;
}
