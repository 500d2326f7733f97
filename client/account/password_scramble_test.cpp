#include "client/account/password_scramble.h"

#include <gtest/gtest.h>

namespace {

TEST(PasswordScramble, OddPositionsOneHigher) {
  EXPECT_EQ("acc", ScramblePassword("abc"));
  EXPECT_EQ("abc", UnscramblePassword("acc"));
  EXPECT_EQ("", ScramblePassword(""));
  EXPECT_EQ("p`sr", UnscramblePassword("pass"));
}

TEST(PasswordScramble, RoundTripKeepsLengthAndGbkBytes) {
  std::string plain = "\xC3\xDC\xC2\xEB" "12Ab";  // GBK "密码" then ASCII
  std::string stored = ScramblePassword(plain);
  EXPECT_EQ(plain.size(), stored.size());
  EXPECT_EQ("\xC3\xDD\xC2\xEC" "13Ac", stored);
  EXPECT_EQ(plain, UnscramblePassword(stored));
}

TEST(PasswordScramble, CutAtFirstZeroByte) {
  // 0xFF at an odd position becomes 0 and ends the stored form there.
  EXPECT_EQ("a", ScramblePassword(std::string("a\xFF" "bc")));
  EXPECT_EQ("a", UnscramblePassword(std::string("a\x01" "bc")));
}

TEST(PasswordScramble, CutAt1023Bytes) {
  std::string longText(1100, 'a');
  EXPECT_EQ(1023u, ScramblePassword(longText).size());
  EXPECT_EQ(1023u, UnscramblePassword(longText).size());
}

}  // namespace
