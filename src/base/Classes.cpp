#include "base/Classes.h"

#include "base/Exceptions.h"
#include "base/Streams.h"
#include "base/SysUtils.h"

namespace {
[[noreturn]] void IndexError(int i) { throw EListError("List index out of bounds (" + std::to_string(i) + ")"); }
}  // namespace

std::string& TStringList::operator[](int i) {
  if (i < 0 || i >= Count()) IndexError(i);
  return Strings[static_cast<std::size_t>(i)];
}

const std::string& TStringList::operator[](int i) const {
  if (i < 0 || i >= Count()) IndexError(i);
  return Strings[static_cast<std::size_t>(i)];
}

void TStringList::Insert(int index, const std::string& s) {
  if (index < 0 || index > Count()) IndexError(index);
  Strings.insert(Strings.begin() + index, s);
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) IndexError(index);
  Strings.erase(Strings.begin() + index);
}

std::string TStringList::Text() const {
  std::string t;
  for (const std::string& s : Strings) {
    t += s;
    t += "\r\n";
  }
  return t;
}

void TStringList::SetText(const std::string& text) {
  Strings.clear();
  std::size_t i = 0, n = text.size();
  while (i < n) {
    std::size_t start = i;
    while (i < n && text[i] != '\r' && text[i] != '\n') ++i;
    Strings.emplace_back(text, start, i - start);
    if (i < n && text[i] == '\r') ++i;
    if (i < n && text[i] == '\n') ++i;
  }
}

void TStringList::LoadFromStream(TStream& stream) {
  int64_t left = stream.Remaining();
  std::string data(static_cast<std::size_t>(left), '\0');
  if (left > 0) stream.ReadBuffer(data.data(), static_cast<int32_t>(left));
  SetText(data);
}

void TStringList::SaveToStream(TStream& stream) const { stream.WriteString(Text()); }

void TStringList::LoadFromFile(const std::string& fileName) {
  std::string data;
  if (!ReadFileBytes(fileName, data)) throw EFOpenError("Cannot open file \"" + fileName + "\"");
  SetText(data);
}

void TStringList::SaveToFile(const std::string& fileName) const {
  TFileStream f(fileName, fmCreate);
  SaveToStream(f);
}

int TStringList::IndexOf(const std::string& s) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(Strings[static_cast<std::size_t>(i)], s)) return i;
  return -1;
}

int TStringList::IndexOfName(const std::string& name) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(Names(i), name)) return i;
  return -1;
}

std::string TStringList::Names(int index) const {
  const std::string& s = (*this)[index];
  std::size_t p = s.find('=');
  return p == std::string::npos ? std::string() : s.substr(0, p);
}

std::string TStringList::Value(const std::string& name) const {
  int i = IndexOfName(name);
  if (i < 0) return {};
  const std::string& s = Strings[static_cast<std::size_t>(i)];
  return s.substr(s.find('=') + 1);
}

void TStringList::SetValue(const std::string& name, const std::string& value) {
  int i = IndexOfName(name);
  if (i >= 0) Strings[static_cast<std::size_t>(i)] = name + "=" + value;
  else Add(name + "=" + value);
}
