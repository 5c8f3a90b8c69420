#pragma once
// Small helpers of the class library: ASCII case, number formatting, file names, files, clocks.
#include <cstddef>
#include <cstdint>
#include <string>

// ASCII-only case mapping, as the class library's UpperCase/LowerCase/SameText.
std::string UpperCase(const std::string& s);
std::string LowerCase(const std::string& s);
bool SameText(const std::string& a, const std::string& b);
bool StartsText(const std::string& prefix, const std::string& s);  // case-insensitive
std::string Trim(const std::string& s);  // drops bytes <= ' ' at both ends
std::string IntToStr(int64_t v);
std::string IntToHex(uint64_t v, int digits);  // upper-case, at least `digits` digits
int64_t StrToIntDef(const std::string& s, int64_t def);  // decimal, or '$'/0x hexadecimal
// Every line break (CR LF, a lone LF or a lone CR) as CR LF.
std::string ToCrLf(const std::string& s);
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// File names ('/' separated).
std::string IncludeTrailingPathDelimiter(const std::string& dir);
std::string ExtractFilePath(const std::string& fileName);  // with the trailing '/'
std::string ExtractFileName(const std::string& fileName);
std::string ExtractFileExt(const std::string& fileName);   // with the dot
std::string ChangeFileExt(const std::string& fileName, const std::string& ext);

bool FileExists(const std::string& fileName);
bool DirectoryExists(const std::string& dir);
bool ForceDirectories(const std::string& dir);
bool DeleteFile(const std::string& fileName);
bool RenameFile(const std::string& from, const std::string& to);
int64_t FileSize(const std::string& fileName);  // -1 when missing
bool ReadFileBytes(const std::string& fileName, std::string& out);
// Writes a temporary file beside `fileName`, flushes it and renames it over the old file, so a
// failed or interrupted save never destroys what was there. False (old file intact) on failure.
bool SaveFileAtomically(const std::string& fileName, const void* data, std::size_t size);
inline bool SaveFileAtomically(const std::string& fileName, const std::string& data) {
  return SaveFileAtomically(fileName, data.data(), data.size());
}
// The folder of the running executable, with a trailing '/'.
std::string ProgramDir();

// Clocks: milliseconds since an arbitrary start (wraps like a 32-bit tick count), a
// high-resolution counter and its frequency (counts per second), and a sleep.
uint32_t GetTickCount();
int64_t QueryPerformanceCounter();
int64_t QueryPerformanceFrequency();
void Sleep(uint32_t ms);
