#include "platform/Modules.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
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
  // The module is one of the program's own files (the codec file): a link in its place is
  // refused, and a file swapped in between the check and the load is unloaded again.
  const int fd = OpenRegularFile(path, O_RDONLY);
  struct stat checked {};
  if (fd < 0 || ::fstat(fd, &checked) != 0) {
    LibraryError = path + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  ::close(fd);
  void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  struct stat loaded {};
  if (h && (::lstat(path.c_str(), &loaded) != 0 || loaded.st_dev != checked.st_dev || loaded.st_ino != checked.st_ino)) {
    ::dlclose(h);
    LibraryError = path + ": the file changed while it was loaded";
    return nullptr;
  }
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
