#include "common/dotted_address.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// One rule for every reader: the route lists, the simulated network's requests and the
// game's command line all take and refuse the same texts.
TEST(DottedAddress, FourDecimalPartsWithoutLeadingZerosAndNothingElse) {
  uint32_t addr = 0, host = 0;
  ASSERT_TRUE(ParseDottedAddress("192.0.2.10", &addr));
  unsigned char b[4];
  std::memcpy(b, &addr, 4);
  EXPECT_EQ(b[0], 192);
  EXPECT_EQ(b[3], 10);
  ASSERT_TRUE(ParseDottedAddressHostOrder("192.0.2.10", &host));
  EXPECT_EQ(host, 0xC000020Au);
  for (const char* good : {"0.0.0.0", "255.255.255.255", "10.0.100.9", "1.2.3.4"})
    EXPECT_TRUE(ParseDottedAddress(good, &addr)) << good;

  const std::string bad[] = {"", "1", "1.2.3", "1.2.3.4.", "1.2.3.4.5", ".1.2.3", "1..2.3",
                             "256.0.0.0", "1.2.3.1000", "01.2.3.4", "1.2.3.00", "010.0.0.1",
                             "0x7f.0.0.1", " 1.2.3.4", "1.2.3.4 ", "1.2.3.4\n", "+1.2.3.4",
                             "1.2.-3.4", "1.2.3.4x", std::string("1.2.3.4\0", 8), "１.2.3.4"};
  for (const std::string& text : bad) {
    addr = 0x5A5A5A5Au;
    EXPECT_FALSE(ParseDottedAddress(text, &addr)) << "[" << text << "]";
    EXPECT_EQ(addr, 0x5A5A5A5Au) << "[" << text << "] written on failure";
    EXPECT_FALSE(ParseDottedAddressHostOrder(text, &host)) << "[" << text << "]";
  }
}

}  // namespace
