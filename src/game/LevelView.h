#pragma once
// What the player sees of a level: where the camera stands round the player and which cells a
// figure sees through. The game computes these here, and the level tools call the same functions,
// so a rule changes in one place.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "base/PasMath.h"

// The picture is 800 x 600 pixels, a cell 84 pixels square.
constexpr float kViewWidth = 800, kViewHeight = 600, kViewCell = 84;

// The camera's top-left corner (cells) for the player's centre (cells): the player in the middle
// of the picture, stopped short of the level's edges.
inline float CameraLeft(float playerCenterX, int32_t levelWidth) {
  return std::clamp(playerCenterX - kViewWidth / 2 / kViewCell, 0.4f, std::max(0.4f, levelWidth - 10.0f));
}
inline float CameraTop(float playerCenterY, int32_t levelHeight) {
  return std::clamp(playerCenterY - kViewHeight / 2 / kViewCell, 0.4f, std::max(0.4f, levelHeight - 8.0f));
}

// Whether the point (x, y) in cells lies on the picture of a camera at (cameraX, cameraY).
inline bool OnPicture(float cameraX, float cameraY, float x, float y) {
  const float sx = (x - cameraX) * kViewCell, sy = (y - cameraY) * kViewCell;
  return sx >= 0 && sx <= kViewWidth && sy >= 0 && sy <= kViewHeight;
}

// The line of sight from cell (x, y) along (dx, dy), stepped in float32 from the cell's centre:
// each cell passed before the target must lie in the width x height grid and not block
// (blocks(cx, cy) says whether a cell stops the sight).
template <class Blocks>
bool SightLine(int32_t x, int32_t y, int32_t dx, int32_t dy, int32_t width, int32_t height, const Blocks& blocks) {
  const int32_t n = std::max(std::abs(dx), std::abs(dy));
  if (n < 1) return true;
  float px = static_cast<float>(x) + 0.5f, py = static_cast<float>(y) + 0.5f;
  const float sx = static_cast<float>(dx) / static_cast<float>(n), sy = static_cast<float>(dy) / static_cast<float>(n);
  for (int32_t i = 0; i < n; ++i) {
    const int32_t cx = static_cast<int32_t>(PasTrunc(px)), cy = static_cast<int32_t>(PasTrunc(py));
    if (cx < 0 || cy < 0 || cx >= width || cy >= height || blocks(cx, cy)) return false;
    px += sx;
    py += sy;
  }
  return true;
}
