// Applying a long route list: the client's own work against the bare reading of the file.
//
// Reference: load the list with CXmlDoc and walk every entry, reading "net" and "mask" into
// strings. Client: the same load, the route manager's walk into its entries, each entry's
// addresses checked and its row computed from the template of its kind, and the row added
// to an in-memory table standing for the system's (whose own call, about 0.3 ms a route on
// Windows, is the real cost of a long list and is left out of both sides). Each run times
// both, alternating; the ratio printed is the median of the per-run ratios.
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

// What the route manager does with the list, the system's table replaced by a vector.
size_t Apply(const char* path, std::vector<RouteRow>* table) {
  RouteRow tunnel, direct;
  std::memset(&tunnel, 0, sizeof tunnel);
  std::memset(&direct, 0, sizeof direct);
  tunnel.nextHop = 0x0100080A;
  direct.nextHop = 0x0101A8C0;
  table->clear();
  CXmlDoc doc;
  if (!doc.LoadFile(path)) return 0;
  WalkRouteList(doc, [&](RouteKind kind, const std::string& net, const std::string& mask) {
    RouteRow row;
    std::string skipped;
    if (RouteListRowFor(kind == kRouteTunnel ? tunnel : direct, net, mask, &row, &skipped))
      table->push_back(row);
  });
  return table->size();
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
  std::vector<double> bare, client, ratios;
  std::vector<RouteRow> table;
  table.reserve(static_cast<size_t>(entries));
  size_t bytes = 0;
  for (int r = 0; r < runs + 1; ++r) {
    auto t0 = std::chrono::steady_clock::now();
    size_t walked = LoadAndWalk(path.c_str(), &bytes);
    auto t1 = std::chrono::steady_clock::now();
    size_t added = Apply(path.c_str(), &table);
    auto t2 = std::chrono::steady_clock::now();
    if (walked != static_cast<size_t>(entries) || added != static_cast<size_t>(entries)) {
      std::fprintf(stderr, "route_bench: walked %zu, added %zu of %d\n", walked, added, entries);
      return 1;
    }
    if (r == 0) continue;  // warm-up: the file into the page cache, the allocator primed
    bare.push_back(Millis(t1 - t0));
    client.push_back(Millis(t2 - t1));
    ratios.push_back(Millis(t2 - t1) / Millis(t1 - t0));
  }
  double perBare = Median(bare) * 1000.0 / entries;
  double perClient = Median(client) * 1000.0 / entries;
  std::printf("route list of %d entries, %d runs (attribute bytes read in all: %zu)\n", entries, runs, bytes);
  std::printf("load and walk with CXmlDoc : %8.3f ms  %6.3f us/route\n", Median(bare), perBare);
  std::printf("client's apply, in memory  : %8.3f ms  %6.3f us/route\n", Median(client), perClient);
  std::printf("median ratio client/bare   : %.3f (target at most 1.25)\n", Median(ratios));
  return 0;
}
