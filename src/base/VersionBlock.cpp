#include "base/VersionBlock.h"

#include <algorithm>
#include <cstring>

#include "base/Exceptions.h"
#include "base/Resources.h"
#include "base/Streams.h"
#include "base/SysUtils.h"

namespace {

// Bounded little-endian reader over one block: every read checks what remains first.
class TBlockReader {
public:
  TBlockReader(const uint8_t* data, std::size_t size) : P(data), N(size) {}
  bool U16(uint16_t& v) {
    if (N - Pos < 2) return false;
    v = static_cast<uint16_t>(P[Pos] | (P[Pos + 1] << 8));
    Pos += 2;
    return true;
  }
  bool U32(uint32_t& v) {
    if (N - Pos < 4) return false;
    v = static_cast<uint32_t>(P[Pos]) | (static_cast<uint32_t>(P[Pos + 1]) << 8) |
        (static_cast<uint32_t>(P[Pos + 2]) << 16) | (static_cast<uint32_t>(P[Pos + 3]) << 24);
    Pos += 4;
    return true;
  }
  bool Bytes(std::size_t count, std::string& s) {
    if (N - Pos < count) return false;
    s.assign(reinterpret_cast<const char*>(P + Pos), count);
    Pos += count;
    return true;
  }
  bool Skip(std::size_t count) {
    if (N - Pos < count) return false;
    Pos += count;
    return true;
  }
  bool AtEnd() const { return Pos == N; }

private:
  const uint8_t* P;
  std::size_t N;
  std::size_t Pos = 0;
};

bool HasMagic(const uint8_t* p) { return std::memcmp(p, kVersionInfoMagic, sizeof kVersionInfoMagic) == 0; }

// The block size the header at `p` declares, or 0 when the header cannot start a block.
std::size_t DeclaredSize(const uint8_t* p, std::size_t avail) {
  if (avail < kVersionInfoHeaderSize || !HasMagic(p)) return 0;
  const std::size_t size = static_cast<std::size_t>(p[16]) | (static_cast<std::size_t>(p[17]) << 8) |
                           (static_cast<std::size_t>(p[18]) << 16) |
                           (static_cast<std::size_t>(p[19]) << 24);
  if (size < kVersionInfoHeaderSize || size > kVersionInfoMaxSize || size > avail) return 0;
  return size;
}

}  // namespace

std::string TranslationText(const TVersionInfoTranslation& t) {
  return IntToHex(t.Language, 4) + IntToHex(t.CodePage, 4);
}

bool TVersionInfoBlock::QueryString(const std::string& translation, const std::string& key,
                                    std::string& value) const {
  for (const TVersionInfoStringTable& table : StringTables) {
    if (!SameText(TranslationText(table.Translation), translation)) continue;
    for (const auto& kv : table.Values) {
      if (SameText(kv.first, key)) {
        value = kv.second;
        return true;
      }
    }
  }
  return false;
}

bool ParseVersionInfoBlock(const uint8_t* data, std::size_t size, TVersionInfoBlock& out) {
  out = TVersionInfoBlock();
  if (data == nullptr || DeclaredSize(data, size) != size) return false;
  TBlockReader r(data, size);
  uint16_t layout = 0, translations = 0, tables = 0, reserved = 0;
  uint32_t declared = 0;
  TVersionInfoBlock b;
  if (!r.Skip(sizeof kVersionInfoMagic) || !r.U16(layout) || !r.U16(translations) ||
      !r.U16(tables) || !r.U16(reserved) || !r.U32(declared) || !r.U32(b.FileVersionMS) ||
      !r.U32(b.FileVersionLS) || !r.U32(b.ProductVersionMS) || !r.U32(b.ProductVersionLS) ||
      !r.U32(b.FileFlagsMask) || !r.U32(b.FileFlags))
    return false;
  if (layout != kVersionInfoLayout || reserved != 0) return false;
  // Each translation takes 4 bytes and each table at least 6: refuse counts the size cannot hold
  // before reserving anything for them.
  const std::size_t body = size - kVersionInfoHeaderSize;
  if (static_cast<std::size_t>(translations) * 4 + static_cast<std::size_t>(tables) * 6 > body)
    return false;
  b.Translations.reserve(translations);
  for (uint16_t i = 0; i < translations; ++i) {
    TVersionInfoTranslation t;
    if (!r.U16(t.Language) || !r.U16(t.CodePage)) return false;
    b.Translations.push_back(t);
  }
  b.StringTables.reserve(tables);
  for (uint16_t i = 0; i < tables; ++i) {
    TVersionInfoStringTable table;
    uint16_t entries = 0;
    if (!r.U16(table.Translation.Language) || !r.U16(table.Translation.CodePage) || !r.U16(entries))
      return false;
    for (uint16_t e = 0; e < entries; ++e) {
      uint16_t keyLen = 0, valueLen = 0;
      std::string key, value;
      if (!r.U16(keyLen) || keyLen == 0 || keyLen > 255 || !r.Bytes(keyLen, key) ||
          !r.U16(valueLen) || !r.Bytes(valueLen, value))
        return false;
      table.Values.emplace_back(std::move(key), std::move(value));
    }
    b.StringTables.push_back(std::move(table));
  }
  if (!r.AtEnd()) return false;
  out = std::move(b);
  return true;
}

bool FindVersionInfoBlock(const uint8_t* data, std::size_t size, std::size_t& offset,
                          std::size_t& length, std::size_t searchLimit) {
  if (data == nullptr || size < kVersionInfoHeaderSize) return false;
  const std::size_t lastStart = std::min(size - kVersionInfoHeaderSize + 1, searchLimit);
  TVersionInfoBlock scratch;
  for (std::size_t i = 0; i < lastStart; ++i) {
    const void* hit = std::memchr(data + i, kVersionInfoMagic[0], lastStart - i);
    if (hit == nullptr) break;
    i = static_cast<std::size_t>(static_cast<const uint8_t*>(hit) - data);
    const std::size_t n = DeclaredSize(data + i, size - i);
    if (n != 0 && ParseVersionInfoBlock(data + i, n, scratch)) {
      offset = i;
      length = n;
      return true;
    }
  }
  return false;
}

bool FindVersionInfoBlock(TStream& stream, std::vector<uint8_t>& block, std::size_t chunkSize) {
  block.clear();
  chunkSize = std::clamp<std::size_t>(chunkSize, 1, std::size_t{1} << 26);
  // A window holds one chunk of start positions plus room for a whole block starting at the
  // chunk's last byte; the next window starts one chunk further on.
  std::vector<uint8_t> window(chunkSize + kVersionInfoMaxSize);
  int64_t windowStart = 0;
  for (;;) {
    stream.SetPosition(windowStart);
    std::size_t have = 0;
    while (have < window.size()) {
      const int32_t want = static_cast<int32_t>(std::min<std::size_t>(window.size() - have, 1 << 30));
      const int32_t got = stream.Read(window.data() + have, want);
      if (got <= 0) break;
      have += static_cast<std::size_t>(got);
    }
    std::size_t offset = 0, length = 0;
    if (FindVersionInfoBlock(window.data(), have, offset, length, chunkSize)) {
      block.assign(window.begin() + static_cast<std::ptrdiff_t>(offset),
                   window.begin() + static_cast<std::ptrdiff_t>(offset + length));
      return true;
    }
    // Every start position of this file has been tried once the window reached its end.
    if (have <= chunkSize + kVersionInfoHeaderSize - 1) return false;
    windowStart += static_cast<int64_t>(chunkSize);
  }
}

// --- TVersionNumberInformation


bool LoadVersionInfoBlock(const std::string& fileName, TVersionInfoBlock& block, std::vector<uint8_t>* raw) {
  std::vector<uint8_t> data;
  if (fileName.empty()) {
    TResourceData res;
    if (!FindResourceData("VERSION", "VERSIONINFO", res)) return false;
    data.assign(res.Data, res.Data + res.Size);
  } else {
    // A file that cannot be opened or read has no version information, like one without it.
    try {
      TFileStream file(fileName, fmOpenRead | fmShareDenyNone | fmFollowLinks);
      if (!FindVersionInfoBlock(file, data)) return false;
    } catch (const Exception&) {
      return false;
    }
  }
  TVersionInfoBlock parsed;
  if (!ParseVersionInfoBlock(data.data(), data.size(), parsed)) return false;
  block = std::move(parsed);
  if (raw) *raw = std::move(data);
  return true;
}
