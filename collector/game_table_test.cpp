// The game list as the collector reads it.
#include "collector/game_table.h"

#include <gtest/gtest.h>

#include "common/xml_doc.h"

namespace {

TEST(AppId, DecimalPrefixOfTheAttribute) {
  const std::pair<const char*, int32_t> cases[] = {
      {"7", 7},   {"12abc", 12}, {"", 0}, {"abc", 0}, {"  42", 42}, {"-5", -5}, {"1 2", 1},
      {"99999999999999999999", 2147483647}, {"-99999999999999999999", -2147483647 - 1}};
  for (const auto& c : cases) EXPECT_EQ(c.second, ParseAppId(c.first)) << '"' << c.first << '"';
}

TEST(GameList, GamesKeyedByExecutableWithTheLaterOneWinning) {
  CXmlDoc doc(
      "<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n"
      "<data>\r\n"
      " <game app_id=\"3\" name=\"旧名\" exefile=\"game.exe\"/>\r\n"
      " <other app_id=\"8\" exefile=\"other.exe\"/>\r\n"
      " <game app_id=\"12abc\" name=\"龙城传说\" exefile=\"Game.EXE\" extra=\"x\">text</game>\r\n"
      " <game name=\"无编号\" exefile=\"noid.exe\"/>\r\n"
      " <game app_id=\"5\" name=\"无文件\"/>\r\n"
      " <game app_id=\"4\" name=\"新名\" exefile=\"game.exe\"/>\r\n"
      "</data>\r\n");
  GameTable games;
  ASSERT_TRUE(ReadGameList(doc, &games));
  ASSERT_EQ(4u, games.size());
  EXPECT_EQ(4, games["game.exe"].app_id);
  EXPECT_EQ("新名", games["game.exe"].name);
  EXPECT_EQ(12, games["Game.EXE"].app_id);  // case matters: a game of its own
  EXPECT_EQ("龙城传说", games["Game.EXE"].name);
  EXPECT_EQ(0, games["noid.exe"].app_id);
  EXPECT_EQ(5, games[""].app_id);  // no exefile: a name no process has
  EXPECT_EQ(0u, games.count("other.exe"));
}

TEST(GameList, NoDataRootLeavesTheTableAlone) {
  for (const char* text : {"<Data><game app_id=\"1\" exefile=\"a.exe\"/></Data>", "", "<data"}) {
    CXmlDoc doc(text);
    GameTable games;
    games["keep.exe"].app_id = 1;
    ReadGameList(doc, &games);
    EXPECT_EQ(1u, games.size()) << text;
  }
}

}  // namespace
