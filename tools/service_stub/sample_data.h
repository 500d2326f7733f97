// The stand-in's sample data: a directory of files served as they are (GBK bytes, read
// afresh for every request so that a test may change them while the stand-in runs) and the
// accounts that the dial-up check (and later the login protocol) answers for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace stub {

// Files of the data directory.
constexpr char kServersFile[] = "servers.xml";   // /servers2.0.php
constexpr char kGroupsFile[] = "groups.xml";     // /server_group.php
constexpr char kAppsFile[] = "apps.xml";         // /accel_apps.php
constexpr char kAccountsFile[] = "accounts.txt";
// Route lists are "route_<app_id>.xml", one per game (/route.php?app_id=N).

// No sample file is anywhere near this; a bigger one is refused rather than read.
constexpr size_t kMaxDataFile = 8 * 1024 * 1024;

struct Account {
  std::string user;
  std::string password;
  std::string login_code;  // the tunnel password and the pages' "&code="
  int32_t kind = 0;        // 99 paid account, anything else points account
  uint32_t expiry = 0;     // seconds since 1970-01-01 00:00 UTC
};

// The route list file for an app_id query value: plain decimal digits with an optional
// minus sign, in the range of a 32-bit integer, as the client formats it with "%d".
// Anything else (and so any path trick) gives false.
bool RouteFileName(const std::string& app_id, std::string* name);

// accounts.txt: one account a line, five fields separated by blanks or tabs: user name,
// password, login code, kind, expiry. Blank lines and lines starting with '#' are skipped,
// and so is a line whose fields are missing or whose numbers do not parse.
std::vector<Account> ParseAccounts(const std::string& text);

// The account whose user name and login code both match exactly, or null.
const Account* FindAccountByCode(const std::vector<Account>& accounts, const std::string& user,
                                 const std::string& login_code);

class SampleData {
 public:
  explicit SampleData(std::string dir) : dir_(std::move(dir)) {}

  const std::string& dir() const { return dir_; }
  // A directory whose files stand in for those of the same name (the simulated network's
  // own, whose lines are hosts behind the PC's network rather than loopback).
  void SetOverlay(std::string dir) { overlay_ = std::move(dir); }
  // The file's bytes; false when it is missing, unreadable or larger than kMaxDataFile.
  bool ReadFile(const std::string& name, std::string* bytes) const;
  std::vector<Account> LoadAccounts() const;

 private:
  bool ReadPath(const std::string& path, std::string* bytes) const;

  std::string dir_;
  std::string overlay_;
};

}  // namespace stub
