#include <gtest/gtest.h>

#include "base/Exceptions.h"
#include "base/Streams.h"
#include "game/KTInput.h"

TEST(KTInput, EncodeAndDecodeEveryBit) {
  const bool none[2] = {false, false};
  struct Case { bool l, u, r, d, f, s, k1, k2; uint32_t bits; } cases[] = {
      {1, 0, 0, 0, 0, 0, 0, 0, 1u << 10}, {0, 1, 0, 0, 0, 0, 0, 0, 1u << 9},  {0, 0, 1, 0, 0, 0, 0, 0, 1u << 8},
      {0, 0, 0, 1, 0, 0, 0, 0, 1u << 11}, {0, 0, 0, 0, 1, 0, 0, 0, 1u << 12}, {0, 0, 0, 0, 0, 1, 0, 0, 1u << 13},
      {0, 0, 0, 0, 0, 0, 1, 0, 1u << 26}, {0, 0, 0, 0, 0, 0, 0, 1, 1u << 27}, {1, 1, 1, 1, 1, 1, 1, 1, 0x0C003F00u},
  };
  EXPECT_EQ(TKTInput::EncodeInput(1, false, false, false, false, false, false, none), 1u);
  for (const Case& c : cases) {
    const bool keys[2] = {c.k1, c.k2};
    uint32_t w = TKTInput::EncodeInput(1, c.l, c.u, c.r, c.d, c.f, c.s, keys);
    EXPECT_EQ(w, c.bits | 1u);
    TKTInput in;
    in.AddInput(w);
    bool dirs[4], fire, shift, k[2];
    ASSERT_TRUE(in.GetInput(dirs, fire, shift, k));
    EXPECT_EQ(dirs[0], c.r);
    EXPECT_EQ(dirs[1], c.u);
    EXPECT_EQ(dirs[2], c.l);
    EXPECT_EQ(dirs[3], c.d);
    EXPECT_EQ(fire, c.f);
    EXPECT_EQ(shift, c.s);
    EXPECT_EQ(k[0], c.k1);
    EXPECT_EQ(k[1], c.k2);
  }
}

TEST(KTInput, RunsSplitBelow255AndChangeOnNewBits) {
  TKTInput in;
  for (int i = 0; i < 300; ++i) in.AddInput(kInputFire | 1);
  in.AddInput(kInputUp | 1);
  ASSERT_EQ(in.Words.size(), 3u);
  EXPECT_EQ(in.Words[0], kInputFire | 254);
  EXPECT_EQ(in.Words[1], kInputFire | 46);
  EXPECT_EQ(in.Words[2], kInputUp | 1);
  EXPECT_EQ(in.TotalSteps, 301);
  EXPECT_EQ(in.HeadLeft, 254);
  // The record plays back as it was built: 300 fire steps, then one up step.
  bool dirs[4], fire, shift, keys[2];
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(in.GetInput(dirs, fire, shift, keys));
    ASSERT_TRUE(fire) << i;
  }
  ASSERT_TRUE(in.GetInput(dirs, fire, shift, keys));
  EXPECT_TRUE(dirs[1] && !fire);
  EXPECT_FALSE(in.GetInput(dirs, fire, shift, keys));
}

TEST(KTInput, SaveLoadGivesSameBytesWithoutMerging) {
  TMemoryStream m;
  m.WriteU32(3);
  m.WriteU32(kInputLeft | 5);
  m.WriteU32(kInputLeft | 7);  // mergeable neighbours stay apart when loaded
  m.WriteU32(kInputFire | 2);
  TKTInput in;
  in.TotalSteps = 10;  // loading adds to it
  m.SetPosition(0);
  in.LoadFromStream(m);
  EXPECT_EQ(in.HeadLeft, 5);
  EXPECT_EQ(in.TotalSteps, 24);
  TMemoryStream out;
  in.SaveToStream(out);
  EXPECT_EQ(out.Data, m.Data);
}

TEST(KTInput, ReadingPastTheEndIsDefined) {
  TKTInput in;
  in.AddInput(kInputRight | 2);
  bool dirs[4], fire, shift, keys[2];
  EXPECT_TRUE(in.GetInput(dirs, fire, shift, keys));
  EXPECT_TRUE(in.GetInput(dirs, fire, shift, keys));
  EXPECT_TRUE(dirs[0]);
  EXPECT_TRUE(in.Words.empty());
  EXPECT_EQ(in.HeadLeft, 0);
  EXPECT_EQ(in.TotalSteps, 0);
  // Past the end: nothing pressed, false, no change.
  dirs[0] = fire = true;
  EXPECT_FALSE(in.GetInput(dirs, fire, shift, keys));
  EXPECT_FALSE(dirs[0]);
  EXPECT_FALSE(fire);
  EXPECT_EQ(in.TotalSteps, 0);
}

TEST(KTInput, DamagedStreamsAreRejectedOrStillAdvance) {
  TMemoryStream m;
  m.WriteU32(1000000);  // claims far more words than the stream holds
  m.WriteU32(kInputUp | 1);
  m.SetPosition(0);
  TKTInput in;
  EXPECT_THROW(in.LoadFromStream(m), EReadError);
  TMemoryStream z;
  z.WriteU32(2);
  z.WriteU32(kInputUp | 0);  // a zero count: taken as one step
  z.WriteU32(kInputDown | 1);
  z.SetPosition(0);
  in.Clear();
  in.LoadFromStream(z);
  bool dirs[4], fire, shift, keys[2];
  in.GetInput(dirs, fire, shift, keys);
  EXPECT_TRUE(dirs[1]);
  in.GetInput(dirs, fire, shift, keys);
  EXPECT_TRUE(dirs[3]);
  EXPECT_TRUE(in.Words.empty());
}
