#include "engine/Cryptography.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>

#include "base/Exceptions.h"
#include "base/Streams.h"

#include "engine/CryptographyTables.inc"

namespace {
// Any fixed text will do: nothing in the game keys a cipher with it.
const char* const kDefaultKeyText = "qvkeys";

uint32_t LoadLE(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void StoreLE(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t Rotl(uint32_t v, unsigned n) {
  n &= 31;
  return n == 0 ? v : (v << n) | (v >> (32 - n));
}

uint32_t ByteSwap(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}
}  // namespace

// --- TCryptography

TCryptography::TCryptography(const std::string& name, int32_t keySize, int32_t blockSize) {
  Init(name, keySize, blockSize);
}

void TCryptography::Init(const std::string& name, int32_t keySize, int32_t blockSize) {
  FAlgorithmName = name;
  FBlockSize = std::max<int32_t>(blockSize, 1);
  FBufferSize = (2048 / FBlockSize) * FBlockSize;
  if (FBufferSize == 0) FBufferSize = FBlockSize;
  FKeyText = kDefaultKeyText;
  FKeySize = std::max<int32_t>(keySize, 1);
  FKey.assign(static_cast<std::size_t>(FKeySize), 0);
}

void TCryptography::SetKey(const std::string& text) {
  if (text.empty() || text == FKeyText) return;
  FKeyText = text;
  // A fresh key: folding a new text into the old key bytes would make the key depend on the
  // history of the object, and no fresh cipher with the same text could read the data back.
  std::fill(FKey.begin(), FKey.end(), 0);
  PrepareKey();
  KeySchedule();
}

void TCryptography::PrepareKey() {
  std::string s = FKeyText;
  const std::size_t keySize = static_cast<std::size_t>(FKeySize);
  for (std::size_t i = 0; s.size() % keySize != 0; ++i) s.push_back(s[i]);
  std::size_t o = 0;
  for (std::size_t pos = 0; pos + 4 <= s.size(); pos += 4) {
    const uint32_t c = LoadLE(reinterpret_cast<const uint8_t*>(s.data() + pos));
    uint8_t wb[4];
    for (std::size_t j = 0; j < 4; ++j) wb[j] = FKey[(o + j) % keySize];
    const uint32_t w = Rotl(LoadLE(wb), c % 32) ^ c;
    StoreLE(wb, w);
    for (std::size_t j = 0; j < 4; ++j) FKey[(o + j) % keySize] = wb[j];
    o = (o + 4) % keySize;
  }
}

void TCryptography::SetBufferSize(int32_t size) {
  size = (size / FBlockSize) * FBlockSize;
  if (size < 256) size = (256 / FBlockSize) * FBlockSize;
  if (size <= 0) size = FBlockSize;
  FBufferSize = size;
}

int TCryptography::ProcessData(bool encrypt, const TSourceProc& source, const TSinkProc& sink) {
  std::vector<uint8_t> buffer(static_cast<std::size_t>(FBufferSize));
  for (;;) {
    std::fill(buffer.begin(), buffer.end(), 0);
    int32_t n = source(buffer.data(), FBufferSize);
    if (n <= 0) break;
    n = std::min(n, FBufferSize);
    const int32_t blocks = (n + FBlockSize - 1) / FBlockSize;
    for (int32_t b = 0; b < blocks; ++b) {
      uint8_t* block = buffer.data() + static_cast<std::size_t>(b) * FBlockSize;
      if (!(encrypt ? EncryptBlock(block) : DecryptBlock(block))) break;
    }
    const int32_t padded = blocks * FBlockSize;
    if (sink(buffer.data(), padded) != padded) throw EWriteError("Stream write error");
  }
  return 0;
}

int32_t TCryptography::ReadFromString(uint8_t* buffer, int32_t count) {
  const int64_t left = static_cast<int64_t>(InText.size()) - (InPos - 1);
  const int32_t n = static_cast<int32_t>(std::clamp<int64_t>(left, 0, count));
  if (n > 0) std::memcpy(buffer, InText.data() + (InPos - 1), static_cast<std::size_t>(n));
  InPos += n;
  return n;
}

int32_t TCryptography::WriteToString(const uint8_t* buffer, int32_t count) {
  OutText.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(count));
  return count;
}

int32_t TCryptography::ReadFromStream(uint8_t* buffer, int32_t count) {
  // Fill the buffer whole: a short read in the middle would pad a block in the middle.
  int32_t total = 0;
  while (total < count) {
    const int32_t n = InStream->Read(buffer + total, count - total);
    if (n <= 0) break;
    total += n;
  }
  return total;
}

int32_t TCryptography::WriteToStream(const uint8_t* buffer, int32_t count) {
  return OutStream->Write(buffer, count);
}

int TCryptography::RunString(bool encrypt, std::string& text) {
  InText = std::move(text);
  InPos = 1;
  OutText.clear();
  try {
    ProcessData(
        encrypt, [this](uint8_t* b, int32_t n) { return ReadFromString(b, n); },
        [this](const uint8_t* b, int32_t n) { return WriteToString(b, n); });
  } catch (...) {
    text = std::move(InText);
    throw;
  }
  text = std::move(OutText);
  InText.clear();
  OutText.clear();
  return 0;
}

int TCryptography::RunStream(bool encrypt, TStream& source, TStream& dest) {
  InStream = &source;
  OutStream = &dest;
  ProcessData(
      encrypt, [this](uint8_t* b, int32_t n) { return ReadFromStream(b, n); },
      [this](const uint8_t* b, int32_t n) { return WriteToStream(b, n); });
  InStream = OutStream = nullptr;
  return 0;
}

int TCryptography::EncryptString(std::string& text) { return RunString(true, text); }
int TCryptography::DecryptString(std::string& text) { return RunString(false, text); }
int TCryptography::EncryptStream(TStream& source, TStream& dest) { return RunStream(true, source, dest); }
int TCryptography::DecryptStream(TStream& source, TStream& dest) { return RunStream(false, source, dest); }

int TCryptography::Encrypt(const TSourceProc& source, const TSinkProc& sink) {
  return ProcessData(true, source, sink);
}

int TCryptography::Decrypt(const TSourceProc& source, const TSinkProc& sink) {
  return ProcessData(false, source, sink);
}

// --- TBlowfish

TBlowfish::TBlowfish(const std::string& keyText) : TCryptography("Blowfish", 72, 8) {
  // An empty text (or the default itself) would leave the tables unscheduled and the
  // cipher all but the identity: schedule the default key instead.
  if (keyText.empty() || keyText == FKeyText) {
    PrepareKey();
    KeySchedule();
  } else {
    SetKey(keyText);
  }
}

inline uint32_t TBlowfish::F(uint32_t x) const {
  return ((S[0][x >> 24] + (S[1][(x >> 16) & 0xFF] & 31)) ^ S[2][(x >> 8) & 0xFF]) + (S[3][x & 0xFF] & 31);
}

inline void TBlowfish::Rounds(uint32_t& left, uint32_t& right, int start, int step) const {
  uint32_t l = left, r = right;
  int k = start;
  for (int i = 0; i < 16; ++i) {
    const uint32_t t = l ^ P[k];
    l = r ^ F(t);
    r = t;
    k += step;
  }
  const uint32_t outR = l ^ P[k];
  const uint32_t outL = r ^ P[k + step];
  left = outL;
  right = outR;
}

namespace {
// The schedule is a pure function of the key bytes and costs 521 block encryptions: the game
// keys a fresh cipher for every enciphered file it reads or writes, with one of two keys, so
// the last few schedules are kept and copied.
struct TScheduleCacheEntry {
  std::vector<uint8_t> Key;
  uint32_t P[18];
  uint32_t S[4][256];
};
constexpr std::size_t kScheduleCacheSize = 4;
std::mutex ScheduleCacheLock;
std::deque<TScheduleCacheEntry>& ScheduleCache() {
  static std::deque<TScheduleCacheEntry> cache;
  return cache;
}
}  // namespace

void TBlowfish::KeySchedule() {
  {
    std::lock_guard<std::mutex> g(ScheduleCacheLock);
    for (const TScheduleCacheEntry& e : ScheduleCache())
      if (e.Key == FKey) {
        std::memcpy(P, e.P, sizeof P);
        std::memcpy(S, e.S, sizeof S);
        return;
      }
  }
  ComputeKeySchedule();
  std::lock_guard<std::mutex> g(ScheduleCacheLock);
  auto& cache = ScheduleCache();
  if (cache.size() >= kScheduleCacheSize) cache.pop_front();
  cache.emplace_back();
  cache.back().Key = FKey;
  std::memcpy(cache.back().P, P, sizeof P);
  std::memcpy(cache.back().S, S, sizeof S);
}

void TBlowfish::ComputeKeySchedule() {
  for (int i = 0; i < 18; ++i) P[i] = ByteSwap(BlowfishInitP[i]);
  for (int b = 0; b < 4; ++b)
    for (int i = 0; i < 256; ++i) S[b][i] = ByteSwap(BlowfishInitS[b][i]);
  for (int i = 0; i < 18; ++i) P[i] ^= LoadLE(FKey.data() + 4 * i);
  uint32_t l = 0, r = 0;
  for (int i = 0; i < 18; i += 2) {
    Rounds(l, r, 0, 1);
    P[i] = l;
    P[i + 1] = r;
  }
  for (int b = 0; b < 4; ++b) {
    for (int i = 0; i < 256; i += 2) {
      Rounds(l, r, 0, 1);
      S[b][i] = l;
      S[b][i + 1] = r;
    }
  }
}

void TBlowfish::CipherBlock(uint8_t* block, int start, int step) {
  uint32_t l = LoadLE(block), r = LoadLE(block + 4);
  Rounds(l, r, start, step);
  StoreLE(block, l);
  StoreLE(block + 4, r);
}

bool TBlowfish::EncryptBlock(uint8_t* block) {
  CipherBlock(block, 0, 1);
  return true;
}

bool TBlowfish::DecryptBlock(uint8_t* block) {
  CipherBlock(block, 17, -1);
  return true;
}
