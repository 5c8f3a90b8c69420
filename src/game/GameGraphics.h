#pragma once
// The game's texture and font set: the 37 textures cut from the "GFX" images, every sprite the
// level, the elements and the screens draw with, the five full-screen pictures, the quad and point
// renderers, and the text, screen and fade drawing built on them.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/zrD3D.h"

class TGameGraphics {
public:
  static constexpr int kTextureCount = 37;
  static constexpr int kSpriteCount = 53;
  static constexpr int kGlyphCount = 67;
  static constexpr int kDecorCount = 48;
  static constexpr int kWallFramesPerSet = 16;
  static constexpr int kWallShadowsPerSet = 18;
  static constexpr int kDoorFramesPerSet = 8;
  static constexpr int kSpriteSetCount = 4;
  // Texture records the code refers to by number.
  static constexpr int kMisc1Texture = 2;
  static constexpr int kSmokeParticleTexture = 35;
  // Positions in Images.
  enum : int { imCredits, imTitle, imLoading, imLevelJump, imLevelJumpEnd, imCount };

  // The renderers are created on the device; the textures come with LoadAll.
  TGameGraphics(TzrD3Device8* device, int quadCount, int pointCount);
  // Frees the renderers (with every sprite) and the textures; call before the device goes.
  ~TGameGraphics();
  TGameGraphics(const TGameGraphics&) = delete;
  TGameGraphics& operator=(const TGameGraphics&) = delete;

  TzrD3Device8* Device;  // not owned
  std::array<std::unique_ptr<TzrD3DTexture8>, kTextureCount> Textures;
  std::unique_ptr<TzrD3DQuadRenderer> QuadRenderer;
  std::unique_ptr<TzrD3DPointRenderer> PointRenderer;
  // Sprites are owned by the quad renderer; empty slots are nullptr.
  std::array<TzrD3DSprite*, 10> CigaretteTips{};
  std::array<TzrD3DSprite*, 10> CigaretteShadows{};
  std::array<TzrD3DSprite*, kDecorCount> DecorSprites{};
  std::array<TzrD3DSprite*, kDecorCount> DecorShadows{};
  std::array<TzrD3DSprite*, 16> FireFrames{};
  std::array<TzrD3DSprite*, kSpriteCount> Sprites{};
  std::array<TzrD3DSprite*, 16> WallFrames{};
  std::array<TzrD3DSprite*, 8> DoorFrames{};
  std::array<TzrD3DSprite*, 18> WallShadows{};
  std::array<std::vector<TzrD3DSprite*>, kSpriteSetCount> SpriteSets;
  std::array<TzrD3DSprite*, kGlyphCount> Glyphs{};
  std::array<TzrD3DSprite*, 9> SmokerShadows{};
  std::array<std::array<TzrD3DSprite*, 9>, 4> SmokerFrames{};
  std::array<TComPtr<IDirect3DSurface8>, imCount> Images;
  std::function<void(TGameGraphics* sender, int percent)> OnProgress;
  bool ShadowsEnabled = false;

  void FreeTextures();
  // Loads every texture, sprite and picture, reporting progress 1 .. 100 on the way. A texture
  // whose images cannot be read logs "Error loading texture files" and the exception passes on.
  void LoadAll();

  // Lookups. Every one is bounded: an index outside its table (a level file may hold any byte)
  // gives the blank sprite, which draws nothing, never a read outside the table. Slots that are
  // empty by design (a decor without shadow) give the blank sprite too. Before LoadAll they give
  // nullptr.
  TzrD3DTexture8* GetTexture(int i) const;  // and 127; nullptr past the 37 records
  TzrD3DSprite* GetSprite(int n) const;     // and 127
  TzrD3DSprite* GetSetFrame(int set, int frame) const;  // set and 127
  static int GetGlyphIndex(unsigned char c);             // -1: no glyph
  TzrD3DSprite* GetCigaretteTip(int k) const;
  TzrD3DSprite* GetCigaretteShadow(int k) const;
  TzrD3DSprite* GetDecorSprite(int k) const;
  TzrD3DSprite* GetDecorShadow(int k) const;
  TzrD3DSprite* GetFireFrame(int i) const;
  TzrD3DSprite* GetWallFrame(int set, int i) const;
  TzrD3DSprite* GetWallShadow(int set, int i) const;
  TzrD3DSprite* GetDoorFrame(int set, int i) const;
  TzrD3DSprite* GetSmokerShadow(int j) const;
  TzrD3DSprite* GetSmokerFrame(int f, int j) const;  // f and 127
  // Has no texture, size 0 x 0: Draw queues nothing.
  TzrD3DSprite* BlankSprite() const { return Blank; }
  // The device's texture index of a texture record; -1 while it is not loaded.
  int TextureIndex(int record) const;

  // Texts: Align 0 left, 1 right, 2 centre; Colours four corner colours or nullptr (plain).
  static int TextWidth(const std::string& text, float spacing, float scale);
  void DrawText(const std::string& text, TzrVector2 pos, int align, const uint32_t* colours,
                float scale, float spacing);
  void DrawTextZoom(const std::string& text, TzrVector2 pos, int align, const uint32_t* colours,
                    float time, float delay, float scale, float spacing);
  void DrawTextSlide(const std::string& text, TzrVector2 pos, int align, const uint32_t* colours,
                     float time, float distance, float scale, float spacing);
  void DrawTextDrop(const std::string& text, TzrVector2 pos, int align, const uint32_t* colours,
                    float time, float distance, float scale, float spacing);

  // Four corners of `colour` with all four bytes scaled by factor (when below 1).
  static void ScaledColors(uint32_t colour, uint32_t out[4], float factor);
  // With a colour: its red, green and blue scaled, alpha kept; without: grey of factor in all
  // four bytes.
  static void FadeColors(const uint32_t* colour, uint32_t out[4], float factor);

  // The fade to and from black: nothing at alpha 1.
  void DrawOverlay(float alpha);
  // Pictures copied onto the back buffer: the whole one at the origin, or one rectangle of it
  // at its own place.
  void DrawCreditsImage(const RECT* rect);
  void DrawTitleImage(const RECT* rect);
  void DrawLevelJumpImage(bool final);
  // The loading picture with a cigarette burning down as the progress bar (progress 0 .. 1).
  void DrawLoadingScreen(float progress, float y);

private:
  void LoadTexture(int record);
  void LoadImage(int slot, const char* name);
  void CopyImage(int slot, const RECT* rect, const char* what);
  void Progress(int percent);
  TzrD3DSprite* MakeSprite(int record, const RECT& rect, int layer, const POINT* pivot,
                           float width = 0, float height = 0);
  void MakeSprites();
  void LoadDecor();
  void FreeSprites();
  TzrD3DSprite* Blank = nullptr;
};
