// Pictures and sounds: the JPEG pictures at the sizes the screens and windows draw them, the
// effects as PCM waves, and the music as MPEG audio inside WAVE files that decode to exactly the
// cached sizes of the sound table.
#include <gtest/gtest.h>
#include <mpg123.h>

#include <cstring>
#include <map>

#include "ContentSupport.h"
#include "base/Bitmap.h"
#include "base/Streams.h"

using namespace content;

namespace {

TJPEGImage Jpeg(const std::string& name) {
  auto bytes = Resource("GFX", name);
  if (bytes.empty()) throw std::runtime_error("missing GFX resource " + name);
  TReadOnlyMemoryStream s(bytes.data(), bytes.size());
  TJPEGImage j;
  j.LoadFromStream(s);
  return j;
}

struct Riff {
  std::vector<std::string> Order;
  std::map<std::string, std::vector<uint8_t>> Chunks;
};

Riff ParseWave(const std::vector<uint8_t>& b) {
  Riff r;
  if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) || std::memcmp(b.data() + 8, "WAVE", 4))
    throw std::runtime_error("not a RIFF/WAVE file");
  uint32_t riffSize = b[4] | (b[5] << 8) | (b[6] << 16) | (uint32_t(b[7]) << 24);
  if (riffSize + 8 != b.size()) throw std::runtime_error("RIFF size does not match the file");
  for (size_t i = 12; i + 8 <= b.size();) {
    std::string id(reinterpret_cast<const char*>(&b[i]), 4);
    uint32_t n = b[i + 4] | (b[i + 5] << 8) | (b[i + 6] << 16) | (uint32_t(b[i + 7]) << 24);
    if (i + 8 + n > b.size()) throw std::runtime_error("chunk " + id + " runs past the end");
    r.Order.push_back(id);
    r.Chunks[id] = std::vector<uint8_t>(b.begin() + i + 8, b.begin() + i + 8 + n);
    i += 8 + n + (n & 1);
  }
  return r;
}

uint32_t U16(const std::vector<uint8_t>& v, size_t o) { return v[o] | (v[o + 1] << 8); }
uint32_t U32(const std::vector<uint8_t>& v, size_t o) { return U16(v, o) | (U16(v, o + 2) << 16); }

// Decodes MPEG audio as the codec module does: libmpg123, no gapless trimming.
int64_t DecodedBytes(const std::vector<uint8_t>& mp3, long& rate, int& channels) {
  mpg123_init();
  int err = 0;
  mpg123_handle* h = mpg123_new(nullptr, &err);
  mpg123_param(h, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
  mpg123_open_feed(h);
  std::vector<unsigned char> out(1 << 16);
  size_t done = 0;
  int64_t total = 0;
  int enc = 0;
  int r = mpg123_decode(h, mp3.data(), mp3.size(), out.data(), out.size(), &done);
  total += done;
  while (r != MPG123_ERR && r != MPG123_NEED_MORE) {
    if (r == MPG123_NEW_FORMAT) mpg123_getformat(h, &rate, &channels, &enc);
    r = mpg123_decode(h, nullptr, 0, out.data(), out.size(), &done);
    total += done;
  }
  mpg123_delete(h);
  EXPECT_NE(r, MPG123_ERR);
  return total;
}

}  // namespace

TEST(Pictures, JpegPicturesHaveTheirSizes) {
  struct Pic { const char* Name; int W, H; };
  for (Pic p : {Pic{"loading.jpg", 800, 600}, Pic{"title.jpg", 800, 600}, Pic{"credits.jpg", 800, 600},
                Pic{"leveljump.jpg", 800, 600}, Pic{"leveljumpend.jpg", 800, 600}, Pic{"menu_base.jpg", 500, 350},
                Pic{"menu_playdown.jpg", 148, 45}, Pic{"menu_logo.jpg", 292, 171}, Pic{"menu_net.jpg", 292, 171},
                Pic{"MenuBack.jpg", 400, 302}, Pic{"AboutPicture.jpg", 120, 120}}) {
    SCOPED_TRACE(p.Name);
    TJPEGImage j = Jpeg(p.Name);
    EXPECT_EQ(j.Width(), p.W);
    EXPECT_EQ(j.Height(), p.H);
  }
  for (const char* n : {"StateRunning.png", "StateDone.png", "StateFailed.png", "AnimLevels.png", "AnimSearch.png"}) {
    SCOPED_TRACE(n);
    Png p = ReadPng(Resource("GFX", n));
    EXPECT_EQ(p.ColorType, 6);
    EXPECT_EQ(p.Width % p.Height, 0) << "animations are strips of square frames";
  }
}

TEST(Pictures, CreditsBandIsPlainAndThePlayButtonIsDrawn) {
  // only the band (0, 519) - (800, 545) is redrawn under the scrolling credits line
  TJPEGImage credits = Jpeg("credits.jpg");
  const TBitmap& c = credits.Bitmap();
  uint32_t ref = c.PixelRGB(400, 532);
  for (int y = 521; y < 543; ++y)
    for (int x = 0; x < 800; x += 7) {
      uint32_t p = c.PixelRGB(x, y);
      for (int k = 0; k < 24; k += 8)
        ASSERT_LE(std::abs(int((p >> k) & 255) - int((ref >> k) & 255)), 6) << x << "," << y;
    }
  // the pressed picture is the button's rectangle of the menu picture, drawn darker
  TJPEGImage baseImage = Jpeg("menu_base.jpg"), downImage = Jpeg("menu_playdown.jpg");
  const TBitmap& base = baseImage.Bitmap();
  const TBitmap& down = downImage.Bitmap();
  auto green = [](uint32_t p) { return int((p >> 8) & 255); };
  EXPECT_GT(green(base.PixelRGB(200, 290)), green(down.PixelRGB(25, 9)));
  EXPECT_GT(green(base.PixelRGB(200, 290)), 120);
}

TEST(Pictures, TitleLeavesTheBandOfThePageTextsAndHighscoresToTheGame) {
  // The game writes its page texts at y 300 and the highscore page's rows from y 170 to 530
  // over the title picture; no lettering of the picture may stand there (the background stays
  // darker than any lettering).
  TJPEGImage title = Jpeg("title.jpg");
  const TBitmap& t = title.Bitmap();
  for (int y = 150; y < 549; ++y)
    for (int x = 0; x < 800; ++x) {
      const uint32_t p = t.PixelRGB(x, y);
      for (int k = 0; k < 24; k += 8) ASSERT_LE(int((p >> k) & 255), 200) << x << "," << y;
    }
}

TEST(Sounds, EffectsArePcmWaves) {
  const char* names[36] = {"GameOver", "LvlCompleted", "LvlFinished", "Delete", "Write", "BigTime",
                           "LvlStart", "ShootWater", "ShootHeart", "ShootSuper", "WaterSplash", "HeartHit",
                           "HeartConvert", "PlayerHit", "PlayerFire", "PlayerLaser", "SmokerConvert",
                           "SuperHit", "SmokerRest1", "SmokerRest2", "SmokerRest3", "SmokerRest4",
                           "SmokerRest5", "SmokingIn", "SmokingOut", "DoorMove", "DoorUnlock",
                           "CatchOption", "ToolActivate", "Energy", "Fire", "Laser", "Bonus", "Diamond",
                           "NonSmokerHit", "Firework"};
  for (const char* n : names) {
    SCOPED_TRACE(n);
    Riff r = ParseWave(Resource("SND", n));
    ASSERT_EQ(r.Order, (std::vector<std::string>{"fmt ", "data"}));
    const auto& f = r.Chunks["fmt "];
    ASSERT_GE(f.size(), 16u);
    EXPECT_EQ(U16(f, 0), 1u);       // PCM
    EXPECT_EQ(U16(f, 2), 1u);       // mono
    EXPECT_EQ(U32(f, 4), 22050u);
    EXPECT_EQ(U16(f, 14), 16u);
    EXPECT_EQ(U16(f, 12), 2u);      // block align
    size_t n16 = r.Chunks["data"].size() / 2;
    EXPECT_GT(n16, 22050u / 50) << "at least a game step long";
    EXPECT_LT(n16, 22050u * 3);
    int peak = 0;
    for (size_t i = 0; i < n16; ++i) peak = std::max(peak, std::abs(int(int16_t(U16(r.Chunks["data"], i * 2)))));
    EXPECT_GT(peak, 8000) << "audible";
  }
}

TEST(Sounds, MusicIsMpegInWaveWithTheCachedSizes) {
  struct Track { const char* Name; int64_t Samples; int64_t Cached; };
  for (Track t : {Track{"KTGame", 4154112, 16616494}, Track{"KTMenu", 1960704, 7842862},
                  Track{"KTHighScore", 784512, 3138094}}) {
    SCOPED_TRACE(t.Name);
    Riff r = ParseWave(Resource("SND", t.Name));
    ASSERT_EQ(r.Order, (std::vector<std::string>{"fmt ", "fact", "data"}));
    const auto& f = r.Chunks["fmt "];
    ASSERT_EQ(f.size(), 30u);
    EXPECT_EQ(U16(f, 0), 0x55u);
    EXPECT_EQ(U16(f, 2), 2u);
    EXPECT_EQ(U32(f, 4), 44100u);
    EXPECT_EQ(U16(f, 16), 12u);      // extra size of the MPEG layer-3 format
    EXPECT_EQ(U32(r.Chunks["fact"], 0), uint32_t(t.Samples));
    // constant bit rate: every frame header carries the same bit rate, no info frame
    const auto& d = r.Chunks["data"];
    ASSERT_GT(d.size(), 4u);
    uint32_t first = (d[0] << 24) | (d[1] << 16) | (d[2] << 8) | d[3];
    EXPECT_EQ(first >> 21, 0x7FFu);
    EXPECT_EQ(U32(f, 8), 96000u / 8);
    long rate = 0;
    int channels = 0;
    int64_t bytes = DecodedBytes(d, rate, channels);
    EXPECT_EQ(bytes, t.Samples * 4);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(channels, 2);
    // the cache file is this PCM behind the writer's header: RIFF 12, "fmt " 8 + 18, "data" 8
    EXPECT_EQ(t.Cached - t.Samples * 4, 46);
    EXPECT_EQ(t.Samples % 1152, 0);
  }
}
