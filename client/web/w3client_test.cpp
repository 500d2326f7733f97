// The HTTP client against the local service stand-in: what goes over the wire, byte for
// byte, as the stand-in recorded it, and the answers read back.
#include "client/web/w3client.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "client/test_support/stub_client.h"

namespace {

using namespace testing_support;

const char kAgent[] = "accel-test";

// The stand-in's last record of a request for path.
std::string LastRecord(const std::string& path) { return LastStubRecord("path", path); }

std::string RecordBody(const std::string& line) {
  std::string body = RecordString(line, "body");
  return body == "<none>" ? std::string("<no body>") : body;
}

std::string ReadAll(W3Client& client) {
  std::string all;
  char chunk[1024];
  for (int guard = 0; guard < 10000; ++guard) {
    DWORD got = client.Response(chunk, sizeof chunk);
    if (got == 0) break;
    all.append(chunk, got);
  }
  return all;
}

TEST(W3Client, MultipartUploadSendsExactBodyAndLength) {
  std::string dir = MakeTempDir("w3");
  ASSERT_FALSE(dir.empty());
  // Longer than one read block, with a zero byte, GBK text and line breaks.
  std::string file = std::string("REPORT\r\n\0\xCD\xF8\xC2\xE7", 14);
  for (int i = 0; i < 300; ++i) file += "line " + std::to_string(i) + "\r\n";
  std::string path = dir + "\\REPORT.TXT";
  ASSERT_TRUE(WriteFileBytes(path, file));

  W3Client client;
  ASSERT_TRUE(client.Connect("http://127.0.0.1/send_report.php", NULL, NULL, kAgent))
      << client.LastFailure();
  EXPECT_EQ("/send_report.php", client.Path());
  client.AddField("upfile", path.c_str(), true);
  std::string marker = "upload-" + std::to_string(GetTickCount());
  client.AddField("user", marker.c_str(), false);
  ASSERT_TRUE(client.Request(client.Path().c_str(), W3Client::kMultipartPost, NULL))
      << client.LastFailure();
  EXPECT_EQ("OK", ReadAll(client));
  EXPECT_EQ(0u, client.Response(NULL, 0));

  std::string expected =
      "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
      "Content-Disposition: form-data; name=\"upfile\"; filename=\"" + path + "\"\r\n\r\n" +
      file + "\r\n"
      "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
      "Content-Disposition: form-data; name=\"user\"\r\n\r\n" + marker + "\r\n"
      "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n";
  std::string line = LastRecord("/send_report.php");
  EXPECT_NE(std::string::npos, line.find("\"method\":\"POST\"")) << line;
  EXPECT_EQ(expected, RecordBody(line));
  EXPECT_EQ(std::to_string(expected.size()), RecordHeader(line, "Content-Length"));
  EXPECT_EQ("multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY",
            RecordHeader(line, "Content-Type"));
}

TEST(W3Client, MultipartWithMissingFileSendsItsHeader) {
  W3Client client;
  ASSERT_TRUE(client.Connect("http://127.0.0.1/send_report.php", NULL, NULL, kAgent));
  client.AddField("upfile", "C:\\no\\such\\REPORT.TXT", true);
  ASSERT_TRUE(client.Request("/send_report.php", W3Client::kMultipartPost, NULL));
  EXPECT_EQ("OK", ReadAll(client));
  EXPECT_EQ("----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
            "Content-Disposition: form-data; name=\"upfile\"; "
            "filename=\"C:\\no\\such\\REPORT.TXT\"\r\n\r\n"
            "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n",
            RecordBody(LastRecord("/send_report.php")));
}

TEST(W3Client, FormPostSendsFieldsAsGiven) {
  W3Client client;
  ASSERT_TRUE(client.Connect("http://127.0.0.1:80/report_ip.php", NULL, NULL, kAgent));
  std::string marker = std::to_string(GetTickCount());
  client.AddField("app", "3", false);
  client.AddField("ip", ("10.0.0." + marker).c_str(), false);
  client.AddField("note", "a%20b", false);
  ASSERT_TRUE(client.Request("/report_ip.php", W3Client::kFormPost, NULL)) << client.LastFailure();
  EXPECT_EQ("OK", ReadAll(client));
  std::string line = LastRecord("/report_ip.php");
  EXPECT_EQ("app=3&ip=10.0.0." + marker + "&note=a%20b", RecordBody(line));
  EXPECT_EQ("application/x-www-form-urlencoded", RecordHeader(line, "Content-Type"));
}

TEST(W3Client, GetCarriesTheCookiesAndKeepsThePath) {
  W3Client client;
  ASSERT_TRUE(client.Connect("127.0.0.1/w3_cookie_page.php", NULL, NULL, kAgent));
  client.AddCookie("uid", "test01");
  client.AddCookie("app", "3");
  ASSERT_TRUE(client.Request("/w3_cookie_page.php?x=1", W3Client::kGet, NULL))
      << client.LastFailure();
  EXPECT_EQ("/w3_cookie_page.php?x=1", client.Path());
  std::string page = ReadAll(client);
  EXPECT_NE(std::string::npos, page.find("<li>uid=test01</li>")) << page;
  EXPECT_NE(std::string::npos, page.find("<li>app=3</li>")) << page;
}

TEST(W3Client, FailuresAreFalseAndTheObjectStaysUsable) {
  W3Client client;
  char buffer[16];
  // Nothing opened yet.
  EXPECT_FALSE(client.Request("/", W3Client::kGet, NULL));
  EXPECT_STREQ("handle not opened...", client.LastFailure());
  EXPECT_EQ(0u, client.Response(buffer, sizeof buffer));
  EXPECT_STREQ("connection failed...", client.LastFailure());

  EXPECT_FALSE(client.Connect("http://127.0.0.1:99999/", NULL, NULL, kAgent));

  ASSERT_TRUE(client.Connect("http://127.0.0.1/w3_page.php", NULL, NULL, kAgent));
  ASSERT_TRUE(client.Request("/w3_page.php", W3Client::kGet, NULL));
  // An unknown kind sends nothing and drops the answer left from before.
  EXPECT_FALSE(client.Request("/w3_page.php", 3, NULL));
  EXPECT_EQ(0u, client.Response(buffer, sizeof buffer));
  EXPECT_STREQ("connection failed...", client.LastFailure());
  EXPECT_EQ("/w3_page.php", client.Path());

  ASSERT_TRUE(client.Request("/w3_page.php", W3Client::kGet, NULL));
  EXPECT_NE(std::string::npos, ReadAll(client).find("w3_page.php"));
}

}  // namespace
