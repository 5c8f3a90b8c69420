#include "base/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/Resources.h"
#include "base/SysUtils.h"

int64_t TStream::GetSize() {
  int64_t pos = Seek(0, soFromCurrent);
  int64_t size = Seek(0, soFromEnd);
  Seek(pos, soFromBeginning);
  return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream does not support SetSize"); }

int64_t TStream::Remaining() {
  int64_t r = GetSize() - GetPosition();
  return r > 0 ? r : 0;
}

void TStream::ReadBuffer(void* buffer, int32_t count) {
  if (count < 0 || (count != 0 && Read(buffer, count) != count)) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
  if (count < 0 || (count != 0 && Write(buffer, count) != count)) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  const int64_t total = count;
  std::vector<uint8_t> buf(static_cast<std::size_t>(std::min<int64_t>(std::max<int64_t>(count, 1), 0xF000)));
  while (count > 0) {
    int32_t n = static_cast<int32_t>(std::min<int64_t>(count, static_cast<int64_t>(buf.size())));
    source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    count -= n;
  }
  return total;
}

uint8_t TStream::ReadU8() {
  uint8_t b;
  ReadBuffer(&b, 1);
  return b;
}
uint16_t TStream::ReadU16() {
  uint8_t b[2];
  ReadBuffer(b, 2);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}
uint32_t TStream::ReadU32() {
  uint8_t b[4];
  ReadBuffer(b, 4);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}
float TStream::ReadF32() {
  uint32_t v = ReadU32();
  float f;
  std::memcpy(&f, &v, 4);
  return f;
}
double TStream::ReadF64() {
  uint64_t lo = ReadU32();
  uint64_t hi = ReadU32();
  uint64_t v = lo | (hi << 32);
  double d;
  std::memcpy(&d, &v, 8);
  return d;
}
std::string TStream::ReadString(int32_t count) {
  if (count < 0 || count > Remaining()) throw EReadError("Stream read error");
  std::string s(static_cast<std::size_t>(count), '\0');
  ReadBuffer(s.data(), count);
  return s;
}
void TStream::WriteU8(uint8_t v) { WriteBuffer(&v, 1); }
void TStream::WriteU16(uint16_t v) {
  uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  WriteBuffer(b, 2);
}
void TStream::WriteU32(uint32_t v) {
  uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                  static_cast<uint8_t>(v >> 24)};
  WriteBuffer(b, 4);
}
void TStream::WriteF32(float f) {
  uint32_t v;
  std::memcpy(&v, &f, 4);
  WriteU32(v);
}
void TStream::WriteF64(double d) {
  uint64_t v;
  std::memcpy(&v, &d, 8);
  WriteU32(static_cast<uint32_t>(v));
  WriteU32(static_cast<uint32_t>(v >> 32));
}

namespace {
int64_t SeekTarget(int64_t pos, int64_t size, int64_t offset, int origin) {
  int64_t p = origin == soFromBeginning ? offset : origin == soFromCurrent ? pos + offset : size + offset;
  return p < 0 ? 0 : p;
}
}  // namespace

// --- TMemoryStream

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
  int64_t size = GetSize();
  if (count <= 0 || Pos >= size) return 0;
  int32_t n = static_cast<int32_t>(std::min<int64_t>(count, size - Pos));
  std::memcpy(buffer, Data.data() + Pos, static_cast<std::size_t>(n));
  Pos += n;
  return n;
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  if (Pos + count > GetSize()) Data.resize(static_cast<std::size_t>(Pos + count));
  std::memcpy(Data.data() + Pos, buffer, static_cast<std::size_t>(count));
  Pos += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, int origin) {
  Pos = SeekTarget(Pos, GetSize(), offset, origin);
  return Pos;
}

void TMemoryStream::SetSize(int64_t newSize) {
  if (newSize < 0) newSize = 0;
  Data.resize(static_cast<std::size_t>(newSize));
  if (Pos > newSize) Pos = newSize;
}

void TMemoryStream::Clear() {
  Data.clear();
  Pos = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  int64_t size = source.GetSize();
  Data.assign(static_cast<std::size_t>(size), 0);
  if (size > 0) source.ReadBuffer(Data.data(), static_cast<int32_t>(size));
  Pos = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream f(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(f);
}

void TMemoryStream::SaveToStream(TStream& dest) {
  if (!Data.empty()) dest.WriteBuffer(Data.data(), static_cast<int32_t>(Data.size()));
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
  if (!SaveFileAtomically(fileName, Data.data(), Data.size()))
    throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(errno));
}

// --- TReadOnlyMemoryStream / TResourceStream

int32_t TReadOnlyMemoryStream::Read(void* buffer, int32_t count) {
  if (count <= 0 || Pos >= Len) return 0;
  int32_t n = static_cast<int32_t>(std::min<int64_t>(count, Len - Pos));
  std::memcpy(buffer, Ptr + Pos, static_cast<std::size_t>(n));
  Pos += n;
  return n;
}

int32_t TReadOnlyMemoryStream::Write(const void*, int32_t) {
  throw EStreamError("Can't write to a read-only memory stream");
}

int64_t TReadOnlyMemoryStream::Seek(int64_t offset, int origin) {
  Pos = SeekTarget(Pos, Len, offset, origin);
  return Pos;
}

TResourceStream::TResourceStream(const std::string& name, const std::string& group) {
  TResourceData r;
  if (!FindResourceData(group, name, r)) throw EResNotFound("Resource " + name + " not found");
  Ptr = r.Data;
  Len = static_cast<int64_t>(r.Size);
}

int32_t TResourceStream::Write(const void*, int32_t) {
  throw EStreamError("Can't write to a read-only resource stream");
}

// --- TFileStream

TFileStream::TFileStream(const std::string& fileName, uint16_t mode) : Name(fileName) {
  if (mode == fmCreate || (mode & 0xFF00) == fmCreate) {
    Fd = OpenRegularFile(fileName, O_RDWR | O_CREAT | O_TRUNC);
    if (Fd < 0) throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(errno));
    return;
  }
  int flags = 0;
  switch (mode & 3) {
    case fmOpenWrite: flags |= O_WRONLY; break;
    case fmOpenReadWrite: flags |= O_RDWR; break;
    default: flags |= O_RDONLY; break;
  }
  // Only regular files: a FIFO in place of a file would block the open or every read.
  Fd = (mode & fmFollowLinks) != 0 ? OpenForeignRegularFile(fileName, flags) : OpenRegularFile(fileName, flags);
  if (Fd < 0) throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
}

TFileStream::~TFileStream() {
  if (Fd >= 0) ::close(Fd);
}

int32_t TFileStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  int32_t done = 0;
  while (done < count) {
    ssize_t n = ::read(Fd, static_cast<uint8_t*>(buffer) + done, static_cast<std::size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int32_t>(n);
  }
  return done;
}

int32_t TFileStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  int32_t done = 0;
  while (done < count) {
    ssize_t n = ::write(Fd, static_cast<const uint8_t*>(buffer) + done, static_cast<std::size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int32_t>(n);
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, int origin) {
  int whence = origin == soFromBeginning ? SEEK_SET : origin == soFromCurrent ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(Fd, static_cast<off_t>(offset), whence);
  if (r < 0) r = ::lseek(Fd, 0, SEEK_CUR);
  return static_cast<int64_t>(r);
}

void TFileStream::SetSize(int64_t newSize) {
  if (newSize < 0 || ::ftruncate(Fd, static_cast<off_t>(newSize)) != 0) throw EStreamError("Stream write error");
  if (GetPosition() > newSize) Seek(newSize, soFromBeginning);
}

bool TFileStream::Sync() { return ::fsync(Fd) == 0; }

// --- TStringStream

int32_t TStringStream::Read(void* buffer, int32_t count) {
  int64_t size = GetSize();
  if (count <= 0 || Pos >= size) return 0;
  int32_t n = static_cast<int32_t>(std::min<int64_t>(count, size - Pos));
  std::memcpy(buffer, DataString.data() + Pos, static_cast<std::size_t>(n));
  Pos += n;
  return n;
}

int32_t TStringStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  if (Pos + count > GetSize()) DataString.resize(static_cast<std::size_t>(Pos + count));
  std::memcpy(DataString.data() + Pos, buffer, static_cast<std::size_t>(count));
  Pos += count;
  return count;
}

int64_t TStringStream::Seek(int64_t offset, int origin) {
  Pos = SeekTarget(Pos, GetSize(), offset, origin);
  return Pos;
}

void TStringStream::SetSize(int64_t newSize) {
  DataString.resize(static_cast<std::size_t>(newSize < 0 ? 0 : newSize));
  if (Pos > newSize) Pos = newSize < 0 ? 0 : newSize;
}
