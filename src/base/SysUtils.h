#pragma once
// Small helpers of the class library: ASCII case, number formatting, file names, files, clocks.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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
// Opens a file only when it is a regular file: a FIFO, socket, device or folder in its place is
// refused at once (errno EISDIR for a folder, else ENXIO) instead of blocking the caller or
// feeding it endless bytes. `flags` are open(2) flags; O_CLOEXEC is added. -1 on failure.
int OpenRegularFile(const std::string& fileName, int flags, unsigned mode = 0644);
// The file's bytes (at most maxBytes of them, from its start) in one go; false when it cannot
// be opened (missing, no regular file) or read.
bool ReadFileBytes(const std::string& fileName, std::string& out, std::size_t maxBytes = SIZE_MAX);
// Writes a temporary file beside `fileName`, flushes it and renames it over the old file, so a
// failed or interrupted save never destroys what was there. False (old file intact) on failure.
bool SaveFileAtomically(const std::string& fileName, const void* data, std::size_t size);
inline bool SaveFileAtomically(const std::string& fileName, const std::string& data) {
  return SaveFileAtomically(fileName, data.data(), data.size());
}
// Removes what interrupted saves of this program left in `dir`: regular files named
// "<name>.tmp<pid>" whose process no longer runs, where <name> is one of `ownNames` (compared
// without case) or ends in one of `ownExtensions` (".lvl"). Returns the number removed.
int RemoveStaleTempFiles(const std::string& dir, const std::vector<std::string>& ownNames,
                         const std::vector<std::string>& ownExtensions);
// The folder of the running executable, with a trailing '/'.
std::string ProgramDir();

// Clocks: milliseconds since an arbitrary start (wraps like a 32-bit tick count), a
// high-resolution counter and its frequency (counts per second), and a sleep.
uint32_t GetTickCount();
int64_t QueryPerformanceCounter();
int64_t QueryPerformanceFrequency();
void Sleep(uint32_t ms);
