#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <random>
#include <sstream>

#include "base/Classes.h"

std::string TestDir() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "unknown";
  for (char& c : name)
    if (c == '/') c = '_';
  std::filesystem::path p = std::filesystem::path(KT_TEST_TMP) / name;
  std::filesystem::remove_all(p);
  std::filesystem::create_directories(p);
  return p.string() + "/";
}

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool RunningAsRoot() { return ::geteuid() == 0; }

std::vector<std::string> FileLines(const std::string& path) {
  TStringList l;
  l.LoadFromFile(path);
  return l.Strings;
}

bool FileHasLine(const std::string& path, const std::string& line) {
  for (const std::string& s : FileLines(path))
    if (s == line) return true;
  return false;
}

bool FileHasLinePrefix(const std::string& path, const std::string& prefix) {
  for (const std::string& s : FileLines(path))
    if (s.rfind(prefix, 0) == 0) return true;
  return false;
}

void WithWatchdog(int seconds, const std::function<void()>& body) {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "a test";
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::thread dog([&] {
    std::unique_lock<std::mutex> lock(m);
    if (!cv.wait_for(lock, std::chrono::seconds(seconds), [&] { return done; })) {
      std::fprintf(stderr, "FAILED: %s is still running after %d s (a hang); the test program ends here\n",
                   name.c_str(), seconds);
      std::fflush(stderr);
      std::_Exit(1);
    }
  });
  struct TDone {  // also when `body` throws or an assertion returns from it
    std::mutex& M;
    std::condition_variable& Cv;
    bool& Done;
    std::thread& Dog;
    ~TDone() {
      {
        std::lock_guard<std::mutex> lock(M);
        Done = true;
      }
      Cv.notify_all();
      Dog.join();
    }
  } finish{m, cv, done, dog};
  body();
}

void KillDuringSaves(int kills, int maxDelayUs, const std::function<void(int)>& save,
                     const std::function<void()>& check) {
  std::mt19937 rng(12345);
  for (int k = 0; k < kills; ++k) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int i = 0;; ++i) save(i);
    }
    ::usleep(static_cast<useconds_t>(rng() % static_cast<unsigned>(maxDelayUs + 1)));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the saving child ended by itself";
    check();
  }
}
