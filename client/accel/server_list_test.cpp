#include "client/accel/server_list.h"

#include <climits>

#include <gtest/gtest.h>

#include "common/decimal_text.h"

namespace {

const char kGroups[] =
    "<Data>\r\n"
    " <Group name=\"East\">\r\n"
    "  <Server credit=\"3\" host=\"10.0.0.1\" name=\"E1\" id=\"7\"/>\r\n"
    "  <Server credit=\"1\" host=\"e2.example\" name=\"E2\" id=\"9\"/>\r\n"
    " </Group>\r\n"
    " <Group name=\"Empty\"></Group>\r\n"
    " <Group name=\"West\">\r\n"
    "  <Server host=\"10.0.0.3\" name=\"W1\" id=\"7\"/>\r\n"
    "  <Server host=\"10.0.0.4\" name=\"NoId\"/>\r\n"
    " </Group>\r\n"
    "</Data>\r\n";

TEST(ServerListRead, LinesInDocumentOrderWithTheirGroups) {
  CServerList lines;
  ASSERT_EQ(1, lines.ReadGroupsText(kGroups));
  ASSERT_EQ(4u, lines.Count());
  EXPECT_EQ(7, lines.At(0).id);
  EXPECT_EQ("East", lines.At(0).group);
  EXPECT_EQ("E1", lines.At(0).name);
  EXPECT_EQ("10.0.0.1", lines.At(0).host);
  EXPECT_EQ(3, lines.At(0).credit);
  EXPECT_EQ("e2.example", lines.At(1).host);
  // The empty group adds nothing; the next line belongs to West.
  EXPECT_EQ("West", lines.At(2).group);
  EXPECT_EQ("W1", lines.At(2).name);
}

TEST(ServerListRead, MissingIdAndCreditReadAsZero) {
  CServerList lines;
  lines.ReadGroupsText(kGroups);
  EXPECT_EQ(0, lines.At(2).credit);
  EXPECT_EQ("NoId", lines.At(3).name);
  EXPECT_EQ(0, lines.At(3).id);
}

TEST(ServerListRead, WithoutDataNothingIsAddedAndZeroReturned) {
  CServerList lines;
  lines.ReadGroupsText(kGroups);
  EXPECT_EQ(0, lines.ReadGroupsText("<data><Group name=\"x\"><Server id=\"1\"/></Group></data>"));
  EXPECT_EQ(0, lines.ReadGroupsText(""));
  EXPECT_EQ(0, lines.ReadGroups("no-such-dir/groups.xml"));
  EXPECT_EQ(4u, lines.Count());
}

TEST(ServerListLookup, RepeatedIdGivesTheFirstLine) {
  CServerList lines;
  lines.ReadGroupsText(kGroups);
  const ServerItem* line = lines.FindById(7);
  ASSERT_NE(nullptr, line);
  EXPECT_EQ("E1", line->name);
  EXPECT_EQ("E2", lines.FindById(9)->name);
}

TEST(ServerListLookup, MissingIdGivesTheFirstLine) {
  CServerList lines;
  lines.ReadGroupsText(kGroups);
  EXPECT_EQ("E1", lines.FindById(12345)->name);
  EXPECT_EQ("E1", lines.FindById(-1)->name);
  // A line without id answers to id 0 only because it is the first with that id.
  EXPECT_EQ("NoId", lines.FindById(0)->name);
}

TEST(ServerListLookup, EmptyListGivesNoLine) {
  CServerList lines;
  EXPECT_EQ(nullptr, lines.FindById(0));
  EXPECT_EQ(nullptr, lines.FindById(7));
}

TEST(DecimalText, LeadingBlanksSignAndDigits) {
  EXPECT_EQ(12, DecimalToInt("12"));
  EXPECT_EQ(12, DecimalToInt(" \t12abc"));
  EXPECT_EQ(-3, DecimalToInt("-3"));
  EXPECT_EQ(4, DecimalToInt("+4"));
  EXPECT_EQ(0, DecimalToInt(""));
  EXPECT_EQ(0, DecimalToInt("abc"));
  EXPECT_EQ(0, DecimalToInt("- 5"));
  EXPECT_EQ(0, DecimalToInt("0x10"));
}

TEST(DecimalText, OutOfRangeHeldAtTheEnds) {
  EXPECT_EQ(INT_MAX, DecimalToInt("2147483647"));
  EXPECT_EQ(INT_MAX, DecimalToInt("2147483648"));
  EXPECT_EQ(INT_MAX, DecimalToInt("99999999999999999999999"));
  EXPECT_EQ(INT_MIN, DecimalToInt("-2147483648"));
  EXPECT_EQ(INT_MIN, DecimalToInt("-99999999999999999999999"));
}

}  // namespace
