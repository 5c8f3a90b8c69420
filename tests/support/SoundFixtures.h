#pragma once
// Small sound fixtures made at test time: PCM WAVE files of a known pattern, and MP3 inside
// WAVE (format tag 0x55) encoded with lame. Header-only, so benchmarks can use it too.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "base/Streams.h"

namespace fixtures {

inline void PutU16(std::string& s, uint16_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>(v >> 8);
}
inline void PutU32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline uint32_t GetU32(const std::string& s, std::size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(s[at + i])) << (8 * i);
  return v;
}

// A RIFF WAVE file: "fmt " with the given format bytes, then "data" (and any extra chunks).
inline std::string Riff(const std::string& fmt, const std::string& data, const std::string& after = {}) {
  std::string body = "WAVE";
  body += "fmt ";
  PutU32(body, static_cast<uint32_t>(fmt.size()));
  body += fmt;
  if (fmt.size() & 1) body += '\0';
  body += "data";
  PutU32(body, static_cast<uint32_t>(data.size()));
  body += data;
  if (data.size() & 1) body += '\0';
  body += after;
  std::string out = "RIFF";
  PutU32(out, static_cast<uint32_t>(body.size()));
  return out + body;
}

// Format header bytes: 16 (no extra size field) or 18 plus extra.
inline std::string FormatBytes(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t avg, uint16_t align,
                               uint16_t bits, int extraSize = 0, const std::string& extra = {}) {
  std::string f;
  PutU16(f, tag);
  PutU16(f, channels);
  PutU32(f, rate);
  PutU32(f, avg);
  PutU16(f, align);
  PutU16(f, bits);
  if (extraSize >= 0) {
    PutU16(f, static_cast<uint16_t>(extraSize));
    f += extra;
  }
  return f;
}

inline std::string PcmFormat(uint32_t rate, uint16_t channels, uint16_t bits, bool withCbSize = true) {
  const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
  return FormatBytes(1, channels, rate, rate * align, align, bits, withCbSize ? 0 : -1);
}

// PCM bytes whose every byte tells its place, so misplaced or lost bytes show.
inline std::string Pattern(std::size_t bytes, uint8_t bits = 16) {
  std::string s(bytes, '\0');
  for (std::size_t i = 0; i < bytes; ++i) s[i] = static_cast<char>((i * 7 + i / 251 + 1) & 0xFF);
  if (bits == 8)
    for (std::size_t i = 0; i < bytes; ++i)
      if (static_cast<uint8_t>(s[i]) == 0x80) s[i] = 0x7F;  // never the 8-bit silence value
  return s;
}

inline std::string PcmWave(uint32_t rate, uint16_t channels, uint16_t bits, const std::string& pcm) {
  return Riff(PcmFormat(rate, channels, bits), pcm);
}

// A sine tone, 16-bit.
inline std::string Tone(uint32_t rate, uint16_t channels, uint32_t frames, double hz = 440.0) {
  std::string s;
  s.reserve(static_cast<std::size_t>(frames) * channels * 2);
  for (uint32_t i = 0; i < frames; ++i) {
    int16_t v = static_cast<int16_t>(12000 * std::sin(2 * M_PI * hz * i / rate));
    for (int c = 0; c < channels; ++c) PutU16(s, static_cast<uint16_t>(v));
  }
  return s;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}
inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// MPEG audio frame headers in a stream: frame count, samples per frame, nominal frame bytes.
struct TMp3Info {
  int Frames = 0;
  uint32_t SamplesPerFrame = 0;
  uint32_t FrameBytes = 0;
};
inline TMp3Info ScanMp3(const std::string& mp3) {
  static const int kBitrates[2][16] = {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
                                       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}};
  static const int kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
  TMp3Info info;
  std::size_t i = 0;
  while (i + 4 <= mp3.size()) {
    const auto b = [&](std::size_t k) { return static_cast<uint8_t>(mp3[i + k]); };
    if (b(0) != 0xFF || (b(1) & 0xE0) != 0xE0) break;
    const int version = (b(1) >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const int bi = b(2) >> 4, ri = (b(2) >> 2) & 3, pad = (b(2) >> 1) & 1;
    if (version == 1 || ri == 3 || bi == 0 || bi == 15) break;
    const bool mpeg1 = version == 3;
    const int kbps = kBitrates[mpeg1 ? 0 : 1][bi];
    const int rate = kRates[mpeg1 ? 0 : version == 2 ? 1 : 2][ri];
    const uint32_t len = static_cast<uint32_t>((mpeg1 ? 144 : 72) * kbps * 1000 / rate + pad);
    info.SamplesPerFrame = mpeg1 ? 1152 : 576;
    if (info.Frames == 0) info.FrameBytes = static_cast<uint32_t>((mpeg1 ? 144 : 72) * kbps * 1000 / rate);
    ++info.Frames;
    i += len;
  }
  return info;
}

// MP3 inside WAVE: format tag 0x55 with its 12 extra bytes (id, flags, block size, frames per
// block, codec delay), block align 1.
inline std::string Mp3Wave(const std::string& mp3, uint32_t rate, uint16_t channels, uint32_t kbps) {
  const TMp3Info info = ScanMp3(mp3);
  std::string extra;
  PutU16(extra, 1);
  PutU32(extra, 2);
  PutU16(extra, static_cast<uint16_t>(info.FrameBytes));
  PutU16(extra, 1);
  PutU16(extra, 1393);
  return Riff(FormatBytes(0x55, channels, rate, kbps * 1000 / 8, 1, 0, 12, extra), mp3);
}

struct TMp3Fixture {
  std::string Mp3;   // the bare MPEG frames
  std::string Wave;  // the same inside WAVE
  TMp3Info Info;
  uint32_t Rate;
  uint16_t Channels;
};

// Encodes `seconds` of a tone with lame (no info tag, constant bit rate) and keeps the result
// in `cacheDir` for later calls. Throws when lame fails.
inline TMp3Fixture MakeMp3(const std::string& cacheDir, uint32_t rate, uint16_t channels, double seconds,
                           uint32_t kbps) {
  std::filesystem::create_directories(cacheDir);
  const std::string base = cacheDir + "/tone_" + std::to_string(rate) + "_" + std::to_string(channels) + "_" +
                           std::to_string(static_cast<int>(seconds * 1000)) + "_" + std::to_string(kbps);
  const std::string mp3Path = base + ".mp3";
  if (!std::filesystem::exists(mp3Path)) {
    const std::string tag = "." + std::to_string(::getpid());
    const std::string wav = base + tag + ".wav";
    WriteFile(wav, PcmWave(rate, channels, 16, Tone(rate, channels, static_cast<uint32_t>(rate * seconds))));
    const std::string out = base + tag + ".mp3";
    const std::string cmd = "lame --quiet -t --cbr -b " + std::to_string(kbps) + " '" + wav + "' '" + out + "'";
    if (std::system(cmd.c_str()) != 0) throw std::runtime_error("lame failed: " + cmd);
    std::filesystem::remove(wav);
    std::filesystem::rename(out, mp3Path);  // atomic: parallel test processes may race here
  }
  TMp3Fixture f;
  f.Mp3 = ReadFile(mp3Path);
  f.Info = ScanMp3(f.Mp3);
  f.Rate = rate;
  f.Channels = channels;
  f.Wave = Mp3Wave(f.Mp3, rate, channels, kbps);
  return f;
}

// Writes the codec module the program carries to `path` (as the program's start-up does).
inline void WriteCodecFile(const std::string& path) {
  TResourceStream r("MP3CODEC", "DLL");
  WriteFile(path, std::string(reinterpret_cast<const char*>(r.Memory()), static_cast<std::size_t>(r.GetSize())));
}

}  // namespace fixtures
