#pragma once
// Everything that moves, flies, floats or flashes in a level. The game logic owns the elements
// in its eight lists, calls Update once per 20 ms step and Render once per frame, and frees an
// element whose Update returns false.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "game/KTGlobal.h"

class TGameLogic;

constexpr int32_t kDirDX[4] = {1, 0, -1, 0};
constexpr int32_t kDirDY[4] = {0, -1, 0, 1};

// Hit kinds.
enum : uint8_t { hkCigarette = 0, hkOxygen = 1, hkHeart = 2, hkSuperWeapon = 3, hkSmokeContact = 4 };

class TGameElement {
public:
  explicit TGameElement(TGameLogic* game) : Game(game) {}
  virtual ~TGameElement() = default;
  TGameElement(const TGameElement&) = delete;
  TGameElement& operator=(const TGameElement&) = delete;
  virtual void Render() = 0;
  virtual bool Update() = 0;
  TGameLogic* Game;  // not owned
};

class TGEBot : public TGameElement {
public:
  using TGameElement::TGameElement;
  bool Update() override {
    ++StepCount;
    return true;
  }
  virtual void Hit(uint8_t kind) = 0;
  int32_t StepCount = 0;
};

// A figure that walks from cell to cell through the level's occupancy grid.
class TGEWalkBot : public TGEBot {
public:
  TGEWalkBot(TGameLogic* game, uint8_t direction, int32_t y, int32_t x);
  ~TGEWalkBot() override;
  bool Update() override;
  virtual void Think() = 0;

  float CenterX() const;
  float CenterY() const;
  bool CanWalk(uint8_t d) const;
  void StartStep(uint8_t d);
  bool Turn(uint8_t d);
  void AbortStep();
  void Relocate();

  int32_t X, Y;
  uint8_t CrossesLaser = 0;
  uint8_t Direction;
  float TargetAngle;
  float Angle;
  uint8_t Returning = 0;
  uint8_t LastDirection = 0;
  uint8_t AngleLocked = 0;
  uint8_t Walking = 0;
  int32_t StepsPerCell = 10;
  int32_t Progress = 0;
};

class TGEPlayer : public TGEWalkBot {
public:
  TGEPlayer(TGameLogic* game, uint8_t direction, int32_t y, int32_t x);
  void Render() override;
  bool Update() override;
  void Hit(uint8_t kind) override;
  void Think() override;
  void Damage(float amount);
  void Heal(float amount);

  uint8_t Done = 0;
  uint8_t Won = 0;
  float Energy = 1.0f;
  int32_t HitBlink = 0;
  int32_t ExitProgress = 0;
  int32_t LastKeyHint = 0;
  int32_t KeyHintUntil = 0;
  std::array<uint8_t, 16> Keys{};
  int32_t NextFireStep = 0;
  std::array<uint8_t, 2> OptionKeyWasDown{};
};

class TGESmoker : public TGEWalkBot {
public:
  TGESmoker(TGameLogic* game, const std::vector<uint32_t>& waypoints, uint8_t direction, int32_t y, int32_t x);
  void Render() override;
  bool Update() override;
  void Hit(uint8_t kind) override;
  void Think() override;
  void SetState(uint8_t s);
  void SetSmokeLevel(float v);
  bool PlanPathTo(int32_t x, int32_t y);
  void FaceThePlayer();
  float PlayerFalloff() const;
  bool CanEnter(uint8_t d) const;
  // The figure's animation frame (0 to 8): the puff, while nothing else holds the smoker.
  int32_t PuffFrame() const;

  std::array<uint8_t, 1000> PathDirections{};
  int32_t PathIndex = 0;
  int32_t PathLength = 0;
  int32_t WanderPause = 0;
  uint8_t State = 0;
  uint8_t Converted = 0;
  uint8_t OnFire = 0;
  uint8_t Exhaled = 0;
  int32_t WaypointIndex = 0;
  int32_t PuffTimer = 0;
  int32_t SmokeTimer = 0;
  int32_t FleeUntil = 0;
  int32_t FollowUntil = 0;
  int32_t RestTimer = 0;
  int32_t StunTimer = 0;
  int32_t WanderSize = 20;
  int32_t NextThrowStep = 0;
  int32_t CheerTimer = 0;
  int32_t Fatigue = 0;
  int32_t HitCount = 0;
  float SmokeLevel = 1.0f;
  float Burn = 0.0f;
  uint32_t ColoursB[4] = {};
  uint32_t ColoursA[4] = {};
  std::vector<uint32_t> Waypoints;
  uint8_t LookAround = 0;
  TSimpleSpriteList Hearts;
  uint8_t FacePlayer = 0;

private:
  void UpdateSpeed();
  void UpdateColours();
  void Wander();
  void ThrowCigarette();
};

class TGEAmmo : public TGEBot {
public:
  TGEAmmo(TGameLogic* game, uint8_t direction, float doorMargin, float wallMargin, float speed, float y, float x);
  bool Update() override;
  float X, Y;
  float Speed;
  float WallMargin;
  float DoorMargin;
  uint8_t Direction;
};

class TGEPlayerAmmo : public TGEAmmo {
public:
  TGEPlayerAmmo(TGameLogic* game, uint8_t direction, float speed, float y, float x);
  bool Update() override;
  virtual void HitTarget(TGEBot* bot) = 0;
  uint8_t Live = 1;
};

class TGEOxygen : public TGEPlayerAmmo {
public:
  TGEOxygen(TGameLogic* game, uint8_t direction, float y, float x);
  void Render() override;
  bool Update() override;
  void Hit(uint8_t kind) override;
  void HitTarget(TGEBot* bot) override;
};

class TGEHeart : public TGEPlayerAmmo {
public:
  TGEHeart(TGameLogic* game, uint8_t direction, float y, float x);
  void Render() override;
  bool Update() override;
  void Hit(uint8_t kind) override;
  void HitTarget(TGEBot* bot) override;
  uint8_t ConvertedOne = 0;
};

class TGESuperWeapon : public TGEPlayerAmmo {
public:
  TGESuperWeapon(TGameLogic* game, uint8_t direction, float y, float x);
  void Render() override;
  bool Update() override;
  void Hit(uint8_t kind) override;
  void HitTarget(TGEBot* bot) override;
  float TrailX, TrailY;
  int32_t FadeSteps = 0;
};

class TGECigarette : public TGEAmmo {
public:
  TGECigarette(TGameLogic* game, float smokeLevel, uint8_t direction, float y, float x, TGESmoker* thrower);
  void Render() override;
  bool Update() override;
  void Hit(uint8_t kind) override;
  int32_t BurnIndex;
  TGESmoker* Thrower;  // not owned
  float TipX, TipY;
};

// Where the pieces of a cigarette lie for the point (px, py) of its holder (a smoker's centre, or
// a flying cigarette's position), in pixels: the filter's point, the turn r of the sprites (their
// x axis is (cos r, sin r)) and the paper end with the glowing tip. The drawing and the tip's
// smoke both take it from here, so the smoke rises where the tip is drawn.
struct TCigarettePose {
  float FilterX, FilterY;
  float Rotation;
  float TipX, TipY;
};
TCigarettePose CigarettePose(float px, float py, int32_t t, int32_t frame, int32_t burnIndex, float angle);

// Draws a cigarette held or flying (shared by smokers and flying cigarettes).
void DrawCigarette(TGameLogic* game, float px, float py, int32_t t, int32_t frame, int32_t burnIndex, float angle,
                   float cellX, float cellY);

class TGEOption : public TGameElement {
public:
  TGEOption(TGameLogic* game, int32_t count, uint8_t index);
  void Render() override;
  bool Update() override;
  void Add(int32_t n) { Count += n; }
  bool Select();
  void Deselect() { Selected = 0; }
  void Use();
  // 1 .. 0 over the first 50 steps of a selected counter: the spin-up and the wobble.
  float IntroWobble() const;
  int32_t Age = 0;
  int32_t Count;
  uint8_t Selected = 0;
  float Alpha;
  float Spin = 0;
  float ScreenX, ScreenY;
  uint8_t Index;
};

class TGEScore : public TGameElement {
public:
  TGEScore(TGameLogic* game, bool showPlus, int32_t points, float y, float x);
  void Render() override;
  bool Update() override { return ++Age < 40; }
  float X, Y;
  int32_t Age = 0;
  std::string Digits;
  char Sign = 0;
};

class TGEBonus : public TGameElement {
public:
  TGEBonus(TGameLogic* game, const std::string& text, const std::string& caption);
  void Render() override;
  bool Update() override { return ++Age < 100; }
  int32_t Age = 0;
  std::string Caption;
  std::string Text;
};

// Visual effects: a position in cells (fireworks: screen pixels), an age and a lifetime.
class TGEFXOxygen : public TGameElement {
public:
  TGEFXOxygen(TGameLogic* game, uint8_t direction, float y, float x);
  void Render() override;
  bool Update() override;
  float X, Y;
  int32_t Age = 0;
  struct TDrop { float VX, VY, OX, OY; };
  std::array<TDrop, 20> Drops{};
};

class TGEFXHeartDestroy : public TGameElement {
public:
  TGEFXHeartDestroy(TGameLogic* game, float y, float x);
  void Render() override;
  bool Update() override { return ++Age < 10; }
  float X, Y;
  int32_t Age = 0;
};

class TGEFXHeartConvert : public TGameElement {
public:
  TGEFXHeartConvert(TGameLogic* game, TGESmoker* target);
  void Render() override;
  bool Update() override { return ++Age < 50; }
  TGESmoker* Target;  // not owned; smokers live for the whole level
  int32_t Age = 0;
};

class TGEFXSuperWeapon : public TGameElement {
public:
  TGEFXSuperWeapon(TGameLogic* game, float y, float x);
  void Render() override;
  bool Update() override { return ++Age < 10; }
  float X, Y;
  int32_t Age = 0;
};

class TGEFXDoorKey : public TGameElement {
public:
  TGEFXDoorKey(TGameLogic* game, int32_t key, int32_t y, int32_t x);
  void Render() override;
  bool Update() override { return ++Age < 100; }
  float X, Y;
  int32_t Age = 0;
  uint32_t Colours[4];
};

class TGEFXFireworkBubble : public TGameElement {
public:
  explicit TGEFXFireworkBubble(TGameLogic* game);
  void Render() override;
  bool Update() override;
  float X, Y, Rise, Size;
  int32_t Age = 0, Life;
  uint32_t Colours[4];
};

class TGEFXFireworkExplosion : public TGameElement {
public:
  TGEFXFireworkExplosion(TGameLogic* game, float y, float x);
  void Render() override;
  bool Update() override { return ++Age < 150; }
  float X, Y;
  struct TSpark { float Angle, Speed; uint32_t Colours[4]; int32_t Life; };
  std::array<TSpark, 20> Sparks{};
  int32_t Age = 0;
};

extern const uint32_t kKeyColours[16];
