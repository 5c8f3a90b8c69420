#include "engine/StreamFilters.h"

#include <algorithm>
#include <cstring>

#include "base/Exceptions.h"
#include "engine/Cryptography.h"

namespace {
// The refusals name the base class whichever filter is asked.
const char* const kFilterClass = "TBasicStreamFilter";
}  // namespace

// --- TBasicStreamFilter

TBasicStreamFilter::TBasicStreamFilter(TStream* inner, bool ownsInner) : FInner(inner), OwnsInner(ownsInner) {
  if (!inner) throw EStreamError("Stream filter without a stream");
}

TBasicStreamFilter::~TBasicStreamFilter() {
  if (OwnsInner) delete FInner;
}

int32_t TBasicStreamFilter::Read(void*, int32_t) {
  throw EStreamError(std::string("Cannot read from this type of stream filter [") + kFilterClass + "]");
}

int32_t TBasicStreamFilter::Write(const void*, int32_t) {
  throw EStreamError(std::string("Cannot write to this type of stream filter [") + kFilterClass + "]");
}

int64_t TBasicStreamFilter::Seek(int64_t, int) {
  throw EStreamError(std::string("Cannot seek on this type of stream filter [") + kFilterClass + "]");
}

// --- TBasicCryptographyStream

TBasicCryptographyStream::TBasicCryptographyStream(TStream* inner, bool ownsInner, TCryptography* cipher,
                                                   bool ownsCipher)
    : TBasicStreamFilter(inner, ownsInner), Cipher(cipher), OwnsCipher(ownsCipher) {
  if (!cipher) throw EStreamError("Cipher stream without a cipher");
  Block.assign(static_cast<std::size_t>(cipher->BlockSize()), 0);
}

TBasicCryptographyStream::~TBasicCryptographyStream() {
  if (OwnsCipher) delete Cipher;
}

// --- TEncryptionStream

TEncryptionStream::TEncryptionStream(TStream* inner, bool ownsInner, TCryptography* cipher, bool ownsCipher)
    : TBasicCryptographyStream(inner, ownsInner, cipher, ownsCipher) {}

TEncryptionStream::~TEncryptionStream() {
  try {
    Flush();
  } catch (...) {
    // Nothing can be reported from here; callers that must know call Flush first.
  }
}

int32_t TEncryptionStream::Write(const void* buffer, int32_t count) {
  if (Failed || count <= 0) return 0;
  const auto* src = static_cast<const uint8_t*>(buffer);
  const int32_t bs = static_cast<int32_t>(Block.size());
  int32_t done = 0;
  while (done < count) {
    const int32_t n = std::min(count - done, bs - Count);
    std::memcpy(Block.data() + Count, src + done, static_cast<std::size_t>(n));
    Count += n;
    done += n;
    if (Count == bs) {
      if (!Cipher->EncryptBlock(Block.data()) || FInner->Write(Block.data(), bs) != bs) {
        // The block is lost: report its bytes of this call as not written, so that the
        // caller's WriteBuffer fails instead of a file silently missing data.
        Failed = true;
        Count = 0;
        return done - n;
      }
      Count = 0;
    }
  }
  return done;
}

void TEncryptionStream::Flush() {
  if (Failed) throw EWriteError("Stream write error");
  if (Count == 0) return;
  const int32_t bs = static_cast<int32_t>(Block.size());
  std::fill(Block.begin() + Count, Block.end(), 0);
  Count = 0;
  if (!Cipher->EncryptBlock(Block.data()) || FInner->Write(Block.data(), bs) != bs) {
    Failed = true;
    throw EWriteError("Stream write error");
  }
}

// --- TDecryptionStream

TDecryptionStream::TDecryptionStream(TStream* inner, bool ownsInner, TCryptography* cipher, bool ownsCipher)
    : TBasicCryptographyStream(inner, ownsInner, cipher, ownsCipher) {}

int32_t TDecryptionStream::Read(void* buffer, int32_t count) {
  auto* dst = static_cast<uint8_t*>(buffer);
  const int32_t bs = static_cast<int32_t>(Block.size());
  int32_t done = 0;
  while (done < count && !Ended) {
    if (Count == 0) {
      // Whole blocks go straight to the caller's buffer, asked of Inner in one read: a file
      // below must not see one call per 8-byte block.
      if (count - done >= bs) {
        const int32_t want = (count - done) / bs * bs;
        const int32_t got = std::max(FInner->Read(dst + done, want), 0);
        int32_t ok = 0;
        while (ok + bs <= got && Cipher->DecryptBlock(dst + done + ok)) ok += bs;
        done += ok;
        if (ok != want) {
          // A short or undecipherable block: the stream ends before it.
          Ended = true;
          EndPos = FInner->Seek(0, soFromCurrent) - (got - ok);
          return done;
        }
      }
      if (done == count) break;
      const int32_t got = FInner->Read(Block.data(), bs);
      if (got != bs || !Cipher->DecryptBlock(Block.data())) {
        Ended = true;
        EndPos = FInner->Seek(0, soFromCurrent) - std::max(got, 0);
        break;
      }
      ReadPtr = 0;
      Count = bs;
    }
    const int32_t n = std::min(count - done, Count);
    std::memcpy(dst + done, Block.data() + ReadPtr, static_cast<std::size_t>(n));
    ReadPtr += n;
    Count -= n;
    done += n;
  }
  return done;
}

int64_t TDecryptionStream::SeekAbsolute(int64_t target) {
  if (target < 0) target = 0;
  const int64_t bs = static_cast<int64_t>(Block.size());
  const int64_t r = target % bs;
  const int64_t pos = FInner->Seek(target - r, soFromBeginning);
  Count = 0;
  ReadPtr = 0;
  Ended = false;
  int64_t discarded = 0;
  uint8_t b;
  while (discarded < r && Read(&b, 1) == 1) ++discarded;
  return pos + discarded;
}

int64_t TDecryptionStream::Seek(int64_t offset, int origin) {
  switch (origin) {
    case soFromBeginning:
      return SeekAbsolute(offset);
    case soFromCurrent: {
      // The deciphered bytes delivered, not Inner's position, which runs ahead by the part
      // of the block still held: size and remaining-byte checks must see the true position.
      const int64_t pos = Ended ? EndPos : FInner->Seek(0, soFromCurrent) - Count;
      return offset == 0 ? pos : SeekAbsolute(pos + offset);
    }
    case soFromEnd:
      return SeekAbsolute(FInner->Seek(0, soFromEnd) + offset);
    default:
      throw EStreamError("Invalid seek origin");
  }
}

int64_t TDecryptionStream::GetSize() {
  const int64_t bs = static_cast<int64_t>(Block.size());
  return FInner->GetSize() / bs * bs;
}
