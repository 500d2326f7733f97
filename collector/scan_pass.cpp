#include "collector/scan_pass.h"

#include <cstdio>
#include <cstring>
#include <set>

std::string DottedQuad(uint32_t netOrderAddr) {
  unsigned char b[4];
  std::memcpy(b, &netOrderAddr, sizeof b);  // network order: the first byte is the first part
  char text[16];
  int n = std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return std::string(text, static_cast<size_t>(n));
}

namespace {

// A port field holds the port's two bytes in network order at its lowest address.
uint16_t PortOfField(uint32_t field) {
  unsigned char b[4];
  std::memcpy(b, &field, sizeof b);
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

}  // namespace

void FillConnectionTable(const TcpRow* rows, size_t count, ConnectionTable* table) {
  table->clear();
  // The system sorts the table by local address, so runs of one process are short; the
  // last process's list is still the most likely next target.
  std::vector<ConnectionEntry>* last = nullptr;
  uint32_t lastPid = 0;
  for (size_t i = 0; i < count; ++i) {
    const TcpRow& row = rows[i];
    if (row.state == kTcpStateListen) continue;
    ConnectionEntry entry;
    entry.localAddr = row.localAddr;
    entry.localPort = PortOfField(row.localPort);
    entry.remoteAddr = row.remoteAddr;
    entry.remotePort = PortOfField(row.remotePort);
    entry.state = row.state;
    entry.owningPid = row.owningPid;
    if (!last || lastPid != row.owningPid) {
      last = &(*table)[row.owningPid];
      lastPid = row.owningPid;
    }
    last->push_back(entry);
  }
}

void FillProcessTable(const std::vector<ProcessRecord>& records, ProcessTable* table) {
  table->clear();
  size_t n = records.size() < kMaxProcessRecords ? records.size() : kMaxProcessRecords;
  for (size_t i = 0; i < n; ++i) (*table)[records[i].pid] = records[i];
}

ReportPlan PlanReport(const ConnectionTable& connections, const ProcessTable& processes,
                      GameTable& games, ISharedAddress* shared, size_t maxQuery) {
  ReportPlan plan;
  // Addresses already in this report, per game: the marks in the game come only after the
  // service has answered the report.
  std::map<const GameEntry*, std::set<std::string>> inReport;
  bool full = false;
  for (const auto& process : processes) {
    auto game = games.find(process.second.exeFile);
    if (game == games.end()) continue;
    GameEntry& entry = game->second;
    char head[32];
    int headLen = std::snprintf(head, sizeof head, "appid=%d&ip=", static_cast<int>(entry.app_id));
    // Room for the head and the block's closing '&'; once one thing did not fit, the rest
    // waits too, so that a later pass takes them in the order they were found.
    if (plan.query.size() + static_cast<size_t>(headLen) + 1 > maxQuery) break;
    plan.query += head;
    auto conns = connections.find(process.first);
    if (conns != connections.end()) {
      std::set<std::string>& pending = inReport[&entry];
      for (const ConnectionEntry& conn : conns->second) {
        uint32_t sharedAddr = 0;
        if (shared && shared->Read(&sharedAddr) && conn.localAddr != sharedAddr) continue;
        std::string remote = DottedQuad(conn.remoteAddr);
        if (entry.reported.count(remote) || pending.count(remote)) continue;
        if (plan.query.size() + remote.size() + 2 > maxQuery) {
          full = true;
          break;
        }
        plan.query += remote;
        plan.query += ';';
        plan.notices.push_back(DetectedNotice(entry.name, remote));
        pending.insert(remote);
        plan.addresses.emplace_back(&entry, std::move(remote));
      }
    }
    plan.query += '&';
    if (full) break;
  }
  return plan;
}

uint32_t MarkReported(const ReportPlan& plan) {
  for (const auto& found : plan.addresses) {
    found.first->reported.insert(found.second);
    found.first->failedReports.erase(found.second);
  }
  return static_cast<uint32_t>(plan.addresses.size());
}

uint32_t MarkFailed(const ReportPlan& plan) {
  uint32_t givenUp = 0;
  for (const auto& found : plan.addresses) {
    GameEntry& game = *found.first;
    auto tries = game.failedReports.find(found.second);
    uint32_t failed = tries == game.failedReports.end() ? 1 : tries->second + 1;
    if (failed < kMaxReportTries) {
      game.failedReports[found.second] = failed;
      continue;
    }
    if (tries != game.failedReports.end()) game.failedReports.erase(tries);
    game.reported.insert(found.second);
    ++givenUp;
  }
  return givenUp;
}

std::string DetectedNotice(const std::string& gameName, const std::string& address) {
  return "监测到游戏：" + gameName + " 的IP：" + address + "\r\n";
}

std::string UrlNotice(const std::string& url) { return "URL= " + url + " \r\n"; }

size_t CopyNotice(const std::string& text, char* buf, size_t size) {
  if (text.size() < size) {
    std::memcpy(buf, text.data(), text.size());
    buf[text.size()] = '\0';
    return text.size();
  }
  // Too long: keep the line end, cut the rest before the first character that would not
  // fit. A GBK lead byte (0x81-0xFE) always takes its trail byte with it.
  size_t tail = text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0 ? 2 : 0;
  size_t room = size - 1 - tail;
  size_t body = text.size() - tail;
  size_t end = 0;
  while (end < body) {
    unsigned char c = static_cast<unsigned char>(text[end]);
    size_t len = (c >= 0x81 && c <= 0xFE) ? 2 : 1;
    if (end + len > room || end + len > body) break;
    end += len;
  }
  std::memcpy(buf, text.data(), end);
  std::memcpy(buf + end, text.data() + text.size() - tail, tail);
  buf[end + tail] = '\0';
  return end + tail;
}
