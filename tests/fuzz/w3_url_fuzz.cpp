// Arbitrary bytes as a URL: split it, and build the cookie URL and both bodies from the
// parts. The splitter must stay inside the text and give a path that starts with "/" and a
// port the connection can take.
#include "client/web/w3_parts.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string url(reinterpret_cast<const char*>(data), size);
  w3::UrlParts parts;
  if (!w3::SplitUrl(url, &parts)) return 0;
  if (parts.path.empty() || parts.path[0] != '/') std::abort();
  if (parts.port < 1 || parts.port > 65535) std::abort();
  if (parts.host.find('/') != std::string::npos) std::abort();
  if (parts.host.size() + parts.path.size() > url.size() + 1) std::abort();

  w3::CookieUrl(w3::SchemeNumber(parts.scheme), parts.host, parts.port, parts.path);

  std::vector<w3::FormField> fields(3);
  fields[0].name = parts.user;
  fields[0].value = parts.password;
  fields[1].name = parts.host;
  fields[1].value = parts.path;
  fields[1].isFile = true;
  fields[2].name = parts.scheme;
  fields[2].value = url;
  std::string form = w3::FormBody(fields);
  if (form.size() != parts.user.size() + parts.password.size() + parts.host.size() +
                         parts.path.size() + parts.scheme.size() + url.size() + 5)
    std::abort();
  std::string body = w3::MultipartBody(fields, [&](const std::string&, std::string* bytes) {
    if (parts.port % 2) return false;
    *bytes = url;
    return true;
  });
  if (body.size() < 38) std::abort();
  return 0;
}
