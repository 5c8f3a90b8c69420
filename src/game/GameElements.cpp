// The element base, the grid walker and the player.
#include "game/GameElements.h"

#include <cmath>

#include "base/PasMath.h"
#include "game/GameGraphics.h"
#include "game/GameLogic.h"
#include "game/LevelData.h"

const uint32_t kKeyColours[16] = {0xFFEFEFEF, 0xFFEF20EF, 0xFFEFEF20, 0xFF20EFEF, 0xFFEF2020, 0xFF2020EF,
                                  0xFF20EF20, 0xFFEF8020, 0xFF80EF20, 0xFFEF2080, 0xFF8020EF, 0xFF20EF80,
                                  0xFF2080EF, 0xFFEFEFEF, 0xFFEFEFEF, 0xFFEFEFEF};

// ---- walker ----

TGEWalkBot::TGEWalkBot(TGameLogic* game, uint8_t direction, int32_t y, int32_t x)
    : TGEBot(game), X(x), Y(y), Direction(direction & 3), TargetAngle(direction & 3), Angle(direction & 3) {
  if (Game->Level) Game->Level->SetOccupant(this, X, Y);
}

TGEWalkBot::~TGEWalkBot() {
  // The level may outlive the element list walk; never leave a dangling occupant behind.
  if (TQVGameLevel* level = Game->Level.get()) {
    for (int32_t d = -1; d < 4; ++d) {
      int32_t cx = X + (d < 0 ? 0 : kDirDX[d]), cy = Y + (d < 0 ? 0 : kDirDY[d]);
      if (level->GetOccupant(cx, cy) == this) level->ClearOccupant(cx, cy);
    }
  }
}

float TGEWalkBot::CenterX() const {
  return static_cast<float>(X) + 0.5f + static_cast<float>(kDirDX[Direction]) * static_cast<float>(Progress) / static_cast<float>(StepsPerCell);
}

float TGEWalkBot::CenterY() const {
  return static_cast<float>(Y) + 0.5f + static_cast<float>(kDirDY[Direction]) * static_cast<float>(Progress) / static_cast<float>(StepsPerCell);
}

bool TGEWalkBot::Update() {
  TGEBot::Update();
  if (Angle != TargetAngle) {
    const float diff = Angle - TargetAngle;
    if (std::fabs(diff) <= 0.4f) {
      Angle = TargetAngle;
    } else {
      if ((diff > 0 && diff <= 2) || diff <= -2) Angle -= 0.4f;
      else Angle += 0.4f;
      if (Angle < 0) Angle += 4;
      if (Angle >= 4) Angle -= 4;
    }
    return true;
  }
  if (!Walking) return true;
  TQVGameLevel* level = Game->Level.get();
  if (Returning) {
    if (Progress > 0) --Progress;
    else if (Progress < 0) ++Progress;
    if (Progress == 0) {
      Walking = 0;
      Returning = 0;
      LastDirection = Direction;
    }
    return true;
  }
  ++Progress;
  if (Progress == 0) {
    Walking = 0;
    LastDirection = Direction;
    return true;
  }
  const int32_t half = StepsPerCell / 2;
  if (Progress >= half) {
    Progress = -half;
    if (level && level->GetOccupant(X, Y) == this) level->ClearOccupant(X, Y);
    X += kDirDX[Direction];
    Y += kDirDY[Direction];
    Think();
  }
  return true;
}

bool TGEWalkBot::CanWalk(uint8_t d) const {
  d &= 3;
  if (Walking) {
    if (d == Direction) return true;
    if (d != (Direction ^ 2)) return false;
    if (Progress > 0) return true;
  }
  const TQVGameLevel* level = Game->Level.get();
  if (!level) return false;
  const int32_t tx = X + kDirDX[d], ty = Y + kDirDY[d];
  if (tx < 1 || tx >= level->Width - 1 || ty < 1 || ty >= level->Height - 1) return false;
  if (!level->IsWalkable(tx, ty)) return false;
  TGameElement* o = level->GetOccupant(tx, ty);
  return o == nullptr || o == this;
}

void TGEWalkBot::StartStep(uint8_t d) {
  d &= 3;
  TQVGameLevel* level = Game->Level.get();
  if (!level) return;
  if (Walking && d == Direction) return;
  if (Walking && Progress > 0) {
    const int32_t tx = X + kDirDX[Direction], ty = Y + kDirDY[Direction];
    if (level->GetOccupant(tx, ty) == this) level->ClearOccupant(tx, ty);
    Direction = d;
    if (!AngleLocked) TargetAngle = d;
    Progress = -Progress;
    return;
  }
  level->SetOccupant(this, X + kDirDX[d], Y + kDirDY[d]);
  if (!Walking) {
    Walking = 1;
    Progress = 1;
    CrossesLaser = level->CrossesLaserEdge(X, Y, d) ? 1 : 0;
  } else {
    Progress = -Progress;
  }
  Direction = d;
  if (!AngleLocked) TargetAngle = d;
}

bool TGEWalkBot::Turn(uint8_t d) {
  if (Walking) return false;
  Direction = d & 3;
  TargetAngle = Direction;
  return true;
}

void TGEWalkBot::AbortStep() {
  if (Returning) return;
  Returning = 1;
  if (Progress > 0) {
    TQVGameLevel* level = Game->Level.get();
    const int32_t tx = X + kDirDX[Direction], ty = Y + kDirDY[Direction];
    if (level && level->GetOccupant(tx, ty) == this) level->ClearOccupant(tx, ty);
  }
}

void TGEWalkBot::Relocate() {
  TQVGameLevel* level = Game->Level.get();
  if (!level) return;
  if (level->GetOccupant(X, Y) == this) level->ClearOccupant(X, Y);
  if (Walking && Progress >= 1) {
    const int32_t tx = X + kDirDX[Direction], ty = Y + kDirDY[Direction];
    if (level->GetOccupant(tx, ty) == this) level->ClearOccupant(tx, ty);
  }
  // Bounded by the level's size: with no cell left the walker stays where it is.
  const int32_t maxR = std::max(level->Width, level->Height);
  for (int32_t r = 1; r <= maxR; ++r)
    for (int32_t k = 0; k < 4; ++k) {
      const uint8_t d = static_cast<uint8_t>((Direction + k) % 4);
      const int32_t cx = X + kDirDX[d] * r, cy = Y + kDirDY[d] * r;
      if (!level->InGrid(cx, cy) || !level->IsWalkable(cx, cy) || !level->HasFloor(cx, cy)) continue;
      if (level->GetOccupant(cx, cy)) continue;
      level->SetOccupant(this, cx, cy);
      X = cx;
      Y = cy;
      Walking = 0;
      Returning = 0;
      Progress = 0;
      Direction = d;
      if (!AngleLocked) TargetAngle = d;
      return;
    }
  level->SetOccupant(this, X, Y);
  Walking = 0;
  Returning = 0;
  Progress = 0;
}

// ---- player ----

TGEPlayer::TGEPlayer(TGameLogic* game, uint8_t direction, int32_t y, int32_t x) : TGEWalkBot(game, direction, y, x) {
  Energy = 1.0f;
  StepsPerCell = 10;
  if (Game->Level) Game->Level->SetPlayerCell(X, Y);
}

void TGEPlayer::Damage(float amount) {
  if (Done) return;
  Energy -= amount;
  if (Energy <= 0) {
    Energy = 0;
    Done = 1;
  } else if (HitBlink < 12) {
    HitBlink = 25;
  }
}

void TGEPlayer::Heal(float amount) {
  if (Done) return;
  Energy += amount;
  if (Energy > 1.0f) Energy = 1.0f;
}

bool TGEPlayer::Update() {
  if (Done && ExitProgress < 100) ++ExitProgress;
  --HitBlink;
  if (!Game->IsRunning()) return TGEWalkBot::Update();
  bool dirs[4], fire, shift, keys[2];
  Game->PlayerInput().GetInput(dirs, fire, shift, keys);
  AngleLocked = shift ? 1 : 0;
  if (!Returning) {
    for (int k = 0; k < 4; ++k) {
      const uint8_t d = static_cast<uint8_t>((LastDirection + k + 1) % 4);
      if (!dirs[d]) continue;
      if (CanWalk(d)) {
        if (shift || Angle == static_cast<float>(d)) StartStep(d);
        else Turn(d);
        break;
      }
      if (!shift) Turn(d);
    }
  }
  // StepCount still holds the previous step's count here: the walk cycle below adds this one.
  if (fire && NextFireStep <= StepCount) {
    NextFireStep = StepCount + 10;
    const uint8_t d = static_cast<uint8_t>(static_cast<int32_t>(TargetAngle) & 3);
    const float sx = CenterX() + static_cast<float>(kDirDX[d]) * 0.8f;
    const float sy = CenterY() + static_cast<float>(kDirDY[d]) * 0.8f;
    TGEOption* hearts = Game->Option(0);
    TGEOption* super = Game->Option(1);
    if (hearts && hearts->Selected) {
      hearts->Use();
      Game->AddElement(6, new TGEHeart(Game, d, sy, sx));
    } else if (super && super->Selected) {
      super->Use();
      Game->AddElement(6, new TGESuperWeapon(Game, d, sy, sx));
    } else {
      Game->AddElement(6, new TGEOxygen(Game, d, sy, sx));
    }
  }
  const bool released0 = OptionKeyWasDown[0] && !keys[0];
  const bool released1 = OptionKeyWasDown[1] && !keys[1];
  TGEOption* o0 = Game->Option(0);
  TGEOption* o1 = Game->Option(1);
  if (o0 && o1) {
    if (released0) {
      if (o0->Selected) o0->Deselect();
      else {
        o0->Select();  // fails without hearts; the other option goes off anyway
        o1->Deselect();
      }
    } else if (released1) {
      if (o1->Selected) o1->Deselect();
      else {
        o1->Select();
        o0->Deselect();
      }
    }
  }
  OptionKeyWasDown = {static_cast<uint8_t>(keys[0]), static_cast<uint8_t>(keys[1])};
  TQVGameLevel* level = Game->Level.get();
  if (!Returning && level) {
    const uint8_t code = level->GetCellAction(X, Y);
    if (code == caEnergy && Energy < 1.0f) {
      Heal(0.004f);
      level->TouchCell(X, Y);
    } else if (code == caFire && level->FireValue(X, Y) < 0) {
      Damage(0.01f);
      Game->StartSound(17);
    }
    if (Walking && CrossesLaser && std::abs(Progress) > 2 && level->LaserOn) {
      Damage(0.05f);
      AbortStep();
      Game->PlaySound(18);
    }
  }
  return TGEWalkBot::Update();
}

void TGEPlayer::Think() {
  TQVGameLevel* level = Game->Level.get();
  if (!level) return;
  level->SetPlayerCell(X, Y);
  switch (level->GetCellAction(X, Y) & 0x7F) {
    case caSwitch: level->TouchCell(X, Y); break;
    case caKey:
      Keys[level->GetCellParam(X, Y) & 15] = 1;
      level->TouchCell(X, Y);
      break;
    case caExit:
      level->TouchCell(X, Y);
      Done = 1;
      Won = 1;
      break;
    case caOption1:
      level->TouchCell(X, Y);
      if (TGEOption* o = Game->Option(0)) o->Add(1);
      break;
    case caOption2:
      level->TouchCell(X, Y);
      if (TGEOption* o = Game->Option(1)) o->Add(25);
      break;
    case caDiamond:
      level->TouchCell(X, Y);
      Game->AddScore(6, 0);
      break;
    default: break;
  }
  for (int d = 0; d < 4; ++d) {
    const int32_t cx = X + kDirDX[d], cy = Y + kDirDY[d];
    if (level->GetCellAction(cx, cy) != caDoor) continue;
    const int32_t k = level->GetCellParam(cx, cy) & 15;
    if (k != 0 && !Keys[static_cast<size_t>(k)]) {
      if (!(k == LastKeyHint && KeyHintUntil >= StepCount)) {
        Game->AddElement(7, new TGEFXDoorKey(Game, k, cy, cx));
        LastKeyHint = k;
        KeyHintUntil = StepCount + 100;
      }
    } else {
      if (k != 0) Keys[static_cast<size_t>(k)] = 0;
      level->TouchCell(cx, cy);
    }
  }
}

void TGEPlayer::Hit(uint8_t kind) {
  if (Done) return;
  if (kind == hkCigarette) {
    Damage(0.1f);
    Game->PlaySound(16);
  } else if (kind == hkSmokeContact) {
    Damage(0.002f);
  }
}

void TGEPlayer::Render() {
  TGameGraphics* g = Game->Graphics.get();
  if (!g) return;
  if (!Done) {
    float ky = 470;
    for (int i = 0; i < 16; ++i) {
      if (!Keys[static_cast<size_t>(i)]) continue;
      uint32_t kc[4];
      TGameGraphics::ScaledColors(kKeyColours[i], kc, Game->Fade);
      if (TzrD3DSprite* s = g->GetSprite(51)) s->Draw(nullptr, TzrVector2{34, ky}, 0, Game->FadeColours, 3999999);
      if (TzrD3DSprite* s = g->GetSetFrame(3, 0)) s->Draw(nullptr, TzrVector2{34, ky}, 0, kc, 4000000);
      ky -= 65;
    }
  }
  if (HitBlink > 0 && HitBlink % 5 > 2) return;
  float px = (CenterX() - Game->CameraX) * 84 + 2 * FastSin(static_cast<float>(StepCount / 7));
  float py = (CenterY() - Game->CameraY) * 84 + 2 * FastCos(static_cast<float>(StepCount / 10));
  const int32_t f = static_cast<int32_t>(PasTrunc(Angle + 0.5f)) % 4;
  const float fr = static_cast<float>(PasFrac(Angle));
  const float rot = fr <= 0.5f ? -static_cast<float>(M_PI) / 2 * fr : -static_cast<float>(M_PI) / 2 * (fr - 1);
  const int32_t key = Y * 2500 + 60000 - X * 10 + 4;
  TzrD3DSprite* s = g->GetSprite(f + 1);
  if (!s) return;
  if (Done && Won) {
    px += 190.0f * ExitProgress / 100;
    py += 52.0f * ExitProgress / 100;
    const float sc = 1 - ExitProgress * 0.3f / 100;
    const float w = ExitProgress < 81 ? 1.0f : (100 - ExitProgress) / 20.0f;
    TzrVector2 v{sc, sc};
    s->DrawPart(TzrUVRect{0, 0, w, 1.0f}, &v, rot, TzrVector2{px, py}, Game->FadeColours, key);
    return;
  }
  s->Draw(nullptr, TzrVector2{px, py}, rot, Game->FadeColours, key);
  if (g->ShadowsEnabled) {
    const uint32_t sh[4] = {0xA0A0A0A0, 0xA0A0A0A0, 0xA0A0A0A0, 0xA0A0A0A0};
    if (TzrD3DSprite* ss = g->GetSprite(f + 5)) ss->Draw(nullptr, TzrVector2{px + 30, py - 12}, rot, sh, 0x7FFFFFFF);
  }
}
