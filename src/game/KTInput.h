#pragma once
// The player's input of one level: a run-length list of 32-bit words, one word per 20 ms step.
// Word layout: bits 0-7 repeat count (1..254), 8 right, 9 up, 10 left, 11 down (bit 8 + direction),
// 12 fire (Space), 13 Shift, 26 key "1", 27 key "2".
#include <cstdint>
#include <deque>

class TStream;

constexpr uint32_t kInputCountMask = 0xFF;
constexpr uint32_t kInputRight = 1u << 8;
constexpr uint32_t kInputUp = 1u << 9;
constexpr uint32_t kInputLeft = 1u << 10;
constexpr uint32_t kInputDown = 1u << 11;
constexpr uint32_t kInputFire = 1u << 12;
constexpr uint32_t kInputShift = 1u << 13;
constexpr uint32_t kInputKey1 = 1u << 26;
constexpr uint32_t kInputKey2 = 1u << 27;

class TKTInput {
public:
  std::deque<uint32_t> Words;  // the runs, oldest first
  int32_t HeadLeft = 0;        // steps still to be taken from the first run
  int32_t TotalSteps = 0;      // sum of the counts added or loaded, less the steps taken

  static uint32_t EncodeInput(uint8_t count, bool left, bool up, bool right, bool down, bool fire, bool shift,
                              const bool keys[2]);
  void AddInput(uint32_t word);
  // Takes one step's input from the head. Past the recorded end nothing is pressed and the
  // result is false; otherwise true.
  bool GetInput(bool dirs[4], bool& fire, bool& shift, bool keys[2]);
  void Clear();
  // Stream format: u32 N, then N u32 words. Loading checks N against the bytes that remain and
  // raises EReadError for a short or impossible stream.
  void SaveToStream(TStream& stream) const;
  void LoadFromStream(TStream& stream);
};
