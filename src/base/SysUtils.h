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
// As RenameFile, but never over a name that is taken (by a file, a folder or a link): then false
// with errno EEXIST.
bool RenameNoReplace(const std::string& from, const std::string& to);
int64_t FileSize(const std::string& fileName);  // -1 when missing
// Opens one of the program's own files, only when it is a regular file: a FIFO, socket, device
// or folder in its place is refused at once (errno EISDIR for a folder, else ENXIO) instead of
// blocking the caller or feeding it endless bytes, and a symbolic link in its place is never
// followed (ELOOP), so nobody can point a read or a write of ours at another file. `flags` are
// open(2) flags; O_CLOEXEC and O_NOFOLLOW are added. -1 on failure.
int OpenRegularFile(const std::string& fileName, int flags, unsigned mode = 0644);
// The same for reading a file that is not the program's own (another program's file whose
// version is read): symbolic links are followed.
int OpenForeignRegularFile(const std::string& fileName, int flags);
// Makes a new, empty regular file under `fileName` (O_CREAT | O_EXCL | O_NOFOLLOW): whatever
// non-folder entry stands there first (a leftover, a symbolic or hard link) is removed, never
// written through. `flags` add the access mode (O_WRONLY or O_RDWR). -1 on failure.
int CreateNewFile(const std::string& fileName, int flags, unsigned mode = 0644);
// True when a symbolic link stands under the name (dangling or not).
bool IsSymbolicLink(const std::string& fileName);
// The file's bytes (at most maxBytes of them, from its start) in one go; false when it cannot
// be opened (missing, no regular file, a link) or read.
bool ReadFileBytes(const std::string& fileName, std::string& out, std::size_t maxBytes = SIZE_MAX);
// Writes a new temporary file beside `fileName` (see CreateNewFile), flushes it and renames it
// over the old file, so a failed or interrupted save never destroys what was there; a link under
// the name is replaced by the file, its target is never touched. False (old file intact) on
// failure.
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
