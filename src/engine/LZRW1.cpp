#include "engine/LZRW1.h"

#include <sys/stat.h>

#include <cstring>
#include <limits>
#include <new>

namespace {
constexpr int32_t kBlock = TLZR::MaxBlock;
constexpr int32_t kBufferSize = kBlock + 16;
constexpr int32_t kAdviseMinimum = 0x18000;
const char kTagLZRW1KH[4] = {'W', 'R', 'Z', 'L'};
const char kTagLZH[4] = {'!', 'H', 'Z', 'L'};

const char* const kMismatchLZRW1KH = "Lzrw1 (decompression LZRW1/KH) : Original and compressed sizes do not match !";
const char* const kMismatchLZH = "Lzrw1 (LZH decompression) : Original and compressed sizes do not match !";

bool FileSize(const std::string& name, int64_t& size) {
  struct stat st {};
  if (name.empty() || ::stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = static_cast<int64_t>(st.st_size);
  return true;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

void PutI32(uint8_t* p, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  p[0] = static_cast<uint8_t>(u);
  p[1] = static_cast<uint8_t>(u >> 8);
  p[2] = static_cast<uint8_t>(u >> 16);
  p[3] = static_cast<uint8_t>(u >> 24);
}

int32_t GetI32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                              (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
}
}  // namespace

Tlzrw1::Tlzrw1() = default;
Tlzrw1::~Tlzrw1() = default;

// --- Plumbing shared by the operations

void Tlzrw1::OpenBuffers(const char* failure) {
  try {
    InBuf.assign(kBufferSize, 0);
    OutBuf.assign(kBufferSize, 0);
  } catch (const std::bad_alloc&) {
    InBuf = {};
    OutBuf = {};
    throw ELzrw1Exception(failure);
  }
  BytesRead = BytesWritten = 0;
  InFill = InPos = OutPos = 0;
}

void Tlzrw1::CloseAll() {
  InFile.reset();
  OutFile.reset();
  In = Out = nullptr;
  InBuf = {};
  OutBuf = {};
}

void Tlzrw1::OpenInput() {
  if (UseStreams) {
    bool ok = InputStream != nullptr;
    try {
      ok = ok && InputStream->Seek(0, soFromCurrent) >= 0;
    } catch (const Exception&) {
      ok = false;
    }
    if (!ok) throw ELzrw1Exception("Lzrw1 (de)compression : Failed to initialize input stream !");
    In = InputStream;
  } else {
    try {
      InFile = std::make_unique<TFileStream>(InputFile, fmOpenRead | fmShareDenyWrite);
    } catch (const Exception&) {
      throw ELzrw1Exception("Lzrw1 (de)compression : Failed to open input file : " + InputFile);
    }
    In = InFile.get();
  }
}

void Tlzrw1::OpenOutput() {
  if (UseStreams) {
    bool ok = OutputStream != nullptr;
    try {
      ok = ok && OutputStream->Seek(0, soFromCurrent) >= 0;
    } catch (const Exception&) {
      ok = false;
    }
    if (!ok) throw ELzrw1Exception("Lzrw1 (de)compression : Failed to initialize output stream !");
    Out = OutputStream;
  } else {
    // Creating the output over the input would destroy the input before it is read.
    if (SameFile(InputFile, OutputFile))
      throw ELzrw1Exception("Lzrw1 (de)compression : Failed to open output file : " + OutputFile);
    try {
      OutFile = std::make_unique<TFileStream>(OutputFile, fmCreate);
    } catch (const Exception&) {
      throw ELzrw1Exception("Lzrw1 (de)compression : Failed to open output file : " + OutputFile);
    }
    Out = OutFile.get();
  }
}

int32_t Tlzrw1::ReadInput(void* buffer, int32_t count) {
  int32_t n;
  try {
    n = In->Read(buffer, count);
  } catch (const Exception&) {
    return -1;
  }
  if (n > 0) BytesRead += n;
  return n;
}

void Tlzrw1::ReadFailure(const char* suffix) {
  if (UseStreams) throw ELzrw1Exception(std::string("Lzrw1 : Error reading from input stream !") + suffix);
  throw ELzrw1Exception("Lzrw1 : Error reading from input file : " + InputFile + suffix);
}

void Tlzrw1::ReadExact(void* buffer, int32_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  int32_t done = 0;
  while (done < count) {
    const int32_t n = ReadInput(p + done, count - done);
    if (n <= 0) ReadFailure("");
    done += n;
  }
}

void Tlzrw1::WriteOutput(const void* buffer, int32_t count) {
  if (count <= 0) return;
  int32_t n;
  try {
    n = Out->Write(buffer, count);
  } catch (const Exception&) {
    n = -1;
  }
  if (n != count) {
    if (UseStreams) throw ELzrw1Exception("Lzrw1 : Error writing to output stream !");
    throw ELzrw1Exception("Lzrw1 : Error writing to output file : " + OutputFile);
  }
  BytesWritten += count;
}

// --- LZH callbacks: the coder moves single bytes, the streams see 32 KB transfers

void Tlzrw1::LzhRead(uint8_t* buffer, int32_t count, int32_t& delivered) {
  delivered = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (InPos >= InFill) {
      if (InFill < 0) return;  // the input has ended
      const int32_t n = ReadInput(InBuf.data(), kBlock);
      if (n < 0) ReadFailure(" (LZH)");
      if (n == 0) {
        InFill = -1;
        return;
      }
      InFill = n;
      InPos = 0;
    }
    buffer[i] = InBuf[static_cast<std::size_t>(InPos++)];
    ++delivered;
  }
}

void Tlzrw1::LzhWrite(const uint8_t* buffer, int32_t count, int32_t& written) {
  if (count <= 0) {
    LzhFlush();
    written = 0;
    return;
  }
  if (OutPos + count > kBlock) LzhFlush();
  if (count > kBlock) {
    WriteOutput(buffer, count);
  } else {
    std::memcpy(OutBuf.data() + OutPos, buffer, static_cast<std::size_t>(count));
    OutPos += count;
  }
  written = count;
}

void Tlzrw1::LzhFlush() {
  const int32_t n = OutPos;
  OutPos = 0;
  WriteOutput(OutBuf.data(), n);
}

// --- Compress

int32_t Tlzrw1::Compress() {
  const uint8_t method = Method == MethodAdvise ? Advise() : (Method == MethodLZRW1KH ? MethodLZRW1KH : MethodLZH);
  OpenBuffers("Lzrw1 (de)compression : Failed to get memory for I/O buffers !");
  try {
    int64_t size = 0;
    if (UseStreams) {
      bool ok = InputStream != nullptr;
      try {
        // From the position on: that is what will be read and coded.
        if (ok) size = InputStream->GetSize() - InputStream->GetPosition();
      } catch (const Exception&) {
        ok = false;
      }
      if (!ok || size < 0 || size > std::numeric_limits<int32_t>::max())
        throw ELzrw1Exception("Lzrw1 compression : Failed to obtain the size of the input stream !");
    } else if (!FileSize(InputFile, size) || size > std::numeric_limits<int32_t>::max()) {
      throw ELzrw1Exception("Lzrw1 compression : Failed to obtain the size of : " + InputFile);
    }
    OpenInput();
    OpenOutput();
    uint8_t header[8];
    std::memcpy(header, method == MethodLZRW1KH ? kTagLZRW1KH : kTagLZH, 4);
    PutI32(header + 4, static_cast<int32_t>(size));
    WriteOutput(header, 8);
    if (method == MethodLZRW1KH) {
      CompressLZRW1KH();
    } else {
      CompressLZH();
    }
  } catch (...) {
    CloseAll();
    throw;
  }
  const int64_t written = BytesWritten;
  CloseAll();
  return static_cast<int32_t>(written);
}

void Tlzrw1::CompressLZRW1KH() {
  int32_t n;
  do {
    // Fill the whole block: a short read in the middle must not end the container early.
    n = 0;
    while (n < kBlock) {
      const int32_t got = ReadInput(InBuf.data() + n, kBlock - n);
      if (got < 0) ReadFailure(" (LZRW1/KH)");
      if (got == 0) break;
      n += got;
    }
    const uint16_t coded = Lzr.Compress(InBuf.data(), OutBuf.data(), n);
    const uint8_t len[2] = {static_cast<uint8_t>(coded), static_cast<uint8_t>(coded >> 8)};
    WriteOutput(len, 2);
    WriteOutput(OutBuf.data(), coded);
  } while (n == kBlock);
}

void Tlzrw1::CompressLZH() {
  InFill = 0;
  InPos = 0;
  OutPos = 0;
  int32_t textSize = 0;
  Lzh.Encode(
      textSize, [this](const uint8_t* b, int32_t n, int32_t& w) { LzhWrite(b, n, w); },
      [this](uint8_t* b, int32_t n, int32_t& d) { LzhRead(b, n, d); });
  LzhFlush();
}

// --- Decompress

int32_t Tlzrw1::Decompress() {
  OpenBuffers("Lzrw1 (de)compression : Failed to get memory for I/O buffers !");
  try {
    OpenInput();
    OpenOutput();
    char tag[4];
    ReadExact(tag, 4);
    const bool lzrw = std::memcmp(tag, kTagLZRW1KH, 4) == 0;
    const bool lzh = std::memcmp(tag, kTagLZH, 4) == 0;
    if (!lzrw && !lzh) {
      if (UseStreams) throw ELzrw1Exception("Lzrw1 decompression : input stream contains no valid header !");
      throw ELzrw1Exception(InputFile + " : Lzrw1 decompression : this file has no valid header !");
    }
    uint8_t sizeBytes[4];
    ReadExact(sizeBytes, 4);
    const int32_t size = GetI32(sizeBytes);
    if (lzrw) {
      DecompressLZRW1KH(size);
    } else {
      DecompressLZH(size);
    }
  } catch (...) {
    CloseAll();
    throw;
  }
  const int64_t written = BytesWritten;
  CloseAll();
  return static_cast<int32_t>(written);
}

void Tlzrw1::DecompressLZRW1KH(int32_t size) {
  // The stated size bounds the output: a negative one can never match, and no block may
  // carry the output past it.
  if (size < 0) throw ELzrw1Exception(kMismatchLZRW1KH);
  int32_t got;
  do {
    uint8_t lenBytes[2];
    ReadExact(lenBytes, 2);
    const int32_t len = lenBytes[0] | (lenBytes[1] << 8);
    // No sound block is longer than a stored one.
    if (len > kBlock + 1) throw ELzrw1Exception(kMismatchLZRW1KH);
    ReadExact(InBuf.data(), len);
    got = Lzr.Decompress(InBuf.data(), OutBuf.data(), len, kBlock);
    if (got < 0 || got > size - BytesWritten) throw ELzrw1Exception(kMismatchLZRW1KH);
    WriteOutput(OutBuf.data(), got);
  } while (got == kBlock);
  if (BytesWritten != size) throw ELzrw1Exception(kMismatchLZRW1KH);
}

void Tlzrw1::DecompressLZH(int32_t size) {
  InFill = 0;
  InPos = 0;
  OutPos = 0;
  Lzh.Decode(
      size, [this](const uint8_t* b, int32_t n, int32_t& w) { LzhWrite(b, n, w); },
      [this](uint8_t* b, int32_t n, int32_t& d) { LzhRead(b, n, d); });
  LzhFlush();
  if (BytesWritten != size) throw ELzrw1Exception(kMismatchLZH);
}

// --- Advise

uint8_t Tlzrw1::Advise() {
  OpenBuffers("Lzrw1 advise : Error getting I/O buffers");
  uint8_t answer = MethodLZH;
  int64_t restore = -1;
  try {
    int64_t size = 0;
    if (UseStreams) {
      bool ok = InputStream != nullptr;
      try {
        if (ok) {
          restore = InputStream->GetPosition();
          size = InputStream->GetSize();
        }
      } catch (const Exception&) {
        ok = false;
      }
      if (!ok) throw ELzrw1Exception("Lzrw1 advise : can not get size of inputstream !");
      try {
        ok = InputStream->Seek(0, soFromBeginning) == 0;
      } catch (const Exception&) {
        ok = false;
      }
      if (!ok) throw ELzrw1Exception("Lzrw1 edvise : can not initialize the input stream!");
      In = InputStream;
    } else {
      if (!FileSize(InputFile, size)) throw ELzrw1Exception("Lzrw1 advise : can not get the size of : " + InputFile);
      try {
        InFile = std::make_unique<TFileStream>(InputFile, fmOpenRead | fmShareDenyWrite);
      } catch (const Exception&) {
        throw ELzrw1Exception("Lzrw1 advise : can open input file : " + InputFile);
      }
      In = InFile.get();
    }
    if (size < kAdviseMinimum) {
      Method = MethodLZH;
    } else {
      int64_t coded = 0, read = 0;
      for (int64_t at : {size / 3, 2 * size / 3}) {
        at -= at % kBlock;
        int32_t n = -1;
        try {
          if (In->Seek(at, soFromBeginning) == at) n = In->Read(InBuf.data(), kBlock);
        } catch (const Exception&) {
          n = -1;
        }
        if (n < 0) {
          if (UseStreams) throw ELzrw1Exception("Lzrw1 advise : input stream read error !");
          throw ELzrw1Exception("Lzrw1 advise : read error on input file : " + InputFile);
        }
        coded += Lzr.Compress(InBuf.data(), OutBuf.data(), n);
        read += n;
      }
      answer = coded < AdviseThreshold * read / 100 ? MethodLZRW1KH : MethodLZH;
    }
  } catch (...) {
    if (UseStreams && InputStream && restore >= 0) {
      try {
        InputStream->Seek(restore, soFromBeginning);
      } catch (const Exception&) {
      }
    }
    CloseAll();
    throw;
  }
  if (UseStreams && restore >= 0) InputStream->Seek(restore, soFromBeginning);
  CloseAll();
  return answer;
}
