#pragma once
// Shared helpers for the tests: a fresh scratch folder per test, file reading and writing.
#include <functional>
#include <string>
#include <vector>

// A new empty folder under the build tree, named after the running test; ends with '/'.
std::string TestDir();
std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& bytes);
// True when the process runs as root (permission bits do not stop root).
bool RunningAsRoot();

// Lines of a trace-log file, and whether one equals or starts with a text.
std::vector<std::string> FileLines(const std::string& path);
bool FileHasLine(const std::string& path, const std::string& line);
bool FileHasLinePrefix(const std::string& path, const std::string& prefix);

// Runs `body` (on the calling thread) under a watchdog: should it not return within `seconds`,
// the test program ends at once with a failure that names the running test, in place of a hang
// that only ctest's time-out would end. Make `seconds` wide: a sanitizer build on a machine with
// every core busy.
void WithWatchdog(int seconds, const std::function<void()>& body);

// Kills a saving process at random moments: forks `kills` children, each running save(0),
// save(1), ... without end, SIGKILLs each after a random delay of up to `maxDelayUs` and then
// runs check() in this process (which asserts what the files must hold).
void KillDuringSaves(int kills, int maxDelayUs, const std::function<void(int)>& save,
                     const std::function<void()>& check);
