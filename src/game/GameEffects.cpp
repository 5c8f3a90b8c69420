// Option counters, floating scores, bonus captions and the visual effects.
#include <cmath>

#include "base/PasMath.h"
#include "base/Random.h"
#include "game/GameElements.h"
#include "game/GameGraphics.h"
#include "game/GameLogic.h"

namespace {
const int32_t kOptionAmount[2] = {1, 25};
const float kShotOffset[4][2] = {{0, 20}, {-3, 0}, {0, 3}, {-19, 0}};

void PlayAt(TGameLogic* g, uint8_t row, float x, float y) {
  TGEPlayer* p = g->Player();
  if (!p) return;
  const float f = FalloffOfVector(static_cast<float>(p->X) - x, static_cast<float>(p->Y) - y);
  if (f > 0) g->PlaySound(row, f);
}

void Grey(uint32_t out[4], int32_t level) {
  const uint32_t c = static_cast<uint32_t>(std::clamp(level, 0, 255)) * 0x01010101u;
  for (int i = 0; i < 4; ++i) out[i] = c;
}

uint32_t RandomColour() {
  const uint32_t r = Random(128), g = Random(128), b = Random(128);
  return 0xA0808080u | (r << 16) | (g << 8) | b;
}
}  // namespace

// ---- options ----

TGEOption::TGEOption(TGameLogic* game, int32_t count, uint8_t index)
    : TGameElement(game), Count(count), Alpha(count > 0 ? 1.0f : 0.0f), ScreenX(index * 80.0f + 360), ScreenY(526),
      Index(index & 1) {}

bool TGEOption::Select() {
  if (Count < 1 || Selected) return false;
  Selected = 1;
  return true;
}

void TGEOption::Use() {
  --Count;
  if (Count <= 0) Deselect();
}

bool TGEOption::Update() {
  ++Age;
  if (Game->LevelEnded) Deselect();
  // The spin and the fade move with the steps; drawing only reads them.
  if (Selected) {
    Spin -= (6 * IntroWobble() + 1) * 0.0942477796076938f;
    if (Spin < 0) Spin += 2 * static_cast<float>(M_PI);
  } else if (Spin > 0) {
    const bool above = Spin > static_cast<float>(M_PI);
    Spin -= 0.0942477796076938f;
    if (above ? Spin < static_cast<float>(M_PI) : Spin < 0) Spin = 0;
  }
  const bool empty = !Selected && Count < 1;
  Alpha = empty ? std::max(0.0f, Alpha - 0.04f) : std::min(1.0f, Alpha + 0.04f);
  return true;
}

float TGEOption::IntroWobble() const { return Selected && Age < 50 ? 1 - Age / 50.0f : 0; }

void TGEOption::Render() {
  TGameGraphics* g = Game->Graphics.get();
  if (!g) return;
  const int32_t amount = kOptionAmount[Index];
  const float f = !Selected                 ? 0.0f
                  : Count % amount == 0 ? 100.0f
                                        : 100.0f / amount * static_cast<float>(Count % amount);
  const float i = IntroWobble();
  const float w = i > 0 ? FastCos(2 * static_cast<float>(M_PI) * i) * 0.15707963267948966f * i : 0;
  const float s = (FastCos(Spin) * 0.2f + 1) * Alpha;
  uint32_t grey[4];
  Grey(grey, static_cast<int32_t>(PasTrunc(Alpha * 255)));
  if (s > 0) {
    TzrVector2 sc{s, s};
    if (Selected) {
      if (TzrD3DSprite* b = g->GetSprite(48)) {
        TzrVector2 s1{48, 10}, s2{46, 8}, s3{f * 44 / 100, 6};
        const uint32_t black[4] = {0xFF000000, 0xFF000000, 0xFF000000, 0xFF000000};
        const uint32_t red[4] = {0xFFFF0000, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000};
        b->Draw(&s1, TzrVector2{ScreenX - 23, ScreenY + 42}, 0, nullptr, 4000000);
        b->Draw(&s2, TzrVector2{ScreenX - 22, ScreenY + 43}, 0, black, 4000001);
        b->Draw(&s3, TzrVector2{ScreenX - 21, ScreenY + 44}, 0, red, 4000002);
      }
      if (TzrD3DSprite* ic = g->GetSprite(Index + 13)) ic->Draw(&sc, TzrVector2{ScreenX, ScreenY}, w, grey, 0x7FFFFFFF);
    } else if (TzrD3DSprite* ic = g->GetSprite(Index + 15)) {
      ic->Draw(&sc, TzrVector2{ScreenX, ScreenY}, w, grey, 0x7FFFFFFF);
    }
  }
  if (Count > 0) g->DrawText(std::to_string(Count), TzrVector2{ScreenX, ScreenY + 64}, 2, nullptr, 0.3f, 1);
}

// ---- scores and bonuses ----

TGEScore::TGEScore(TGameLogic* game, bool showPlus, int32_t points, float y, float x) : TGameElement(game), X(x), Y(y) {
  Digits = std::to_string(points < 0 ? -static_cast<int64_t>(points) : static_cast<int64_t>(points));
  Sign = points < 0 ? '-' : (showPlus ? '+' : 0);
}

void TGEScore::Render() {
  TGameGraphics* g = Game->Graphics.get();
  if (!g) return;
  const float a = Age >= 25 ? 1 - (Age - 25) / 15.0f : 1.0f;
  float x = (X - Game->CameraX) * 84 + 15 * FastSin(Age * 0.3141592653589793f);
  const float y = (Y - Game->CameraY) * 84 - static_cast<float>(Age);
  TzrVector2 sc{a, a};
  if (Sign) {
    if (TzrD3DSprite* s = g->GetSetFrame(0, Sign == '-' ? 10 : 11)) s->Draw(&sc, TzrVector2{x, y}, 0, nullptr, 0x7FFFFFFF);
    x += 13 * a;
  }
  for (char c : Digits) {
    if (TzrD3DSprite* s = g->GetSetFrame(0, c - '0')) s->Draw(&sc, TzrVector2{x, y}, 0, nullptr, 0x7FFFFFFF);
    x += 22 * a;
  }
}

TGEBonus::TGEBonus(TGameLogic* game, const std::string& text, const std::string& caption)
    : TGameElement(game), Caption(caption), Text(text) {
  Game->PlaySound(35);
}

void TGEBonus::Render() {
  TGameGraphics* g = Game->Graphics.get();
  if (!g) return;
  const float a = Age < 50 ? 1.0f : 1 - (Age - 50) / 50.0f;
  uint32_t c[4];
  TGameGraphics::FadeColors(nullptr, c, a);
  g->DrawText(Caption, TzrVector2{400, 250}, 2, c, 0.9f, 1);
  g->DrawText(Text, TzrVector2{400, 330}, 2, c, 0.9f, 1);
}

// ---- effects ----

TGEFXOxygen::TGEFXOxygen(TGameLogic* game, uint8_t direction, float y, float x) : TGameElement(game), X(x), Y(y) {
  direction &= 3;
  PlayAt(Game, 13, X, Y);
  X += kShotOffset[direction][0] / 84;
  Y += kShotOffset[direction][1] / 84;
  // The splash must not change the game's random sequence.
  const uint32_t seed = RandSeed;
  for (TDrop& d : Drops) {
    d.VX = static_cast<float>(RandomFloat() * 20 - (kDirDX[direction] * 0.3 + 0.5) * 20);
    d.VY = static_cast<float>(RandomFloat() * 20 - (kDirDY[direction] * 0.3 + 0.5) * 20);
  }
  RandSeed = seed;
}

bool TGEFXOxygen::Update() {
  for (TDrop& d : Drops) {
    d.OX += d.VX;
    d.OY += d.VY;
  }
  return ++Age < 15;
}

void TGEFXOxygen::Render() {
  TGameGraphics* g = Game->Graphics.get();
  if (!g) return;
  const float s = (1 - Age / 15.0f) * 0.3f;
  TzrVector2 sc{s, s};
  if (TzrD3DSprite* sp = g->GetSprite(20))
    for (const TDrop& d : Drops)
      sp->Draw(&sc, TzrVector2{(X - Game->CameraX) * 84 + d.OX, (Y - Game->CameraY) * 84 + d.OY}, 0, nullptr, 3010000);
}

TGEFXHeartDestroy::TGEFXHeartDestroy(TGameLogic* game, float y, float x) : TGameElement(game), X(x), Y(y) {
  PlayAt(Game, 14, X, Y);
}

void TGEFXHeartDestroy::Render() {
  TGameGraphics* g = Game->Graphics.get();
  if (!g) return;
  const float d = 9.0f * Age, px = (X - Game->CameraX) * 84, py = (Y - Game->CameraY) * 84;
  TzrVector2 sc{0.2f, 0.2f};
  const float off[4][2] = {{-d, -d}, {d, -d}, {d, d}, {-d, d}};
  if (TzrD3DSprite* s = g->GetSetFrame(2, 0))
    for (auto& o : off) s->Draw(&sc, TzrVector2{px + o[0], py + o[1]}, 0, nullptr, 3010000);
}

TGEFXHeartConvert::TGEFXHeartConvert(TGameLogic* game, TGESmoker* target) : TGameElement(game), Target(target) {
  PlayAt(Game, 15, static_cast<float>(target->X), static_cast<float>(target->Y));
}

void TGEFXHeartConvert::Render() {
  TGameGraphics* g = Game->Graphics.get();
  if (!g) return;
  uint32_t c[4];
  Grey(c, 255 - static_cast<int32_t>(PasTrunc(255.0 * Age / 50)));
  TzrVector2 sc{0.5f, 0.5f};
  const float cx = (Target->CenterX() - Game->CameraX) * 84, cy = (Target->CenterY() - Game->CameraY) * 84;
  if (TzrD3DSprite* s = g->GetSetFrame(2, 0))
    for (int k = 0; k < 8 && Age - 5 * k - 5 >= 0; ++k) {
      const float t = static_cast<float>(Age - 5 * k);
      s->Draw(&sc, TzrVector2{cx + 1.2f * t * std::cos(0.25132741228718347f * t), cy + 1.2f * t * std::sin(0.25132741228718347f * t)},
              0, c, 3010000 - k);
    }
}

TGEFXSuperWeapon::TGEFXSuperWeapon(TGameLogic* game, float y, float x) : TGameElement(game), X(x), Y(y) {
  PlayAt(Game, 20, X, Y);
}

void TGEFXSuperWeapon::Render() {
  TGameGraphics* g = Game->Graphics.get();
  if (!g) return;
  uint32_t c[4];
  Grey(c, 255 - static_cast<int32_t>(PasTrunc(Age * 255.0 / 10)));
  TzrVector2 sc{0.8f, 0.8f};
  const float px = (X - Game->CameraX) * 84, py = (Y - Game->CameraY) * 84, r = 9.0f * Age;
  if (TzrD3DSprite* s = g->GetSprite(21))
    for (int k = 0; k < 20; ++k) {
      const float a = k * static_cast<float>(M_PI) / 10;
      s->Draw(&sc, TzrVector2{px + r * std::sin(a), py + r * std::cos(a)}, 0, c, 3010000);
    }
}

TGEFXDoorKey::TGEFXDoorKey(TGameLogic* game, int32_t key, int32_t y, int32_t x)
    : TGameElement(game), X(x + 0.5f), Y(y + 0.5f) {
  for (uint32_t& c : Colours) c = kKeyColours[key & 15];
}

void TGEFXDoorKey::Render() {
  TGameGraphics* g = Game->Graphics.get();
  if (!g) return;
  const float s = Age < 20 ? 2.0f * Age / 20 : (Age >= 80 ? 2.0f * (100 - Age) / 20 : 2.0f);
  TzrVector2 sc{s, s};
  if (TzrD3DSprite* sp = g->GetSetFrame(3, (Age / 2) % 15))
    sp->Draw(&sc, TzrVector2{(X - Game->CameraX) * 84, (Y - Game->CameraY) * 84}, 0, Colours, 3004000);
}

TGEFXFireworkBubble::TGEFXFireworkBubble(TGameLogic* game) : TGameElement(game) {
  X = static_cast<float>(RandomFloat() * 800);
  Y = static_cast<float>(RandomFloat() * 600);
  Rise = static_cast<float>(RandomFloat() * 0.25 + 0.5);
  Size = static_cast<float>(RandomFloat() * 1.0 + 0.5);
  Life = static_cast<int32_t>(Random(250)) + 100;
  const uint32_t c = RandomColour();
  for (uint32_t& v : Colours) v = c;
}

bool TGEFXFireworkBubble::Update() {
  X += 0.8f * Rise;
  Y -= Rise;
  if (++Age < Life) return true;
  if (RandomFloat() < 0.2) Game->AddElement(7, new TGEFXFireworkExplosion(Game, Y, X));
  return false;
}

void TGEFXFireworkBubble::Render() {
  TGameGraphics* g = Game->Graphics.get();
  if (!g) return;
  const float s = Age * Size / Life;
  TzrVector2 sc{s, s};
  if (TzrD3DSprite* sp = g->GetSprite(32)) sp->Draw(&sc, TzrVector2{X, Y}, 0, Colours, 5000010);
}

TGEFXFireworkExplosion::TGEFXFireworkExplosion(TGameLogic* game, float y, float x) : TGameElement(game), X(x), Y(y) {
  for (TSpark& s : Sparks) {
    s.Angle = static_cast<float>(RandomFloat() * 2 * M_PI);
    s.Speed = static_cast<float>(RandomFloat() * 1.5 + 3.0);
    const uint32_t c = RandomColour();
    for (uint32_t& v : s.Colours) v = c;
    s.Life = static_cast<int32_t>(Random(75)) + 75;
  }
  Game->PlaySound(38);
}

void TGEFXFireworkExplosion::Render() {
  TGameGraphics* g = Game->Graphics.get();
  if (!g) return;
  TzrVector2 sc{0.7f, 0.7f};
  if (TzrD3DSprite* sp = g->GetSprite(32))
    for (const TSpark& s : Sparks)
      if (Age < s.Life)
        sp->Draw(&sc, TzrVector2{X + FastSin(s.Angle) * Age * s.Speed, Y + FastCos(s.Angle) * Age * s.Speed}, 0, s.Colours, 5000011);
}
