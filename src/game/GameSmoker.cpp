// The smoker: patrol, chase, flight and following, puffs, rests and conversion.
#include <cmath>

#include "base/PasMath.h"
#include "base/Random.h"
#include "game/GameElements.h"
#include "game/GameGraphics.h"
#include "game/GameLogic.h"
#include "game/LevelData.h"
#include "game/Options.h"
#include "game/SmokeSystem.h"

TGESmoker::TGESmoker(TGameLogic* game, const std::vector<uint32_t>& waypoints, uint8_t direction, int32_t y, int32_t x)
    : TGEWalkBot(game, direction, y, x), Waypoints(waypoints) {
  SmokeLevel = 1.0f;
  UpdateSpeed();
  WanderSize = 20;
  UpdateColours();
}

void TGESmoker::UpdateSpeed() {
  static const int32_t kBase[4] = {30, 25, 20, 22};
  StepsPerCell = kBase[State & 3] - static_cast<int32_t>(PasTrunc((1.0f - SmokeLevel) * 12));
}

void TGESmoker::UpdateColours() {
  const float s = SmokeLevel;
  float r = 220 * s + 35, g = 125 * s + 130, b = 255;
  if (Burn > 0) {
    const float k = 1 - 0.8f * Burn;
    r *= k;
    g *= k;
    b *= k;
  }
  const uint32_t a = 0xFF000000u | (static_cast<uint32_t>(PasTrunc(r)) << 16) | (static_cast<uint32_t>(PasTrunc(g)) << 8) |
                     static_cast<uint32_t>(PasTrunc(b));
  const uint32_t bb = (static_cast<uint32_t>(PasTrunc(30 - 30 * s)) << 16) | (static_cast<uint32_t>(PasTrunc(175 - 175 * s)) << 8) |
                      static_cast<uint32_t>(PasTrunc(255 - 255 * s));
  for (int i = 0; i < 4; ++i) {
    ColoursA[i] = a;
    ColoursB[i] = bb;
  }
}

void TGESmoker::SetState(uint8_t s) {
  if (s == State) return;
  State = s;
  UpdateSpeed();
}

void TGESmoker::SetSmokeLevel(float v) {
  if (Converted) return;
  SmokeLevel = v;
  if (v <= 0) {
    SmokeLevel = 0;
    Converted = 1;
    SetState(0);
    Game->PlaySound(19);
    Game->AddScore(0, 0, this);
    CheerTimer = 50;
  } else if (v > 1) {
    SmokeLevel = 1.0f;
  }
  UpdateSpeed();
  UpdateColours();
}

bool TGESmoker::PlanPathTo(int32_t tx, int32_t ty) {
  TQVGameLevel* level = Game->Level.get();
  if (!level || !level->InGrid(tx, ty)) return false;
  if (level->Planner->FindPathBetween({X, Y}, {tx, ty}) < 0) return false;
  // Start = goal is a found path of no steps.
  const TPath& path = level->Planner->Path();
  const int32_t n = path.Count();
  const int32_t len = std::clamp<int32_t>(n - 1, 0, static_cast<int32_t>(PathDirections.size()));
  for (int32_t i = 1; i <= len; ++i) {
    const TPathPoint a = path.GetPoint(i - 1), b = path.GetPoint(i);
    uint8_t d;
    if (a.X == b.X) d = b.Y > a.Y ? 3 : 1;
    else d = b.X > a.X ? 0 : 2;
    PathDirections[static_cast<size_t>(i - 1)] = d;
  }
  PathIndex = 0;
  PathLength = len;
  return true;
}

void TGESmoker::FaceThePlayer() {
  TGEPlayer* p = Game->Player();
  if (!p) return;
  const int32_t dx = p->X - X, dy = p->Y - Y;
  if (std::abs(dx) >= std::abs(dy)) FacePlayer = dx >= 0 ? 0 : 2;
  else FacePlayer = dy >= 0 ? 3 : 1;
}

float TGESmoker::PlayerFalloff() const {
  TGEPlayer* p = Game->Player();
  if (!p) return 0;
  return FalloffOfVector(static_cast<float>(p->X - X), static_cast<float>(p->Y - Y));
}

bool TGESmoker::CanEnter(uint8_t d) const {
  const TQVGameLevel* level = Game->Level.get();
  if (!level) return false;
  const int32_t tx = X + kDirDX[d & 3], ty = Y + kDirDY[d & 3];
  if (level->GetCellAction(tx, ty) == caFire && level->FireValue(tx, ty) < 30) return false;
  if (!level->CrossesLaserEdge(X, Y, d)) return true;
  return level->LaserValue >= 20;
}

void TGESmoker::Think() {
  TQVGameLevel* level = Game->Level.get();
  if (!level) return;
  TGEPlayer* p = Game->Player();
  if (State == 0 && !Converted && !Game->LevelEnded && p && std::abs(p->X - X) < 10 && std::abs(p->Y - Y) < 10 &&
      level->LineOfSight(X, Y, p->X - X, p->Y - Y))
    SetState(1);
  OnFire = level->GetCellAction(X, Y) == caFire ? 1 : 0;
  if (!Converted && State == 0 && RandomFloat() < 0.15) {
    PuffTimer = 50;
    Exhaled = 0;
    const float f = PlayerFalloff();
    if (f > 0) Game->PlaySound(26, f);
  }
}

void TGESmoker::Wander() {
  TQVGameLevel* level = Game->Level.get();
  if (!level || PathIndex < PathLength || WanderPause >= 0) return;
  const int32_t half = WanderSize / 2;
  int32_t cx = X - half, cy = Y - half;
  if (State == 2) {
    cx -= kDirDX[FacePlayer] * (half - 1);
    cy -= kDirDY[FacePlayer] * (half - 1);
    WanderPause = 2;
  } else if (State == 3) {
    cx += kDirDX[FacePlayer] * (half - 1);
    cy += kDirDY[FacePlayer] * (half - 1);
    WanderPause = 2;
  } else {
    WanderPause = static_cast<int32_t>(Random(5)) + 2;
  }
  if (cx < 1) cx = 1;
  if (cx > level->Width - 2 - WanderSize) cx = level->Width - 2 - WanderSize;
  if (cy < 1) cy = 1;
  if (cy > level->Height - 2 - WanderSize) cy = level->Height - 2 - WanderSize;
  const int32_t tx = cx + static_cast<int32_t>(Random(static_cast<uint32_t>(WanderSize + 1)));
  const int32_t ty = cy + static_cast<int32_t>(Random(static_cast<uint32_t>(WanderSize + 1)));
  if (!PlanPathTo(tx, ty)) {
    if (WanderSize >= 8) WanderSize /= 2;
  } else if (WanderSize < 17 && WanderSize < level->Height / 2) {
    WanderSize *= 2;
  }
}

void TGESmoker::ThrowCigarette() {
  if (StepCount < NextThrowStep) return;
  NextThrowStep = StepCount + 30;
  const auto& h = TSmokeSystem::kHandOffsets[Direction & 3];
  Game->AddElement(5, new TGECigarette(Game, SmokeLevel, Direction, CenterY() + h[1] / 84.0f, CenterX() + h[0] / 84.0f, this));
}

bool TGESmoker::Update() {
  TQVGameLevel* level = Game->Level.get();
  TGEPlayer* p = Game->Player();
  --WanderPause;
  switch (State) {
    case 0:
      if (StepCount % 15 == 0 && ((StepCount / 15) & 3) == 3) LookAround = RandomFloat() < 0.4 ? 1 : 0;
      break;
    case 1:
      if (Game->LevelEnded) SetState(0);
      break;
    case 2:
      if (FleeUntil < StepCount || Game->LevelEnded) {
        HitCount = 0;
        SetState(0);
      }
      break;
    default:
      if (FollowUntil < StepCount || Game->LevelEnded) SetState(0);
      break;
  }
  if (level && !level->IsWalkable(X, Y)) {
    Relocate();
    PathLength = 0;
  }
  bool mayAct = true;
  if (Converted) {
    if (CheerTimer > 0) {
      --CheerTimer;
      mayAct = false;
      if (RandomFloat() < 0.3) {
        TSimpleSprite* s = Hearts.Get(Hearts.Add());
        s->X = static_cast<float>(X * 84 + 12 + RandomFloat() * 60);
        s->Y = static_cast<float>(Y * 84 + 12 + RandomFloat() * 60);
        s->DX = static_cast<float>(80 + RandomFloat() * 60);
        s->DY = static_cast<float>(-100 - RandomFloat() * 50);
        s->Scale = static_cast<float>(0.2 + RandomFloat() * 0.3);
        s->Expiry = static_cast<float>(StepCount + 100);
      }
    }
  } else {
    // A stun runs beside the rest and the puff; only the puff waits for the rest.
    if (StunTimer > 0) {
      --StunTimer;
      if (State != 2) mayAct = false;
    }
    if (RestTimer > 0) {
      --RestTimer;
      mayAct = false;
    } else if (PuffTimer > 0) {
      --PuffTimer;
      mayAct = false;
      if (PuffTimer < 25 && !Exhaled) {
        Exhaled = 1;
        SmokeTimer = 100;
        const float f = PlayerFalloff();
        if (f > 0) Game->PlaySound(27, f);
      }
    }
  }
  if (mayAct && !Walking && level) {
    if (State == 0) {
      bool follow = false;
      if (Converted)
        for (int d = 0; d < 4 && !follow; ++d) {
          auto* o = dynamic_cast<TGESmoker*>(level->GetOccupant(X + kDirDX[d], Y + kDirDY[d]));
          follow = o && o != this && o->State == 3;
        }
      if (follow) {
        FollowUntil = StepCount + 200;
        PathLength = 0;
        SetState(3);
        FaceThePlayer();
      } else {
        if (PathIndex >= PathLength && !Waypoints.empty()) {
          const uint32_t w = Waypoints[static_cast<size_t>(WaypointIndex) % Waypoints.size()];
          PlanPathTo(PointX(w), PointY(w));
          WaypointIndex = (WaypointIndex + 1) % static_cast<int32_t>(Waypoints.size());
        }
        if (PathIndex >= PathLength) Wander();
        if (PathIndex < PathLength) {
          const uint8_t d = PathDirections[static_cast<size_t>(PathIndex)];
          if (!CanWalk(d)) {
            Turn(d);
            PathLength = 0;
          } else if (CanEnter(d)) {
            StartStep(d);
            ++PathIndex;
          }
        }
      }
    } else if (State == 1) {
      if (p && !PlanPathTo(p->X, p->Y)) {
        if (std::abs(p->X - X) + std::abs(p->Y - Y) > 2 || !p->Walking) SetState(0);
      } else if (p) {
        if (PathLength == 1) p->Hit(hkSmokeContact);
        if (PathIndex < PathLength) {
          const uint8_t d = PathDirections[static_cast<size_t>(PathIndex)];
          if (CanEnter(d) && CanWalk(d)) {
            StartStep(d);
            ++PathIndex;
          } else {
            Turn(d);
          }
        }
      }
      ThrowCigarette();
    } else {
      if (PathIndex >= PathLength) Wander();
      if (PathIndex < PathLength) {
        const uint8_t d = PathDirections[static_cast<size_t>(PathIndex)];
        if (CanWalk(d)) {
          if (CanEnter(d)) {
            StartStep(d);
            ++PathIndex;
          }
        } else {
          Turn(FacePlayer);
          PathLength = 0;
        }
      }
      if (State == 2 && Direction == FacePlayer) ThrowCigarette();
    }
  }
  RandSeed += 1;
  --SmokeTimer;
  bool cigSmoke = false;
  if (!Converted && p && Game->Smoke) {
    const bool cig = Game->SmokeTick && StepCount >= NextThrowStep - 10;
    const bool puff = SmokeTimer >= 1 && GameEnvironment.SmokeDensity > (SmokeTimer & 3);
    if ((cig || puff) && std::abs(p->X - X) < 8 && std::abs(p->Y - Y) < 8) {
      const auto& h = TSmokeSystem::kHandOffsets[Direction & 3];
      const float hx = h[0] + CenterX() * 84, hy = h[1] + CenterY() * 84;
      cigSmoke = cig;
      if (puff) {
        const int32_t j = StepCount % 15 - 7;
        const float dx = static_cast<float>(kDirDX[Direction]), dy = static_cast<float>(kDirDY[Direction]);
        Game->Smoke->Emit(hx + j * dy, hy + j * dx, 2 * dx, 2 * dy);
      }
    }
  }
  if (level && OnFire && level->FireValue(X, Y) < 0) {
    if (Burn < 1.0f) {
      Burn += 0.04f;
      UpdateColours();
    }
  } else if (Burn > 0) {
    Burn -= 0.004f;
    if (Burn < 0) Burn = 0;
    UpdateColours();
  }
  if (!Converted && mayAct && Walking) {
    Fatigue += static_cast<int32_t>(PasTrunc((State == 2 ? 6 : 20) * SmokeLevel));
    if (Fatigue > 5000) {
      RestTimer = 60;
      const uint32_t seed = RandSeed;
      const uint8_t row = static_cast<uint8_t>(21 + Random(7));
      RandSeed = seed;
      const float f = PlayerFalloff();
      if (f > 0) Game->PlaySound(row, f);
      Fatigue = 0;
    }
  } else if (Fatigue > 0) {
    Fatigue -= 20;
  }
  TGEWalkBot::Update();
  // The tip's smoke leaves the cigarette where this step's frame draws it: after the walk and
  // the turn. It is only picture: the emission takes back its random draws.
  if (cigSmoke) {
    const TCigarettePose c = CigarettePose(CenterX() * 84, CenterY() * 84, StepCount, PuffFrame(),
                                           static_cast<int32_t>(PasTrunc((1 - SmokeLevel) * 9)), Angle);
    EmitCigaretteSmoke(*Game->Smoke, c.TipX, c.TipY, Angle);
  }
  // Hearts that have floated away are dropped here, not by the drawing.
  for (int32_t i = Hearts.Count() - 1; i >= 0; --i)
    if (Hearts.Get(i)->Expiry - static_cast<float>(StepCount) < 0) Hearts.Delete(i);
  return true;
}

void TGESmoker::Hit(uint8_t kind) {
  if (Converted) {
    if (State != 3) {
      SetState(3);
      PathLength = 0;
      FaceThePlayer();
    }
    FollowUntil = StepCount + 50;
    Game->PlaySound(37);
    return;
  }
  if (kind >= 1 && kind <= 3) {
    StunTimer = 40;
    ++HitCount;
    if (HitCount < 3) {
      SetState(1);
    } else {
      FleeUntil = StepCount + 250;
      PathLength = 0;
      SetState(2);
      FaceThePlayer();
    }
    if (kind == hkOxygen) {
      SetSmokeLevel(SmokeLevel - 0.1430615164520744f);
      Game->AddScore(1, 0);
    } else if (kind == hkHeart) {
      SetSmokeLevel(SmokeLevel - 1.0f);
      Game->AddScore(2, 0);
    } else {
      SetSmokeLevel(SmokeLevel - 0.2506265664160401f);
      Game->AddScore(3, 0);
    }
  } else if (kind == hkCigarette) {
    SetSmokeLevel(SmokeLevel + 0.2f);
  }
}

int32_t TGESmoker::PuffFrame() const {
  return !Converted && RestTimer <= 0 && StunTimer <= 0 && PuffTimer > 0 ? PingPong(PuffTimer * 18 / 50, 9) : 0;
}

void TGESmoker::Render() {
  TGameGraphics* g = Game->Graphics.get();
  if (!g) return;
  const float px = (CenterX() - Game->CameraX) * 84, py = (CenterY() - Game->CameraY) * 84;
  if (px < -84 || px > 884 || py < -84 || py > 684) return;
  const int32_t f = static_cast<int32_t>(PasTrunc(Angle + 0.5f)) % 4;
  const float fr = static_cast<float>(PasFrac(Angle));
  const float rot = fr <= 0.5f ? -static_cast<float>(M_PI) / 2 * fr : -static_cast<float>(M_PI) / 2 * (fr - 1);
  const int32_t key = Y * 2500 + 60000 - X * 10 - 2;
  const int32_t frame = PuffFrame();
  TzrVector2 scale{1, 1};
  if (!Converted && RestTimer > 0) {
    const float w = std::sin(static_cast<float>(PasFrac(RestTimer * 2 / 60.0)) * 2 * static_cast<float>(M_PI)) - 0.6f;
    if (w > 0) scale = (f == 0 || f == 2) ? TzrVector2{1 - 0.25f * w, 1 - 0.7f * w} : TzrVector2{1 - 0.7f * w, 1 - 0.25f * w};
  }
  float sx = px, sy = py;
  if (!Converted && StunTimer > 0) {
    sx += 2 * FastSin(static_cast<float>(StunTimer & 0xFFFC));
    sy += 2 * FastCos(static_cast<float>(StunTimer & 0xFFFC));
  }
  const bool nonSmoker = Converted && CheerTimer <= 18;
  if (Converted) {
    const float c = static_cast<float>(CheerTimer);
    const float k = CheerTimer >= 19 ? 1 - (50 - c) * 0.5f / 32 : 1 - c * 0.5f / 18;
    scale = TzrVector2{k, k};
  }
  if (nonSmoker) {
    if (TzrD3DSprite* s = g->GetSprite(f + 9)) s->Draw(&scale, TzrVector2{sx, sy}, rot, Game->FadeColours, key);
  } else if (TzrD3DSprite* s = g->GetSmokerFrame(f, frame)) {
    if (Game->Fade < 1.0f) {
      s->Draw(&scale, TzrVector2{sx, sy}, rot, Game->FadeColours, key);
    } else {
      s->Draw(&scale, TzrVector2{sx, sy}, rot, ColoursA, key);
      s->Draw(&scale, TzrVector2{sx, sy}, rot, ColoursB, key + 1);
    }
  }
  if (g->ShadowsEnabled) {
    const uint32_t sh[4] = {0xA0A0A0A0, 0xA0A0A0A0, 0xA0A0A0A0, 0xA0A0A0A0};
    const float ox = Converted ? 30.0f : 20.0f, oy = Converted ? -12.0f : -7.0f;
    if (TzrD3DSprite* s = g->GetSmokerShadow(frame))
      s->Draw(nullptr, TzrVector2{px + ox, py + oy}, rot - f * static_cast<float>(M_PI) / 2, sh, 0x7FFFFFFF);
  }
  if (!nonSmoker) {
    static const float kHead[4][2] = {{2, -3}, {2, -3}, {2, -4}, {3, -3}};
    static const float kBase[4][2] = {{22, -10}, {-2, -25}, {-21, 1}, {9, 19}};
    static const int32_t kNod[9] = {0, 1, 1, 2, 2, 3, 3, 4, 5};
    float h = 0;
    TGEPlayer* p = Game->Player();
    if (State == 1 && p) {
      h = AngleOf(static_cast<float>(p->X - X), static_cast<float>(Y - p->Y)) - static_cast<float>(M_PI) * Angle / 2;
      while (h > static_cast<float>(M_PI)) h -= 2 * static_cast<float>(M_PI);
      while (h < -static_cast<float>(M_PI)) h += 2 * static_cast<float>(M_PI);
      h = std::clamp(h, -static_cast<float>(M_PI) / 2, static_cast<float>(M_PI) / 2);
    } else if (State != 0 || LookAround) {
      h = PingPong(StepCount, 30) * static_cast<float>(M_PI) / 60 - static_cast<float>(M_PI) / 4;
    }
    const float a = FastSin(h) * kHead[f][0] - kNod[frame], b = FastCos(h) * kHead[f][1];
    const float hx = (a * kDirDX[f] - b * kDirDY[f] + kBase[f][0]) * scale.x;
    const float hy = (a * kDirDY[f] + b * kDirDX[f] + kBase[f][1]) * scale.y;
    if (TzrD3DSprite* eye = g->GetSprite(29)) {
      const uint8_t side = static_cast<uint8_t>((f + 3) % 4);
      eye->Draw(nullptr, TzrVector2{sx + hx, sy + hy}, rot, Game->FadeColours, key + 2);
      eye->Draw(nullptr, TzrVector2{sx + hx + 12.0f * kDirDX[side], sy + hy + 12.0f * kDirDY[side]}, rot, Game->FadeColours, key + 2);
    }
  }
  if (!Converted && StepCount >= NextThrowStep - 10)
    DrawCigarette(Game, px, py, StepCount, frame, static_cast<int32_t>(PasTrunc((1 - SmokeLevel) * 9)), Angle, CenterX(), CenterY());
  for (int32_t i = Hearts.Count() - 1; i >= 0; --i) {
    TSimpleSprite* h = Hearts.Get(i);
    const float t = (h->Expiry - StepCount) / 100.0f;
    if (t < 0) continue;
    TzrVector2 sc{h->Scale, h->Scale};
    if (TzrD3DSprite* s = g->GetSprite(32))
      s->Draw(&sc, TzrVector2{h->X + (1 - t) * h->DX - Game->CameraX * 84, h->Y + (1 - t) * h->DY - Game->CameraY * 84}, 0,
              nullptr, 0x7FFFFFFF);
  }
}
