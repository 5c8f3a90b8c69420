#include "base/Resources.h"

#include "base/SysUtils.h"


namespace {
std::string Normalise(const std::string& name) {
  std::string n = name;
  std::size_t slash = n.find_last_of("/\\");
  if (slash != std::string::npos) n = n.substr(slash + 1);
  std::size_t dot = n.find_last_of('.');
  if (dot != std::string::npos && dot > 0) n = n.substr(0, dot);
  return UpperCase(n);
}
}  // namespace

bool FindResourceData(const std::string& group, const std::string& name, TResourceData& out) {
  const std::string g = UpperCase(group);
  const std::string n = Normalise(name);
  for (std::size_t i = 0; i < kt_resource_count; ++i) {
    const KtResourceEntry& e = kt_resource_table[i];
    if (g == e.Group && n == e.Name) {
      out.Data = e.Begin;
      out.Size = static_cast<std::size_t>(e.End - e.Begin);
      return true;
    }
  }
  return false;
}

std::vector<std::string> ResourceNames(const std::string& group) {
  std::vector<std::string> names;
  const std::string g = UpperCase(group);
  for (std::size_t i = 0; i < kt_resource_count; ++i)
    if (g == kt_resource_table[i].Group) names.emplace_back(kt_resource_table[i].Name);
  return names;
}
