// Cell queries, the cell actions the player triggers, the per-step clocks of switches, doors,
// lasers and fires, and the drawing of the level.
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "base/PasMath.h"
#include "base/Random.h"
#include "game/GameElements.h"
#include "game/GameGraphics.h"
#include "game/GameSounds.h"
#include "game/KTGlobal.h"
#include "game/LevelData.h"
#include "game/LevelView.h"
#include "game/Options.h"


void TQVGameLevel::PlaySound(uint8_t row, float factor) {
  if (Sounds) Sounds->PlaySound(row, factor);
}

uint8_t TQVGameLevel::GetCellAction(int32_t x, int32_t y) const {
  return InGrid(x, y) ? Cell(x, y).Action : static_cast<uint8_t>(caWall);
}

uint8_t TQVGameLevel::GetCellParam(int32_t x, int32_t y) const { return InGrid(x, y) ? Cell(x, y).Param : 0; }

bool TQVGameLevel::HasFloor(int32_t x, int32_t y) const { return InGrid(x, y) && Cell(x, y).FloorImage != 0; }

bool TQVGameLevel::IsWalkable(int32_t x, int32_t y) const {
  if (!InGrid(x, y)) return false;
  const TLevelCell& c = Cell(x, y);
  if (c.Action == caWall || c.Action == caObstacle) return false;
  if (c.Action == caDoor && c.StateCounter < 13) return false;
  return true;
}

bool TQVGameLevel::CrossesLaserEdge(int32_t x, int32_t y, uint8_t direction) const {
  auto flag = [this](int32_t cx, int32_t cy, uint8_t bit) { return InGrid(cx, cy) && (Cell(cx, cy).Flags & bit) != 0; };
  switch (direction & 3) {
    case 0: return flag(x + 1, y, cfLaserLeft);
    case 2: return flag(x, y, cfLaserLeft);
    case 1: return flag(x, y, cfLaserTop);
    default: return flag(x, y + 1, cfLaserTop);
  }
}

int32_t TQVGameLevel::FireValue(int32_t x, int32_t y) const {
  int64_t v = (100 * static_cast<int64_t>(x) + StepCount + 75 * static_cast<int64_t>(y)) % 160;
  return 50 - static_cast<int32_t>(v);
}

TGameElement* TQVGameLevel::GetOccupant(int32_t x, int32_t y) const {
  return InGrid(x, y) ? Cell(x, y).Occupant : nullptr;
}

bool TQVGameLevel::SetOccupant(TGameElement* element, int32_t x, int32_t y) {
  if (!InGrid(x, y)) return false;
  TLevelCell& c = Cell(x, y);
  if (c.Occupant && c.Occupant != element) return false;
  c.Occupant = element;
  return true;
}

void TQVGameLevel::ClearOccupant(int32_t x, int32_t y) {
  if (InGrid(x, y)) Cell(x, y).Occupant = nullptr;
}

bool TQVGameLevel::LineOfSight(int32_t x, int32_t y, int32_t dx, int32_t dy) const {
  return SightLine(x, y, dx, dy, Width, Height, [this](int32_t cx, int32_t cy) {
    const TLevelCell& c = Cell(cx, cy);
    return c.Action == caWall || (c.Action == caDoor && c.StateCounter <= 12);
  });
}

void TQVGameLevel::TouchCell(int32_t x, int32_t y) {
  if (!InGrid(x, y)) return;
  TLevelCell& c = Cell(x, y);
  switch (c.Action) {
    case caEnergy: {
      if (RandomFloat() < 0.2) {
        const float r1 = static_cast<float>(RandomFloat()), r2 = static_cast<float>(RandomFloat());
        const float r3 = static_cast<float>(RandomFloat()), r4 = static_cast<float>(RandomFloat());
        const float r5 = static_cast<float>(RandomFloat());
        TSimpleSprite* s = Sparkles.Get(Sparkles.Add());
        s->X = 4 + 76 * r1;
        s->Y = 4 + 76 * r2;
        s->DX = 80 + 60 * r3;
        s->DY = -100 - 50 * r4;
        s->Scale = 0.5f + 0.5f * r5;
        s->Expiry = static_cast<float>(StepCount + 50);
      }
      if (Sounds) Sounds->StartSound(32);
      break;
    }
    case caSwitch:
      if (c.StateCounter == 0) {
        c.StateCounter = 1;
        PlaySound(31);
      } else if (c.StateCounter == 10) {
        c.StateCounter = -10;
        PlaySound(31);
      }
      break;
    case caKey:
    case caOption1:
    case caOption2:
      c.Action = caFloor;
      PickupRing[static_cast<size_t>(PickupRingNext)] = {x, y, 37};
      PickupRingNext = (PickupRingNext + 1) % kPickupRingSize;
      PlaySound(30);
      break;
    case caDoor:
      if (c.StateCounter > 0) break;
      c.StateCounter = 1;
      PlaySound(28);
      if (c.Param != 0) {
        c.Param = 0;
        PlaySound(29);
      }
      break;
    case caDiamond:
      c.Action = caFloor;
      PlaySound(36);
      break;
    default: break;
  }
}

void TQVGameLevel::SetPlayerCell(int32_t x, int32_t y) {
  PlayerCellX = x;
  PlayerCellY = y;
  if (Sounds && InGrid(x, y)) Sounds->SetSoundVolume(34, 0.5f * FalloffOfDistance(static_cast<float>(Cell(x, y).LaserDistance)));
}

void TQVGameLevel::Step() {
  ++StepCount;
  LaserValue = 50 - StepCount % 125;
  const uint8_t on = LaserValue < 0 ? 1 : 0;
  if (on != LaserOn) {
    LaserOn = on;
    if (on) PlaySound(34);
  }
  for (uint32_t p : ActiveCells) {
    const int32_t x = PointX(p), y = PointY(p);
    if (!InGrid(x, y)) continue;
    TLevelCell& c = Cell(x, y);
    if (c.Action == caSwitch) {
      // The group number was checked at load, but a switched cell may bring any byte back.
      TSwitchGroup& g = Groups[c.Param & (kGroupCount - 1)];
      if (c.StateCounter < 0) {
        if (++c.StateCounter == -3)
          for (int32_t i = 0; i < g.Count; ++i) Cell(g.Entries[i].X, g.Entries[i].Y).ReadPartB(g.Entries[i].Loaded);
      } else if (c.StateCounter >= 1 && c.StateCounter <= 9) {
        if (++c.StateCounter == 7)
          for (int32_t i = 0; i < g.Count; ++i) Cell(g.Entries[i].X, g.Entries[i].Y).ReadPartB(g.Entries[i].Switched);
      }
    } else if (c.Action == caDoor) {
      if (c.StateCounter < 0) {
        ++c.StateCounter;
      } else if (c.StateCounter >= 1 && c.StateCounter <= 249) {
        ++c.StateCounter;
      } else if (c.StateCounter >= 250) {
        bool free = !GetOccupant(x, y) && !GetOccupant(x + 1, y) && !GetOccupant(x - 1, y) &&
                    !GetOccupant(x, y + 1) && !GetOccupant(x, y - 1);
        if (free) {
          c.StateCounter = -12;
          PlaySound(28);
        }
      }
    }
  }
  // Burnt-out sparkles go with the step, whether or not an energy cell is in view.
  for (int32_t k = Sparkles.Count() - 1; k >= 0; --k)
    if (Sparkles.Get(k)->Expiry - static_cast<float>(StepCount) < 0) Sparkles.Delete(k);
  int32_t i = PickupRingNext;
  for (int32_t k = 0; k < kPickupRingSize; ++k) {
    i = (i + kPickupRingSize - 1) % kPickupRingSize;
    if (PickupRing[static_cast<size_t>(i)].Countdown == 0) break;
    --PickupRing[static_cast<size_t>(i)].Countdown;
  }
  if (auto& list = FireLists[static_cast<size_t>(StepCount % kFireListCount)])
    for (uint32_t p : *list) {
      const int32_t d = std::abs(PlayerCellX - PointX(p)) + std::abs(PlayerCellY - PointY(p));
      const float f = FalloffOfDistance(static_cast<float>(d));
      if (f > 0) PlaySound(33, f);
    }
}

namespace {
constexpr float kPi = 3.14159265358979f;

void DrawGlow(TGameGraphics* g, float x, float y, float q, float scale, const uint32_t* c) {
  TzrD3DSprite* s = g->GetSprite(22);
  if (!s) return;
  const float w = std::fabs(static_cast<float>(PasFrac(q / 100)) - 0.5f) * 2;
  const float w2 = std::fabs(static_cast<float>(PasFrac(1.15f * q / 100)) - 0.5f) * 2;
  const float s1 = ((1 - w) * 0.95f + 1.05f * w) * scale, s2 = ((1 - w2) * 1.2f + 1.8f * w2) * scale;
  TzrVector2 v1{s1, s1}, v2{s2, s2};
  s->Draw(&v1, TzrVector2{x, y}, q * kPi / 200, c);
  s->Draw(&v2, TzrVector2{x, y}, -q * 1.15f * kPi / 200, c);
}
}  // namespace

void TQVGameLevel::Render(float fade, float viewX, float viewY) {
  TGameGraphics* g = Graphics;
  if (!g) return;
  auto colours = [fade](const uint32_t* src, uint32_t out[4]) {
    if (fade != 1.0f) TGameGraphics::FadeColors(src, out, fade);
    else std::memcpy(out, src, 16);
  };
  const uint32_t whiteSrc[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  uint32_t white[4];
  colours(whiteSrc, white);
  uint32_t shadow[4];
  colours(ShadowColors, shadow);
  const int32_t x0 = viewX <= 1 ? 0 : static_cast<int32_t>(PasTrunc(viewX)) - 1;
  const int32_t y0 = viewY <= 1 ? 0 : static_cast<int32_t>(PasTrunc(viewY)) - 1;
  const int32_t x1 = std::min(x0 + 12, Width), y1 = std::min(y0 + 10, Height);
  const float bx = static_cast<float>(PasTrunc((x0 - viewX) * 84)), by = static_cast<float>(PasTrunc((y0 - viewY) * 84));
  auto flags = [this](int32_t x, int32_t y) { return InGrid(x, y) ? Cell(x, y).Flags : 0; };
  for (int32_t y = y0; y < y1; ++y)
    for (int32_t x = x0; x < x1; ++x) {
      const TLevelCell& c = Cell(x, y);
      const float px = bx + 84.0f * (x - x0), py = by + 84.0f * (y - y0);
      const int32_t k = 2500 * y + 60000 - 10 * x;
      uint32_t col[4];
      colours(c.FloorColors, col);
      // The floor image byte is the floor frame. Frame 0 is the void tile: it is drawn too, so a
      // cell without floor never shows what the back buffer held before.
      if (TzrD3DSprite* s = g->GetSetFrame(1, c.FloorImage)) s->Draw(nullptr, TzrVector2{px + 2, py - 14}, 0, col);
      colours(c.ObjectColors, col);
      const uint32_t q = (static_cast<uint32_t>(y) << 16) + static_cast<uint32_t>(StepCount) + (static_cast<uint32_t>(x) << 8);
      switch (c.Action) {
        case caEnergy: {
          TzrVector2 sc{1.2f, 1.2f};
          if (TzrD3DSprite* s = g->GetSprite(30)) s->Draw(nullptr, TzrVector2{px + 3, py + 81}, 0, col);
          if (TzrD3DSprite* s = g->GetSprite(31)) s->Draw(&sc, TzrVector2{px + 6, py + 78}, 0, col);
          for (int32_t i = Sparkles.Count() - 1; i >= 0; --i) {
            TSimpleSprite* sp = Sparkles.Get(i);
            const float kk = (sp->Expiry - StepCount) / 50.0f;
            if (kk < 0) continue;
            TzrVector2 ss{sp->Scale, sp->Scale};
            if (TzrD3DSprite* s = g->GetSprite(32))
              s->Draw(&ss, TzrVector2{px + sp->X + (1 - kk) * sp->DX, py + sp->Y + (1 - kk) * sp->DY}, 0, white);
          }
          break;
        }
        case caSwitch:
          if (TzrD3DSprite* s = g->GetSprite(c.StateCounter < -2 || c.StateCounter >= 7 ? 24 : 23))
            s->Draw(nullptr, TzrVector2{px, py}, 0, col);
          break;
        case caKey: {
          uint32_t kc[4];
          const uint32_t key[4] = {kKeyColours[c.Param & 15], kKeyColours[c.Param & 15], kKeyColours[c.Param & 15],
                                   kKeyColours[c.Param & 15]};
          colours(key, kc);
          if (TzrD3DSprite* s = g->GetSetFrame(3, (StepCount / 2) % 15)) s->Draw(nullptr, TzrVector2{px + 42, py + 42}, 0, kc, 3000500);
          DrawGlow(g, px + 42, py + 42, static_cast<float>(q), 1.0f, white);
          break;
        }
        case caFire: {
          const int32_t p = (100 * x + StepCount + 75 * y) % 160;
          const float I = p < 5 ? (5 - p) / 5.0f : p < 45 ? 0.0f : p < 50 ? 1 - (50 - p) / 5.0f : 1.0f;
          const float F = I >= 1 ? 0.85f + 0.01f * ((p / 2) % 16) : I;
          // A turned fire is turned by a quarter and mirrored in x (a negative x scale).
          const bool turned = (c.Flags & cfTurned) != 0;
          const float rot = turned ? kPi / 2 : 0;
          const float mx = turned ? -1.0f : 1.0f;
          const float cx = px + 36, cy = py + 47;
          if (F > 0) {
            TzrVector2 sc{mx * F * fade, F * fade};
            if (TzrD3DSprite* s = g->GetSprite(27)) s->Draw(&sc, TzrVector2{cx, cy}, rot, whiteSrc);
            static const float kFlames[7][4] = {{-36, -13, 1.3f, 3}, {-36, 22, 1.2f, 7}, {-20, -17, 1.6f, 4}, {-20, 16, 1.4f, 11},
                                                {-4, 11, 1.8f, 0},   {12, 9, 2.2f, 5},   {12, -12, 1.5f, 14}};
            for (const auto& fl : kFlames) {
              float dx = fl[0], dy = fl[1];
              if (turned) {
                const float t = dx;
                dx = 6 - dy;
                dy = -t;
              }
              TzrVector2 fs{mx * fl[2] * I, fl[2] * I};
              if (TzrD3DSprite* s = g->GetFireFrame((static_cast<int32_t>(fl[3]) + p / 2) & 15))
                s->Draw(&fs, TzrVector2{cx + dx, cy + dy - 6}, rot, col);
            }
          }
          if (F < 1) {
            TzrVector2 sc{mx * (1 - F) * fade, (1 - F) * fade};
            if (TzrD3DSprite* s = g->GetSprite(26)) s->Draw(&sc, TzrVector2{cx, cy}, rot, whiteSrc);
          }
          break;
        }
        case caDoor: {
          const float o = c.StateCounter < 13 ? std::abs(c.StateCounter) / 12.0f : 1.0f;
          uint32_t kc[4];
          const uint32_t key[4] = {kKeyColours[c.Param & 15], kKeyColours[c.Param & 15], kKeyColours[c.Param & 15],
                                   kKeyColours[c.Param & 15]};
          colours(key, kc);
          TzrD3DSprite* leaf = g->GetSprite(25);
          auto part = [&](int32_t cx, int32_t cy, std::initializer_list<int> a, int pa, std::initializer_list<int> b, int pb,
                          int layer) {
            if (!InGrid(cx, cy)) return;
            const TLevelCell& w = Cell(cx, cy);
            int n = -1;
            for (int v : a) n = v == w.Param ? pa : n;
            for (int v : b) n = v == w.Param ? pb : n;
            if (n < 0) return;
            if (TzrD3DSprite* s = g->GetDoorFrame(c.ImageSet, n))
              s->Draw(nullptr, TzrVector2{px + 84.0f * (cx - x), py + 84.0f * (cy - y)}, 0, col, layer);
          };
          if (!(c.Flags & cfTurned)) {
            part(x, y - 1, {2, 11, 15}, 2, {3, 5, 8}, 5, k - 2499);
            part(x, y + 1, {0, 12, 15}, 3, {3, 6, 14}, 6, k + 2501);
            if (leaf) leaf->DrawPart(TzrUVRect{1, 0, 0.8f * o, 1}, nullptr, kPi / 2, TzrVector2{px + 67, py - 43 + 135 * o}, kc, k + 2);
          } else {
            part(x + 1, y, {0, 1, 3, 7, 12}, 4, {2, 9, 11, 15}, 0, k - 9);
            part(x - 1, y, {3, 6, 7, 12, 13}, 7, {8, 10, 11, 15}, 1, k + 11);
            if (leaf) leaf->DrawPart(TzrUVRect{0.8f * o, 0, 1, 1}, nullptr, 0, TzrVector2{px + 127 - 135 * o, py + 16}, kc, k + 2);
          }
          break;
        }
        case caWall:
          if (TzrD3DSprite* s = g->GetWallFrame(c.ImageSet, c.Param)) s->Draw(nullptr, TzrVector2{px, py}, 0, col, k);
          if (g->ShadowsEnabled) {
            if (TzrD3DSprite* s = g->GetWallShadow(c.ImageSet, c.Param)) s->Draw(nullptr, TzrVector2{px + 28, py}, 0, shadow);
            const int sh = c.Param;
            if (sh == 0 || sh == 1 || sh == 4 || sh == 14)
              if (TzrD3DSprite* s = g->GetWallShadow(c.ImageSet, 16)) s->Draw(nullptr, TzrVector2{px + 70, py + 45}, 0, shadow);
            if (sh == 4 || sh == 5 || sh == 8 || sh == 13)
              if (TzrD3DSprite* s = g->GetWallShadow(c.ImageSet, 17)) s->Draw(nullptr, TzrVector2{px + 2, py}, 0, shadow);
          }
          break;
        case caExit: {
          TzrD3DSprite* s42 = g->GetSprite(42);
          if (s42) s42->Draw(nullptr, TzrVector2{px, py - 35}, 0, col, k);
          if (TzrD3DSprite* s = g->GetSprite(43)) s->Draw(nullptr, TzrVector2{px + 173, py - 43}, 0, col);
          if (TzrD3DSprite* s = g->GetSprite(44)) s->Draw(nullptr, TzrVector2{px + 173, py - 15}, kPi / 2, col);
          if (g->ShadowsEnabled) {
            if (TzrD3DSprite* s = g->GetSprite(45)) s->Draw(nullptr, TzrVector2{px, py - 26}, 0, shadow);
            if (TzrD3DSprite* s = g->GetSprite(46)) s->Draw(nullptr, TzrVector2{px + 205, py - 36}, 0, shadow);
            if (TzrD3DSprite* s = g->GetSprite(47)) s->Draw(nullptr, TzrVector2{px, py + 86}, 0, shadow);
          }
          break;
        }
        case caOption1:
          // A heart of the heart set, beating with the level's clock.
          if (TzrD3DSprite* s = g->GetSetFrame(2, (StepCount / 4) & 7))
            s->Draw(nullptr, TzrVector2{px + 42, py + 42}, 0, col, 3000500);
          DrawGlow(g, px + 42, py + 42, static_cast<float>(q), 1.0f, white);
          break;
        case caOption2:
          if (TzrD3DSprite* s = g->GetSprite(21)) s->Draw(nullptr, TzrVector2{px + 42, py + 42}, 0, col, 3000500);
          DrawGlow(g, px + 42, py + 42, static_cast<float>(q), 1.0f, white);
          break;
        case caDiamond:
          if (TzrD3DSprite* s = g->GetSprite(52)) s->Draw(nullptr, TzrVector2{px + 42, py + 42}, 0, col, 3000500);
          break;
        default: break;
      }
      if (c.Flags & (cfLaserLeft | cfLaserTop)) {
        const bool top = (c.Flags & cfLaserTop) != 0, left = (c.Flags & cfLaserLeft) != 0;
        const bool topEndsLeft = top && !(flags(x - 1, y) & cfLaserTop), topEndsRight = top && !(flags(x + 1, y) & cfLaserTop);
        const bool leftEndsBelow = left && !(flags(x, y + 1) & cfLaserLeft), leftEndsAbove = left && !(flags(x, y - 1) & cfLaserLeft);
        const int tex = g->TextureIndex(TGameGraphics::kMisc1Texture);
        if (LaserOn && tex >= 0 && g->QuadRenderer) {
          const TzrUVRect uv{0.845703125f, 0.638671875f, 0.908203125f, 0.638671875f};
          const TzrVector2 pivot{0.5f, 0.5f};
          auto beam = [&](float w, float h, float ox, float oy, float angle) {
            const TzrVector2 size{w, h};
            g->QuadRenderer->AddQuad(tex, &uv, &size, &pivot, angle, TzrVector2{px + ox, py + oy}, col, 3003000);
          };
          if (top) beam(17, 84, 42, -1, kPi / 2);
          if (left) beam(17, 84, 0, 42, 0);
          if (topEndsLeft) beam(17, 14, -7, -1, kPi / 2);
          if (leftEndsBelow) beam(17, 14, 0, 91, 0);
          if (topEndsRight) beam(17, 8, 88, -1, kPi / 2);
          if (leftEndsAbove) beam(17, 8, 0, -4, 0);
        }
        if (TzrD3DSprite* s = g->GetSprite(28)) {
          if (topEndsRight) {
            TzrVector2 mirror{-1, 1};
            s->Draw(&mirror, TzrVector2{px + 101, py}, kPi / 2, col, 3002000);
          }
          if (leftEndsAbove) s->Draw(nullptr, TzrVector2{px, py - 17}, 0, col, 3002000);
        }
      }
    }
  const float vl = viewX * 84, vt = viewY * 84;
  for (const TDecorSprite& d : Decor) {
    if (GameEnvironment.GraphicsDetail != 1 && (d.Layer < 30001 || d.Layer > 3399999)) continue;
    if (d.Bounds[2] < vl || d.Bounds[0] > vl + 800 || d.Bounds[3] < vt || d.Bounds[1] > vt + 600) continue;
    uint32_t col[4];
    colours(d.Colors, col);
    TzrVector2 sc{d.ScaleX, d.ScaleY};
    // The decor image index comes from the file: the lookup is bounded.
    if (TzrD3DSprite* s = g->GetDecorSprite(d.Image)) s->Draw(&sc, TzrVector2{d.X - vl, d.Y - vt}, d.Rotation, col, d.Layer);
    if (g->ShadowsEnabled && d.ShadowLayer != 0)
      if (TzrD3DSprite* s = g->GetDecorShadow(d.Image)) s->Draw(&sc, TzrVector2{d.X - vl, d.Y - vt}, d.Rotation, shadow, d.ShadowLayer);
  }
  if (fade == 1.0f) {
    int32_t i = PickupRingNext;
    for (int32_t n = 0; n < kPickupRingSize; ++n) {
      i = (i + kPickupRingSize - 1) % kPickupRingSize;
      const TPickupRingEntry& e = PickupRing[static_cast<size_t>(i)];
      if (e.Countdown == 0) break;
      DrawGlow(g, bx + 84.0f * (e.X - x0) + 42, by + 84.0f * (e.Y - y0) + 42, static_cast<float>(StepCount), e.Countdown / 37.0f, white);
    }
  }
}
