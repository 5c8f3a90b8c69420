// Version blocks from files we did not make: the parser must stay inside the bytes it is given,
// and searching a stream in small windows must find what searching the whole buffer finds.
// Layout: byte 0 = window size for the stream search, the rest = the file's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/Streams.h"
#include "base/SysUtils.h"
#include "shell/VersInfo.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::size_t chunk = static_cast<std::size_t>(data[0]) * 97 + 1;
  // A copy of exactly the input, so any read past it is caught.
  const std::vector<uint8_t> bytes(data + 1, data + size);

  TVersionInfoBlock whole;
  if (ParseVersionInfoBlock(bytes.data(), bytes.size(), whole)) {
    Check(bytes.size() >= kVersionInfoHeaderSize && bytes.size() <= kVersionInfoMaxSize);
    std::size_t strings = 0;
    for (const TVersionInfoStringTable& t : whole.StringTables) {
      for (const auto& kv : t.Values) {
        Check(!kv.first.empty() && kv.first.size() <= 255);
        strings += 4 + kv.first.size() + kv.second.size();
      }
      strings += 6;
    }
    Check(kVersionInfoHeaderSize + whole.Translations.size() * 4 + strings == bytes.size());
    for (const TVersionInfoStringTable& t : whole.StringTables)
      for (const auto& kv : t.Values) {
        std::string value;
        const std::string tr = IntToHex(t.Translation.Language, 4) + IntToHex(t.Translation.CodePage, 4);
        Check(whole.QueryString(tr, kv.first, value));
      }
  }

  std::size_t offset = 0, length = 0;
  const bool found = FindVersionInfoBlock(bytes.data(), bytes.size(), offset, length);
  if (found) {
    Check(offset + length <= bytes.size());
    TVersionInfoBlock b;
    Check(ParseVersionInfoBlock(bytes.data() + offset, length, b));
  }
  TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
  std::vector<uint8_t> block;
  Check(FindVersionInfoBlock(stream, block, chunk) == found);
  if (found)
    Check(block == std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                                        bytes.begin() + static_cast<std::ptrdiff_t>(offset + length)));
  return 0;
}
