// Cell queries, the cell actions the player triggers, the per-step clocks of switches, doors,
// lasers and fires, and the drawing of the level.
#include <cmath>
#include <cstring>

#include "base/PasMath.h"
#include "base/Random.h"
#include "game/GameElements.h"
#include "game/GameGraphics.h"
#include "game/GameSounds.h"
#include "game/KTGlobal.h"
#include "game/LevelData.h"


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
  int32_t n = std::max(std::abs(dx), std::abs(dy));
  if (n < 1) return true;
  float px = static_cast<float>(x) + 0.5f, py = static_cast<float>(y) + 0.5f;
  const float sx = static_cast<float>(dx) / static_cast<float>(n), sy = static_cast<float>(dy) / static_cast<float>(n);
  for (int32_t i = 0; i < n; ++i) {
    int32_t cx = static_cast<int32_t>(PasTrunc(px)), cy = static_cast<int32_t>(PasTrunc(py));
    if (!InGrid(cx, cy)) return false;
    const TLevelCell& c = Cell(cx, cy);
    if (c.Action == caWall || (c.Action == caDoor && c.StateCounter <= 12)) return false;
    px += sx;
    py += sy;
  }
  return true;
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

void TQVGameLevel::Render(float fade, float viewX, float viewY) {
  if (!Graphics) return;
  uint32_t white[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  auto colours = [fade](const uint32_t* src, uint32_t out[4]) {
    if (fade != 1.0f) TGameGraphics::FadeColors(src, out, fade);
    else std::memcpy(out, src, 16);
  };
  const int32_t x0 = viewX <= 1 ? 0 : static_cast<int32_t>(PasTrunc(viewX)) - 1;
  const int32_t y0 = viewY <= 1 ? 0 : static_cast<int32_t>(PasTrunc(viewY)) - 1;
  const int32_t x1 = std::min(x0 + 12, Width), y1 = std::min(y0 + 10, Height);
  const float bx = static_cast<float>(PasTrunc((x0 - viewX) * 84)), by = static_cast<float>(PasTrunc((y0 - viewY) * 84));
  for (int32_t y = y0; y < y1; ++y)
    for (int32_t x = x0; x < x1; ++x) {
      const TLevelCell& c = Cell(x, y);
      const float px = bx + 84.0f * (x - x0), py = by + 84.0f * (y - y0);
      const int32_t k = 2500 * y + 60000 - 10 * x;
      uint32_t col[4];
      colours(c.FloorColors, col);
      if (TzrD3DSprite* s = Graphics->GetSetFrame(0, c.FloorImage))
        s->Draw(nullptr, TzrVector2{px + 2, py - 14}, 0, col, 0x7FFFFFFF);
      colours(c.ObjectColors, col);
      switch (c.Action) {
        case caWall:
          if (TzrD3DSprite* s = Graphics->GetWallFrame(c.ImageSet, c.Param)) s->Draw(nullptr, TzrVector2{px, py}, 0, col, k);
          break;
        case caKey: {
          uint32_t kc[4];
          colours(&kKeyColours[c.Param & 15], kc);
          for (uint32_t& v : kc) v = kKeyColours[c.Param & 15];
          if (TzrD3DSprite* s = Graphics->GetSetFrame(3, (StepCount / 2) % 15))
            s->Draw(nullptr, TzrVector2{px + 42, py + 42}, 0, kc, 3000500);
          break;
        }
        case caSwitch:
          if (TzrD3DSprite* s = Graphics->GetSprite(c.StateCounter < -2 || c.StateCounter >= 7 ? 24 : 23))
            s->Draw(nullptr, TzrVector2{px, py}, 0, col, 0x7FFFFFFF);
          break;
        case caDiamond:
          if (TzrD3DSprite* s = Graphics->GetSprite(52)) s->Draw(nullptr, TzrVector2{px + 42, py + 42}, 0, col, 3000500);
          break;
        default: break;
      }
    }
  (void)white;
}
