// TStringList's text and name=value parsing (the hosts list and every text file go through it).
// The input is split at the first NUL byte into a text and a name. Lines survive a round trip
// through Text; a value set under a name is the value read back under it.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/Classes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = in.find('\0');
  const std::string text = in.substr(0, nul);
  std::string name = nul == std::string::npos ? "" : in.substr(nul + 1);
  TStringList l;
  l.SetText(text);
  for (const std::string& s : l.Strings)
    if (s.find_first_of("\r\n") != std::string::npos) std::abort();
  TStringList again;
  again.SetText(l.Text());
  if (again.Strings != l.Strings) std::abort();
  for (int i = 0; i < l.Count(); ++i) {
    const std::string n = l.Names(i);
    if (!n.empty() && l.IndexOfName(n) > i) std::abort();
  }
  l.Value(name);
  // A name without '=' or line breaks, and a value without line breaks, read back as set.
  if (name.find_first_of("=\r\n") != std::string::npos) name = "key";
  const std::string value = "v=" + std::to_string(size);
  l.SetValue(name, value);
  if (!name.empty() && l.Value(name) != value) std::abort();
  const int at = l.IndexOfName(name);
  if (!name.empty() && (at < 0 || l.Names(at).size() != name.size())) std::abort();
  return 0;
}
