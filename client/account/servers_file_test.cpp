#include "client/account/servers_file.h"

#include <gtest/gtest.h>

#include "common/xml_doc.h"

namespace {

const char kServers[] =
    "<Data>\r\n"
    " <Service><help>http://h/help</help><registerurl>http://h/reg</registerurl>"
    "<updateurl>http://h/up.rar</updateurl></Service>\r\n"
    " <LoginServer>\r\n"
    "  <Server Address=\"10.1.1.1\" Port=\"9000\"/>\r\n"
    "  <Server Address=\"login.example\" Port=\"9001\"/>\r\n"
    "  <Server Address=\"big\" Port=\"70000\"/>\r\n"
    " </LoginServer>\r\n"
    " <Apps>\r\n"
    "  <App Id=\"101\" Name=\"Game A\" RegKey=\"SOFTWARE\\A\" RegValue=\"Path\"/>\r\n"
    "  <App Name=\"No Id\" RegKey=\"SOFTWARE\\B\" RegValue=\"Exe\"/>\r\n"
    "  <Apps Id=\"5\" Name=\"Not an App\"/>\r\n"
    "  <app Id=\"6\" Name=\"lower case\"/>\r\n"
    " </Apps>\r\n"
    "</Data>\r\n";

TEST(ServersFileGames, AppsInOrderWithRegistryPlace) {
  CXmlDoc doc(kServers);
  std::vector<CAppItem> games;
  ASSERT_EQ(1, ReadGames(doc, games));
  ASSERT_EQ(2u, games.size());
  EXPECT_EQ(101, games[0].m_id);
  EXPECT_EQ("Game A", games[0].m_name);
  EXPECT_EQ("SOFTWARE\\A", games[0].m_regKey);
  EXPECT_EQ("Path", games[0].m_regValue);
  EXPECT_EQ(101, FindAppById(games, 101)->m_id);
  EXPECT_EQ(nullptr, FindAppById(games, 5));
}

TEST(ServersFileGames, AppWithoutIdIsGameZero) {
  CXmlDoc doc(kServers);
  std::vector<CAppItem> games;
  ReadGames(doc, games);
  EXPECT_EQ(0, games[1].m_id);
  EXPECT_EQ("No Id", games[1].m_name);
  EXPECT_EQ("No Id", FindAppById(games, 0)->m_name);
}

TEST(ServersFileGames, NoDataLeavesGamesUnchangedNoAppsLeavesThemEmpty) {
  std::vector<CAppItem> games(1, CAppItem(1, "kept", "", ""));
  CXmlDoc noData("<data><Apps><App Id=\"2\"/></Apps></data>");
  EXPECT_EQ(0, ReadGames(noData, games));
  EXPECT_EQ(1u, games.size());
  std::vector<CAppItem> none;
  CXmlDoc noApps("<Data><LoginServer/></Data>");
  EXPECT_EQ(1, ReadGames(noApps, none));
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(0, ReadGames(std::string("no-such-dir/servers.xml"), none));
}

TEST(ServersFileLoginServers, InDocumentOrderWithPorts) {
  CXmlDoc doc(kServers);
  std::vector<CLoginSvr> servers;
  ASSERT_EQ(1, ReadLoginServers(doc, servers));
  ASSERT_EQ(3u, servers.size());
  EXPECT_EQ("10.1.1.1", servers[0].m_address);
  EXPECT_EQ(9000, servers[0].m_port);
  EXPECT_EQ("login.example", servers[1].m_address);
  EXPECT_EQ(9001, servers[1].m_port);
  // Not a port: port 0, which no connection reaches, rather than 70000 - 65536.
  EXPECT_EQ(0, servers[2].m_port);
}

TEST(ServersFileService, AllThreeReplaced) {
  CXmlDoc doc(kServers);
  ServiceUrls urls{"", "default-reg", "default-up"};
  ASSERT_EQ(1, ReadServiceUrls(doc, urls));
  EXPECT_EQ("http://h/help", urls.help);
  EXPECT_EQ("http://h/reg", urls.registerUrl);
  EXPECT_EQ("http://h/up.rar", urls.update);
}

TEST(ServersFileService, UpdateUrlBeforeHelpKeepsTheDefaultUpdateUrl) {
  CXmlDoc doc(
      "<Data><Service><updateurl>http://h/new.rar</updateurl><help>http://h/help</help>"
      "<registerurl>http://h/reg</registerurl></Service></Data>");
  ServiceUrls urls{"", "default-reg", "default-up"};
  ASSERT_EQ(1, ReadServiceUrls(doc, urls));
  EXPECT_EQ("http://h/help", urls.help);
  EXPECT_EQ("http://h/reg", urls.registerUrl);
  EXPECT_EQ("default-up", urls.update);
}

TEST(ServersFileService, MissingElementDoesNotMoveTheSearch) {
  CXmlDoc doc("<Data><Service><registerurl>r</registerurl><updateurl>u</updateurl></Service></Data>");
  ServiceUrls urls{"h0", "r0", "u0"};
  ReadServiceUrls(doc, urls);
  EXPECT_EQ("h0", urls.help);
  EXPECT_EQ("r", urls.registerUrl);
  EXPECT_EQ("u", urls.update);
}

TEST(ServersFileService, NoDataKeepsEverything) {
  CXmlDoc doc("<Service><help>x</help></Service>");
  ServiceUrls urls{"h0", "r0", "u0"};
  EXPECT_EQ(0, ReadServiceUrls(doc, urls));
  EXPECT_EQ("h0", urls.help);
  EXPECT_EQ("r0", urls.registerUrl);
  EXPECT_EQ("u0", urls.update);
}

}  // namespace
