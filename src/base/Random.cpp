#include "base/Random.h"

#include <chrono>

uint32_t RandSeed = 0;

static inline void Step() { RandSeed = RandSeed * 134775813u + 1u; }

uint32_t Random(uint32_t range) {
  Step();
  return static_cast<uint32_t>((static_cast<uint64_t>(RandSeed) * range) >> 32);
}

double RandomFloat() {
  Step();
  return static_cast<double>(RandSeed) * (1.0 / 4294967296.0);
}

void Randomize() {
  using namespace std::chrono;
  RandSeed = static_cast<uint32_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}
