// URL splitting, request bodies and the cookie URL of the HTTP client.
#include "client/web/w3_parts.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using w3::FormField;
using w3::UrlParts;

UrlParts Split(const std::string& url) {
  UrlParts p;
  EXPECT_TRUE(w3::SplitUrl(url, &p)) << url;
  return p;
}

TEST(SplitUrl, NoPathGivesPort80AndRoot) {
  UrlParts p = Split("http://report.example.com");
  EXPECT_EQ("http", p.scheme);
  EXPECT_EQ("report.example.com", p.host);
  EXPECT_EQ(80, p.port);
  EXPECT_EQ("/", p.path);
  EXPECT_FALSE(p.hasUser);
}

TEST(SplitUrl, ExplicitPortAndPathKept) {
  UrlParts p = Split("http://127.0.0.1:8080/route.php?app_id=3");
  EXPECT_EQ("127.0.0.1", p.host);
  EXPECT_EQ(8080, p.port);
  EXPECT_EQ("/route.php?app_id=3", p.path);
}

TEST(SplitUrl, UserAndPasswordBeforeTheAtSign) {
  UrlParts p = Split("ftp://joe:s3:cret@files.example.com:2121/in/");
  EXPECT_EQ("ftp", p.scheme);
  EXPECT_TRUE(p.hasUser);
  EXPECT_TRUE(p.hasPassword);
  EXPECT_EQ("joe", p.user);
  EXPECT_EQ("s3:cret", p.password);
  EXPECT_EQ("files.example.com", p.host);
  EXPECT_EQ(2121, p.port);
  EXPECT_EQ("/in/", p.path);

  UrlParts q = Split("http://joe@host/x");
  EXPECT_TRUE(q.hasUser);
  EXPECT_FALSE(q.hasPassword);
  EXPECT_EQ("joe", q.user);
  EXPECT_EQ("host", q.host);
}

TEST(SplitUrl, DefaultPortsAndSchemeNumbers) {
  EXPECT_EQ(443, Split("https://h/p").port);
  EXPECT_EQ(21, Split("ftp://h").port);
  EXPECT_EQ(80, Split("gopher://h").port);
  EXPECT_EQ(w3::kSchemeHttps, w3::SchemeNumber("https"));
  EXPECT_EQ(w3::kSchemeHttp, w3::SchemeNumber("http"));
  EXPECT_EQ(w3::kSchemeFtp, w3::SchemeNumber("ftp"));
  EXPECT_EQ(0, w3::SchemeNumber("gopher"));
  EXPECT_EQ(0, w3::SchemeNumber("HTTP"));
}

TEST(SplitUrl, WithoutSchemeTheWholeTextIsHostAndPath) {
  UrlParts p = Split("localhost:81/a/b");
  // "localhost:81" has no "/" after its ":", so it is not a scheme.
  EXPECT_EQ("http", p.scheme);
  EXPECT_EQ("localhost", p.host);
  EXPECT_EQ(81, p.port);
  EXPECT_EQ("/a/b", p.path);
}

TEST(SplitUrl, PortThatIsNoPortNumberIsRefused) {
  UrlParts p;
  EXPECT_FALSE(w3::SplitUrl("http://h:/x", &p));
  EXPECT_FALSE(w3::SplitUrl("http://h:0/x", &p));
  EXPECT_FALSE(w3::SplitUrl("http://h:65536/x", &p));
  EXPECT_FALSE(w3::SplitUrl("http://h:80a", &p));
  EXPECT_TRUE(w3::SplitUrl("http://h:65535", &p));
  EXPECT_EQ(65535, p.port);
}

TEST(SplitUrl, CutOffUrlsStayInside) {
  UrlParts p = Split("http:/");
  EXPECT_EQ("http", p.scheme);
  EXPECT_EQ("", p.host);
  EXPECT_EQ("/", p.path);
  EXPECT_EQ("", Split("x://@").host);
}

TEST(FormBody, FieldsJoinedAsGiven) {
  EXPECT_EQ("", w3::FormBody({}));
  std::vector<FormField> fields(3);
  fields[0].name = "user";
  fields[0].value = "a%20b";
  fields[1].name = "empty";
  fields[2].name = "code";
  fields[2].value = "C0DE&x=1";
  EXPECT_EQ("user=a%20b&empty=&code=C0DE&x=1", w3::FormBody(fields));
}

class Multipart : public ::testing::Test {
 protected:
  void AddFile(const std::string& name, const std::string& path) {
    FormField f;
    f.name = name;
    f.value = path;
    f.isFile = true;
    fields_.push_back(f);
  }
  void AddPlain(const std::string& name, const std::string& value) {
    FormField f;
    f.name = name;
    f.value = value;
    fields_.push_back(f);
  }
  std::string Body() {
    return w3::MultipartBody(fields_, [this](const std::string& path, std::string* bytes) {
      auto it = files_.find(path);
      if (it == files_.end()) return false;
      *bytes = it->second;
      return true;
    });
  }
  std::vector<FormField> fields_;
  std::map<std::string, std::string> files_;
};

TEST_F(Multipart, FilePartThenPlainPartThenClosingDelimiter) {
  files_["C:\\app\\Cache\\REPORT.TXT"] = std::string("line1\r\n\0\xC4\xE3", 10);
  AddFile("upfile", "C:\\app\\Cache\\REPORT.TXT");
  AddPlain("user", "test01");
  const char kExpected[] =
      "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
      "Content-Disposition: form-data; name=\"upfile\"; "
      "filename=\"C:\\app\\Cache\\REPORT.TXT\"\r\n\r\n"
      "line1\r\n\0\xC4\xE3\r\n"
      "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
      "Content-Disposition: form-data; name=\"user\"\r\n\r\n"
      "test01\r\n"
      "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n";
  EXPECT_EQ(std::string(kExpected, sizeof kExpected - 1), Body());
}

TEST_F(Multipart, MissingFileGivesTheHeaderAlone) {
  AddFile("upfile", "C:\\gone.txt");
  AddPlain("a", "b");
  EXPECT_EQ("----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
            "Content-Disposition: form-data; name=\"upfile\"; filename=\"C:\\gone.txt\"\r\n\r\n"
            "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
            "Content-Disposition: form-data; name=\"a\"\r\n\r\nb\r\n"
            "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n",
            Body());
}

TEST_F(Multipart, LongPlainPartStaysWhole) {
  std::string big(20000, 'x');
  big[19999] = 'z';
  AddPlain("big", big);
  AddPlain("after", "1");
  std::string body = Body();
  EXPECT_NE(std::string::npos, body.find("name=\"big\"\r\n\r\n" + big + "\r\n--"));
  EXPECT_NE(std::string::npos,
            body.find("name=\"after\"\r\n\r\n1\r\n----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n"));
}

TEST_F(Multipart, NoFieldsGiveTheClosingDelimiterOnly) {
  EXPECT_EQ("----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n", Body());
}

TEST(CookieUrl, DefaultPortsLeftOut) {
  EXPECT_EQ("http://127.0.0.1/x.php", w3::CookieUrl(w3::kSchemeHttp, "127.0.0.1", 80, "/x.php"));
  EXPECT_EQ("https://h/", w3::CookieUrl(w3::kSchemeHttps, "h", 443, "/"));
  EXPECT_EQ("http://h:8080/a", w3::CookieUrl(w3::kSchemeHttp, "h", 8080, "/a"));
  EXPECT_EQ("https://h:80/a", w3::CookieUrl(w3::kSchemeHttps, "h", 80, "/a"));
  EXPECT_EQ("http://h:443/a", w3::CookieUrl(w3::kSchemeHttp, "h", 443, "/a"));
  EXPECT_EQ("", w3::CookieUrl(w3::kSchemeFtp, "h", 21, "/a"));
}

}  // namespace
