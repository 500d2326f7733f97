// The libraries a phonebook entry would have the dial-up service load.
#include "common/phonebook_entry.h"

#include <gtest/gtest.h>

namespace {

TEST(PhonebookEntry, TheShippedEntryNamesNoLibrary) {
  EXPECT_EQ(PhonebookEntryLibrary("[VelaVPN]\r\nEncoding=1\r\nCustomDialDll=\r\nCustomDialFunc=\r\n"
                                   "CustomRasDialDll=\r\n",
                                   "VelaVPN"),
            "");
  EXPECT_EQ(PhonebookEntryLibrary("", "VelaVPN"), "");
}

TEST(PhonebookEntry, EitherKeyOfTheEntryInAnySpellingAndEncodingIsFound) {
  EXPECT_EQ(PhonebookEntryLibrary("[VelaVPN]\r\nCustomDialDll=C:\\x\\evil.dll\r\n", "VelaVPN"),
            "C:\\x\\evil.dll");
  EXPECT_EQ(PhonebookEntryLibrary("[Other]\nCustomDialDll=a.dll\n[velavpn]\n customrasdialdll = b.dll \n",
                                  "VelaVPN"),
            "b.dll");
  // A second section of the same name, after an empty key, still counts.
  EXPECT_EQ(PhonebookEntryLibrary("\xEF\xBB\xBF[VelaVPN]\nCustomDialDll=\n[VELAVPN]\nCustomDialDll=c.dll",
                                  "VelaVPN"),
            "c.dll");
  const char wide[] = "\xFF\xFE[\0V\0e\0l\0a\0V\0P\0N\0]\0\r\0\n\0C\0u\0s\0t\0o\0m\0D\0i\0a\0l\0D\0l\0l\0"
                      "=\0d\0.\0d\0l\0l\0";
  EXPECT_EQ(PhonebookEntryLibrary(std::string(wide, sizeof wide - 1), "VelaVPN"), "d.dll");
  // Other entries, comments and other keys are not the entry's libraries.
  EXPECT_EQ(PhonebookEntryLibrary("[Other]\nCustomDialDll=a.dll\n[VelaVPN]\n;CustomDialDll=x.dll\n"
                                  "CustomDialFunc=Dial\n",
                                  "VelaVPN"),
            "");
}

}  // namespace
