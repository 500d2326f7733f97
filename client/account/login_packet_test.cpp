// The login datagrams byte by byte: the request as the servers expect it and the answers
// they give, including answers cut short.
#include "client/account/login_packet.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(LoginPacketTest, RequestLayoutWithGbkUserName) {
  // "张三" in GBK: D5 C5 C8 FD.
  std::vector<uint8_t> got = BuildLoginRequest(0, "00E04C123456", "\xD5\xC5\xC8\xFD", "Ab1", "10.1.2.3");
  std::string expect("\x03\x01\x01"
                     "\0\0\0\0" "\0\0\0\0" "\0\0\0\0"
                     "\0\x0c" "00E04C123456"
                     "\0\x04" "\xD5\xC5\xC8\xFD"
                     "\0\x03" "Ab1"
                     "\0\x08" "10.1.2.3", 15 + 14 + 6 + 5 + 10);
  EXPECT_EQ(got, Bytes(expect));

  // An empty host id is its length alone; the request number goes little-endian.
  got = BuildLoginRequest(0x01020304, "", "u", "p", "127.0.0.1");
  ASSERT_GE(got.size(), 17u);
  EXPECT_EQ(got[3], 0x04);
  EXPECT_EQ(got[6], 0x01);
  EXPECT_EQ(got[15], 0);
  EXPECT_EQ(got[16], 0);
  EXPECT_EQ(got[17], 0);
  EXPECT_EQ(got[18], 1);
  EXPECT_EQ(got.size(), 15u + 2 + 3 + 3 + 11);
}

TEST(LoginPacketTest, WriterGrowsInWholeKilobytesWhenTheNeedReachesTheCapacity) {
  CPacketWriter w;
  EXPECT_EQ(w.Capacity(), 0u);
  w.PutByte(1);
  EXPECT_EQ(w.Capacity(), 1024u);
  std::string block(1022, 'x');
  w.PutBytes(block.data(), block.size());  // 1023 used
  EXPECT_EQ(w.Capacity(), 1024u);
  w.PutByte(2);  // 1024: reaches the capacity
  EXPECT_EQ(w.Capacity(), 2048u);
  std::string big(5000, 'y');
  w.PutBytes(big.data(), big.size());  // 6024
  EXPECT_EQ(w.Capacity(), 6144u);
  EXPECT_EQ(w.Length(), 6024u);
  EXPECT_EQ(w.Data()[1023], 2);
  EXPECT_EQ(w.Data()[6023], 'y');

  // A string too long for its 2-byte length is cut so that the length still tells the truth.
  CPacketWriter s;
  s.PutString(std::string(70000, 'z'));
  EXPECT_EQ(s.Length(), 2u + 65535u);
  EXPECT_EQ(s.Data()[0], 0xFF);
  EXPECT_EQ(s.Data()[1], 0xFF);
}

std::string Response(uint32_t result, const std::string& code, uint32_t kind, uint32_t expiry) {
  std::string r("\xAA\xBB", 2);
  for (int i = 0; i < 4; ++i) r += static_cast<char>(result >> (8 * i));
  r += std::string("\0\x03" "abc", 5);
  r += static_cast<char>(code.size() >> 8);
  r += static_cast<char>(code.size());
  r += code;
  for (int i = 0; i < 4; ++i) r += static_cast<char>(kind >> (8 * i));
  for (int i = 0; i < 4; ++i) r += static_cast<char>(expiry >> (8 * i));
  return r;
}

bool Parse(const std::string& r, LoginResponse* out) {
  return ParseLoginResponse(reinterpret_cast<const uint8_t*>(r.data()), r.size(), out);
}

TEST(LoginPacketTest, ReadsSuccessAndErrorResponses) {
  LoginResponse got;
  ASSERT_TRUE(Parse(Response(0, "CODE-1234", 99, 0xF0000001u), &got));
  EXPECT_EQ(got.result, 0u);
  EXPECT_EQ(got.loginCode, "CODE-1234");
  EXPECT_EQ(got.kind, 99u);
  EXPECT_EQ(got.expiry, 0xF0000001u);  // unsigned, past 2038
  EXPECT_STREQ(AccountKindText(got.kind), "付费用户");
  EXPECT_STREQ(AccountKindText(0), "免费积分用户");
  EXPECT_STREQ(AccountKindText(1), "免费积分用户");

  // An error code needs nothing after it.
  ASSERT_TRUE(Parse(std::string("\0\0\x07\x01\0\0", 6), &got));
  EXPECT_EQ(got.result, 0x107u);

  // The login code becomes the tunnel password on a command line: up to 256 printable ASCII
  // bytes, or the answer is no answer and leaves nothing behind.
  const std::string printable = " !~" + std::string(253, 'k');
  ASSERT_TRUE(Parse(Response(0, printable, 99, 1), &got));
  EXPECT_EQ(got.loginCode, printable);
  for (const std::string& code : {printable + "k", std::string(950, 'k'), std::string("a\tb"),
                                   std::string("a\x7F"), std::string("\xB5\xC7"),
                                   std::string("a\0b", 3)}) {
    got.result = 12345;
    EXPECT_FALSE(Parse(Response(0, code, 99, 1), &got)) << code.size();
    EXPECT_EQ(got.result, 12345u);
  }
}

TEST(LoginPacketTest, TruncatedResponsesFailWithoutReadingPastTheEnd) {
  std::string full = Response(0, "CODE", 1, 5);
  for (size_t n = 0; n < full.size(); ++n) {
    // Exact-size heap copies so that the sanitizer sees any read beyond the datagram.
    std::vector<uint8_t> cut(full.begin(), full.begin() + n);
    LoginResponse got;
    got.result = 12345;
    EXPECT_FALSE(ParseLoginResponse(cut.data(), cut.size(), &got)) << n;
    EXPECT_EQ(got.result, 12345u) << n;  // untouched
  }
  // A string length pointing past the end fails the read and moves nothing.
  const uint8_t bad[] = {0x00, 0x09, 'a', 'b'};
  CPacketReader r(bad, sizeof bad);
  std::string s;
  EXPECT_FALSE(r.GetString(&s));
  EXPECT_EQ(r.Remaining(), 4u);
  uint32_t v;
  EXPECT_TRUE(r.GetUint32(&v));
  EXPECT_EQ(v, 0x62610900u);
  EXPECT_FALSE(r.GetByte(nullptr));
}

bool UtcAsLocal(int64_t t, struct tm* out) {
  time_t tt = static_cast<time_t>(t);
#ifdef _WIN32
  return gmtime_s(out, &tt) == 0;
#else
  return gmtime_r(&tt, out) != nullptr;
#endif
}
bool Fails(int64_t, struct tm*) { return false; }

TEST(LoginPacketTest, ExpiryTextUsesTheConverter) {
  EXPECT_EQ(ExpiryText(0, UtcAsLocal), "1970-01-01 00:00");
  EXPECT_EQ(ExpiryText(1700000000u, UtcAsLocal), "2023-11-14 22:13");
  EXPECT_EQ(ExpiryText(5, Fails), "");
}

}  // namespace
