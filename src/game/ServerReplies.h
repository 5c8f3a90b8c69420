#pragma once
// The game server's text replies, read without trusting them: the hosts list, version.txt,
// errors.txt, the score reply and the first-place reply. Each parser takes any bytes and
// yields checked values; the callers fetch with a size limit and act on what is left.
#include <cstddef>
#include <string>
#include <vector>

// The most bytes each reply may have; a longer one is cut off during the transfer.
constexpr size_t kMaxHostsListBytes = 16 * 1024;
constexpr size_t kMaxVersionReplyBytes = 4 * 1024;
constexpr size_t kMaxErrorListBytes = 1024 * 1024;
constexpr size_t kMaxScoreReplyBytes = 64 * 1024;
constexpr size_t kMaxFirstPlaceReplyBytes = 4 * 1024;

// "name" or "name:port": letters, digits, '-', '.', one optional port of digits (what the
// settings keep of it: SettingsText in Options.h).
bool IsHostValue(const std::string& value);
// A server path: starts and ends with '/', no blanks, control characters, '\', '?', '#', '..'.
bool IsBaseValue(const std::string& value);
// The support page: an http or https address without blanks, control characters or '\'.
bool IsSupportURLValue(const std::string& value);
// The online ID the score reply hands out: letters, digits and "-_.", at most 32 bytes.
bool IsUserIDValue(const std::string& value);
// A file of the server's upload folder as the first-place reply names it: no separators,
// escapes, blanks, control characters or "..".
bool IsUploadFileName(const std::string& value);

// The hosts list's five values; each is empty unless the list has it, non-empty and well formed.
struct THostsList {
  std::string HighScoreHost, HighScoreBase, InternalHost, InternalBase, SupportURL;
};
THostsList ParseHostsList(const std::string& text);

// version.txt: line 1 the latest version (cut to 40 bytes), line 2 the download page's address
// (empty unless it is a web address). False for fewer than two lines.
struct TVersionReply {
  std::string Latest, Page, RawPage;
};
bool ParseVersionReply(const std::string& text, TVersionReply& reply);

// A page of errors.txt as the end of an address under "errors/": kept whole (sub-folders, a
// query, a fragment), a '\' of its path read as '/', and what an address cannot carry (blanks,
// bytes of 128 and above, a '%' that starts no escape, ...) escaped. False when the page could
// lead out of errors/ on that host: a ".." segment (escaped or not), a leading '/' or '\', a
// scheme, control characters.
bool ErrorPagePath(const std::string& page, std::string& path);

// One line of errors.txt: page, flag, expression; false for a line without two commas. A page
// that ErrorPagePath refuses leaves the line usable, marked PageRefused (the caller skips it).
struct TErrorListEntry {
  std::string Page;      // as the line has it, trimmed
  std::string PagePath;  // ErrorPagePath of Page; empty when refused
  bool PageRefused = false;
  bool OffersReport = false;
  std::string Expression;
};
bool ParseErrorListLine(const std::string& line, TErrorListEntry& entry);
// A list cut at its size limit ends with its last whole line: what follows the last line break
// is dropped.
void DropCutErrorListLine(std::string& text);
std::vector<TErrorListEntry> ParseErrorList(const std::string& text);

// The score reply's name=value lines. Page (SEITE) and ID are kept to letters, digits and
// "-_.", ID cut to 32; Upload is a form field name or empty. Unusable values count as missing.
struct TScoreReply {
  std::string Page, ID, Upload;
};
TScoreReply ParseScoreReply(const std::string& text);

// The first-place reply: "OK" (the stored pack is current), "ERR" (none available), or the
// name of a file in the server's upload folder; anything else is Invalid.
enum class TFirstPlaceReply { Current, Unavailable, NewFile, Invalid };
TFirstPlaceReply ParseFirstPlaceReply(const std::string& text, std::string& fileName);

// Escapes a value for a query or a path segment: letters, digits and "-_.~" stay, every other
// byte becomes %XX.
std::string QueryEscape(const std::string& value);
