#pragma once
// Tlzrw1: the compressed container of the level files. Format, little-endian:
//   4 bytes method tag: "WRZL" (LZRW1/KH blocks) or "!HZL" (one LZH stream)
//   int32   uncompressed size
//   payload: LZRW1/KH: blocks of a uint16 length + one TLZR block, each coding 32,768 input
//            bytes except the last (0..32,767, so a multiple of 32,768 ends with an empty
//            block); LZH: the TLZH bit stream of the whole input.
//
// Decompressing a level (stream mode):
//   Tlzrw1 lz;  lz.UseStreams = true;  lz.InputStream = &src;  lz.OutputStream = &mem;
//   lz.Decompress();   // ELzrw1Exception on damaged or truncated data
// Every failure raises ELzrw1Exception with a fixed English message; output written before a
// failure stays.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Exceptions.h"
#include "base/Streams.h"
#include "engine/LZRW1KH.h"
#include "engine/lzh.h"

KT_DECLARE_EXCEPTION(ELzrw1Exception, Exception)

class Tlzrw1 {
public:
  static constexpr uint8_t MethodLZH = 0;
  static constexpr uint8_t MethodLZRW1KH = 1;
  static constexpr uint8_t MethodAdvise = 2;

  Tlzrw1();
  ~Tlzrw1();
  Tlzrw1(const Tlzrw1&) = delete;
  Tlzrw1& operator=(const Tlzrw1&) = delete;

  // Codes the input (a stream from its position to its end, or the file InputFile) into a
  // container; returns the bytes written, header included.
  int32_t Compress();
  // Returns the decompressed size.
  int32_t Decompress();
  // The method Compress would choose under MethodAdvise: LZH below 98,304 bytes, else
  // LZRW1/KH when it codes two 32 KB samples below AdviseThreshold percent. An input below
  // 98,304 bytes also sets Method to LZH.
  uint8_t Advise();

  std::string InputFile, OutputFile;  // file mode
  uint8_t Method = MethodLZH;         // 0 LZH, 1 LZRW1/KH, 2 Advise; other values act as 0
  bool UseStreams = false;
  TStream* InputStream = nullptr;     // stream mode; not owned
  TStream* OutputStream = nullptr;
  int32_t AdviseThreshold = 40;

private:
  void OpenBuffers(const char* failure);
  void CloseAll();
  void OpenInput();
  void OpenOutput();
  int64_t InputSize(bool forAdvise);
  int32_t ReadInput(void* buffer, int32_t count);
  void ReadExact(void* buffer, int32_t count);
  void WriteOutput(const void* buffer, int32_t count);
  [[noreturn]] void ReadFailure(const char* suffix);
  void CompressLZRW1KH();
  void CompressLZH();
  void DecompressLZRW1KH(int32_t size);
  void DecompressLZH(int32_t size);
  void LzhRead(uint8_t* buffer, int32_t count, int32_t& delivered);
  void LzhWrite(const uint8_t* buffer, int32_t count, int32_t& written);
  void LzhFlush();

  TLZH Lzh;
  TLZR Lzr;
  std::vector<uint8_t> InBuf, OutBuf;
  std::unique_ptr<TFileStream> InFile, OutFile;
  TStream* In = nullptr;   // the input and output of the running operation
  TStream* Out = nullptr;
  int64_t BytesRead = 0, BytesWritten = 0;
  int32_t InFill = 0, InPos = 0, OutPos = 0;  // LZH buffering (0-based here)
};
