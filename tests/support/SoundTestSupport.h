#pragma once
// Shared pieces of the sound tests: a clocked sound device, a scripted clock, log lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Classes.h"
#include "engine/tools.h"
#include "engine/zrDSound.h"
#include "platform/DSound.h"
#include "support/SoundFixtures.h"
#include "support/TestSupport.h"

namespace soundtest {

inline uint32_t& Clock() {
  static uint32_t now = 1000;
  return now;
}
inline uint32_t ClockNow() { return Clock(); }

// Each test: its own log, devices on the hand-clocked output, the scripted clock.
class SoundTest : public ::testing::Test {
protected:
  void SetUp() override {
    Dir = TestDir();
    LogName = Dir + "qv.log";
    SetLogFile(LogName);
    SetSoundOutput(TSoundOutput::Clocked);
    Clock() = 1000;
    SetSoundTickSource(&ClockNow);
  }
  void TearDown() override {
    SetSoundTickSource(nullptr);
    SetSoundOutput(TSoundOutput::SDL);
    SetLogFile("");
  }
  std::vector<std::string> LogLines() { return FileLines(LogName); }
  bool LogHas(const std::string& line) { return FileHasLine(LogName, line); }
  bool LogHasPrefix(const std::string& prefix) { return FileHasLinePrefix(LogName, prefix); }
  std::string Dir;
  std::string LogName;
};

// Byte strings compared without printing megabytes when they differ.
inline ::testing::AssertionResult SameBytes(const std::string& a, const std::string& b) {
  if (a == b) return ::testing::AssertionSuccess();
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  return ::testing::AssertionFailure() << "sizes " << a.size() << " and " << b.size() << ", first difference at " << i;
}

// Output at 8000 Hz mono, so one output frame moves an 8000 Hz mono sound's cursor by one frame.
inline const WAVEFORMATEX kMono8k{1, 1, 8000, 16000, 2, 16, 0};

inline std::string FixtureCache() { return std::string(KT_TEST_TMP) + "/sound-fixtures"; }

}  // namespace soundtest
