#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "client/diag/echo_request.h"
#include "client/diag/traffic_meter.h"

namespace {

TEST(TrafficMeter, FirstReadingOnlySetsTheBaseline) {
  TrafficMeter m;
  float up = -1, down = -1;
  EXPECT_FALSE(m.Measure(1000, 2000, 5000, &up, &down));
  EXPECT_EQ(up, -1);
  ASSERT_TRUE(m.Measure(1000 + 1000000, 2000, 6000, &up, &down));
  EXPECT_EQ(FormatTrafficText(up, down), "上传：0.0 kb，下载：8000.0 kb");
}

TEST(TrafficMeter, ReadingTooSoonChangesNothingAndTheNextSpansTheWholeInterval) {
  TrafficMeter m;
  float up = 0, down = 0;
  m.Measure(0, 0, 10000, &up, &down);
  EXPECT_FALSE(m.Measure(500, 500, 10500, &up, &down));
  ASSERT_TRUE(m.Measure(2000, 1000, 12000, &up, &down));
  // 2000 octets over 2000 ms, not 1500 over 1500.
  EXPECT_FLOAT_EQ(down, 8.0f);
  EXPECT_FLOAT_EQ(up, 4.0f);
}

TEST(TrafficMeter, WrappedCounterCountsAcrossTheWrap) {
  TrafficMeter m;
  float up = 0, down = 0;
  m.Measure(4294967290u, 7, 1, &up, &down);
  ASSERT_TRUE(m.Measure(10, 7, 1001, &up, &down));
  EXPECT_FLOAT_EQ(down, 15.0f / 1000 * 8);
  EXPECT_FLOAT_EQ(up, 0.0f);
}

TEST(TrafficMeter, CounterThatBeganAgainCountsFromZeroNotAcrossAWrap) {
  TrafficMeter m;
  float up = 0, down = 0;
  m.Measure(3000000000u, 900000, 1, &up, &down);
  // An adapter reset: no burst of about 4 GB, but what the new count holds.
  ASSERT_TRUE(m.Measure(1000, 250, 1001, &up, &down));
  EXPECT_FLOAT_EQ(down, 1000.0f / 1000 * 8);
  EXPECT_FLOAT_EQ(up, 250.0f / 1000 * 8);
}

TEST(TrafficMeter, TickCountWrapStillMeasures) {
  TrafficMeter m;
  float up = 0, down = 0;
  m.Measure(0, 0, 0xFFFFFF00u, &up, &down);
  ASSERT_TRUE(m.Measure(125, 0, 0x00000300u, &up, &down));  // 1024 ms later
  EXPECT_FLOAT_EQ(down, 125.0f / 1024 * 8);
}

TEST(EchoRequest, LayoutAndChecksum) {
  uint8_t p[kEchoRequestBytes];
  BuildEchoRequest(p, 0x1234, 0xBEEF);
  EXPECT_EQ(p[0], 8);
  EXPECT_EQ(p[1], 0);
  EXPECT_EQ(p[4], 0x12);
  EXPECT_EQ(p[5], 0x34);
  EXPECT_EQ(p[6], 0xBE);
  EXPECT_EQ(p[7], 0xEF);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(p + 8), 56),
            "01234567890123456789012345678901234567890123456789012345");
  // A packet with a right checksum sums to zero.
  EXPECT_EQ(InternetChecksum(p, sizeof p), 0);
}

TEST(EchoRequest, ChecksumOfTheRfcExample) {
  // RFC 1071's example words 0001 f203 f4f5 f6f7 sum to ddf2 before the complement.
  const uint8_t words[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
  EXPECT_EQ(InternetChecksum(words, sizeof words), static_cast<uint16_t>(~0xddf2));
  const uint8_t odd[] = {0x01};
  EXPECT_EQ(InternetChecksum(odd, 1), static_cast<uint16_t>(~0x0100));
}

TEST(EchoRequest, AnswerSenderIsReadFromTheIpHeader) {
  uint8_t ip[28] = {0x45};
  const uint8_t from[4] = {10, 8, 0, 1};
  std::memcpy(ip + 12, from, 4);
  uint32_t addr;
  std::memcpy(&addr, from, 4);
  EXPECT_TRUE(PacketFromAddress(ip, sizeof ip, addr));
  EXPECT_FALSE(PacketFromAddress(ip, 15, addr));
  uint32_t other = addr ^ 0x01000000u;
  EXPECT_FALSE(PacketFromAddress(ip, sizeof ip, other));
}

}  // namespace
