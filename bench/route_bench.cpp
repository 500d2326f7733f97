// Applying a long route list: the client's own work against the bare reading of the file.
//
// Reference: load the list with CXmlDoc and walk every entry, reading "net" and "mask" into
// strings. Client: the same load, the route manager's walk into its entries, each entry's
// addresses checked and its row computed from the template of its kind, and the row added
// to an in-memory table standing for the system's (whose own call, about 0.3 ms a route on
// Windows, is the real cost of a long list and is left out of both sides). Each run times
// both, alternating; the ratio printed is the median of the per-run ratios.
//
// Then the route check's cost: the same job into a table that answers best-route questions
// (hashed by network and mask, as the system's is indexed), timed without and with the check
// that follows it; again the median of the per-run ratios.
//
//   route_bench [--entries N] [--runs R] [--file PATH]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "client/accel/route_rows.h"
#include "common/xml_doc.h"

namespace {

double Millis(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

bool WriteList(const char* path, int entries) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  std::fputs("<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n<data>\r\n  <remote>\r\n", f);
  int remote = entries * 3 / 4;
  for (int i = 0; i < entries; ++i) {
    if (i == remote) std::fputs("  </remote>\r\n  <direct>\r\n", f);
    // Networks a list may hold: 1 to 223 without loopback's 127.
    int first = 1 + i % 222;
    if (first >= 127) ++first;
    std::fprintf(f, "    <entry net=\"%d.%d.%d.0\" mask=\"255.255.%d.0\"/>\r\n", first,
                 (i / 222) % 256, (i * 7) % 256, i % 2 ? 255 : 252);
  }
  std::fputs("  </direct>\r\n</data>\r\n", f);
  return std::fclose(f) == 0;
}

size_t ReadSection(CXmlDoc& doc, const char* name, size_t* bytes) {
  size_t n = 0;
  if (!doc.FindNext(name) || !doc.Enter()) return 0;
  while (doc.FindNext("entry")) {
    std::string net = doc.GetAttribute("net");
    std::string mask = doc.GetAttribute("mask");
    *bytes += net.size() + mask.size();
    ++n;
  }
  doc.Leave();
  return n;
}

// Load and walk only.
size_t LoadAndWalk(const char* path, size_t* bytes) {
  CXmlDoc doc;
  if (!doc.LoadFile(path)) return 0;
  if (!doc.FindNext("data") || !doc.Enter()) return 0;
  size_t n = ReadSection(doc, "remote", bytes);
  n += ReadSection(doc, "direct", bytes);
  return n;
}

// What the route manager does with the list, the system's table replaced by one in memory
// (a vector: the reference's side of the ratio stays the bare reading). With missed, the
// route job's last step too: the tunnel's networks that the table took, then the best route
// of at most 512 of them asked and compared with the tunnel's interface.
size_t Apply(const char* path, std::vector<RouteRow>* rows, CMemoryRouteTable* table,
             size_t* missed = nullptr, double* checkMs = nullptr) {
  RouteRow tunnel, direct;
  std::memset(&tunnel, 0, sizeof tunnel);
  std::memset(&direct, 0, sizeof direct);
  tunnel.nextHop = 0x0100080A;
  tunnel.ifIndex = 9;
  direct.nextHop = 0x0101A8C0;
  direct.ifIndex = 2;
  rows->clear();
  std::vector<TunnelNet> added;
  CXmlDoc doc;
  if (!doc.LoadFile(path)) return 0;
  WalkRouteList(doc, [&](RouteKind kind, const std::string& net, const std::string& mask) {
    RouteRow row;
    std::string skipped;
    if (!RouteListRowFor(kind == kRouteTunnel ? tunnel : direct, net, mask, &row, &skipped)) return;
    if (!table) {
      rows->push_back(row);
      return;
    }
    if (table->Add(row) != 0) return;
    if (kind == kRouteTunnel) added.push_back(TunnelNet{row.dest, row.mask});
  });
  if (!table) return rows->size();
  if (!missed) return table->Rows().size();
  auto c0 = std::chrono::steady_clock::now();
  RouteCheckResult check = CheckTunnelRoutes(added, tunnel.ifIndex, [table](uint32_t dest, RouteRow* best) {
    return table->Best(dest, best);
  });
  if (checkMs) *checkMs = Millis(std::chrono::steady_clock::now() - c0);
  *missed = check.missed;
  return table->Rows().size();
}

}  // namespace

int main(int argc, char** argv) {
  int entries = 20000, runs = 21;
  std::string path = "/tmp/route_bench_list.xml";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--entries")) entries = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--runs")) runs = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--file")) path = argv[i + 1];
  }
  if (entries < 1 || runs < 1 || !WriteList(path.c_str(), entries)) {
    std::fprintf(stderr, "route_bench: cannot write %s\n", path.c_str());
    return 1;
  }
  std::vector<double> bare, client, ratios, job, checked, checkRatios, checkOnly;
  std::vector<RouteRow> table;
  table.reserve(static_cast<size_t>(entries));
  size_t bytes = 0;
  for (int r = 0; r < runs + 1; ++r) {
    auto t0 = std::chrono::steady_clock::now();
    size_t walked = LoadAndWalk(path.c_str(), &bytes);
    auto t1 = std::chrono::steady_clock::now();
    size_t added = Apply(path.c_str(), &table, nullptr);
    auto t2 = std::chrono::steady_clock::now();
    // The route job into the in-memory table, without and with the check, alternating
    // which goes first so that neither always finds the caches warm.
    size_t jobAdded = 0, checkedAdded = 0, missed = 0;
    double checkMs = 0;
    std::chrono::steady_clock::duration jobTime{}, checkedTime{};
    for (int k = 0; k < 2; ++k) {
      bool withCheck = (k == 0) == (r % 2 == 0);
      CMemoryRouteTable memory;
      auto s0 = std::chrono::steady_clock::now();
      size_t n = Apply(path.c_str(), &table, &memory, withCheck ? &missed : nullptr, &checkMs);
      auto s1 = std::chrono::steady_clock::now();
      (withCheck ? checkedAdded : jobAdded) = n;
      (withCheck ? checkedTime : jobTime) = s1 - s0;
    }
    if (walked != static_cast<size_t>(entries) || added != static_cast<size_t>(entries) ||
        jobAdded != added || checkedAdded != added || missed != 0) {
      std::fprintf(stderr, "route_bench: walked %zu, added %zu/%zu/%zu of %d, %zu missed\n", walked,
                   added, jobAdded, checkedAdded, entries, missed);
      return 1;
    }
    if (r == 0) continue;  // warm-up: the file into the page cache, the allocator primed
    bare.push_back(Millis(t1 - t0));
    client.push_back(Millis(t2 - t1));
    ratios.push_back(Millis(t2 - t1) / Millis(t1 - t0));
    job.push_back(Millis(jobTime));
    checked.push_back(Millis(checkedTime));
    checkRatios.push_back(Millis(checkedTime) / Millis(jobTime));
    checkOnly.push_back(checkMs);
  }
  double perBare = Median(bare) * 1000.0 / entries;
  double perClient = Median(client) * 1000.0 / entries;
  std::printf("route list of %d entries, %d runs (attribute bytes read in all: %zu)\n", entries, runs, bytes);
  std::printf("load and walk with CXmlDoc : %8.3f ms  %6.3f us/route\n", Median(bare), perBare);
  std::printf("client's apply, in memory  : %8.3f ms  %6.3f us/route\n", Median(client), perClient);
  std::printf("median ratio client/bare   : %.3f (target at most 1.25)\n", Median(ratios));
  std::printf("route job, in-memory table : %8.3f ms\n", Median(job));
  std::printf("route job and route check  : %8.3f ms  (%zu networks checked)\n", Median(checked),
              RouteCheckPicks(static_cast<size_t>(entries * 3 / 4)).size());
  std::printf("median ratio checked/job   : %.3f (target at most 1.10)\n", Median(checkRatios));
  // The check alone, timed inside the job: steadier than the difference of two noisy runs.
  std::printf("route check alone          : %8.3f ms  (%.1f %% of the job's median)\n",
              Median(checkOnly), 100.0 * Median(checkOnly) / Median(job));
  return 0;
}
