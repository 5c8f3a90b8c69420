#pragma once
// The shipped levels (the "LVL" resources 1..10) built ahead of the step that loads them, and
// levels freed after the step that leaves them. Decoding a level container, reading the file and
// building the level (path map, laser distances, fire lists) take far longer than a simulation
// step, and so does handing a level's memory back. A built level is a pure function of the
// embedded bytes (nothing in it draws a random number or reads the game), so a worker thread
// builds one in advance and the step that loads the level only takes it; the worker then builds
// the next copy. A level that is not ready, or a user level (read from a file that may change),
// loads the plain way, from its stream, with the same result.
#include <cstdint>
#include <memory>

class TGameGraphics;
class TGameSounds;
class TQVGameLevel;

constexpr int32_t kShippedLevelCount = 10;

// Queues the building of every shipped level not yet held or queued, `first` first.
void PrepareShippedLevels(int32_t first);
// A fresh copy of shipped level `number`, given the game's graphics and sounds, when one is
// ready; never waits. Null for other numbers, while the copy is still being built, or when the
// level failed to build (the plain load then meets the fault and reports it).
std::unique_ptr<TQVGameLevel> TakePreparedLevel(int32_t number, TGameGraphics* graphics, TGameSounds* sounds);
// Frees a level on the worker. Nothing may point into it any more (the elements are gone).
void DisposeLevel(std::unique_ptr<TQVGameLevel> level);

// For tests and benchmarks: waits until the worker has nothing left to do; forgets every
// prepared level, so that loads take the plain way until the levels are prepared again.
void WaitForPreparedLevels();
void ForgetPreparedLevels();
// How many loads took a prepared level.
int32_t PreparedLevelsTaken();
