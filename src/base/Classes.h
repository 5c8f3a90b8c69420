#pragma once
// TStringList: lines of 8-bit text. Text joins every line with CR LF; loading splits on
// CR LF, LF or CR. Name=value access as in the class library (names compare case-insensitively).
#include <string>
#include <vector>

class TStream;

class TStringList {
public:
  std::vector<std::string> Strings;

  int Count() const { return static_cast<int>(Strings.size()); }
  std::string& operator[](int i);  // EListError when out of range
  const std::string& operator[](int i) const;
  void Add(const std::string& s) { Strings.push_back(s); }
  void Insert(int index, const std::string& s);
  void Delete(int index);
  void Clear() { Strings.clear(); }

  std::string Text() const;
  void SetText(const std::string& text);
  void LoadFromStream(TStream& stream);  // from the current position to the end
  void SaveToStream(TStream& stream) const;
  void LoadFromFile(const std::string& fileName);  // EFOpenError when it cannot be read
  void SaveToFile(const std::string& fileName) const;  // plain overwrite; EFCreateError

  int IndexOf(const std::string& s) const;  // case-insensitive, -1 when absent
  int IndexOfName(const std::string& name) const;
  std::string Names(int index) const;
  std::string Value(const std::string& name) const;  // "" when absent
  void SetValue(const std::string& name, const std::string& value);
};
