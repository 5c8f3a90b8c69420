// The decrypting stream over arbitrary bytes, read in pieces and seeked as the input's first
// bytes say: the positions and counts must stay consistent, and the plaintext must encipher
// back to the whole blocks it came from.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/Streams.h"
#include "engine/Cryptography.h"
#include "engine/StreamFilters.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const std::string inner(reinterpret_cast<const char*>(data) + 4, size - 4);
  const int64_t whole = static_cast<int64_t>(inner.size() / 8 * 8);
  static TBlowfish cipher("CAPRICCIOSOX?WUWpe$B1947~(3)DF/&hmTOQEwt@qzxq6u*re517gb-d");

  TStringStream src(inner);
  TDecryptionStream dec(&src, false, &cipher, false);
  if (dec.GetSize() != whole) std::abort();
  const int64_t target = (data[0] | (data[1] << 8)) - 16;
  const int origin = data[2] % 3;
  const int64_t pos = dec.Seek(target, origin);
  if (pos < 0 || dec.GetPosition() != pos) std::abort();

  std::string plain;
  const int32_t step = 1 + data[3] % 23;
  char buf[32];
  for (;;) {
    const int32_t n = dec.Read(buf, step);
    if (n < 0 || n > step) std::abort();
    if (n == 0) break;
    plain.append(buf, static_cast<std::size_t>(n));
  }
  // Past the end a seek stands where it was sent and reads nothing.
  const int64_t end = pos > whole ? pos : whole;
  if (pos + static_cast<int64_t>(plain.size()) != end || dec.GetPosition() != end) std::abort();

  dec.Seek(0, soFromBeginning);
  plain.assign(static_cast<std::size_t>(whole), '\0');
  if (dec.Read(plain.data(), static_cast<int32_t>(whole)) != whole) std::abort();
  TStringStream again;
  {
    TEncryptionStream enc(&again, false, &cipher, false);
    enc.WriteBuffer(plain.data(), static_cast<int32_t>(plain.size()));
    enc.Flush();
  }
  if (again.DataString != inner.substr(0, static_cast<std::size_t>(whole))) std::abort();
  return 0;
}
