#include "game/ServerReplies.h"

#include "base/Classes.h"
#include "base/SysUtils.h"

namespace {
bool IsControl(char ch) {
  auto c = static_cast<unsigned char>(ch);
  return c < 0x20 || c == 0x7f;
}

bool IsAlnum(char ch) { return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z'); }

bool IsToken(const std::string& s, size_t max, const char* extra) {
  if (s.empty() || s.size() > max) return false;
  for (char ch : s)
    if (!IsAlnum(ch) && std::string(extra).find(ch) == std::string::npos) return false;
  return true;
}

// The value of `name=` in the lines, trimmed; "" when absent.
std::string ValueOf(const TStringList& lines, const char* name) {
  for (const std::string& line : lines.Strings) {
    size_t eq = line.find('=');
    if (eq != std::string::npos && SameText(Trim(line.substr(0, eq)), name)) return Trim(line.substr(eq + 1));
  }
  return std::string();
}
}  // namespace

bool IsHostValue(const std::string& value) {
  if (value.empty() || value.size() > 255) return false;
  size_t colon = value.find(':');
  std::string name = value.substr(0, colon);
  if (!IsToken(name, 255, "-.") || name[0] == '-' || name[0] == '.') return false;
  if (colon == std::string::npos) return true;
  std::string port = value.substr(colon + 1);
  if (port.empty() || port.size() > 5) return false;
  for (char ch : port)
    if (ch < '0' || ch > '9') return false;
  return true;
}

bool IsBaseValue(const std::string& value) {
  if (value.empty() || value.size() > 150 || value.front() != '/' || value.back() != '/') return false;
  if (value.find("..") != std::string::npos || value.find("//") != std::string::npos) return false;
  for (char ch : value)
    if (IsControl(ch) || ch == ' ' || ch == '\\' || ch == '?' || ch == '#' || ch == '%' || ch == '@') return false;
  return true;
}

THostsList ParseHostsList(const std::string& text) {
  TStringList lines;
  lines.SetText(text);
  THostsList h;
  auto take = [&](const char* name, bool (*ok)(const std::string&)) {
    std::string v = ValueOf(lines, name);
    return ok(v) ? v : std::string();
  };
  h.HighScoreHost = take("HighScoreHost", IsHostValue);
  h.HighScoreBase = take("HighScoreBase", IsBaseValue);
  h.InternalHost = take("InternalHost", IsHostValue);
  h.InternalBase = take("InternalBase", IsBaseValue);
  h.SupportURL = take("SupportURL", IsSupportURLValue);
  return h;
}

bool ParseVersionReply(const std::string& text, TVersionReply& reply) {
  TStringList lines;
  lines.SetText(text);
  if (lines.Count() < 2) return false;
  reply.Latest.clear();
  for (char ch : lines[0].substr(0, 40)) reply.Latest += IsControl(ch) ? '?' : ch;
  reply.RawPage = lines[1].substr(0, 300);
  reply.Page.clear();
  const std::string& p = reply.RawPage;
  bool web = p.rfind("http://", 0) == 0 || p.rfind("https://", 0) == 0;
  for (char ch : p)
    if (IsControl(ch) || ch == ' ') web = false;
  if (web && p.size() <= 250) reply.Page = p;
  return true;
}

namespace {
void AppendPercentEscape(std::string& out, char ch) {
  static const char hex[] = "0123456789ABCDEF";
  const auto u = static_cast<unsigned char>(ch);
  out += '%';
  out += hex[u >> 4];
  out += hex[u & 15];
}

int HexDigit(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  return -1;
}

bool IsEscape(const std::string& s, size_t i) {
  return i + 2 < s.size() && s[i] == '%' && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0;
}

std::string PercentDecoded(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (IsEscape(s, i)) {
      out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// "..", and what some servers read as "..": more dots, trailing blanks, a ";" parameter.
bool IsParentSegment(const std::string& segment) {
  const std::string name = segment.substr(0, segment.find(';'));
  size_t dots = 0;
  for (char ch : name) {
    if (ch == '.') ++dots;
    else if (ch != ' ') return false;
  }
  return dots >= 2;
}

// A scheme: a letter, then letters, digits, "+-." up to a ':'.
bool StartsWithScheme(const std::string& s) {
  if (s.empty() || !((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z'))) return false;
  for (char ch : s) {
    if (ch == ':') return true;
    if (!IsAlnum(ch) && ch != '+' && ch != '-' && ch != '.') return false;
  }
  return false;
}

// Nested escapes ("%252e") are read once per round by some servers; deeper nesting is refused.
constexpr int kMaxEscapeRounds = 8;
}  // namespace

bool ErrorPagePath(const std::string& page, std::string& path) {
  path.clear();
  const size_t pathEnd = page.find_first_of("?#");
  const std::string rawPath = page.substr(0, pathEnd);
  // The path as the server may read it: its escapes decoded, as deeply as they nest.
  std::string plainPath = rawPath;
  for (int round = 0;; ++round) {
    std::string next = PercentDecoded(plainPath);
    if (next == plainPath) break;
    if (round == kMaxEscapeRounds) return false;
    plainPath = std::move(next);
  }
  // control characters, written out or escaped (a line break would end a request line)
  auto hasControl = [](const std::string& s) {
    for (char ch : s)
      if (IsControl(ch)) return true;
    return false;
  };
  if (hasControl(page) || hasControl(PercentDecoded(page)) || hasControl(plainPath)) return false;
  if (!plainPath.empty() && (plainPath[0] == '/' || plainPath[0] == '\\')) return false;
  if (StartsWithScheme(plainPath)) return false;
  for (size_t start = 0; start <= plainPath.size();) {
    size_t end = plainPath.find_first_of("/\\", start);
    if (end == std::string::npos) end = plainPath.size();
    if (IsParentSegment(plainPath.substr(start, end - start))) return false;
    start = end + 1;
  }
  // Escape what an address cannot carry. A '\' of the path is the separator a browser would
  // read it as; the first '#' starts the fragment.
  bool inFragment = false;
  for (size_t i = 0; i < page.size(); ++i) {
    const char ch = page[i];
    if (ch == '\\' && i < rawPath.size()) {
      path += '/';
    } else if (ch == '%' && IsEscape(page, i)) {
      path += ch;
    } else if (ch == '#' && !inFragment) {
      inFragment = true;
      path += ch;
    } else if (IsAlnum(ch) || std::string("-._~!$&'()*+,;=:@/?").find(ch) != std::string::npos) {
      path += ch;
    } else {
      AppendPercentEscape(path, ch);
    }
  }
  return true;
}

bool ParseErrorListLine(const std::string& line, TErrorListEntry& entry) {
  size_t first = line.find(',');
  if (first == std::string::npos) return false;
  size_t second = line.find(',', first + 1);
  if (second == std::string::npos) return false;
  entry.Page = Trim(line.substr(0, first));
  entry.PageRefused = !ErrorPagePath(entry.Page, entry.PagePath);
  std::string flag = Trim(line.substr(first + 1, second - first - 1));
  entry.OffersReport = !flag.empty() && (flag[0] == 'Y' || flag[0] == 'y');
  entry.Expression = Trim(line.substr(second + 1, 1000));
  return true;
}

void DropCutErrorListLine(std::string& text) {
  const size_t end = text.find_last_of("\r\n");
  text.erase(end == std::string::npos ? 0 : end + 1);
}

std::vector<TErrorListEntry> ParseErrorList(const std::string& text) {
  TStringList lines;
  std::string kept = text;
  if (kept.size() > kMaxErrorListBytes) {
    kept.resize(kMaxErrorListBytes);
    DropCutErrorListLine(kept);
  }
  lines.SetText(kept);
  std::vector<TErrorListEntry> entries;
  for (const std::string& line : lines.Strings) {
    TErrorListEntry e;
    if (ParseErrorListLine(line, e)) entries.push_back(std::move(e));
  }
  return entries;
}

bool IsSupportURLValue(const std::string& value) {
  if (value.size() > 2048 || (value.rfind("http://", 0) != 0 && value.rfind("https://", 0) != 0)) return false;
  for (char ch : value)
    if (IsControl(ch) || ch == ' ' || ch == '\\') return false;
  return value.size() > 8;
}

bool IsUserIDValue(const std::string& value) { return IsToken(value, 32, "-_."); }

bool IsUploadFileName(const std::string& value) {
  // no separators, no escapes, no control characters
  if (value.empty() || value.find("..") != std::string::npos) return false;
  for (char ch : value)
    if (IsControl(ch) || std::string("/\\?#&% ").find(ch) != std::string::npos) return false;
  return true;
}

TScoreReply ParseScoreReply(const std::string& text) {
  TStringList lines;
  lines.SetText(text.size() > kMaxScoreReplyBytes ? text.substr(0, kMaxScoreReplyBytes) : text);
  TScoreReply r;
  std::string page = ValueOf(lines, "SEITE");
  if (IsToken(page, 64, "-_.")) r.Page = page;
  std::string id = ValueOf(lines, "ID").substr(0, 32);
  if (IsUserIDValue(id)) r.ID = id;
  std::string upload = ValueOf(lines, "Upload");
  if (IsToken(upload, 64, "-_")) r.Upload = upload;
  return r;
}

TFirstPlaceReply ParseFirstPlaceReply(const std::string& text, std::string& fileName) {
  fileName.clear();
  const std::string reply = Trim(text.size() > kMaxFirstPlaceReplyBytes ? text.substr(0, kMaxFirstPlaceReplyBytes) : text);
  if (SameText(reply, "OK")) return TFirstPlaceReply::Current;
  if (SameText(reply, "ERR")) return TFirstPlaceReply::Unavailable;
  if (reply.size() > 256 || !IsUploadFileName(reply)) return TFirstPlaceReply::Invalid;
  fileName = reply;
  return TFirstPlaceReply::NewFile;
}

std::string QueryEscape(const std::string& value) {
  std::string out;
  for (char ch : value) {
    if (IsAlnum(ch) || ch == '-' || ch == '_' || ch == '.' || ch == '~') out += ch;
    else AppendPercentEscape(out, ch);
  }
  return out;
}
