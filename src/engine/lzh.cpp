#include "engine/lzh.h"

#include <array>
#include <new>

namespace {
constexpr int N = 4096;          // window size
constexpr int F = 60;            // longest match
constexpr int THRESHOLD = 2;     // matches this short go as literals
constexpr int NIL = N;           // empty tree link
constexpr int N_CHAR = 256 - THRESHOLD + F;  // 314 symbols
constexpr int T = N_CHAR * 2 - 1;            // tree nodes
constexpr int R = T - 1;                     // root
constexpr uint16_t MAX_FREQ = 0x8000;

// Prefix code of the upper 6 position bits: canonical codes of lengths 3 (1 position),
// 4 (3), 5 (8), 6 (12), 7 (24) and 8 (16), left-aligned in a byte; the decoder tables map the
// next 8 input bits to the position bits and the code length.
struct TPositionTables {
  std::array<uint8_t, 64> PLen{}, PCode{};
  std::array<uint8_t, 256> DCode{}, DLen{};
  constexpr TPositionTables() {
    constexpr int counts[6] = {1, 3, 8, 12, 24, 16};
    int pos = 0;
    unsigned code = 0;  // next code, as `len` bits
    for (int g = 0; g < 6; ++g) {
      const int len = 3 + g;
      for (int k = 0; k < counts[g]; ++k, ++pos, ++code) {
        PLen[pos] = static_cast<uint8_t>(len);
        PCode[pos] = static_cast<uint8_t>(code << (8 - len));
        for (unsigned b = 0; b < (1u << (8 - len)); ++b) {
          DCode[(code << (8 - len)) | b] = static_cast<uint8_t>(pos);
          DLen[(code << (8 - len)) | b] = static_cast<uint8_t>(len);
        }
      }
      code <<= 1;
    }
  }
};
constexpr TPositionTables kPos;
static_assert(kPos.PCode[0] == 0x00 && kPos.PCode[1] == 0x20 && kPos.PCode[4] == 0x50 && kPos.PCode[5] == 0x58 &&
              kPos.PCode[12] == 0x90 && kPos.PCode[63] == 0xFF && kPos.DLen[0xFF] == 8 && kPos.DCode[0x1F] == 0);
}  // namespace

void TLZH::Allocate(bool encoder) {
  try {
    // Spaces everywhere: the window starts as spaces, and bytes a damaged stream reaches
    // before they are written stay defined.
    TextBuf.assign(N + F - 1, 0x20);
    if (encoder) {
      LSon.assign(N + 1, 0);
      Dad.assign(N + 1, 0);
      RSon.assign(N + 257, 0);
    }
    Freq.assign(T + 1, 0);
    Prnt.assign(T + N_CHAR, 0);
    Son.assign(T, 0);
  } catch (const std::bad_alloc&) {
    Release();
    throw ElzhException("LZH : Cannot get memory for dictionary tables");
  }
}

void TLZH::Release() {
  TextBuf = {};
  LSon = {};
  Dad = {};
  RSon = {};
  Freq = {};
  Prnt = {};
  Son = {};
}

// --- Bit I/O

void TLZH::PutCode(int l, unsigned c) {
  int32_t written = 0;
  PutBuf = static_cast<uint16_t>(PutBuf | (c >> PutLen));
  PutLen = static_cast<uint8_t>(PutLen + l);
  if (PutLen >= 8) {
    uint8_t b = static_cast<uint8_t>(PutBuf >> 8);
    (*Writer)(&b, 1, written);
    PutLen = static_cast<uint8_t>(PutLen - 8);
    if (PutLen >= 8) {
      b = static_cast<uint8_t>(PutBuf);
      (*Writer)(&b, 1, written);
      CodeSize += 2;
      PutLen = static_cast<uint8_t>(PutLen - 8);
      PutBuf = static_cast<uint16_t>(c << (l - PutLen));
    } else {
      PutBuf = static_cast<uint16_t>(PutBuf << 8);
      CodeSize += 1;
    }
  }
}

void TLZH::FlushBits() {
  if (PutLen > 0) {
    int32_t written = 0;
    uint8_t b = static_cast<uint8_t>(PutBuf >> 8);
    (*Writer)(&b, 1, written);
    ++CodeSize;
  }
}

inline void TLZH::FillBits() {
  while (GetLen <= 8) {
    uint8_t b = 0;
    int32_t delivered = 0;
    (*Reader)(&b, 1, delivered);
    if (delivered <= 0) {
      b = 0;
      PadBits += 8;
    }
    GetBuf = static_cast<uint16_t>(GetBuf | (static_cast<unsigned>(b) << (8 - GetLen)));
    GetLen = static_cast<uint8_t>(GetLen + 8);
  }
}

inline int TLZH::GetBit() {
  FillBits();
  const int bit = GetBuf >> 15;
  GetBuf = static_cast<uint16_t>(GetBuf << 1);
  --GetLen;
  return bit;
}

inline int TLZH::GetByte() {
  FillBits();
  const int byte = GetBuf >> 8;
  GetBuf = static_cast<uint16_t>(GetBuf << 8);
  GetLen = static_cast<uint8_t>(GetLen - 8);
  return byte;
}

// --- Huffman tree

void TLZH::StartHuff() {
  for (int i = 0; i < N_CHAR; ++i) {
    Freq[i] = 1;
    Son[i] = i + T;
    Prnt[i + T] = i;
  }
  for (int i = 0, j = N_CHAR; j <= R; i += 2, ++j) {
    Freq[j] = static_cast<uint16_t>(Freq[i] + Freq[i + 1]);
    Son[j] = i;
    Prnt[i] = Prnt[i + 1] = j;
  }
  Freq[T] = 0xFFFF;
  Prnt[R] = 0;
}

void TLZH::Reconst() {
  // Collect the leaves, halving their counts.
  int j = 0;
  for (int i = 0; i < T; ++i) {
    if (Son[i] >= T) {
      Freq[j] = static_cast<uint16_t>((Freq[i] + 1) / 2);
      Son[j] = Son[i];
      ++j;
    }
  }
  // Join pairs, inserting each new node after the nodes of lower or equal frequency.
  for (int i = 0, j2 = N_CHAR; j2 < T; i += 2, ++j2) {
    const uint16_t f = static_cast<uint16_t>(Freq[i] + Freq[i + 1]);
    Freq[j2] = f;
    int k = j2 - 1;
    while (f < Freq[k]) --k;
    ++k;
    for (int m = j2; m > k; --m) {
      Freq[m] = Freq[m - 1];
      Son[m] = Son[m - 1];
    }
    Freq[k] = f;
    Son[k] = i;
  }
  for (int i = 0; i < T; ++i) {
    const int k = Son[i];
    if (k >= T) {
      Prnt[k] = i;
    } else {
      Prnt[k] = Prnt[k + 1] = i;
    }
  }
}

void TLZH::Update(int c) {
  if (Freq[R] == MAX_FREQ) Reconst();
  c = Prnt[c + T];
  do {
    const uint16_t k = ++Freq[c];
    int l = c + 1;
    if (k > Freq[l]) {
      while (k > Freq[++l]) {
      }
      --l;
      Freq[c] = Freq[l];
      Freq[l] = k;
      const int i = Son[c];
      Prnt[i] = l;
      if (i < T) Prnt[i + 1] = l;
      const int j = Son[l];
      Son[l] = i;
      Prnt[j] = c;
      if (j < T) Prnt[j + 1] = c;
      Son[c] = j;
      c = l;
    }
  } while ((c = Prnt[c]) != 0);
}

void TLZH::EncodeChar(unsigned c) {
  // The path, leaf to root; sent root first. Adaptive trees can grow deeper than 16 levels,
  // so the code goes out in 16-bit pieces rather than through one 16-bit word.
  uint8_t path[T];
  int depth = 0;
  int k = Prnt[c + T];
  do {
    path[depth++] = static_cast<uint8_t>(k & 1);
    k = Prnt[k];
  } while (k != R);
  int sent = 0;
  while (sent < depth) {
    const int piece = depth - sent > 16 ? 16 : depth - sent;
    unsigned bits = 0;
    for (int b = 0; b < piece; ++b) bits = (bits << 1) | path[depth - 1 - sent - b];
    bits <<= 16 - piece;
    PutCode(piece, bits);
    Code = static_cast<uint16_t>(bits);
    sent += piece;
  }
  Len = static_cast<uint16_t>(depth);
  Update(static_cast<int>(c));
}

void TLZH::EncodePosition(unsigned c) {
  const unsigned i = c >> 6;
  PutCode(kPos.PLen[i], static_cast<unsigned>(kPos.PCode[i]) << 8);
  PutCode(6, (c & 0x3F) << 10);
}

int TLZH::DecodeChar() {
  int c = Son[R];
  while (c < T) {
    c += GetBit();
    c = Son[c];
  }
  c -= T;
  Update(c);
  return c;
}

int TLZH::DecodePosition() {
  int i = GetByte();
  const int c = kPos.DCode[i] << 6;
  int j = kPos.DLen[i] - 2;
  while (j-- > 0) i = (i << 1) + GetBit();
  return c | (i & 0x3F);
}

// --- Match tree

void TLZH::InitTree() {
  for (int i = N + 1; i <= N + 256; ++i) RSon[i] = NIL;
  for (int i = 0; i < N; ++i) Dad[i] = NIL;
}

void TLZH::InsertNode(int r) {
  int cmp = 1;
  const uint8_t* key = &TextBuf[r];
  int p = N + 1 + key[0];
  RSon[r] = LSon[r] = NIL;
  MatchLength = 0;
  for (;;) {
    if (cmp >= 0) {
      if (RSon[p] != NIL) {
        p = RSon[p];
      } else {
        RSon[p] = r;
        Dad[r] = p;
        return;
      }
    } else {
      if (LSon[p] != NIL) {
        p = LSon[p];
      } else {
        LSon[p] = r;
        Dad[r] = p;
        return;
      }
    }
    int i = 1;
    for (; i < F; ++i) {
      cmp = key[i] - TextBuf[p + i];
      if (cmp != 0) break;
    }
    if (i > THRESHOLD) {
      const unsigned c = static_cast<unsigned>(((r - p) & (N - 1)) - 1);
      if (i > MatchLength) {
        MatchPosition = static_cast<uint16_t>(c);
        MatchLength = static_cast<uint16_t>(i);
        if (i >= F) break;
      }
      if (i == MatchLength && c < MatchPosition) MatchPosition = static_cast<uint16_t>(c);
    }
  }
  // A full-length match: r takes p's place in the tree.
  Dad[r] = Dad[p];
  LSon[r] = LSon[p];
  RSon[r] = RSon[p];
  Dad[LSon[p]] = r;
  Dad[RSon[p]] = r;
  if (RSon[Dad[p]] == p) {
    RSon[Dad[p]] = r;
  } else {
    LSon[Dad[p]] = r;
  }
  Dad[p] = NIL;
}

void TLZH::DeleteNode(int p) {
  if (Dad[p] == NIL) return;
  int q;
  if (RSon[p] == NIL) {
    q = LSon[p];
  } else if (LSon[p] == NIL) {
    q = RSon[p];
  } else {
    q = LSon[p];
    if (RSon[q] != NIL) {
      do {
        q = RSon[q];
      } while (RSon[q] != NIL);
      RSon[Dad[q]] = LSon[q];
      Dad[LSon[q]] = Dad[q];
      LSon[q] = LSon[p];
      Dad[LSon[p]] = q;
    }
    RSon[q] = RSon[p];
    Dad[RSon[p]] = q;
  }
  Dad[q] = Dad[p];
  if (RSon[Dad[p]] == p) {
    RSon[Dad[p]] = q;
  } else {
    LSon[Dad[p]] = q;
  }
  Dad[p] = NIL;
}

// --- Encoder and decoder

void TLZH::Encode(int32_t& textSize, const TWriteProc& write, const TReadProc& read) {
  Allocate(true);
  Writer = &write;
  Reader = &read;
  PutBuf = 0;
  PutLen = 0;
  CodeSize = 0;
  TextCount = 0;
  textSize = 0;
  auto next = [&](uint8_t& b) {
    int32_t delivered = 0;
    read(&b, 1, delivered);
    return delivered > 0;
  };

  StartHuff();
  InitTree();
  int s = 0, r = N - F;
  int len = 0;
  uint8_t c;
  while (len < F && next(c)) TextBuf[r + len++] = c;
  TextCount = static_cast<uint32_t>(len);
  for (int i = 1; i <= F; ++i) InsertNode(r - i);
  InsertNode(r);
  do {
    if (MatchLength > len) MatchLength = static_cast<uint16_t>(len);
    if (MatchLength <= THRESHOLD) {
      MatchLength = 1;
      EncodeChar(TextBuf[r]);
    } else {
      EncodeChar(static_cast<unsigned>(255 - THRESHOLD + MatchLength));
      EncodePosition(MatchPosition);
    }
    const int lastMatchLength = MatchLength;
    int i = 0;
    for (; i < lastMatchLength && next(c); ++i) {
      DeleteNode(s);
      TextBuf[s] = c;
      if (s < F - 1) TextBuf[s + N] = c;
      s = (s + 1) & (N - 1);
      r = (r + 1) & (N - 1);
      InsertNode(r);
    }
    TextCount += static_cast<uint32_t>(i);
    while (i++ < lastMatchLength) {
      DeleteNode(s);
      s = (s + 1) & (N - 1);
      r = (r + 1) & (N - 1);
      if (--len) InsertNode(r);
    }
  } while (len > 0);
  FlushBits();
  textSize = static_cast<int32_t>(TextCount);
  Writer = nullptr;
  Reader = nullptr;
  Release();
}

int32_t TLZH::Decode(int32_t textSize, const TWriteProc& write, const TReadProc& read) {
  if (textSize <= 0) return 0;
  Allocate(false);
  Writer = &write;
  Reader = &read;
  GetBuf = 0;
  GetLen = 0;
  PadBits = 0;
  StartHuff();
  int r = N - F;
  int32_t count = 0;
  int32_t written = 0;
  // A valid stream never needs the zero bits that stand in for input past its end: once they
  // are consumed the stream is cut short, and decoding on would only spin out garbage.
  auto truncated = [&] { return GetLen < PadBits; };
  while (count < textSize) {
    int c = DecodeChar();
    if (truncated()) break;
    if (c < 256) {
      const uint8_t b = static_cast<uint8_t>(c);
      write(&b, 1, written);
      TextBuf[r++] = b;
      r &= N - 1;
      ++count;
    } else {
      const int i = (r - DecodePosition() - 1) & (N - 1);
      if (truncated()) break;
      const int j = c - 255 + THRESHOLD;
      for (int k = 0; k < j; ++k) {
        const uint8_t b = TextBuf[(i + k) & (N - 1)];
        write(&b, 1, written);
        TextBuf[r++] = b;
        r &= N - 1;
        ++count;
      }
    }
  }
  Writer = nullptr;
  Reader = nullptr;
  Release();
  return count;
}
