#include <windows.h>

#include "common/service_hosts.h"

ServiceHosts DefaultServiceHosts() {
  ServiceHosts hosts;
  hosts.client = "client.velavpn.example";
  hosts.web = "www.velavpn.example";
  hosts.forum = "bbs.velavpn.example";
  hosts.login = "login.velavpn.example";
  return hosts;
}

bool IsServiceHostName(const std::string& host) {
  if (host.empty() || host.size() > 253) return false;
  for (char c : host) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

namespace {

void ReadHost(const std::string& iniPath, const char* key, std::string& host) {
  char buf[256];
  DWORD n = GetPrivateProfileStringA("Service", key, "", buf, sizeof buf, iniPath.c_str());
  // A value that filled the buffer was cut: refuse it rather than use part of a name.
  if (n == 0 || n >= sizeof buf - 1) return;
  std::string value(buf, n);
  if (IsServiceHostName(value)) host = value;
}

}  // namespace

ServiceHosts ReadServiceHosts(const std::string& iniPath) {
  ServiceHosts hosts = DefaultServiceHosts();
  ReadHost(iniPath, "ClientHost", hosts.client);
  ReadHost(iniPath, "WebHost", hosts.web);
  ReadHost(iniPath, "ForumHost", hosts.forum);
  ReadHost(iniPath, "LoginHost", hosts.login);
  return hosts;
}
