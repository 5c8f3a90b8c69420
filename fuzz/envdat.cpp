// The env.dat reader on hostile input. The first byte chooses whether the rest is the file's
// plain content (enciphered here, so the fuzzer reaches the record) or the file as it stands.
// A record that loads must save and load back to the same bytes, with nothing out of range.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/Streams.h"
#include "game/KTGlobal.h"
#include "game/Options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string file = (data[0] & 1) ? rest : EncipherBytes(kEnvironmentKey, rest);
  TStringStream in(file);
  TGameEnvironment env;
  if (!LoadEnvironmentStream(in, env)) return 0;
  uint8_t a[kEnvironmentSize], b[kEnvironmentSize];
  env.SaveToBytes(a);
  TGameEnvironment again;
  again.LoadFromBytes(a);
  again.SaveToBytes(b);
  if (std::memcmp(a, b, kEnvironmentSize) != 0) std::abort();
  TStringStream saved(EncipherBytes(kEnvironmentKey, "zrc2e" + std::string(reinterpret_cast<const char*>(a), kEnvironmentSize)));
  std::vector<std::string> defaulted;
  if (!LoadEnvironmentStream(saved, again, &defaulted) || !defaulted.empty()) std::abort();
  return 0;
}
