#pragma once
// Content embedded in the executable by the build (see cmake/Resources.cmake).
// Groups and names are stored upper-case without extension; lookups ignore case and extension,
// so ("LVL", "1") and ("lvl", "1.lvl") find the same entry.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct KtResourceEntry {
  const char* Group;
  const char* Name;
  const unsigned char* Begin;
  const unsigned char* End;
};

struct TResourceData {
  const uint8_t* Data = nullptr;
  std::size_t Size = 0;
};

bool FindResourceData(const std::string& group, const std::string& name, TResourceData& out);
// Names (upper-case, without extension) of every resource of a group, in table order.
std::vector<std::string> ResourceNames(const std::string& group);

// The generated table (cmake/Resources.cmake), terminated by an all-null row.
extern const KtResourceEntry kt_resource_table[];
extern const std::size_t kt_resource_count;
