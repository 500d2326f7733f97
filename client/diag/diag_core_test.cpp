#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

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

// An echo reply as the raw socket gives it: IPv4 header of 20 bytes, then the ICMP message.
std::vector<uint8_t> Reply(uint32_t from, uint16_t id, uint16_t seq, uint8_t type = 0) {
  std::vector<uint8_t> p(20 + kEchoRequestBytes, 0);
  p[0] = 0x45;
  p[9] = 1;
  std::memcpy(p.data() + 12, &from, 4);
  BuildEchoRequest(p.data() + 20, id, seq);
  p[20] = type;
  return p;
}

// Two lines checked together: the probes interleave on the schedule, each answer counts only
// for its own probe within its wait, and the figure is the median with the loss.
TEST(EchoRound, InterleavedProbesMatchedAnswersMedianAndLoss) {
  uint32_t a, b;
  const uint8_t aa[4] = {198, 18, 5, 1}, bb[4] = {198, 18, 5, 2};
  std::memcpy(&a, aa, 4);
  std::memcpy(&b, bb, 4);
  // Sequences start just below the wrap: they go on through it.
  CEchoRound round({a, b}, 0x4242, 65534, 1000);
  size_t t;
  uint16_t seq;
  std::vector<std::pair<size_t, uint16_t>> sent;
  auto sendDue = [&](uint32_t now) {
    while (round.NextDue(now, &t, &seq)) sent.push_back({t, seq});
  };
  sendDue(1000);
  ASSERT_EQ(sent.size(), 2u);  // the first probe of each line, at once
  EXPECT_EQ(sent[0], std::make_pair(size_t(0), uint16_t(65534)));
  EXPECT_EQ(sent[1], std::make_pair(size_t(1), uint16_t(2)));  // 65534 + 4, wrapped
  EXPECT_EQ(round.WaitMs(1000), 250u);
  sendDue(1249);
  EXPECT_EQ(sent.size(), 2u);
  EXPECT_EQ(round.WaitMs(1249), 1u);

  // Line a: answers of 30 ms, 10 ms and 20 ms; the last probe is never answered.
  auto r = Reply(a, 0x4242, 65534);
  EXPECT_TRUE(round.Receive(r.data(), r.size(), 1030));
  EXPECT_FALSE(round.Receive(r.data(), r.size(), 1031));  // the same answer twice
  sendDue(1250);
  sendDue(1500);
  sendDue(1750);
  ASSERT_EQ(sent.size(), 8u);
  EXPECT_EQ(sent[2], std::make_pair(size_t(0), uint16_t(65535)));
  EXPECT_EQ(sent[3], std::make_pair(size_t(1), uint16_t(3)));
  EXPECT_EQ(sent[7], std::make_pair(size_t(1), uint16_t(5)));
  EXPECT_FALSE(round.NextDue(5000, &t, &seq));  // four each, no more
  r = Reply(a, 0x4242, 65535);
  EXPECT_TRUE(round.Receive(r.data(), r.size(), 1260));
  r = Reply(a, 0x4242, 0);
  EXPECT_TRUE(round.Receive(r.data(), r.size(), 1520));

  // Line b answers none of its own: what comes is not an answer to it.
  const std::vector<std::vector<uint8_t>> foreign = {
      Reply(b, 0x4242, 65534),     // a's sequence from b's address
      Reply(a, 0x4242, 2),         // b's sequence from a's address
      Reply(b, 0x4243, 2),         // another program's identifier
      Reply(b, 0x4242, 2, 8),      // an echo request, not a reply
      Reply(b, 0x4242, 9),         // no probe of this round
  };
  for (const auto& f : foreign) EXPECT_FALSE(round.Receive(f.data(), f.size(), 1600));
  auto shortReply = Reply(b, 0x4242, 3);
  EXPECT_FALSE(round.Receive(shortReply.data(), 27, 1600));
  // An answer after its second: lost all the same.
  r = Reply(b, 0x4242, 3);
  EXPECT_FALSE(round.Receive(r.data(), r.size(), 1250 + 1000));
  EXPECT_FALSE(round.Finished(0, 2749));
  EXPECT_FALSE(round.AllFinished(2749));
  EXPECT_TRUE(round.Finished(0, 2750));
  EXPECT_TRUE(round.AllFinished(2750));

  EchoFigure fa = round.Figure(0);
  EXPECT_EQ(fa.answered, 3);
  EXPECT_EQ(fa.medianMs, 20);
  EXPECT_EQ(fa.LossPercent(), 25);
  EchoFigure fb = round.Figure(1);
  EXPECT_EQ(fb.answered, 0);
  EXPECT_EQ(fb.LossPercent(), 100);
}

TEST(EchoRound, EvenCountMedianAndAnUnsentProbeIsLost) {
  uint32_t a = 0x0100007F;
  CEchoRound round({a}, 7, 100, 0);
  size_t t;
  uint16_t seq;
  const uint32_t rtt[] = {40, 10, 30};
  for (int n = 0; n < kEchoProbes; ++n) {
    uint32_t at = n * kEchoIntervalMs;
    ASSERT_TRUE(round.NextDue(at, &t, &seq));
    if (n == 3) {
      round.Unsent(t, seq);
      break;
    }
    auto r = Reply(a, 7, seq);
    EXPECT_TRUE(round.Receive(r.data(), r.size(), at + rtt[n]));
  }
  EXPECT_TRUE(round.Finished(0, 750));
  EXPECT_EQ(round.Figure(0).answered, 3);
  EXPECT_EQ(round.Figure(0).medianMs, 30);
  CEchoRound two({a}, 7, 100, 0);
  ASSERT_TRUE(two.NextDue(0, &t, &seq));
  auto r = Reply(a, 7, seq);
  two.Receive(r.data(), r.size(), 15);
  two.NextDue(250, &t, &seq);
  r = Reply(a, 7, seq);
  two.Receive(r.data(), r.size(), 250 + 26);
  EXPECT_EQ(two.Figure(0).medianMs, 20);  // (15 + 26) / 2, rounded down
}

}  // namespace
