#include "client/web/w3_parts.h"

#include <cstdio>

namespace w3 {

const char kBoundary[] = "--MULTI-PARTS-FORM-DATA-BOUNDARY";

namespace {

int DefaultPort(const std::string& scheme) {
  if (scheme == "https") return 443;
  if (scheme == "ftp") return 21;
  return 80;
}

// A decimal port from 1 to 65535, or -1.
int ParsePort(const std::string& text) {
  if (text.empty() || text.size() > 5) return -1;
  int port = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    port = port * 10 + (c - '0');
  }
  return (port >= 1 && port <= 65535) ? port : -1;
}

}  // namespace

bool SplitUrl(const std::string& url, UrlParts* parts) {
  *parts = UrlParts();
  std::string rest = url;
  size_t colon = url.find(':');
  if (colon != std::string::npos && colon + 1 < url.size() && url[colon + 1] == '/') {
    parts->scheme = url.substr(0, colon);
    // "://": the rest starts after the two slashes (or at the end of a cut-off URL).
    rest = colon + 3 < url.size() ? url.substr(colon + 3) : std::string();
  } else {
    parts->scheme = "http";
  }

  size_t hostStart = 0;
  size_t at = rest.find('@');
  if (at != std::string::npos) {
    std::string credentials = rest.substr(0, at);
    size_t split = credentials.find(':');
    parts->hasUser = true;
    if (split != std::string::npos) {
      parts->user = credentials.substr(0, split);
      parts->password = credentials.substr(split + 1);
      parts->hasPassword = true;
    } else {
      parts->user = credentials;
    }
    hostStart = at + 1;
  }

  size_t slash = rest.find('/', hostStart);
  size_t hostEnd = slash == std::string::npos ? rest.size() : slash;
  parts->path = slash == std::string::npos ? std::string("/") : rest.substr(slash);

  size_t portColon = rest.find(':', hostStart);
  if (portColon != std::string::npos && portColon < hostEnd) {
    int port = ParsePort(rest.substr(portColon + 1, hostEnd - portColon - 1));
    if (port < 0) return false;
    parts->port = port;
    hostEnd = portColon;
  } else {
    parts->port = DefaultPort(parts->scheme);
  }
  parts->host = rest.substr(hostStart, hostEnd - hostStart);
  return true;
}

int SchemeNumber(const std::string& scheme) {
  if (scheme == "https") return kSchemeHttps;
  if (scheme == "http") return kSchemeHttp;
  return kSchemeFtp;
}

std::string FormBody(const std::vector<FormField>& fields) {
  std::string body;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) body += '&';
    body += fields[i].name;
    body += '=';
    body += fields[i].value;
  }
  return body;
}

std::string MultipartBody(const std::vector<FormField>& fields, const FileReader& readFile) {
  std::string body;
  for (const FormField& f : fields) {
    body += "--";
    body += kBoundary;
    body += "\r\nContent-Disposition: form-data; name=\"";
    body += f.name;
    if (f.isFile) {
      body += "\"; filename=\"";
      body += f.value;
      body += "\"\r\n\r\n";
      std::string bytes;
      if (readFile && readFile(f.value, &bytes)) {
        body += bytes;
        body += "\r\n";
      }
    } else {
      body += "\"\r\n\r\n";
      body += f.value;
      body += "\r\n";
    }
  }
  body += "--";
  body += kBoundary;
  body += "--\r\n";
  return body;
}

std::string CookieUrl(int scheme, const std::string& host, int port, const std::string& path) {
  if (scheme != kSchemeHttp && scheme != kSchemeHttps) return std::string();
  std::string url = scheme == kSchemeHttps ? "https://" : "http://";
  url += host;
  if (port != (scheme == kSchemeHttps ? 443 : 80)) {
    char text[16];
    std::snprintf(text, sizeof text, ":%d", port);
    url += text;
  }
  url += path;
  return url;
}

}  // namespace w3
