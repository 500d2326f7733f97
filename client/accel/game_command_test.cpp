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
}

TEST(GameCommand, TheProgramIsFoundOnceAndThePlantedShorterPrefixLoses) {
  std::set<std::string> files = {"D:\\Online.exe", "D:\\Online Games\\x\\x.exe",
                                 "C:\\Games\\Run Me", "C:\\Games\\tool.exe", "Online.exe",
                                 "C:\\Quoted Dir\\q.exe", "C:\\Odd\\noext"};
  auto isFile = [&](const std::string& path) { return files.count(path) != 0; };
  std::string program;
  const struct {
    const char* command;
    const char* program;  // null: nothing to start
  } cases[] = {
      // The longest prefix wins over a planted file named by a shorter one.
      {"D:\\Online Games\\x\\x.exe -window 1", "D:\\Online Games\\x\\x.exe"},
      {"D:\\Online Games\\x\\x -window", "D:\\Online Games\\x\\x.exe"},
      {"D:\\Online Games\\x\\x.exe", "D:\\Online Games\\x\\x.exe"},
      // A file without extension is taken as written; ".exe" only when that is missing.
      {"C:\\Games\\Run Me now", "C:\\Games\\Run Me"},
      {"C:\\Games\\tool /s", "C:\\Games\\tool.exe"},
      {"C:\\Odd\\noext", "C:\\Odd\\noext"},
      // Quoted: the text inside the quotes, nothing added and nothing searched.
      {"\"C:\\Quoted Dir\\q.exe\" -a \"b c\"", "C:\\Quoted Dir\\q.exe"},
      {"\"C:\\Quoted Dir\\q\" -a", nullptr},
      {"\"C:\\Quoted Dir\\q.exe", nullptr},
      // A name that is not a full path would be found in the current directory.
      {"Online.exe", nullptr},
      {"Online Games\\x\\x.exe", nullptr},
      {"\"Online.exe\"", nullptr},
      {"D:\\Missing\\game.exe -x", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    program = "unchanged";
    bool found = ResolveGameProgram(c.command, isFile, &program);
    EXPECT_EQ(found, c.program != nullptr) << c.command;
    if (c.program) {
      EXPECT_EQ(program, c.program) << c.command;
    }
  }

  EXPECT_EQ(ProgramFolderOf("D:\\Online Games\\x\\x.exe"), "D:\\Online Games\\x");
  EXPECT_EQ(ProgramFolderOf("C:\\x.exe"), "C:\\");
  EXPECT_EQ(ProgramFolderOf("\\\\host\\share\\x.exe"), "\\\\host\\share");
}

}  // namespace
