// Shots of the player and the smokers' cigarettes.
#include <cmath>

#include "base/PasMath.h"
#include "game/GameElements.h"
#include "game/GameGraphics.h"
#include "game/GameLogic.h"
#include "game/LevelData.h"
#include "game/SmokeSystem.h"

namespace {
const int32_t kCigaretteLength[10] = {40, 38, 33, 29, 25, 21, 17, 12, 6, 2};
const float kShotOffset[4][2] = {{0, 20}, {-3, 0}, {0, 3}, {-19, 0}};

float Frac(float v) { return static_cast<float>(PasFrac(v)); }
}  // namespace

TGEAmmo::TGEAmmo(TGameLogic* game, uint8_t direction, float doorMargin, float wallMargin, float speed, float y, float x)
    : TGEBot(game), X(x), Y(y), Speed(speed), WallMargin(wallMargin), DoorMargin(doorMargin), Direction(direction & 3) {}

bool TGEAmmo::Update() {
  TGEBot::Update();
  X += static_cast<float>(kDirDX[Direction]) * Speed;
  Y += static_cast<float>(kDirDY[Direction]) * Speed;
  const TQVGameLevel* level = Game->Level.get();
  if (!level) return false;
  const int32_t cx = static_cast<int32_t>(std::floor(X)), cy = static_cast<int32_t>(std::floor(Y));
  // A shot leaving the grid ends; inside, Trunc and floor agree.
  if (!level->InGrid(cx, cy)) return false;
  const uint8_t code = level->GetCellAction(cx, cy);
  float m;
  if (code == caWall) m = WallMargin;
  else if (code == caDoor && !level->IsWalkable(cx, cy)) m = DoorMargin;
  else return true;
  switch (Direction) {
    case 0: return !(Frac(X) > m);
    case 1: return !(Frac(Y) < 1 - m);
    case 2: return !(Frac(X) < 1 - m);
    default: return !(Frac(Y) > m);
  }
}

TGEPlayerAmmo::TGEPlayerAmmo(TGameLogic* game, uint8_t direction, float speed, float y, float x)
    : TGEAmmo(game, direction, 0.4f, 0.3f, speed, y, x) {}

bool TGEPlayerAmmo::Update() {
  if (!TGEAmmo::Update()) return false;
  if (!Live) return true;
  auto& smokers = Game->GetList(1);
  for (size_t i = smokers.size(); i-- > 0;) {
    auto* s = static_cast<TGEWalkBot*>(smokers[i].get());
    if (std::fabs(s->CenterX() - X) < 0.4f && std::fabs(s->CenterY() - Y) < 0.4f) {
      HitTarget(s);
      Live = 0;
      return false;
    }
  }
  return true;
}

TGEOxygen::TGEOxygen(TGameLogic* game, uint8_t direction, float y, float x) : TGEPlayerAmmo(game, direction, 0.2f, y, x) {
  Game->PlaySound(10);
}
bool TGEOxygen::Update() {
  if (TGEPlayerAmmo::Update()) return true;
  Game->AddElement(7, new TGEFXOxygen(Game, Direction, Y, X));
  return false;
}
void TGEOxygen::Hit(uint8_t) { Live = 0; }
void TGEOxygen::HitTarget(TGEBot* bot) { bot->Hit(hkOxygen); }

TGEHeart::TGEHeart(TGameLogic* game, uint8_t direction, float y, float x) : TGEPlayerAmmo(game, direction, 0.22f, y, x) {
  Game->PlaySound(11);
}
bool TGEHeart::Update() {
  if (TGEPlayerAmmo::Update()) return true;
  if (!ConvertedOne) Game->AddElement(7, new TGEFXHeartDestroy(Game, Y, X));
  return false;
}
void TGEHeart::Hit(uint8_t) { Live = 0; }
void TGEHeart::HitTarget(TGEBot* bot) {
  auto* s = static_cast<TGESmoker*>(bot);
  if (!s->Converted) {
    Game->AddElement(7, new TGEFXHeartConvert(Game, s));
    ConvertedOne = 1;
  }
  bot->Hit(hkHeart);
}

TGESuperWeapon::TGESuperWeapon(TGameLogic* game, uint8_t direction, float y, float x)
    : TGEPlayerAmmo(game, direction, 0.32f, y, x) {
  TrailX = -static_cast<float>(kDirDX[Direction]) * 0.32f * 84;
  TrailY = -static_cast<float>(kDirDY[Direction]) * 0.32f * 84;
  Game->PlaySound(12);
}
bool TGESuperWeapon::Update() {
  if (Live) {
    if (!TGEPlayerAmmo::Update()) {
      Live = 0;
      Game->AddElement(7, new TGEFXSuperWeapon(Game, Y, X));
    }
    return true;
  }
  return ++FadeSteps < 10;
}
void TGESuperWeapon::Hit(uint8_t) {}
void TGESuperWeapon::HitTarget(TGEBot* bot) { bot->Hit(hkSuperWeapon); }

TGECigarette::TGECigarette(TGameLogic* game, float smokeLevel, uint8_t direction, float y, float x, TGESmoker* thrower)
    : TGEAmmo(game, direction, 0.1f, 0.0f, 0.16f, y, x), Thrower(thrower) {
  BurnIndex = std::clamp(static_cast<int32_t>(PasTrunc((1 - smokeLevel) * 9)), 0, 9);
  const auto& h = TSmokeSystem::kHandOffsets[Direction];
  TipX = static_cast<float>(kCigaretteLength[BurnIndex] * kDirDX[Direction] + h[0]) / 84;
  TipY = static_cast<float>(kCigaretteLength[BurnIndex] * kDirDY[Direction] + h[1]) / 84;
}

bool TGECigarette::Update() {
  if (!TGEAmmo::Update()) return false;
  const float tx = X + TipX, ty = Y + TipY;
  auto near = [tx, ty](float cx, float cy) { return std::fabs(cx - tx) < 0.4f && std::fabs(cy - ty) < 0.4f; };
  auto& smokers = Game->GetList(1);
  for (size_t i = smokers.size(); i-- > 0;) {
    auto* s = static_cast<TGESmoker*>(smokers[i].get());
    if (s == Thrower) continue;
    if (near(s->CenterX(), s->CenterY())) {
      s->Hit(hkCigarette);
      return false;
    }
  }
  if (TGEPlayer* p = Game->Player())
    if (near(p->CenterX(), p->CenterY())) {
      p->Hit(hkCigarette);
      return false;
    }
  auto& shots = Game->GetList(6);
  for (size_t i = shots.size(); i-- > 0;) {
    auto* s = static_cast<TGEPlayerAmmo*>(shots[i].get());
    if (s->Live && std::fabs(s->X - tx) < 0.4f && std::fabs(s->Y - ty) < 0.4f) {
      s->Hit(hkCigarette);
      return false;
    }
  }
  if (Game->SmokeTick && Game->Smoke) {
    // From the tip as it is drawn (the hit test's tip, TipX and TipY, stays as the game plays it).
    const TCigarettePose c = CigarettePose(X * 84, Y * 84, 0, 0, BurnIndex, static_cast<float>(Direction));
    EmitCigaretteSmoke(*Game->Smoke, c.TipX, c.TipY, static_cast<float>(Direction));
  }
  return true;
}
void TGECigarette::Hit(uint8_t) {}

namespace {
void DrawShot(TGameLogic* g, const TGEAmmo& a, TzrD3DSprite* s, float scale) {
  if (!s) return;
  const float px = (a.X - g->CameraX) * 84 + kShotOffset[a.Direction][0];
  const float py = (a.Y - g->CameraY) * 84 + kShotOffset[a.Direction][1];
  const int32_t key = static_cast<int32_t>(PasTrunc(a.Y)) * 2500 + 60000 - static_cast<int32_t>(PasTrunc(a.X)) * 10 +
                      (a.Direction <= 1 ? 3 : -1);
  TzrVector2 sc{scale, scale};
  s->Draw(&sc, TzrVector2{px, py}, 0, g->FadeColours, key);
}
}  // namespace

void TGEOxygen::Render() {
  if (Game->Graphics) DrawShot(Game, *this, Game->Graphics->GetSprite(20), 1.0f);
}
void TGEHeart::Render() {
  if (Game->Graphics) DrawShot(Game, *this, Game->Graphics->GetSetFrame(2, 0), 0.5f);
}
void TGESuperWeapon::Render() {
  TGameGraphics* g = Game->Graphics.get();
  if (!g) return;
  TzrD3DSprite* s = g->GetSprite(21);
  float px = (X - Game->CameraX) * 84 + kShotOffset[Direction][0], py = (Y - Game->CameraY) * 84 + kShotOffset[Direction][1];
  int32_t a = StepCount, grey = 255 - 25 * FadeSteps;
  float sc = a < 10 ? 0.5f + 0.05f * a : 1.0f;
  for (int i = 0; i < 10 && a >= 0 && grey >= 26; ++i) {
    const uint32_t c = static_cast<uint32_t>(grey) * 0x01010101u;
    const uint32_t cols[4] = {c, c, c, c};
    TzrVector2 v{sc, sc};
    if (s) s->Draw(&v, TzrVector2{px, py}, 0, cols, 0x7FFFFFFF);
    px += TrailX;
    py += TrailY;
    --a;
    if (a < 10) sc -= 0.05f;
    grey -= 25;
  }
}
void TGECigarette::Render() {
  DrawCigarette(Game, (X - Game->CameraX) * 84, (Y - Game->CameraY) * 84, 0, 0, BurnIndex, static_cast<float>(Direction), X, Y);
}

TCigarettePose CigarettePose(float px, float py, int32_t t, int32_t frame, int32_t burnIndex, float angle) {
  static const int32_t kPull[9] = {0, 1, 1, 1, 1, 2, 2, 2, 3};
  burnIndex = std::clamp(burnIndex, 0, 9);
  frame = std::clamp(frame, 0, 8);
  const int32_t a0 = static_cast<int32_t>(PasTrunc(angle)) & 3, a1 = (a0 + 1) & 3;
  const float f = static_cast<float>(PasFrac(angle));
  const auto& h = TSmokeSystem::kHandOffsets;
  px += h[a0][0] + (h[a1][0] - h[a0][0]) * f;
  py += h[a0][1] + (h[a1][1] - h[a0][1]) * f;
  const float r = -static_cast<float>(M_PI) * angle / 2 + static_cast<float>(M_PI) * FastCos(t * 0.0628318530717959f) / 80 +
                  static_cast<float>(M_PI) * FastCos(t * 0.0628318530717959f * 2.3f) / 200;
  const float ax = std::cos(r), ay = std::sin(r);
  // A puff draws the cigarette back along its own line, towards the mouth behind the filter.
  px -= kPull[frame] * ax;
  py -= kPull[frame] * ay;
  const float len = static_cast<float>(kCigaretteLength[burnIndex]);
  return {px, py, r, px + (len + 19) * ax, py + (len + 19) * ay};
}

void DrawCigarette(TGameLogic* game, float px, float py, int32_t t, int32_t frame, int32_t burnIndex, float angle,
                   float cellX, float cellY) {
  TGameGraphics* g = game->Graphics.get();
  if (!g) return;
  burnIndex = std::clamp(burnIndex, 0, 9);
  const int32_t key = static_cast<int32_t>(PasTrunc(cellY)) * 2500 + 60000 - static_cast<int32_t>(PasTrunc(cellX)) * 10 - 1;
  const TCigarettePose c = CigarettePose(px, py, t, frame, burnIndex, angle);
  const float len = static_cast<float>(kCigaretteLength[burnIndex]);
  const float r = c.Rotation;
  if (TzrD3DSprite* s = g->GetSprite(18)) s->Draw(nullptr, TzrVector2{c.FilterX, c.FilterY}, r, game->FadeColours, key);
  // The paper reaches back from its end to the filter; the tip glows at that end.
  const TzrVector2 q{c.TipX, c.TipY};
  TzrVector2 sc{-len, 1.0f};
  if (TzrD3DSprite* s = g->GetSprite(19)) s->Draw(&sc, q, r, game->FadeColours, key);
  if (TzrD3DSprite* s = g->GetCigaretteTip(burnIndex + 1)) s->Draw(nullptr, q, r, game->FadeColours, key);
  if (g->ShadowsEnabled) {
    static const uint32_t kShadow[4] = {0xA0A0A0A0, 0xA0A0A0A0, 0xA0A0A0A0, 0xA0A0A0A0};
    if (TzrD3DSprite* s = g->GetCigaretteShadow(burnIndex))
      s->Draw(nullptr, TzrVector2{c.FilterX + 20, c.FilterY - 7}, r, kShadow, 46001);
  }
}
