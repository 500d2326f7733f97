#include "common/text_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(Format, LongTextIsFormattedWhole) {
  std::string big(5000, 'x');
  EXPECT_EQ(Format("<%s>%d", big.c_str(), 7), "<" + big + ">7");
}

TEST(FormatCut, CutsToCapacityMinusOneAndTerminates) {
  char buf[8];
  std::memset(buf, 'Z', sizeof buf);
  EXPECT_EQ(FormatCut(buf, sizeof buf, "%s", "0123456789"), 7u);
  EXPECT_STREQ(buf, "0123456");
  EXPECT_EQ(FormatCut(buf, sizeof buf, "%d", 42), 2u);
  EXPECT_STREQ(buf, "42");
}

TEST(CopyCut, NeverWritesPastTheEnd) {
  char buf[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(CopyCut(buf, 3, "hello"), 2u);
  EXPECT_STREQ(buf, "he");
  EXPECT_EQ(buf[3], 'd');
  EXPECT_EQ(CopyCut(buf, 4, nullptr), 0u);
  EXPECT_STREQ(buf, "");
}

TEST(LogPrefix, PadsEveryFieldButTheYear) {
  EXPECT_EQ(FormatLogPrefix({2026, 1, 2, 3, 4, 5, 6}), "[2026/01/02 03:04:05.006] ");
  EXPECT_EQ(FormatLogPrefix({999, 12, 31, 23, 59, 59, 999}), "[999/12/31 23:59:59.999] ");
}

// Splits a command line the way the C runtime and CommandLineToArgvW do for arguments
// after the program name, so that quoting is checked against the reader, not restated.
std::vector<std::string> SplitLikeWindows(const std::string& s) {
  std::vector<std::string> args;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i >= s.size()) break;
    std::string a;
    bool quoted = false;
    while (i < s.size() && (quoted || (s[i] != ' ' && s[i] != '\t'))) {
      size_t bs = 0;
      while (i < s.size() && s[i] == '\\') ++bs, ++i;
      if (i < s.size() && s[i] == '"') {
        a.append(bs / 2, '\\');
        if (bs % 2) {
          a += '"';
        } else if (quoted && i + 1 < s.size() && s[i + 1] == '"') {
          a += '"';
          ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        a.append(bs, '\\');
        if (i < s.size() && (quoted || (s[i] != ' ' && s[i] != '\t'))) a += s[i++];
      }
    }
    args.push_back(a);
  }
  return args;
}

TEST(QuoteCommandArg, EveryArgumentComesBackUnchanged) {
  const std::vector<std::string> cases = {
      "", "plain", "with blank", "quo\"te", "\"", "back\\slash", "trail\\", "trail\\\\",
      "\\\"", "a b\" c \\\" d\\", "\t", "pa ss\"wd"};
  for (const std::string& c : cases) {
    std::string line = QuoteCommandArg("first") + " " + QuoteCommandArg(c) + " " +
                       QuoteCommandArg("last");
    std::vector<std::string> back = SplitLikeWindows(line);
    ASSERT_EQ(back.size(), 3u) << line;
    EXPECT_EQ(back[1], c) << line;
  }
}

TEST(QuoteCommandArg, GbkTrailByteBackslashIsNotDoubled) {
  // 0x955C is one GBK character whose second byte is the backslash code.
  const std::string gbk = "\x95\x5c";
  EXPECT_EQ(QuoteCommandArg(gbk), "\"\x95\x5c\"");
  EXPECT_EQ(QuoteCommandArg("\xC4\xE3\\"), "\"\xC4\xE3\\\\\"");
}

TEST(QuoteCommandArg, QuoteAfterALoneLeadByteIsStillEscaped) {
  // 0x81 0x22 is no GBK character: the quote must not pass as its trail byte.
  EXPECT_EQ(QuoteCommandArg("\x81\""), "\"\x81\\\"\"");
  EXPECT_EQ(QuoteCommandArg("\x81\"\x81\x40"), "\"\x81\\\"\x81\x40\"");
}

}  // namespace
