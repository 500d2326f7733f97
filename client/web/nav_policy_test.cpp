// The embedded view's address rules: which addresses it may show, and which (and in what
// form) a page may send to the user's browser.
#include "client/web/nav_policy.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(NavPolicy, TheViewShowsWebAndBlankPagesOnly) {
  for (const char* url : {"http://127.0.0.1/new_index.php", "https://example.com/a?b=c",
                          "HTTP://EXAMPLE.COM/", "Https://x", "about:blank", "ABOUT:blank",
                          "http:relative"}) {
    EXPECT_TRUE(nav::IsViewAddress(url)) << url;
  }
  for (const char* url :
       {"file:///C:/Windows/win.ini", "FILE://server/share/x.exe", "res://ieframe.dll/x.htm",
        "javascript:alert(1)", "vbscript:msgbox(1)", "mk:@MSITStore:c:\\x.chm::/a.htm",
        "ms-its:c:\\x.chm::/a.htm", "its:x", "data:text/html,<b>x</b>", "ftp://127.0.0.1/",
        "mailto:a@b", "shell:System", "\\\\server\\share\\x.htm", "C:\\Windows\\x.htm",
        "/new_index.php", " http://x/", "\thttp://x/", "http", "", "h ttp://x/",
        "httpx://x/", "http2://x/", "about", "xhttp://x/", "ht\0tp://x/"}) {
    EXPECT_FALSE(nav::IsViewAddress(url)) << url;
  }
  EXPECT_FALSE(nav::IsViewAddress(std::string("http\0://x/", 10)));
}

TEST(NavPolicy, OnlyWebAddressesGoToTheUsersBrowserAndNothingBreaksOutOfTheArgument) {
  EXPECT_EQ("http://127.0.0.1/register", nav::UserBrowserAddress("http://127.0.0.1/register"));
  EXPECT_EQ("HTTPS://x.example/a?b=1&c=%41#f",
            nav::UserBrowserAddress("HTTPS://x.example/a?b=1&c=%41#f"));
  // A quote would end the handler's "%1" and start arguments of the page's choosing.
  EXPECT_EQ("http://x/a%22%20--flag%20%22b", nav::UserBrowserAddress("http://x/a\" --flag \"b"));
  EXPECT_EQ("http://x/%3C%3E%5C%5E%60%7B%7C%7D", nav::UserBrowserAddress("http://x/<>\\^`{|}"));
  // "搜索" in GBK as the page gave it.
  EXPECT_EQ("http://x/?q=%CB%D1%CB%F7", nav::UserBrowserAddress("http://x/?q=\xcb\xd1\xcb\xf7"));
  for (const char* url : {"about:blank", "file:///C:/x.exe", "javascript:x", "ftp://x/",
                          "http:x", "http:/x", "http://", "http:///x", "http://\\x",
                          "http://?x", "http://#x", "http://x/\r\nHost: y", "http://x/\ty",
                          "http://x/\x7f", " http://x/", "mailto:x"}) {
    EXPECT_EQ("", nav::UserBrowserAddress(url)) << url;
  }
  std::string longest = "http://x/" + std::string(2048 - 9, 'a');
  EXPECT_EQ(longest, nav::UserBrowserAddress(longest));
  EXPECT_EQ("", nav::UserBrowserAddress(longest + "a"));
  // The length counts what goes out, after the encoding.
  EXPECT_EQ("", nav::UserBrowserAddress("http://x/" + std::string(1000, ' ')));
}

}  // namespace
