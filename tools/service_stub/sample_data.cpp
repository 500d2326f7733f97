#include "sample_data.h"

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace stub {

namespace {

bool ParseInt32(const std::string& text, int32_t* value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && text[i] == '-') {
    negative = true;
    ++i;
  }
  if (i == text.size() || text.size() - i > 10) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  if (negative) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

bool ParseUint32(const std::string& text, uint32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > UINT32_MAX) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

std::vector<std::string> SplitBlanks(const std::string& line) {
  std::vector<std::string> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

}  // namespace

bool RouteFileName(const std::string& app_id, std::string* name) {
  int32_t id = 0;
  if (!ParseInt32(app_id, &id)) return false;
  *name = "route_" + std::to_string(id) + ".xml";
  return true;
}

std::vector<Account> ParseAccounts(const std::string& text) {
  std::vector<Account> accounts;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> f = SplitBlanks(line);
    if (f.empty() || f[0][0] == '#') continue;
    Account a;
    if (f.size() != 5 || !ParseInt32(f[3], &a.kind) || !ParseUint32(f[4], &a.expiry)) {
      std::fprintf(stderr, "service_stub: %s: skipping bad line: %s\n", kAccountsFile, line.c_str());
      continue;
    }
    a.user = f[0];
    a.password = f[1];
    a.login_code = f[2];
    accounts.push_back(a);
  }
  return accounts;
}

const Account* FindAccountByCode(const std::vector<Account>& accounts, const std::string& user,
                                 const std::string& login_code) {
  for (const Account& a : accounts) {
    if (a.user == user && a.login_code == login_code) return &a;
  }
  return nullptr;
}

bool SampleData::ReadFile(const std::string& name, std::string* bytes) const {
  if (!overlay_.empty() && ReadPath(overlay_ + "/" + name, bytes)) return true;
  return ReadPath(dir_ + "/" + name, bytes);
}

bool SampleData::ReadPath(const std::string& path, std::string* bytes) const {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<uint64_t>(st.st_size) > kMaxDataFile) {
    close(fd);
    return false;
  }
  std::string data;
  char buf[16384];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return false;
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
    // The file may grow while it is read; the bound holds all the same.
    if (data.size() > kMaxDataFile) {
      close(fd);
      return false;
    }
  }
  close(fd);
  bytes->swap(data);
  return true;
}

std::vector<Account> SampleData::LoadAccounts() const {
  std::string text;
  if (!ReadFile(kAccountsFile, &text)) return {};
  return ParseAccounts(text);
}

}  // namespace stub
