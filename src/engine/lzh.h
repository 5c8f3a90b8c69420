#pragma once
// TLZH: the stronger coder behind the compressed container, the published LZHUF scheme: an LZSS
// coder over a 4,096-byte window (matches 3..60 bytes) whose literals, match lengths and the
// upper bits of match positions are sent through one adaptive Huffman tree. It moves single
// bytes through the caller's callbacks; the coded stream has no header, length or end marker.
#include <cstdint>
#include <functional>
#include <vector>

#include "base/Exceptions.h"

KT_DECLARE_EXCEPTION(ElzhException, Exception)

class TLZH {
public:
  // Read: up to `count` (always 1) bytes into buffer, `delivered` 0 at the end of input.
  // Write: `count` (always 1) bytes; `written` is for the caller's own bookkeeping.
  using TReadProc = std::function<void(uint8_t* buffer, int32_t count, int32_t& delivered)>;
  using TWriteProc = std::function<void(const uint8_t* buffer, int32_t count, int32_t& written)>;

  // Codes everything the read callback delivers; textSize receives the number of input bytes.
  void Encode(int32_t& textSize, const TWriteProc& write, const TReadProc& read);
  // Produces textSize bytes (a final copy may run a little past it). Returns the bytes
  // produced; fewer when the coded stream ran out before textSize bytes were decoded.
  int32_t Decode(int32_t textSize, const TWriteProc& write, const TReadProc& read);

private:
  // Huffman tree
  void StartHuff();
  void Reconst();
  void Update(int c);
  void EncodeChar(unsigned c);
  void EncodePosition(unsigned c);
  int DecodeChar();
  int DecodePosition();
  // Bit I/O
  void PutCode(int l, unsigned c);
  void FlushBits();
  void FillBits();
  int GetBit();
  int GetByte();
  // Match tree (encoder)
  void InitTree();
  void InsertNode(int r);
  void DeleteNode(int p);
  void Allocate(bool encoder);
  void Release();

  uint16_t Code = 0, Len = 0;     // last code sent and its length
  uint16_t GetBuf = 0;            // input bits, top first
  uint8_t GetLen = 0;             // bits held in GetBuf
  uint8_t PutLen = 0;             // bits held in PutBuf
  uint16_t PutBuf = 0;            // output bits, top first
  uint32_t TextCount = 0;         // input bytes coded
  uint32_t CodeSize = 0;          // output bytes written
  uint16_t MatchPosition = 0, MatchLength = 0;
  int PadBits = 0;                // bits of GetBuf that stand for input past its end

  std::vector<uint8_t> TextBuf;   // ring buffer + mirror of its first F - 1 bytes
  std::vector<int> LSon, Dad, RSon;
  std::vector<uint16_t> Freq;
  std::vector<int> Prnt, Son;

  const TReadProc* Reader = nullptr;
  const TWriteProc* Writer = nullptr;
};
