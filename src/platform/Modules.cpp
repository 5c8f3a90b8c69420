#include "platform/Modules.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/SysUtils.h"

namespace {
std::string Key(const std::string& type, const std::string& name) {
  std::string n = name;
  std::size_t slash = n.find_last_of("/\\");
  if (slash != std::string::npos) n = n.substr(slash + 1);
  std::size_t dot = n.find_last_of('.');
  if (dot != std::string::npos && dot > 0) n = n.substr(0, dot);
  return UpperCase(type) + "|" + UpperCase(n);
}

class TProgramModule : public TModule {
public:
  bool FindResource(const std::string& type, const std::string& name, TResourceData& out) override {
    return FindResourceData(type, name, out);
  }
};

class TLibraryModule : public TModule {
public:
  explicit TLibraryModule(void* handle) : Handle(handle) {}
  bool FindResource(const std::string&, const std::string&, TResourceData&) override { return false; }
  void* Handle;
};

thread_local std::string LibraryError;
}  // namespace

HMODULE HInstance() {
  static TProgramModule program;
  return &program;
}

bool FindResource(HMODULE module, const std::string& type, const std::string& name, TResourceData& out) {
  if (!module) module = HInstance();
  return module->FindResource(type, name, out);
}

void TMemoryModule::AddResource(const std::string& type, const std::string& name, std::string bytes) {
  Items[Key(type, name)] = std::move(bytes);
}

bool TMemoryModule::FindResource(const std::string& type, const std::string& name, TResourceData& out) {
  auto it = Items.find(Key(type, name));
  if (it == Items.end()) return false;
  out.Data = reinterpret_cast<const uint8_t*>(it->second.data());
  out.Size = it->second.size();
  return true;
}

HMODULE LoadLibrary(const std::string& fileName) {
  // A bare name would make dlopen search the library path; the callers always mean a file.
  std::string path = fileName.find('/') == std::string::npos ? "./" + fileName : fileName;
  // The module is one of the program's own files (the codec file): opened without following a
  // link, and loaded from that open file, so a link put in its place meanwhile loads nothing.
  const int fd = OpenRegularFile(path, O_RDONLY);
  if (fd < 0) {
    LibraryError = path + ": " + std::strerror(errno);
    return nullptr;
  }
  const bool procFs = ::access("/proc/self/fd", F_OK) == 0;  // else the path, checked just now
  const std::string opened = procFs ? "/proc/self/fd/" + std::to_string(fd) : path;
  void* h = ::dlopen(opened.c_str(), RTLD_NOW | RTLD_LOCAL);
  ::close(fd);
  if (!h) {
    const char* e = ::dlerror();
    LibraryError = e ? e : "cannot load library";
    return nullptr;
  }
  return new TLibraryModule(h);
}

void* GetProcAddress(HMODULE module, const char* name) {
  auto* lib = dynamic_cast<TLibraryModule*>(module);
  if (!lib) return nullptr;
  ::dlerror();
  return ::dlsym(lib->Handle, name);
}

bool FreeLibrary(HMODULE module) {
  auto* lib = dynamic_cast<TLibraryModule*>(module);
  if (!lib) return false;
  bool ok = ::dlclose(lib->Handle) == 0;
  delete lib;
  return ok;
}

std::string LastLibraryError() { return LibraryError; }
