#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "base/Exceptions.h"
#include "base/Streams.h"
#include "engine/Cryptography.h"

namespace {
std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

// Textbook Blowfish over the generated tables: standard round function, big-endian block
// words, key bytes cycled. It proves the tables before this cipher's changes apply.
class StandardBlowfish {
public:
  explicit StandardBlowfish(const std::string& key) {
    std::memcpy(P, BlowfishInitP, sizeof P);
    std::memcpy(S, BlowfishInitS, sizeof S);
    std::size_t j = 0;
    for (auto& p : P) {
      uint32_t w = 0;
      for (int k = 0; k < 4; ++k) w = (w << 8) | static_cast<uint8_t>(key[j++ % key.size()]);
      p ^= w;
    }
    uint32_t l = 0, r = 0;
    for (int i = 0; i < 18; i += 2) {
      Encrypt(l, r);
      P[i] = l;
      P[i + 1] = r;
    }
    for (auto& box : S)
      for (int i = 0; i < 256; i += 2) {
        Encrypt(l, r);
        box[i] = l;
        box[i + 1] = r;
      }
  }
  void Encrypt(uint32_t& l, uint32_t& r) const {
    for (int i = 0; i < 16; ++i) {
      l ^= P[i];
      r ^= ((S[0][l >> 24] + S[1][(l >> 16) & 255]) ^ S[2][(l >> 8) & 255]) + S[3][l & 255];
      std::swap(l, r);
    }
    std::swap(l, r);
    r ^= P[16];
    l ^= P[17];
  }
  std::string Encrypt(const std::string& block) const {
    uint32_t l = 0, r = 0;
    for (int i = 0; i < 4; ++i) {
      l = (l << 8) | static_cast<uint8_t>(block[i]);
      r = (r << 8) | static_cast<uint8_t>(block[4 + i]);
    }
    Encrypt(l, r);
    std::string out(8, '\0');
    for (int i = 0; i < 4; ++i) {
      out[i] = static_cast<char>(l >> (24 - 8 * i));
      out[4 + i] = static_cast<char>(r >> (24 - 8 * i));
    }
    return out;
  }

private:
  uint32_t P[18];
  uint32_t S[4][256];
};

const char* const kEnvKey = "CAPRICCIOSOX?WUWpe$B1947~(3)DF/&hmTOQEwt@qzxq6u*re517gb-d";
const char* const kPackKey = "MORVANTqelx4ubr8p2hwRKDe!71c&jzq#mvt%3kbo5j~vpe+ucr=9t645";

std::string EncryptBlock(TBlowfish& bf, std::string block) {
  bf.EncryptBlock(reinterpret_cast<uint8_t*>(block.data()));
  return block;
}
}  // namespace

TEST(BlowfishTables, GeneratedTablesPassTheStandardTestVectors) {
  struct {
    const char *key, *plain, *cipher;
  } vectors[] = {
      {"0000000000000000", "0000000000000000", "4ef997456198dd78"},
      {"ffffffffffffffff", "ffffffffffffffff", "51866fd5b85ecb8a"},
      {"3000000000000000", "1000000000000001", "7d856f9a613063f2"},
      {"1111111111111111", "1111111111111111", "2466dd878b963c9d"},
      {"0123456789abcdef", "1111111111111111", "61f9c3802281b096"},
      {"fedcba9876543210", "0123456789abcdef", "0aceab0fc6a0a28d"},
  };
  for (const auto& v : vectors) {
    StandardBlowfish bf(Unhex(v.key));
    EXPECT_EQ(Hex(bf.Encrypt(Unhex(v.plain))), v.cipher) << v.key;
  }
  EXPECT_EQ(BlowfishInitP[0], 0x243F6A88u);
  EXPECT_EQ(BlowfishInitS[0][0], 0xD1310BA6u);
  EXPECT_EQ(BlowfishInitS[3][255], 0x3AC372E6u);
}

TEST(Blowfish, KeyPreparation) {
  // 57 characters repeat their first 15 to fill the 72 key bytes.
  TBlowfish env(kEnvKey);
  const std::string envText = kEnvKey;
  EXPECT_EQ(std::string(env.Key().begin(), env.Key().end()), envText + envText.substr(0, 15));
  EXPECT_EQ(env.AlgorithmName(), "Blowfish");
  EXPECT_EQ(env.BlockSize(), 8);
  EXPECT_EQ(env.KeySize(), 72);
  EXPECT_EQ(env.BufferSize(), 2048);

  // Exactly 72 characters are the key bytes unchanged.
  const std::string t72 = RandomBytes(72, 1);
  TBlowfish k72(t72);
  EXPECT_EQ(std::string(k72.Key().begin(), k72.Key().end()), t72);

  // 73 characters grow to 144; the second half is folded in by rotation.
  TBlowfish k73("The quick brown fox jumps over the lazy dog, then naps under the old oak.");
  EXPECT_EQ(Hex(std::string(k73.Key().begin(), k73.Key().end())),
            "375c7d3f51041c0a386831f1cbeecbb3460917584a1f181d1f05534f6a6d2fb972aae3766b73dcee440b084b7a2636ef"
            "a963e443819633cad922aae8d3b5f5b869c4e2e162d279d7");
}

TEST(Blowfish, KnownAnswers) {
  // Computed by an independent model of this cipher (byte-reversed tables, changed F,
  // little-endian words); these pin the file formats of env.dat and the replay packs.
  TBlowfish env(kEnvKey);
  EXPECT_EQ(Hex(EncryptBlock(env, std::string("zrc2e\0\0\0", 8))), "d3cef6d7998853b3");
  EXPECT_EQ(Hex(EncryptBlock(env, Unhex("0001020304050607"))), "013b1361e33a9319");
  TBlowfish pack(kPackKey);
  EXPECT_EQ(Hex(EncryptBlock(pack, Unhex("7a72633270030000"))), "aee2530807464ebc");
  // All-zero key on the zero block: not the standard value 4ef997456198dd78.
  TBlowfish zero(std::string(72, '\0'));
  EXPECT_EQ(std::string(zero.Key().begin(), zero.Key().end()), std::string(72, '\0'));
  EXPECT_EQ(Hex(EncryptBlock(zero, std::string(8, '\0'))), "8c46ae99c4317c6b");
}

TEST(Blowfish, BlocksRoundTrip) {
  TBlowfish bf(kPackKey);
  for (unsigned seed = 0; seed < 200; ++seed) {
    std::string block = RandomBytes(8, seed);
    std::string c = EncryptBlock(bf, block);
    EXPECT_NE(c, block);
    EXPECT_TRUE(bf.DecryptBlock(reinterpret_cast<uint8_t*>(c.data())));
    EXPECT_EQ(c, block);
  }
}

TEST(Blowfish, StringsArePaddedToWholeBlocks) {
  TBlowfish bf(kEnvKey);
  std::string text = "123456789";
  EXPECT_EQ(bf.EncryptString(text), 0);
  ASSERT_EQ(text.size(), 16u);
  EXPECT_EQ(text.substr(0, 8), EncryptBlock(bf, "12345678"));
  EXPECT_EQ(bf.DecryptString(text), 0);
  EXPECT_EQ(text, std::string("123456789\0\0\0\0\0\0\0", 16));

  std::string empty;
  bf.EncryptString(empty);
  EXPECT_EQ(empty, "");

  // Longer than the work buffer: still one block at a time, the same as single blocks.
  const std::string big = RandomBytes(5000, 7);
  std::string enc = big;
  bf.EncryptString(enc);
  ASSERT_EQ(enc.size(), 5000u);
  EXPECT_EQ(enc.substr(4096, 8), EncryptBlock(bf, big.substr(4096, 8)));
  bf.DecryptString(enc);
  EXPECT_TRUE(enc == big);
}

TEST(Blowfish, StreamsAndCallbacksMatchStrings) {
  TBlowfish bf(kEnvKey);
  const std::string plain = RandomBytes(3001, 3);
  std::string expected = plain;
  bf.EncryptString(expected);

  for (int32_t bufferSize : {2048, 256, 1000}) {
    bf.SetBufferSize(bufferSize);
    TStringStream src(plain), dst;
    EXPECT_EQ(bf.EncryptStream(src, dst), 0);
    EXPECT_TRUE(dst.DataString == expected) << bufferSize;
  }

  std::size_t at = 0;
  std::string out;
  bf.Decrypt(
      [&](uint8_t* b, int32_t n) {
        const int32_t k = static_cast<int32_t>(std::min<std::size_t>(n, expected.size() - at));
        std::memcpy(b, expected.data() + at, static_cast<std::size_t>(k));
        at += static_cast<std::size_t>(k);
        return k;
      },
      [&](const uint8_t* b, int32_t n) {
        out.append(reinterpret_cast<const char*>(b), static_cast<std::size_t>(n));
        return n;
      });
  EXPECT_TRUE(out == plain + std::string(7, '\0'));

  // A sink that refuses data is an error, not a silent loss.
  TStringStream src(plain);
  EXPECT_THROW(bf.Encrypt([&](uint8_t* b, int32_t n) { return src.Read(b, n); },
                          [](const uint8_t*, int32_t n) { return n - 1; }),
               EWriteError);
}

TEST(Blowfish, BufferSizeRounding) {
  TBlowfish bf(kEnvKey);
  struct {
    int32_t asked, got;
  } cases[] = {{1000, 1000}, {1001, 1000}, {255, 256}, {0, 256}, {-5, 256}, {4096, 4096}};
  for (const auto& c : cases) {
    bf.SetBufferSize(c.asked);
    EXPECT_EQ(bf.BufferSize(), c.got) << c.asked;
  }
}

TEST(Blowfish, SetKeyGivesTheKeyOfAFreshCipher) {
  TBlowfish changed(kEnvKey);
  changed.SetKey(kPackKey);
  TBlowfish fresh(kPackKey);
  EXPECT_EQ(changed.KeyText(), kPackKey);
  EXPECT_EQ(changed.Key(), fresh.Key());
  const std::string block = RandomBytes(8, 9);
  EXPECT_EQ(EncryptBlock(changed, block), EncryptBlock(fresh, block));
  // An empty or unchanged text leaves the key alone.
  changed.SetKey("");
  changed.SetKey(kPackKey);
  EXPECT_EQ(EncryptBlock(changed, block), EncryptBlock(fresh, block));
}

TEST(Blowfish, EmptyKeyTextStillSchedulesTheTables) {
  TBlowfish a(""), b("");
  const std::string block = RandomBytes(8, 11);
  std::string c = EncryptBlock(a, block);
  EXPECT_NE(c, block);
  EXPECT_EQ(c, EncryptBlock(b, block));
  a.DecryptBlock(reinterpret_cast<uint8_t*>(c.data()));
  EXPECT_EQ(c, block);
  EXPECT_FALSE(a.KeyText().empty());
}

TEST(Blowfish, ReusedSchedulesGiveTheKnownAnswers) {
  // Ciphers keyed again and again (schedules reused, pushed out by other keys and made afresh)
  // encipher exactly as the first one did.
  for (int round = 0; round < 3; ++round) {
    for (int k = 0; k < 6; ++k) {
      TBlowfish other("key " + std::to_string(k) + std::string(50, 'x'));
      TBlowfish fresh(kPackKey);
      EXPECT_EQ(Hex(EncryptBlock(fresh, Unhex("7a72633270030000"))), "aee2530807464ebc") << round << " " << k;
      EXPECT_NE(EncryptBlock(other, std::string(8, '\0')), EncryptBlock(fresh, std::string(8, '\0')));
    }
    TBlowfish env(kEnvKey);
    EXPECT_EQ(Hex(EncryptBlock(env, Unhex("0001020304050607"))), "013b1361e33a9319");
    TBlowfish zero(std::string(72, '\0'));
    EXPECT_EQ(Hex(EncryptBlock(zero, std::string(8, '\0'))), "8c46ae99c4317c6b");
  }
}
