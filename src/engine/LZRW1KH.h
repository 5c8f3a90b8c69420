#pragma once
// TLZR: the fast block coder behind the compressed container (LZRW1 with run items). One block
// of at most 32,768 bytes at a time, in memory; a block that coding does not shrink is stored.
// Blocks are independent: the hash table is reset for each.
//
// Coded block: 0x40, then 16-bit big-endian control words, each followed by up to 16 items
// (flag bit 0: a literal byte; 1: a 2-byte copy item (offset << 4 | length - 3) or a 4-byte
// run item 0x00, count - 16 (2 bytes), byte). Stored block: 0x80 followed by the bytes.
#include <cstdint>
#include <vector>

#include "base/Exceptions.h"

KT_DECLARE_EXCEPTION(ELzrw1KHCompressor, Exception)

class TLZR {
public:
  static constexpr int32_t MaxBlock = 32768;
  // Room Compress needs in Dest beyond SourceSize.
  static constexpr int32_t DestSlack = 16;

  TLZR();  // ELzrw1KHCompressor "LZRW1KH : no memory for HASH table"

  // Codes SourceSize (0..MaxBlock) bytes into Dest, which must hold SourceSize + DestSlack
  // bytes; returns the coded size (at most SourceSize + 1).
  uint16_t Compress(const uint8_t* source, uint8_t* dest, int32_t sourceSize);
  // Decodes one coded or stored block into Dest (destCapacity bytes, MaxBlock by default).
  // Returns the decoded size, or -1 when the block is damaged: an item cut short, a copy from
  // before the start of the output, or output beyond destCapacity.
  int32_t Decompress(const uint8_t* source, uint8_t* dest, int32_t sourceSize,
                     int32_t destCapacity = MaxBlock);

private:
  std::vector<uint16_t> Hash;  // last position of each 3-byte string, 0xFFFF = none
};
