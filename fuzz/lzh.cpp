// TLZH decoding of arbitrary bits for a stated size taken from the input: it ends where the
// data does and touches nothing outside its tables. The rest of the input also round-trips.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/lzh.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int32_t stated = static_cast<int32_t>(data[0] | (data[1] << 8) | (data[2] << 16));
  const uint8_t* coded = data + 3;
  const size_t codedSize = size - 3;

  TLZH lzh;
  size_t at = 0;
  std::vector<uint8_t> out;
  const int32_t produced = lzh.Decode(
      stated, [&](const uint8_t* b, int32_t n, int32_t& w) { out.insert(out.end(), b, b + n), w = n; },
      [&](uint8_t* b, int32_t, int32_t& d) {
        d = at < codedSize ? 1 : 0;
        if (d) *b = coded[at++];
      });
  if (produced != static_cast<int32_t>(out.size())) std::abort();
  // A copy may run past the stated size, never further than one longest match.
  if (produced > stated + 60) std::abort();

  std::vector<uint8_t> packed, back;
  int32_t textSize = 0;
  at = 0;
  lzh.Encode(
      textSize, [&](const uint8_t* b, int32_t n, int32_t& w) { packed.insert(packed.end(), b, b + n), w = n; },
      [&](uint8_t* b, int32_t, int32_t& d) {
        d = at < codedSize ? 1 : 0;
        if (d) *b = coded[at++];
      });
  at = 0;
  lzh.Decode(
      textSize, [&](const uint8_t* b, int32_t n, int32_t& w) { back.insert(back.end(), b, b + n), w = n; },
      [&](uint8_t* b, int32_t, int32_t& d) {
        d = at < packed.size() ? 1 : 0;
        if (d) *b = packed[at++];
      });
  if (textSize != static_cast<int32_t>(codedSize) || back != std::vector<uint8_t>(coded, coded + codedSize))
    std::abort();
  return 0;
}
