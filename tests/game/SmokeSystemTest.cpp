// Smoke particles: emission, stepping, the fixed pool, determinism and drawing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "base/Random.h"
#include "engine/D3DTestSupport.h"
#include "game/KTGlobal.h"
#include "game/SmokeSystem.h"
#include "support/TestSupport.h"

namespace {

constexpr int32_t kN = TSmokeSystem::kParticleCount;

// The generator written out again, to check which draw feeds which field.
uint32_t NextSeed(uint32_t& s) { return s = s * 134775813u + 1u; }

// A seed whose emission gives a particle of the wanted life (25 to 274 smoke steps).
uint32_t SeedForLife(int32_t life) {
  for (uint32_t seed = 1;; ++seed) {
    uint32_t s = seed;
    NextSeed(s);
    NextSeed(s);
    if (int32_t((uint64_t(NextSeed(s)) * 250) >> 32) + 25 == life) return seed;
  }
}

void InitTables() {
  const std::string dir = TestDir();
  setenv("XDG_DATA_HOME", (dir + "data").c_str(), 1);
  setenv("XDG_CACHE_HOME", (dir + "cache").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  InitGlobals("");
}

std::vector<int32_t> ListOf(const TSmokeSystem& s, int32_t head) {
  std::vector<int32_t> r;
  for (int32_t i = head; i != TSmokeSystem::kNone && r.size() <= size_t(kN); i = s.Particles[size_t(i)].Next)
    r.push_back(i);
  return r;
}

bool SameParticles(const TSmokeSystem& a, const TSmokeSystem& b) {
  return std::memcmp(a.Particles.data(), b.Particles.data(), sizeof a.Particles) == 0 &&
         a.Active == b.Active && a.Free == b.Free && a.Clock == b.Clock &&
         a.ActiveCount == b.ActiveCount && a.Throttle == b.Throttle;
}

struct Smoke : ::testing::Test {
  void SetUp() override { InitTables(); }
  void TearDown() override { DoneGlobals(); }
  std::unique_ptr<TSmokeSystem> S = std::make_unique<TSmokeSystem>(nullptr);
};

}  // namespace

TEST_F(Smoke, CreateLinksEveryRecordFreeInArrayOrder) {
  EXPECT_EQ(S->Active, TSmokeSystem::kNone);
  EXPECT_EQ(S->ActiveCount, 0);
  std::vector<int32_t> free = ListOf(*S, S->Free);
  ASSERT_EQ(free.size(), size_t(kN));
  for (int32_t i = 0; i < kN; ++i) EXPECT_EQ(free[size_t(i)], i);
}

TEST_F(Smoke, EmissionDrawsAngleSpeedAndLifeThenRestoresTheSeed) {
  for (uint32_t seed : {0u, 12345u, 0xFFFFFFFFu, 0x9E3779B9u}) {
    S->Clear();
    S->Clock = 7;
    RandSeed = seed;
    S->Emit(100.5f, 200.25f, 1.5f, -2.0f);
    EXPECT_EQ(RandSeed, seed);

    uint32_t s = seed;
    const double r1 = NextSeed(s) / 4294967296.0;
    const double r2 = NextSeed(s) / 4294967296.0;
    const int32_t life = int32_t((uint64_t(NextSeed(s)) * 250) >> 32) + 25;
    const float a = static_cast<float>(r1 * 2 * M_PI);

    ASSERT_EQ(S->ActiveCount, 1);
    const TSmokeParticle& p = S->Particles[size_t(S->Active)];
    EXPECT_EQ(p.X, 100.5f);
    EXPECT_EQ(p.Y, 200.25f);
    EXPECT_FLOAT_EQ(p.VX, FastSin(a) * r2 * 0.88 + 1.5) << seed;
    EXPECT_FLOAT_EQ(p.VY, FastCos(a) * r2 * 0.88 - 2.0) << seed;
    EXPECT_EQ(p.Alpha, 1.0f);
    EXPECT_EQ(p.DeathStep, float(7 + life));
    EXPECT_EQ(p.Fade, 1.0f / float(life));
    EXPECT_GE(life, 25);
    EXPECT_LE(life, 274);
  }
}

TEST_F(Smoke, NewParticlesGoToTheFrontOfTheActiveList) {
  S->Emit(1, 1, 0, 0);
  S->Emit(2, 2, 0, 0);
  S->Emit(3, 3, 0, 0);
  EXPECT_EQ(ListOf(*S, S->Active), (std::vector<int32_t>{2, 1, 0}));
  EXPECT_EQ(S->Free, 3);
  EXPECT_EQ(S->Particles[2].X, 3);
}

TEST_F(Smoke, ParticleOfLife25FadesOutThenIsRecycled) {
  RandSeed = SeedForLife(25);
  S->Emit(400, 300, 0, 0);
  const int32_t id = S->Active;
  TSmokeParticle& p = S->Particles[size_t(id)];
  p.VX = 2.0f;  // a known drift
  p.VY = -1.0f;

  // The first call moves it; the second is the throttle's skip.
  S->Step();
  EXPECT_EQ(S->Clock, 1);
  EXPECT_EQ(p.Alpha, 1.0f - 1.0f / 25);
  EXPECT_EQ(p.X, 400 + 2.0f * p.Alpha);  // it slows as it fades
  EXPECT_EQ(p.Y, 300 - 1.0f * p.Alpha);
  const TSmokeParticle after = p;
  S->Step();
  EXPECT_EQ(S->Clock, 1);
  EXPECT_EQ(std::memcmp(&after, &p, sizeof p), 0);

  for (int i = 2; i < 50; ++i) S->Step();  // 25 smoke steps in 50 calls
  EXPECT_EQ(S->Clock, 25);
  EXPECT_NEAR(p.Alpha, 0.0f, 1e-5f);
  EXPECT_EQ(S->ActiveCount, 1);

  S->Step();  // the following smoke step
  EXPECT_EQ(S->ActiveCount, 0);
  EXPECT_EQ(S->Active, TSmokeSystem::kNone);
  EXPECT_EQ(S->Free, id);  // back at the front of the free list
  EXPECT_EQ(ListOf(*S, S->Free).size(), size_t(kN));
}

TEST_F(Smoke, ParticleDyingInTheMiddleKeepsTheListLinked) {
  const uint32_t longLife = SeedForLife(100), shortLife = SeedForLife(25);
  RandSeed = longLife;
  S->Emit(1, 0, 0, 0);  // record 0
  RandSeed = shortLife;
  S->Emit(2, 0, 0, 0);  // record 1
  RandSeed = longLife;
  S->Emit(3, 0, 0, 0);  // record 2
  for (int i = 0; i < 2 * 26; ++i) S->Step();
  EXPECT_EQ(ListOf(*S, S->Active), (std::vector<int32_t>{2, 0}));
  EXPECT_EQ(S->ActiveCount, 2);
  EXPECT_EQ(S->Free, 1);
  EXPECT_EQ(S->Particles[1].Next, 3);

  RandSeed = longLife;
  S->Emit(4, 0, 0, 0);  // the recycled record comes first
  EXPECT_EQ(S->Active, 1);
  EXPECT_EQ(S->Particles[1].X, 4);
  EXPECT_EQ(S->Particles[1].Alpha, 1.0f);
  EXPECT_EQ(S->Particles[1].DeathStep, float(26 + 100));
}

TEST_F(Smoke, FullPoolDropsEmissionsAndClearMakesAllReusable) {
  for (int round = 0; round < 2; ++round) {
    for (int32_t i = 0; i < kN; ++i) {
      RandSeed = uint32_t(i * 7919 + round);
      S->Emit(float(i), float(-i), 0.5f, 0.25f);
    }
    ASSERT_EQ(S->ActiveCount, kN);
    EXPECT_EQ(S->Free, TSmokeSystem::kNone);

    auto before = std::make_unique<TSmokeSystem>(nullptr);
    std::memcpy(before->Particles.data(), S->Particles.data(), sizeof S->Particles);
    before->Active = S->Active;
    before->Free = S->Free;
    before->Clock = S->Clock;
    before->ActiveCount = S->ActiveCount;
    before->Throttle = S->Throttle;
    RandSeed = 4242;
    for (int k = 0; k < 10; ++k) S->Emit(1, 2, 3, 4);
    EXPECT_EQ(RandSeed, 4242u);
    EXPECT_TRUE(SameParticles(*S, *before));

    std::vector<int32_t> active = ListOf(*S, S->Active);
    EXPECT_EQ(active.size(), size_t(kN));
    EXPECT_EQ(std::set<int32_t>(active.begin(), active.end()).size(), size_t(kN));

    S->Clear();
    EXPECT_EQ(S->ActiveCount, 0);
    EXPECT_EQ(S->Active, TSmokeSystem::kNone);
    std::vector<int32_t> free = ListOf(*S, S->Free);
    EXPECT_EQ(free.size(), size_t(kN));
    EXPECT_EQ(std::set<int32_t>(free.begin(), free.end()).size(), size_t(kN));
  }
}

TEST_F(Smoke, StepOnAFullPoolRecyclesAndRefills) {
  for (int32_t i = 0; i < kN; ++i) {
    RandSeed = uint32_t(i);
    S->Emit(0, 0, 0, 0);
  }
  int32_t steps = 0;
  while (S->ActiveCount == kN && steps < 1000) {
    S->Step();
    ++steps;
  }
  ASSERT_LT(S->ActiveCount, kN);
  const int32_t freed = kN - S->ActiveCount;
  EXPECT_EQ(ListOf(*S, S->Free).size(), size_t(freed));
  for (int32_t i = 0; i < freed + 5; ++i) S->Emit(0, 0, 0, 0);
  EXPECT_EQ(S->ActiveCount, kN);
  EXPECT_EQ(ListOf(*S, S->Active).size(), size_t(kN));
}

TEST_F(Smoke, TwoRunsFromOneSeedGiveTheSameParticles) {
  auto run = [](TSmokeSystem& s) {
    RandSeed = 0x5EED;
    for (int step = 0; step < 1500; ++step) {
      for (int smoker = 0; smoker < 4; ++smoker) {
        ++RandSeed;  // a smoker's update moves the seed
        if (step % 3 == smoker % 3)
          EmitCigaretteSmoke(s, 84.0f * smoker + step * 0.1f, 300.0f, float(smoker) + 0.25f);
        if (step % 7 == 0) s.Emit(500.0f + smoker, 400.0f, 2.0f * (smoker - 1), 0);
      }
      if (step == 900) s.Clear();  // a level left
      s.Step();
    }
    return RandSeed;
  };
  auto a = std::make_unique<TSmokeSystem>(nullptr);
  auto b = std::make_unique<TSmokeSystem>(nullptr);
  const uint32_t seedA = run(*a);
  const uint32_t seedB = run(*b);
  EXPECT_EQ(seedA, 0x5EEDu + 1500u * 4u);  // the smoke took back every draw
  EXPECT_EQ(seedB, seedA);
  EXPECT_GT(a->ActiveCount, 0);
  EXPECT_TRUE(SameParticles(*a, *b));
}

// The caller hands over the tip as the cigarette is drawn; the particle starts within two pixels
// of it on each axis, with no velocity of its own, and the random sequence is left as it was.
TEST_F(Smoke, CigaretteSmokeStartsAtTheTip) {
  struct Case {
    float x, y, a;
  } cases[] = {{159, 215.5f, 0}, {100.4f, 128.7f, 1}, {13, 193, 2}, {101.2f, 288, 3}, {160, 216, 4}, {120.3f, 190.1f, 0.5f}};
  std::set<std::pair<float, float>> offsets;
  for (const Case& c : cases) {
    S->Clear();
    RandSeed = 99;
    EmitCigaretteSmoke(*S, c.x, c.y, c.a);
    EXPECT_EQ(RandSeed, 99u);
    ASSERT_EQ(S->ActiveCount, 1) << c.a;
    const TSmokeParticle& p = S->Particles[size_t(S->Active)];
    EXPECT_LE(std::fabs(p.X - c.x), 2.0001f) << c.a;
    EXPECT_LE(std::fabs(p.Y - c.y), 2.0001f) << c.a;
    offsets.insert({p.X - c.x, p.Y - c.y});
    EXPECT_LE(std::hypot(p.VX, p.VY), 0.8801f) << c.a;
  }
  EXPECT_GT(offsets.size(), 1u) << "the trail is spread, not a one-pixel line";
  S->Clear();
  EmitCigaretteSmoke(*S, 100, 200, NAN);
  EmitCigaretteSmoke(*S, INFINITY, 200, 1);
  EXPECT_EQ(S->ActiveCount, 0);
}

namespace {

class SmokeRender : public D3DFakeTest {
protected:
  void SetUp() override {
    D3DFakeTest::SetUp();
    InitTables();
    MakeDevice();
    MakeTexture();
    PR = new TzrD3DPointRenderer(Dev.get(), 100, 0);  // the device owns it
    S = std::make_unique<TSmokeSystem>(PR);
    Frame();
    Fake.ClearRecords();
  }
  void TearDown() override {
    DoneGlobals();
    D3DFakeTest::TearDown();
  }
  void Frame() {
    Dev->BeginScene();
    Dev->RenderAll();
    Dev->EndScene();
  }
  std::vector<TzrPointVertex> Drawn() {
    Frame();
    std::vector<TzrPointVertex> v;
    for (const TFakeD3DDraw& d : Fake.Draws) {
      size_t n = d.Vertices.size() / sizeof(TzrPointVertex);
      size_t at = v.size();
      v.resize(at + n);
      std::memcpy(v.data() + at, d.Vertices.data(), n * sizeof(TzrPointVertex));
    }
    Fake.ClearRecords();
    return v;
  }
  TzrD3DPointRenderer* PR = nullptr;
  std::unique_ptr<TSmokeSystem> S;
};

}  // namespace

TEST_F(SmokeRender, VisibleParticlesAreDrawnNewestFirstRelativeToTheCamera) {
  const float camX = 1000, camY = 500;
  struct { float x, y; bool drawn; } cases[] = {
      {-32, 10, false},   {-31.5f, 10, true}, {831.5f, 10, true}, {832, 10, false},
      {10, -32, false},   {10, -31.5f, true}, {10, 631.5f, true}, {10, 632, false},
      {400, 300, true},
  };
  std::vector<std::pair<float, float>> want;
  for (const auto& c : cases) {
    S->Emit(camX + c.x, camY + c.y, 0, 0);
    if (c.drawn) want.insert(want.begin(), {c.x, c.y});
  }
  S->Render(camX, camY);
  std::vector<TzrPointVertex> v = Drawn();
  ASSERT_EQ(v.size(), want.size());
  for (size_t i = 0; i < v.size(); ++i) {
    EXPECT_EQ(v[i].x, want[i].first) << i;
    EXPECT_EQ(v[i].y, want[i].second) << i;
    EXPECT_EQ(v[i].size, 4.0f);  // new smoke is small...
    EXPECT_EQ(v[i].color, 0xFFFFFFFFu);
  }
}

TEST_F(SmokeRender, OldSmokeIsLargeAndFaint) {
  RandSeed = SeedForLife(100);
  S->Emit(100, 100, 0, 0);
  for (int i = 0; i < 2 * 50; ++i) S->Step();  // half its life
  const float alpha = S->Particles[size_t(S->Active)].Alpha;
  ASSERT_NEAR(alpha, 0.5f, 1e-4f);
  S->Render(0, 0);
  std::vector<TzrPointVertex> v = Drawn();
  ASSERT_EQ(v.size(), 1u);
  const uint32_t g = uint32_t(std::trunc(double(alpha) * 255));
  EXPECT_EQ(v[0].color, g * 0x01010101u);
  EXPECT_FLOAT_EQ(v[0].size, 64 - 60 * alpha);

  // On its last smoke step it is drawn clear and at full size.
  for (int i = 0; i < 2 * 50 - 1; ++i) S->Step();
  ASSERT_EQ(S->ActiveCount, 1);
  S->Render(0, 0);
  v = Drawn();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].color, 0u);
  EXPECT_NEAR(v[0].size, 64.0f, 1e-3f);

  S->Clear();
  S->Render(0, 0);
  EXPECT_TRUE(Drawn().empty());
}
