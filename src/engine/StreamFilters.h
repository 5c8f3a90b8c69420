#pragma once
// Cipher streams: a block cipher between a caller and an inner stream. The inner stream holds
// whole cipher blocks only, each block enciphered on its own; there is no header, length or
// checksum, so readers recognise their data by their own magic and sizes.
//
// Writing an enciphered file:
//   TMemoryStream plain;  ... or a file stream
//   TBlowfish cipher(keyText);
//   { TEncryptionStream enc(&plain, false, &cipher, false); enc.WriteBuffer(...); enc.Flush(); }
// Reading one:
//   TDecryptionStream dec(&file, false, &cipher, false); dec.ReadBuffer(...);
#include <cstdint>
#include <vector>

#include "base/Streams.h"

class TCryptography;

// Wraps Inner; refuses every operation a derived class does not implement, with EStreamError
// "Cannot read from / write to / seek on this type of stream filter [TBasicStreamFilter]".
class TBasicStreamFilter : public TStream {
public:
  TBasicStreamFilter(TStream* inner, bool ownsInner);
  ~TBasicStreamFilter() override;
  TBasicStreamFilter(const TBasicStreamFilter&) = delete;
  TBasicStreamFilter& operator=(const TBasicStreamFilter&) = delete;

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, int origin) override;

  TStream* Inner() const { return FInner; }

protected:
  TStream* FInner;
  bool OwnsInner;
};

class TBasicCryptographyStream : public TBasicStreamFilter {
public:
  TBasicCryptographyStream(TStream* inner, bool ownsInner, TCryptography* cipher, bool ownsCipher);
  ~TBasicCryptographyStream() override;

protected:
  TCryptography* Cipher;
  bool OwnsCipher;
  std::vector<uint8_t> Block;  // one cipher block
  int32_t Count = 0;           // bytes held in Block
};

// Enciphers everything written to it into Inner. The last partial block is completed with zero
// bytes by Flush, or at destruction (where a failure can no longer be reported).
class TEncryptionStream : public TBasicCryptographyStream {
public:
  TEncryptionStream(TStream* inner, bool ownsInner, TCryptography* cipher, bool ownsCipher);
  ~TEncryptionStream() override;

  // Returns the bytes accepted; fewer than asked when Inner refused a block (the stream then
  // accepts nothing more).
  int32_t Write(const void* buffer, int32_t count) override;
  // Pads and writes the pending partial block now; raises EWriteError when Inner refuses it.
  void Flush();

private:
  bool Failed = false;
};

// Deciphers Inner block by block. A trailing partial block (a damaged file) reads as the end.
// Position counts the deciphered bytes delivered; Size is Inner's size in whole blocks.
class TDecryptionStream : public TBasicCryptographyStream {
public:
  TDecryptionStream(TStream* inner, bool ownsInner, TCryptography* cipher, bool ownsCipher);

  int32_t Read(void* buffer, int32_t count) override;
  // Origins 0, 1, 2; others raise EStreamError "Invalid seek origin".
  int64_t Seek(int64_t offset, int origin) override;
  int64_t GetSize() override;

private:
  int64_t SeekAbsolute(int64_t target);
  int32_t ReadPtr = 0;  // next unread byte in Block
  bool Ended = false;   // Inner delivered a short block: every read ends here
  int64_t EndPos = 0;   // Inner's position before that block
};
