// The route manager's logic that needs no operating system: which default route becomes the
// former default route, how a route row is built from its template, the texts written for a
// failed addition, the networks of a route list and the table dump lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

class CXmlDoc;

// One forwarding row, field for field as MIB_IPFORWARDROW lays it out (addresses in
// network byte order).
struct RouteRow {
  uint32_t dest;
  uint32_t mask;
  uint32_t policy;
  uint32_t nextHop;
  uint32_t ifIndex;
  uint32_t type;
  uint32_t proto;
  uint32_t age;
  uint32_t nextHopAS;
  uint32_t metric1;
  uint32_t metric2;
  uint32_t metric3;
  uint32_t metric4;
  uint32_t metric5;
};
static_assert(sizeof(RouteRow) == 14 * 4, "RouteRow mirrors the 14 fields of the system's row");

const uint32_t kIfTypePpp = 23;
const uint32_t kRouteTypeIndirect = 3;
const uint32_t kRouteProtoNetMgmt = 3;

// Dotted text of an address in network byte order, as inet_ntoa writes it.
std::string DottedAddress(uint32_t addr);

// Reads the interface type of an interface index; false when the interface cannot be read.
typedef std::function<bool(uint32_t ifIndex, uint32_t* ifType)> IfTypeReader;

struct DefaultRouteChoice {
  int index = -1;                // row taken last; -1 when none
  uint32_t ifType = 0;           // its interface type
  std::vector<std::string> log;  // run-log lines, in order
};

// Walks the rows in table order. The last default route on a PPP interface wins; without
// one, the first default route whose interface can be read.
DefaultRouteChoice ChooseDefaultRoute(const std::vector<RouteRow>& rows, const IfTypeReader& ifType);

// The row to add for net / mask (network byte order): next hop, interface and metrics of
// the template, destination without host part, an indirect route of network management.
RouteRow BuildRouteRow(const RouteRow& tmpl, uint32_t net, uint32_t mask);

// The run-log line for a failed route addition.
std::string RouteErrorText(uint32_t code);

// The row to add for a network given as texts; false, and nothing to add, when net or mask
// is not a dotted address (a missing attribute reads as ""): such an entry would route a
// network nobody listed, all ones or the whole Internet. A mask that is not contiguous is
// still a mask.
bool RouteRowFor(const RouteRow& tmpl, const std::string& net, const std::string& mask,
                 RouteRow* row);

// The run-log line naming an entry that was skipped for not being an address; the texts
// come from a downloaded file and are cut short, control bytes shown as '?'.
std::string BadRouteEntryText(const std::string& net, const std::string& mask);

// What one list's tunnel entries may take. Together they cover at most kMaxTunnelAddresses
// addresses: a couple of hundred /8s are the whole Internet, and the PC's traffic would all
// go through the tunnel. None may hold an address that must stay outside the tunnel: the
// line's server (the tunnel would carry itself), the former default gateway or the PC's own
// address (the PC would be cut off from its network).
const uint64_t kMaxTunnelAddresses = uint64_t(1) << 26;

struct TunnelKeepOut {
  uint32_t addr;     // network byte order
  const char* what;  // the run log's name for it
};

enum TunnelEntryVerdict {
  kTunnelEntryTaken,    // add it (also one that is no address: BadRouteEntryText names it)
  kTunnelEntryRefused,  // it holds a kept-out address
  kTunnelEntryLeft,     // past the limit; so is every tunnel entry after it
};

class CTunnelEntryGuard {
 public:
  explicit CTunnelEntryGuard(const std::vector<TunnelKeepOut>& keepOut) : m_keepOut(keepOut) {}
  // The verdict on the next tunnel entry of the list, counting what is taken. *logLine is
  // set for a refusal and for the first entry left; "" otherwise.
  TunnelEntryVerdict Check(const std::string& net, const std::string& mask, std::string* logLine);

 private:
  std::vector<TunnelKeepOut> m_keepOut;
  uint64_t m_covered = 0;
  bool m_full = false;
};

// An entry of a downloaded route list, its texts parsed once: true with the row to add, or
// false with the run-log line that says why it is skipped: BadRouteEntryText for texts that
// are no network, or a line naming a network that is never routed. Never routed: a mask of
// fewer than 8 leading one bits (0.0.0.0/0, or its two halves, would send all traffic
// through the tunnel), or a destination inside 0.0.0.0/8, 127.0.0.0/8 or 224.0.0.0/3 (this
// host, loopback, multicast and reserved).
bool RouteListRowFor(const RouteRow& tmpl, const std::string& net, const std::string& mask,
                     RouteRow* row, std::string* skipped);

// The first row whose next hop is the tunnel's client address; -1 when none. An address
// that no tunnel has (not dotted, 0.0.0.0 when the module did not learn it, or all ones)
// matches nothing: 0.0.0.0 is the next hop of every on-link row, and the game's networks
// would be routed to that interface until the next reboot. *refusal then holds the
// run-log line that says so; it is left alone otherwise.
int FindTunnelRow(const std::vector<RouteRow>& rows, const std::string& tunnelIp,
                  std::string* refusal);

enum RouteKind { kRouteTunnel, kRouteDirect };

struct RouteEntry {
  RouteKind kind;
  std::string net;   // texts as the list holds them; a missing attribute is ""
  std::string mask;
};

// The networks of a loaded route list: the tunnel ones under data/remote, then the direct
// ones under the data/direct that follows it.
std::vector<RouteEntry> ReadRouteList(CXmlDoc& doc);
// The same networks handed one by one to visit, in the same order, without collecting
// them first: a list can hold tens of thousands. At most kMaxRouteEntries of one list are
// handed on, remote and direct together: every route stays until the next reboot, and a
// list of millions would flood the table. Returns false when entries were left for that.
const size_t kMaxRouteEntries = 65536;
typedef std::function<void(RouteKind kind, const std::string& net, const std::string& mask)>
    RouteVisitor;
bool WalkRouteList(CXmlDoc& doc, const RouteVisitor& visit);
// The run-log line for a list whose entries beyond kMaxRouteEntries were left.
std::string RouteListCutText();

// The dump of the table: a heading, then one line per row in table order.
std::vector<std::string> RouteDumpLines(const std::vector<RouteRow>& rows);

// The system's choice of route for one address, as the client's checks see it: the longest
// prefix that holds it, the lowest first metric between equals, then the earlier row. Kept
// in memory for the tests and the benchmark; rows with a mask that is not contiguous are
// looked at one by one.
class CMemoryRouteTable {
 public:
  // ERROR_OBJECT_ALREADY_EXISTS (5010) when a row to the same network and mask is there,
  // whatever its next hop; 0 once added.
  uint32_t Add(const RouteRow& row);
  // False when no row holds dest.
  bool Best(uint32_t dest, RouteRow* best) const;
  // The row to exactly this network and mask; null when none.
  const RouteRow* Find(uint32_t dest, uint32_t mask) const;
  const std::vector<RouteRow>& Rows() const { return m_rows; }

 private:
  std::vector<RouteRow> m_rows;
  // Keyed by mask and network; the contiguous masks in use, longest first.
  std::unordered_map<uint64_t, size_t> m_index;  // one row per network and mask
  std::vector<uint32_t> m_masks;
  std::vector<size_t> m_odd;  // rows whose mask is not contiguous
};

// The check of the game's routes after the route job. The networks looked at: every tunnel
// network of the list up to kRouteCheckMax, beyond that kRouteCheckMax spread evenly over
// the list (the first always among them). Each one's first address must be routed through
// the tunnel's interface.
const size_t kRouteCheckMax = 512;
std::vector<size_t> RouteCheckPicks(size_t count);

struct TunnelNet {
  uint32_t dest;  // network byte order, host part cleared
  uint32_t mask;
};
// Reads the system's best route to an address; false when it has none.
typedef std::function<bool(uint32_t dest, RouteRow* best)> BestRouteReader;

struct RouteCheckResult {
  size_t checked = 0;
  size_t missed = 0;             // networks whose traffic leaves elsewhere
  std::vector<std::string> log;  // at most kRouteCheckLines lines, then one with the count
};
const size_t kRouteCheckLines = 10;
RouteCheckResult CheckTunnelRoutes(const std::vector<TunnelNet>& nets, uint32_t tunnelIfIndex,
                                   const BestRouteReader& best);

// The run-log line for a tunnel network that the table has already, through another
// interface: its traffic does not go through the tunnel.
std::string RouteOwnedElsewhereText(const TunnelNet& net, const RouteRow& owner);

// Another interface that holds the two halves of the default route (0.0.0.0/1 and
// 128.0.0.0/1): a VPN that takes all traffic without touching the default route. The
// tunnel's own interface is left out. 0 when there is none, its interface index otherwise.
uint32_t FindDefaultHalves(const std::vector<RouteRow>& rows, uint32_t tunnelIfIndex);
// Whether a dial-up connection's device type (RASCONN's szDeviceType) is a VPN's: "vpn" in
// any case. PPPoE, modems and ISDN are the PC's own lines.
bool IsVpnDeviceType(const std::string& deviceType);
// The run-log lines that name another VPN.
std::string OtherVpnHalvesText(uint32_t ifIndex);
std::string OtherVpnDialUpText(uint32_t ifIndex, const std::string& deviceType);
// The run-log line for a DNS server left unpinned: its route leaves through another interface
// than the former default route's, most likely a VPN's own server.
std::string DnsNotPinnedText(const std::string& server, const RouteRow& best);
