#pragma once
// Modules of the process: the program itself, whose resources are the embedded table, and code
// libraries opened at run time (dlopen). Resource lookups ignore case and the extension.
#include <cstdint>
#include <map>
#include <string>

#include "base/Resources.h"

class TModule {
public:
  virtual ~TModule() = default;
  virtual bool FindResource(const std::string& type, const std::string& name, TResourceData& out) = 0;
};
using HMODULE = TModule*;

// The program's own module (its embedded resources).
HMODULE HInstance();
// A resource of `module` (nullptr: the program's own).
bool FindResource(HMODULE module, const std::string& type, const std::string& name, TResourceData& out);

// A module whose resources are held in memory, for tools and tests that need content the
// program does not carry.
class TMemoryModule : public TModule {
public:
  void AddResource(const std::string& type, const std::string& name, std::string bytes);
  bool FindResource(const std::string& type, const std::string& name, TResourceData& out) override;

private:
  std::map<std::string, std::string> Items;  // key: TYPE|NAME, upper-case, no extension
};

// Code libraries. LoadLibrary gives nullptr when the file cannot be loaded (LastLibraryError
// says why); a library module has no resources.
HMODULE LoadLibrary(const std::string& fileName);
void* GetProcAddress(HMODULE module, const char* name);
bool FreeLibrary(HMODULE module);
std::string LastLibraryError();
