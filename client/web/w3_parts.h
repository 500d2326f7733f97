// The HTTP client's pieces that need no operating system: splitting a URL into the parts
// the connection wants, the bodies of the form and multipart POSTs, and the URL that
// cookies are set for.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace w3 {

// Scheme numbers of the connection.
enum { kSchemeFtp = 0, kSchemeHttp = 1, kSchemeHttps = 2 };

struct UrlParts {
  std::string scheme;  // "http" when the URL names none
  std::string user;
  std::string password;
  bool hasUser = false;
  bool hasPassword = false;
  std::string host;
  int port = 0;        // the URL's port, else the scheme's default
  std::string path;    // "/" when the URL has none
};

// Splits url. False only when the URL names a port that is not a number from 1 to 65535:
// a cut-off or wrapped port would connect somewhere else.
bool SplitUrl(const std::string& url, UrlParts* parts);

// "https" 2, "http" 1, "ftp" 0, and 0 for any other scheme text.
int SchemeNumber(const std::string& scheme);

struct FormField {
  std::string name;
  std::string value;  // for a file field: the path of the local file
  bool isFile = false;
};

// name=value pairs joined with "&", copied as given (the caller passes encoded text).
std::string FormBody(const std::vector<FormField>& fields);

extern const char kBoundary[];  // "--MULTI-PARTS-FORM-DATA-BOUNDARY"

// Reads the whole file at path into *bytes; false when it cannot be opened.
typedef std::function<bool(const std::string& path, std::string* bytes)> FileReader;

// The multipart body, sized exactly: the parts in the order added, then the closing
// delimiter. A file that cannot be read gives its part header alone.
std::string MultipartBody(const std::vector<FormField>& fields, const FileReader& readFile);

// "http://host[:port]path" or "https://..."; the port is left out when it is the scheme's
// default. Only schemes 1 and 2 carry cookies: other schemes give "".
std::string CookieUrl(int scheme, const std::string& host, int port, const std::string& path);

}  // namespace w3
