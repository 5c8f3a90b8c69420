#pragma once
// The game's smoke: a fixed pool of particles that smokers and flying cigarettes emit, that
// drift, slow down and fade, drawn as point sprites of the smoke-particle texture.
// Smoke never changes the game: emission leaves the process-wide random seed as it found it, so
// replays stay exact whatever the smoke density setting. The density itself is the callers'
// business (they decide whether to emit at all).
#include <array>
#include <cstdint>

class TzrD3DPointRenderer;

struct TSmokeParticle {
  float X = 0, Y = 0;    // world pixels (cell * 84)
  float VX = 0, VY = 0;  // pixels per smoke step
  float Alpha = 0;       // 1.0 at birth, down towards 0
  float DeathStep = 0;   // the smoke step after which it is recycled
  float Fade = 0;        // alpha lost per smoke step
  int32_t Next = -1;     // next record of its list; -1 ends it
};

class TSmokeSystem {
public:
  static constexpr int32_t kParticleCount = 5000;
  static constexpr int32_t kNone = -1;
  // Where a smoker's hand (and its cigarette) sits for facings 0 to 3, in pixels from its centre.
  static constexpr std::array<std::array<int32_t, 2>, 4> kHandOffsets{
      {{31, 0}, {2, -32}, {-28, -2}, {0, 29}}};

  // `points` is the graphics set's point renderer (not owned); without one nothing is drawn.
  explicit TSmokeSystem(TzrD3DPointRenderer* points);
  TSmokeSystem(const TSmokeSystem&) = delete;
  TSmokeSystem& operator=(const TSmokeSystem&) = delete;

  TzrD3DPointRenderer* PointRenderer;
  std::array<TSmokeParticle, kParticleCount> Particles;
  int32_t Active = kNone;  // newest first
  int32_t Free = kNone;
  int32_t Clock = 0;       // smoke steps done
  int32_t ActiveCount = 0;
  int32_t Throttle = 0;    // halves the step rate

  // One particle with a random spread around (VX, VY); dropped when the pool is full.
  void Emit(float x, float y, float vx, float vy);
  // Once per 20 ms simulation step; the particles move on every second call.
  void Step();
  // Every particle back to the free list and the smoke clock back to 0 (a level is left or
  // loaded).
  void Clear();
  // Adds every visible particle to the point renderer; camera position in world pixels.
  void Render(float cameraX, float cameraY);
};

// The thin trail from a cigarette's glowing tip: one particle within two pixels of the tip
// (tipX, tipY) in world pixels (where the cigarette's drawing puts it, `CigarettePose`), for a
// cigarette held or flying at the angle a in quarter turns.
void EmitCigaretteSmoke(TSmokeSystem& smoke, float tipX, float tipY, float a);
