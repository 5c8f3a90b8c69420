#pragma once
// The process-wide random generator: 32-bit LCG, seed := seed * 134775813 + 1.
// Replays depend on every draw happening in the same order: only the GUI thread draws.
#include <cstdint>

extern uint32_t RandSeed;

// Steps the seed, then returns (seed * range) >> 32, in 0..range-1 (0 for range 0).
uint32_t Random(uint32_t range);
// Steps the seed, then returns seed / 2^32 in [0, 1).
double RandomFloat();
// Seeds from the clock.
void Randomize();
