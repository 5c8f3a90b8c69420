#include "game/KTInput.h"

#include "base/Exceptions.h"
#include "base/Streams.h"

uint32_t TKTInput::EncodeInput(uint8_t count, bool left, bool up, bool right, bool down, bool fire, bool shift,
                               const bool keys[2]) {
  uint32_t w = count;
  if (right) w |= kInputRight;
  if (up) w |= kInputUp;
  if (left) w |= kInputLeft;
  if (down) w |= kInputDown;
  if (fire) w |= kInputFire;
  if (shift) w |= kInputShift;
  if (keys[0]) w |= kInputKey1;
  if (keys[1]) w |= kInputKey2;
  return w;
}

void TKTInput::AddInput(uint32_t word) {
  const uint32_t c = word & kInputCountMask;
  TotalSteps += static_cast<int32_t>(c);
  if (Words.empty()) {
    HeadLeft = static_cast<int32_t>(c);
    Words.push_back(word);
    return;
  }
  uint32_t& last = Words.back();
  if ((last & ~kInputCountMask) == (word & ~kInputCountMask) && (last & kInputCountMask) + c < 255) {
    last = (last & ~kInputCountMask) | ((last & kInputCountMask) + c);
    // Growing the head run grows what is left of it, so a record can be played back as built.
    if (Words.size() == 1) HeadLeft += static_cast<int32_t>(c);
  } else
    Words.push_back(word);
}

bool TKTInput::GetInput(bool dirs[4], bool& fire, bool& shift, bool keys[2]) {
  if (Words.empty()) {
    for (int d = 0; d < 4; ++d) dirs[d] = false;
    fire = shift = false;
    keys[0] = keys[1] = false;
    return false;
  }
  const uint32_t w = Words.front();
  for (int d = 0; d < 4; ++d) dirs[d] = (w >> (8 + d)) & 1;
  fire = (w & kInputFire) != 0;
  shift = (w & kInputShift) != 0;
  keys[0] = (w & kInputKey1) != 0;
  keys[1] = (w & kInputKey2) != 0;
  --HeadLeft;
  --TotalSteps;
  // A run of count 0 (only in a damaged file) is taken as one step, so playback always advances.
  if (HeadLeft <= 0) {
    Words.pop_front();
    HeadLeft = Words.empty() ? 0 : static_cast<int32_t>(Words.front() & kInputCountMask);
  }
  return true;
}

void TKTInput::Clear() {
  Words.clear();
  HeadLeft = 0;
  TotalSteps = 0;
}

void TKTInput::SaveToStream(TStream& stream) const {
  stream.WriteU32(static_cast<uint32_t>(Words.size()));
  for (uint32_t w : Words) stream.WriteU32(w);
}

void TKTInput::LoadFromStream(TStream& stream) {
  const uint32_t n = stream.ReadU32();
  if (static_cast<int64_t>(n) * 4 > stream.Remaining()) throw EReadError("Stream read error");
  Words.clear();
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t w = stream.ReadU32();
    Words.push_back(w);
    TotalSteps += static_cast<int32_t>(w & kInputCountMask);
  }
  if (!Words.empty()) HeadLeft = static_cast<int32_t>(Words.front() & kInputCountMask);
}
