#pragma once
// TStream family: the byte streams every file format of the game is read and written through.
// Read/Write move up to `count` bytes and return how many moved; ReadBuffer/WriteBuffer insist
// on all of them (EReadError "Stream read error" / EWriteError "Stream write error").
// Seek origins are those of the class library: 0 from the beginning, 1 from the current
// position, 2 from the end. Multi-byte helpers are little-endian.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Exceptions.h"

enum : int { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

class TStream {
public:
  virtual ~TStream() = default;
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  virtual int64_t Seek(int64_t offset, int origin) = 0;
  virtual int64_t GetSize();
  virtual void SetSize(int64_t newSize);

  int64_t GetPosition() { return Seek(0, soFromCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, soFromBeginning); }
  // Bytes left between the position and the end (never negative).
  int64_t Remaining();

  void ReadBuffer(void* buffer, int32_t count);
  void WriteBuffer(const void* buffer, int32_t count);
  // Copies `count` bytes from `source`; count 0 copies the whole source from its start.
  int64_t CopyFrom(TStream& source, int64_t count);

  uint8_t ReadU8();
  uint16_t ReadU16();
  uint32_t ReadU32();
  int32_t ReadI32() { return static_cast<int32_t>(ReadU32()); }
  int16_t ReadI16() { return static_cast<int16_t>(ReadU16()); }
  float ReadF32();
  double ReadF64();
  std::string ReadString(int32_t count);  // exactly count bytes
  void WriteU8(uint8_t v);
  void WriteU16(uint16_t v);
  void WriteU32(uint32_t v);
  void WriteI32(int32_t v) { WriteU32(static_cast<uint32_t>(v)); }
  void WriteI16(int16_t v) { WriteU16(static_cast<uint16_t>(v)); }
  void WriteF32(float v);
  void WriteF64(double v);
  void WriteString(const std::string& s) { WriteBuffer(s.data(), static_cast<int32_t>(s.size())); }
};

// Growable stream in memory.
class TMemoryStream : public TStream {
public:
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  int64_t GetSize() override { return static_cast<int64_t>(Data.size()); }
  void SetSize(int64_t newSize) override;

  uint8_t* Memory() { return Data.data(); }
  const uint8_t* Memory() const { return Data.data(); }
  void Clear();
  void LoadFromStream(TStream& source);  // whole source from its start; position 0
  void LoadFromFile(const std::string& fileName);
  void SaveToStream(TStream& dest);
  void SaveToFile(const std::string& fileName);  // via a temporary file, then rename
  std::vector<uint8_t> Data;

private:
  int64_t Pos = 0;
};

// Read-only view of bytes owned elsewhere (resources, caller buffers).
class TReadOnlyMemoryStream : public TStream {
public:
  TReadOnlyMemoryStream(const void* data, std::size_t size)
      : Ptr(static_cast<const uint8_t*>(data)), Len(static_cast<int64_t>(size)) {}
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  int64_t GetSize() override { return Len; }
  const uint8_t* Memory() const { return Ptr; }

protected:
  TReadOnlyMemoryStream() = default;
  const uint8_t* Ptr = nullptr;
  int64_t Len = 0;
  int64_t Pos = 0;
};

// Embedded resource of the executable (group "GFX", "LVL", "SND", "DLL", ...). Name lookup
// ignores case and the extension. A missing resource raises EResNotFound.
class TResourceStream : public TReadOnlyMemoryStream {
public:
  TResourceStream(const std::string& name, const std::string& group);
  int32_t Write(const void* buffer, int32_t count) override;
};

// File stream. Modes as in the class library; the share flags are accepted and ignored.
enum : uint16_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyNone = 0x0040,
  // Not of the class library: opens a file that is not the program's own through a symbolic
  // link (own files never are, see OpenRegularFile).
  fmFollowLinks = 0x0100,
  fmCreate = 0xFF00,
};

class TFileStream : public TStream {
public:
  // fmCreate creates or truncates (EFCreateError); other modes open an existing file (EFOpenError).
  TFileStream(const std::string& fileName, uint16_t mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  void SetSize(int64_t newSize) override;
  const std::string& FileName() const { return Name; }
  // Flushes the file to the disk; false when that fails.
  bool Sync();

private:
  std::string Name;
  int Fd = -1;
};

// Stream over a std::string of bytes.
class TStringStream : public TStream {
public:
  explicit TStringStream(std::string data = {}) : DataString(std::move(data)) {}
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  int64_t GetSize() override { return static_cast<int64_t>(DataString.size()); }
  void SetSize(int64_t newSize) override;
  std::string DataString;

private:
  int64_t Pos = 0;
};
