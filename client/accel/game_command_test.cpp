#include "client/accel/game_command.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(GameCommand, OnlyKeysUnderSoftwareHoldACommand) {
  EXPECT_TRUE(IsSoftwareKey("SOFTWARE\\VelaSample\\LongCheng"));
  EXPECT_TRUE(IsSoftwareKey("Software\\x"));
  EXPECT_FALSE(IsSoftwareKey("SOFTWARE\\"));
  EXPECT_FALSE(IsSoftwareKey("SOFTWARE"));
  EXPECT_FALSE(IsSoftwareKey("SYSTEM\\CurrentControlSet\\Services\\x"));
  EXPECT_FALSE(IsSoftwareKey("SOFTWAREX\\y"));
  EXPECT_FALSE(IsSoftwareKey("\\SOFTWARE\\y"));
  EXPECT_FALSE(IsSoftwareKey(""));

  // Keys whose values some program of the system already runs are not the list's to choose.
  for (const char* key :
       {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "software\\microsoft\\x",
        "SOFTWARE\\Classes\\exefile\\shell\\open\\command", "SOFTWARE\\Policies\\x",
        "SOFTWARE\\Wow6432Node\\Microsoft\\x", "SOFTWARE\\WOW6432NODE\\classes\\x",
        "SOFTWARE\\Wow6432Node\\Policies\\x", "SOFTWARE\\Vendor\\Uninstall\\Game",
        "SOFTWARE\\Vendor\\uninstall", "SOFTWARE\\\\Microsoft\\x", "SYSTEM\\Setup"}) {
    EXPECT_NE(GameKeyRefusal(key), "") << key;
  }
  for (const char* key :
       {"SOFTWARE\\VelaSample\\LongCheng", "SOFTWARE\\Vendor\\Microsoft\\Game",
        "SOFTWARE\\Wow6432Node\\VelaSample", "SOFTWARE\\MicrosoftGames\\x",
        "SOFTWARE\\Vendor\\UninstallHelper\\x", "SOFTWARE\\Vendor\\"}) {
    EXPECT_EQ(GameKeyRefusal(key), "") << key;
  }
}

TEST(GameCommand, TheProgramIsFoundOnceAndThePlantedShorterPrefixLoses) {
  std::set<std::string> files = {"D:\\Online.exe", "D:\\Online Games\\x\\x.exe",
                                 "C:\\Games\\Run Me", "C:\\Games\\tool.exe", "Online.exe",
                                 "C:\\Quoted Dir\\q.exe", "C:\\Odd\\noext", "C:\\Games\\game.exe",
                                 "C:\\Windows\\x.exe", "\\\\host\\share\\x.exe",
                                 "\\\\?\\C:\\Games\\game.exe", "C:\\Games\\game.exe:s"};
  auto isFile = [&](const std::string& path) { return files.count(path) != 0; };
  std::string program;
  const struct {
    const char* command;
    const char* program;  // null: nothing to start
    GameProgramResult why;
  } cases[] = {
      // The longest prefix wins over a planted file named by a shorter one.
      {"D:\\Online Games\\x\\x.exe -window 1", "D:\\Online Games\\x\\x.exe", kGameProgramFound},
      {"D:\\Online Games\\x\\x -window", "D:\\Online Games\\x\\x.exe", kGameProgramFound},
      {"D:\\Online Games\\x\\x.exe", "D:\\Online Games\\x\\x.exe", kGameProgramFound},
      // A file without extension is taken as written; ".exe" only when that is missing.
      {"C:\\Games\\Run Me now", "C:\\Games\\Run Me", kGameProgramFound},
      {"C:\\Games\\tool /s", "C:\\Games\\tool.exe", kGameProgramFound},
      {"C:\\Odd\\noext", "C:\\Odd\\noext", kGameProgramFound},
      // Quoted: the text inside the quotes, with ".exe" when that is missing; no search.
      {"\"C:\\Quoted Dir\\q.exe\" -a \"b c\"", "C:\\Quoted Dir\\q.exe", kGameProgramFound},
      {"\"C:\\Quoted Dir\\q\" -a", "C:\\Quoted Dir\\q.exe", kGameProgramFound},
      {"\"C:\\Games\\game\" -x", "C:\\Games\\game.exe", kGameProgramFound},
      {"\"C:\\Quoted Dir\\q.exe", nullptr, kGameProgramNotFullPath},
      // A name that is not a full path would be found in the current directory.
      {"Online.exe", nullptr, kGameProgramNotFullPath},
      {"Online Games\\x\\x.exe", nullptr, kGameProgramNotFullPath},
      {"\"Online.exe\"", nullptr, kGameProgramNotFullPath},
      // Dots, devices, shares and streams reach past the folder that the name shows.
      {"C:\\Games\\..\\Windows\\x.exe", nullptr, kGameProgramNotFullPath},
      {"\"C:\\Games\\.\\game.exe\"", nullptr, kGameProgramNotFullPath},
      {"C:\\Games.\\game.exe", nullptr, kGameProgramNotFullPath},
      {"C:\\Games/../Windows/x.exe", nullptr, kGameProgramNotFullPath},
      {"\\\\host\\share\\x.exe", nullptr, kGameProgramNotFullPath},
      {"\"\\\\?\\C:\\Games\\game.exe\"", nullptr, kGameProgramNotFullPath},
      {"\\\\.\\C:\\Games\\game.exe", nullptr, kGameProgramNotFullPath},
      {"C:\\Games\\game.exe:s", nullptr, kGameProgramNotFullPath},
      // Arguments with dots or colons do not hide the program before them.
      {"C:\\Games\\game.exe -cfg ..\\x -host 1.2.3.4:80", "C:\\Games\\game.exe",
       kGameProgramFound},
      {"D:\\Missing\\game.exe -x", nullptr, kGameProgramMissing},
      {"\"D:\\Missing\\game\"", nullptr, kGameProgramMissing},
      {"", nullptr, kGameProgramNotFullPath},
  };
  for (const auto& c : cases) {
    program = "unchanged";
    EXPECT_EQ(ResolveGameProgram(c.command, isFile, &program), c.why) << c.command;
    EXPECT_EQ(program, c.program ? c.program : "unchanged") << c.command;
  }

  // The system's own folders, whatever the case and however the folder is written.
  EXPECT_TRUE(IsInFolder("C:\\WINDOWS\\system32\\cmd.exe", "C:\\Windows"));
  EXPECT_TRUE(IsInFolder("c:\\windows\\regedit.exe", "C:\\Windows\\"));
  EXPECT_TRUE(IsInFolder("C:\\Windows", "C:\\Windows"));
  EXPECT_FALSE(IsInFolder("C:\\Windows Games\\x.exe", "C:\\Windows"));
  EXPECT_FALSE(IsInFolder("C:\\Win", "C:\\Windows"));
  EXPECT_FALSE(IsInFolder("C:\\Games\\x.exe", ""));

  EXPECT_EQ(ProgramFolderOf("D:\\Online Games\\x\\x.exe"), "D:\\Online Games\\x");
  EXPECT_EQ(ProgramFolderOf("C:\\x.exe"), "C:\\");
  EXPECT_EQ(ProgramFolderOf("\\\\host\\share\\x.exe"), "\\\\host\\share");
}

}  // namespace
