// Container decompression on hostile input: a result or ELzrw1Exception, never a crash. The
// input also goes through both coders and back, which must give it back exactly.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/Streams.h"
#include "engine/LZRW1.h"

namespace {
std::string Run(const std::string& input, bool compress, uint8_t method) {
  TStringStream in(input), out;
  Tlzrw1 lz;
  lz.UseStreams = true;
  lz.InputStream = &in;
  lz.OutputStream = &out;
  lz.Method = method;
  if (compress) {
    lz.Compress();
  } else {
    lz.Decompress();
  }
  return out.DataString;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  try {
    Run(input, false, 0);
  } catch (const ELzrw1Exception&) {
  }
  for (uint8_t method : {Tlzrw1::MethodLZH, Tlzrw1::MethodLZRW1KH}) {
    if (Run(Run(input, true, method), false, 0) != input) std::abort();
  }
  return 0;
}
