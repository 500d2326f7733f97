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

// Splits a command line the way the C runtime of a program that reads it in code page 936
// does for arguments after the program name, so that quoting is checked against the
// reader, not restated: a lead byte takes the next byte as its trail, whatever it is.
std::vector<std::string> SplitLikeWindows(const std::string& s) {
  std::vector<std::string> args;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i >= s.size()) break;
    std::string a;
    bool quoted = false;
    while (i < s.size() && (quoted || (s[i] != ' ' && s[i] != '\t'))) {
      unsigned char lead = static_cast<unsigned char>(s[i]);
      if (lead >= 0x81 && lead <= 0xFE && i + 1 < s.size()) {
        a += s.substr(i, 2);
        i += 2;
        continue;
      }
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

std::string Quoted(const std::string& arg) {
  std::string q = "<refused>";
  QuoteCommandArg(arg, &q);
  return q;
}

TEST(ShowControlBytes, LineBreaksTabsAndDeleteBecomeQuestionMarksAndGbkStaysWhole) {
  EXPECT_EQ(ShowControlBytes(std::string("a\r\nb\t\x01\x1F\x7F\0z", 10)), "a??b?????z");
  EXPECT_EQ(ShowControlBytes("\xC4\xE3\x95\x5c\x81\x40 ~"), "\xC4\xE3\x95\x5c\x81\x40 ~");
}

TEST(PercentEncode, OnlyUnreservedBytesStayAndGbkIsEncodedBytewise) {
  EXPECT_EQ(PercentEncode("test01-A.b_c~"), "test01-A.b_c~");
  EXPECT_EQ(PercentEncode("a&errno=1#x y%/+?"), "a%26errno%3D1%23x%20y%25%2F%2B%3F");
  EXPECT_EQ(PercentEncode("用户"), "%D3%C3%BB%A7");  // GBK bytes
  EXPECT_EQ(PercentEncode(std::string("\0\x7F\xFF", 3)), "%00%7F%FF");
}

TEST(QuoteCommandArg, EveryArgumentComesBackUnchanged) {
  // GBK characters whose trail byte is a backslash (0x955C), a bar, '@', 0x80 and 0xFE.
  const std::vector<std::string> cases = {
      "", "plain", "with blank", "quo\"te", "\"", "back\\slash", "trail\\", "trail\\\\",
      "\\\"", "a b\" c \\\" d\\", "\t", "pa ss\"wd", "\x95\x5c\"", "\x95\x5c", "\xC4\xE3\\",
      "\x81\x7C \x81\x40\\\"\x81\x80\xFE\xFE"};
  for (const std::string& c : cases) {
    std::string line = Quoted("first") + " " + Quoted(c) + " " + Quoted("last");
    std::vector<std::string> back = SplitLikeWindows(line);
    ASSERT_EQ(back.size(), 3u) << line;
    EXPECT_EQ(back[1], c) << line;
  }
}

TEST(QuoteCommandArg, GbkTrailByteBackslashIsNotDoubled) {
  // 0x955C is one GBK character whose second byte is the backslash code.
  const std::string gbk = "\x95\x5c";
  EXPECT_EQ(Quoted(gbk), "\"\x95\x5c\"");
  EXPECT_EQ(Quoted("\xC4\xE3\\"), "\"\xC4\xE3\\\\\"");
}

TEST(QuoteCommandArg, ArgumentWithALoneLeadByteIsRefused) {
  // Escaped as \", the quote after 0x81 would still end the argument for the reader: the
  // lead byte swallows the backslash. No quoting holds such a value, so none is made.
  const std::string lone[] = {"\x81\"", "\x81\"\x81\x40", "pass\x81", "\x81 x", "\xFE\x7F",
                              "ab\xC4\x3F", std::string("\x81\0", 2)};
  for (const std::string& arg : lone) {
    std::string quoted = "kept";
    EXPECT_FALSE(IsWholeGbk(arg)) << arg;
    EXPECT_FALSE(QuoteCommandArg(arg, &quoted)) << arg;
    EXPECT_EQ("kept", quoted);
  }
  // What the old escaping made of one: the reader splits it into further arguments.
  EXPECT_EQ(SplitLikeWindows("\"\x81\\\" /x\"").size(), 2u);
}

}  // namespace
