#include "game/SmokeSystem.h"

#include <cmath>

#include "base/PasMath.h"
#include "base/Random.h"
#include "engine/zrD3D.h"
#include "game/KTGlobal.h"

TSmokeSystem::TSmokeSystem(TzrD3DPointRenderer* points) : PointRenderer(points) {
  for (int32_t i = 0; i < kParticleCount; ++i) Particles[size_t(i)].Next = i + 1 < kParticleCount ? i + 1 : kNone;
  Free = 0;
}

void TSmokeSystem::Emit(float x, float y, float vx, float vy) {
  if (Free == kNone) return;
  const int32_t i = Free;
  TSmokeParticle& p = Particles[size_t(i)];
  Free = p.Next;
  p.Next = Active;
  Active = i;

  // Smoke must not shift the game's random sequence: the draws are taken back afterwards.
  const uint32_t savedSeed = RandSeed;
  const double a = RandomFloat() * 2 * M_PI;
  const double v = RandomFloat() * 0.88;
  const int32_t life = int32_t(Random(250)) + 25;
  RandSeed = savedSeed;

  p.X = x;
  p.Y = y;
  p.VX = static_cast<float>(FastSin(static_cast<float>(a)) * v + vx);
  p.VY = static_cast<float>(FastCos(static_cast<float>(a)) * v + vy);
  p.Alpha = 1.0f;
  p.DeathStep = static_cast<float>(Clock + life);
  p.Fade = 1.0f / static_cast<float>(life);
  ++ActiveCount;
}

void TSmokeSystem::Step() {
  if (Throttle > 0) {
    --Throttle;
    return;
  }
  Throttle = 1;
  ++Clock;
  const float clock = static_cast<float>(Clock);
  int32_t* link = &Active;  // the link that points at the particle in hand
  while (*link != kNone) {
    const int32_t i = *link;
    TSmokeParticle& p = Particles[size_t(i)];
    if (p.DeathStep < clock) {
      *link = p.Next;
      p.Next = Free;
      Free = i;
      --ActiveCount;
      continue;
    }
    p.Alpha -= p.Fade;
    p.X += p.VX * p.Alpha;  // it slows as it fades
    p.Y += p.VY * p.Alpha;
    link = &p.Next;
  }
}

void TSmokeSystem::Clear() {
  while (Active != kNone) {
    const int32_t i = Active;
    TSmokeParticle& p = Particles[size_t(i)];
    Active = p.Next;
    p.Next = Free;
    Free = i;
  }
  ActiveCount = 0;
  // No particle is left to die by the old clock: the next level's smoke starts its own.
  Clock = 0;
  Throttle = 0;
}

void TSmokeSystem::Render(float cameraX, float cameraY) {
  if (!PointRenderer) return;
  for (int32_t i = Active; i != kNone; i = Particles[size_t(i)].Next) {
    const TSmokeParticle& p = Particles[size_t(i)];
    const float x = p.X - cameraX;
    const float y = p.Y - cameraY;
    if (!(x > -32 && x < 832 && y > -32 && y < 632)) continue;
    // A byte: rounding may leave the alpha a hair outside 0..1.
    int64_t g = PasTrunc(static_cast<double>(p.Alpha) * 255);
    g = g < 0 ? 0 : g > 255 ? 255 : g;
    const uint32_t colour = uint32_t(g) * 0x01010101u;
    PointRenderer->AddPoint(x, y, 64 - 60 * p.Alpha, colour);
  }
}

namespace {
// Trunc(v) mod 5 with Pascal's signs, without the integer overflow of a huge v.
double TruncMod5(double v) { return std::fmod(std::trunc(v), 5.0); }
}  // namespace

void EmitCigaretteSmoke(TSmokeSystem& smoke, float tipX, float tipY, float a) {
  if (!std::isfinite(tipX) || !std::isfinite(tipY) || !std::isfinite(a)) return;
  // A few pixels of spread, fixed by the place, so the trail is not a one-pixel line.
  const double spread = double(tipX) + double(tipY) + double(a);
  const double x = tipX - 2 + TruncMod5(spread * 3);
  const double y = tipY - 2 + TruncMod5(spread * 5);
  smoke.Emit(static_cast<float>(x), static_cast<float>(y), 0, 0);
}
