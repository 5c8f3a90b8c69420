#pragma once
// Folders that refuse writes for the span of a test: a read-only bind mount of the folder over
// itself, or a small tmpfs that can be filled. Root ignores file modes, so only a mount shows
// what a read-only or full disk does. Where mounting is not allowed the test skips.
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

class TScopedMount {
public:
  ~TScopedMount() { ::umount2(Dir.c_str(), MNT_DETACH); }
  TScopedMount(const TScopedMount&) = delete;
  TScopedMount& operator=(const TScopedMount&) = delete;

  // `dir` (which must exist) read-only with what it holds; nullptr with the reason in `why`.
  static std::unique_ptr<TScopedMount> ReadOnly(const std::string& dir, std::string& why) {
    if (::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0) return Fail(why);
    std::unique_ptr<TScopedMount> m(new TScopedMount(dir));
    if (::mount(nullptr, dir.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) return Fail(why);
    return m;
  }
  // An empty tmpfs of `bytes` over `dir` (which must exist).
  static std::unique_ptr<TScopedMount> SmallDisk(const std::string& dir, std::size_t bytes, std::string& why) {
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0) return Fail(why);
    return std::unique_ptr<TScopedMount>(new TScopedMount(dir));
  }
  // Writes `fileName` until the disk takes no byte more; true when it is full.
  static bool Fill(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return errno == ENOSPC;
    const std::string block(4096, 'f');
    ssize_t n;
    while ((n = ::write(fd, block.data(), block.size())) > 0) {
    }
    const bool full = n < 0 && errno == ENOSPC;
    ::close(fd);
    return full;
  }

private:
  explicit TScopedMount(const std::string& dir) : Dir(dir) {}
  static std::unique_ptr<TScopedMount> Fail(std::string& why) {
    why = std::string("mounting is not allowed here: ") + std::strerror(errno);
    return nullptr;
  }
  std::string Dir;
};
