#include "netsim.h"

#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/dotted_address.h"
#include "netlink_routes.h"
#include "netsim_rules.h"
#include "request_recorder.h"

namespace stub {

namespace {

constexpr char kLanName[] = "lan0";
constexpr char kVpnName[] = "vpn0";
constexpr uint32_t kMaxDropMs = 24u * 3600 * 1000;
// Packets taken from one device per round, so that a flood on one does not starve the other
// or a waiting change.
constexpr int kPacketsPerRound = 64;

int64_t NowMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Creates a tun device of the given name held by this process (not persistent), with
// address local peer <peer>, up. Returns 0 or errno, with the step in *step. A link type
// other than -1 is set before the link comes up (the kernel takes it only while down).
int OpenTunDevice(const char* name, uint32_t local, uint32_t peer, int* fd_out, int* ifindex_out,
                  const char** step, int link_type = -1) {
  *step = "open /dev/net/tun";
  int fd = open("/dev/net/tun", O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  ifreq ifr{};
  ifr.ifr_flags = IFF_TUN | IFF_NO_PI;
  std::strncpy(ifr.ifr_name, name, IFNAMSIZ - 1);
  int rc = 0;
  int ifindex = 0;
  *step = "TUNSETIFF";
  if (ioctl(fd, TUNSETIFF, &ifr) != 0) {
    rc = errno;
  } else if (link_type >= 0 && (*step = "TUNSETLINK", ioctl(fd, TUNSETLINK, link_type) != 0)) {
    rc = errno;
  } else if ((*step = "interface index", ifindex = static_cast<int>(if_nametoindex(name))) == 0) {
    rc = errno ? errno : ENODEV;
  } else if ((*step = "address", rc = nl::AddPeerAddress(ifindex, local, peer)) == 0) {
    *step = "link up";
    rc = nl::SetLinkUp(ifindex);
  }
  if (rc != 0) {
    close(fd);
    return rc;
  }
  *fd_out = fd;
  *ifindex_out = ifindex;
  return 0;
}

bool ParseMillis(const std::string& text, uint32_t* ms) {
  if (text.empty() || text.size() > 8) return false;
  uint32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  if (v > kMaxDropMs) return false;
  *ms = v;
  return true;
}

// Namespace inode numbers from here up are handed out as namespaces are made; those below
// are the fixed numbers of the initial ones.
constexpr ino_t kFirstDynamicNsInode = 0xF0000000u;

const std::string* Param(const std::multimap<std::string, std::string>& query, const char* name) {
  auto it = query.find(name);
  return it == query.end() ? nullptr : &it->second;
}

std::string IfName(int ifindex) {
  char name[IF_NAMESIZE] = "";
  if (ifindex <= 0 || !if_indextoname(static_cast<unsigned>(ifindex), name)) return "-";
  return name;
}

// "a.b.c.d/len" in host byte order, host bits clear.
bool ParseNetwork(const std::string& text, uint32_t* dest, int* prefix_len) {
  size_t slash = text.find('/');
  if (slash == std::string::npos || slash + 1 == text.size() || text.size() - slash > 3) return false;
  int len = 0;
  for (size_t i = slash + 1; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    len = len * 10 + (text[i] - '0');
  }
  uint32_t addr = 0;
  if (len < 1 || len > 32 || !ParseDottedAddressHostOrder(text.substr(0, slash), &addr)) return false;
  uint32_t mask = len == 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> len);
  if (addr & ~mask) return false;
  *dest = addr;
  *prefix_len = len;
  return true;
}

bool KernelAtLeast(int major, int minor) {
  utsname u{};
  int have_major = 0, have_minor = 0;
  if (uname(&u) != 0 || std::sscanf(u.release, "%d.%d", &have_major, &have_minor) != 2) return false;
  return have_major > major || (have_major == major && have_minor >= minor);
}

}  // namespace

bool InOwnNetworkNamespace(std::string* why) {
  struct stat self {}, init {};
  if (stat("/proc/self/ns/net", &self) != 0) {
    *why = std::string("cannot read /proc/self/ns/net: ") + std::strerror(errno);
    return false;
  }
  if (stat("/proc/1/ns/net", &init) == 0) {
    if (self.st_dev == init.st_dev && self.st_ino == init.st_ino) {
      *why = "this is the host's network namespace (start it inside a namespace of its own, "
             "for example with /usr/bin/unshare --net)";
      return false;
    }
    return true;
  }
  // Where pid 1 is out of reach (a sandbox's init may be), the inode number tells: the
  // initial namespaces carry fixed numbers below the first one the kernel hands out, and
  // since Linux 6.18 that holds for the network namespace too. On older kernels the host's
  // namespace looks like any other, so nothing can be told and the answer is no.
  if (self.st_ino < kFirstDynamicNsInode) {
    *why = "this is the host's network namespace (start it inside a namespace of its own, "
           "for example with /usr/bin/unshare --net)";
    return false;
  }
  if (!KernelAtLeast(6, 18)) {
    *why = "cannot tell this network namespace from the host's: /proc/1/ns/net is not readable";
    return false;
  }
  return true;
}

NetSim::~NetSim() {
  Stop();
  if (lan_.fd >= 0) close(lan_.fd);
  if (ppp_.fd >= 0) close(ppp_.fd);
  if (newLan_.fd >= 0) close(newLan_.fd);
  if (vpn_.fd >= 0) close(vpn_.fd);
  if (wake_fd_ >= 0) close(wake_fd_);
  if (packets_fd_ >= 0) close(packets_fd_);
}

bool NetSim::Start(const std::string& packets_path, std::string* error) {
  wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd_ < 0) {
    *error = std::string("eventfd: ") + std::strerror(errno);
    return false;
  }
  if (!packets_path.empty()) {
    // Never through a link: the simulated network runs as root.
    packets_fd_ =
        open(packets_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (packets_fd_ < 0) {
      *error = "cannot open packet record " + packets_path + ": " + std::strerror(errno);
      return false;
    }
  }
  // A new namespace starts with lo down, and the ports are on 127.0.0.1.
  int lo = static_cast<int>(if_nametoindex("lo"));
  int rc = lo == 0 ? ENODEV : nl::SetLinkUp(lo);
  if (rc != 0) {
    *error = std::string("cannot bring lo up: ") + std::strerror(rc);
    return false;
  }
  const char* step = "";
  rc = OpenTunDevice(kLanName, kLanAddress, kLanPeer, &lan_.fd, &lan_.ifindex, &step);
  if (rc != 0) {
    *error = std::string("cannot create lan0 (") + step + "): " + std::strerror(rc);
    return false;
  }
  lan_.name = kLanName;
  lan_.local = kLanAddress;
  rc = nl::AddRoute(0, 0, kLanPeer, lan_.ifindex);
  if (rc != 0) {
    *error = std::string("cannot add the default route via 198.18.0.1: ") + std::strerror(rc);
    return false;
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

void NetSim::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    cv_.notify_all();
  }
  Wake();
  if (thread_.joinable()) thread_.join();
}

void NetSim::Wake() {
  uint64_t one = 1;
  if (wake_fd_ >= 0 && write(wake_fd_, &one, sizeof one) < 0) {
    // Already signalled to its limit: the thread wakes all the same.
  }
}

template <typename Change>
void NetSim::WhilePacketThreadParked(Change change) {
  std::unique_lock<std::mutex> lock(mutex_);
  ++changes_waiting_;
  Wake();
  cv_.wait(lock, [this] { return parked_; });
  change();
  --changes_waiting_;
  cv_.notify_all();
}

void NetSim::ClosePpp() {
  for (auto it = delayed_.begin(); it != delayed_.end();) {
    it = ppp_.fd >= 0 && it->second.fd == ppp_.fd ? delayed_.erase(it) : std::next(it);
  }
  if (ppp_.fd >= 0) close(ppp_.fd);  // the device and every route through it go with it
  ppp_ = Device();
  drop_pending_ = false;
}

NetSim::Answer NetSim::Handle(const std::string& path,
                              const std::multimap<std::string, std::string>& query) {
  if (path == "/_tunnel") return Tunnel(query);
  if (path == "/_route") return Route(query);
  if (path == "/_lan") return Lan(query);
  if (path == "/_netem") return Netem(query);
  if (path == "/_vpn") return Vpn(query);
  return Routes();
}

NetSim::Answer NetSim::Tunnel(const std::multimap<std::string, std::string>& query) {
  const std::string* up = Param(query, "up");
  const std::string* down = Param(query, "down");
  if ((up == nullptr) == (down == nullptr)) {
    return {500, "ERROR need up=<client>&server=<server> or down=<client>\n"};
  }
  uint32_t client = 0;
  if (!ParseDottedAddressHostOrder(up ? *up : *down, &client)) return {500, "ERROR bad client address\n"};
  if (down) {
    WhilePacketThreadParked([&] {
      if (ppp_.fd >= 0 && ppp_.local == client) ClosePpp();
    });
    return {200, "OK"};
  }
  const std::string* server_text = Param(query, "server");
  uint32_t server = 0;
  if (!server_text || !ParseDottedAddressHostOrder(*server_text, &server)) {
    return {500, "ERROR bad server address\n"};
  }
  const std::string* drop_text = Param(query, "drop_ms");
  uint32_t drop_ms = 0;
  if (drop_text && !ParseMillis(*drop_text, &drop_ms)) return {500, "ERROR bad drop_ms\n"};
  Answer answer{200, "OK"};
  WhilePacketThreadParked([&] {
    ClosePpp();
    const char* step = "";
    int fd = -1, ifindex = 0;
    // Each connection gets an interface of its own, as on Windows, under a new name: Wine
    // keeps the index it first saw for a name, and would hand the route job the index of
    // the last connection's interface.
    std::string name = "ppp" + std::to_string(tunnels_made_);
    int rc = OpenTunDevice(name.c_str(), client, server, &fd, &ifindex, &step);
    if (rc != 0) {
      answer = {500, std::string("ERROR ") + step + ": " + std::strerror(rc) + "\n"};
      return;
    }
    ++tunnels_made_;
    ppp_.name = name;
    ppp_.fd = fd;
    ppp_.ifindex = ifindex;
    ppp_.local = client;
    if (drop_text) {
      drop_pending_ = true;
      drop_at_ = Clock::now() + std::chrono::milliseconds(drop_ms);
    }
  });
  return answer;
}

NetSim::Answer NetSim::Vpn(const std::multimap<std::string, std::string>& query) {
  const std::string* up = Param(query, "up");
  if (!up) {
    if (!Param(query, "down")) return {500, "ERROR need up=<local>&peer=<peer>[&halves=1][&net=a.b.c.d/n]... or down\n"};
    WhilePacketThreadParked([&] {
      if (vpn_.fd >= 0) close(vpn_.fd);  // its routes go with it
      vpn_ = Device();
    });
    return {200, "OK"};
  }
  uint32_t local = 0, peer = 0;
  const std::string* peer_text = Param(query, "peer");
  if (!ParseDottedAddressHostOrder(*up, &local) || !peer_text ||
      !ParseDottedAddressHostOrder(*peer_text, &peer)) {
    return {500, "ERROR bad local or peer address\n"};
  }
  struct Net {
    uint32_t dest;
    int len;
  };
  std::vector<Net> nets;
  const std::string* halves = Param(query, "halves");
  if (halves && *halves == "1") nets = {{0, 1}, {0x80000000u, 1}};
  auto range = query.equal_range("net");
  for (auto it = range.first; it != range.second; ++it) {
    Net n{};
    if (!ParseNetwork(it->second, &n.dest, &n.len)) return {500, "ERROR bad net " + it->second.substr(0, 40) + "\n"};
    nets.push_back(n);
  }
  Answer answer{200, "OK"};
  WhilePacketThreadParked([&] {
    if (vpn_.fd >= 0) {
      answer = {500, "ERROR vpn0 is up already\n"};
      return;
    }
    const char* step = "";
    int fd = -1, ifindex = 0;
    // A PPP link, so that Wine reports the interface as a dial-up one (type 23).
    int rc = OpenTunDevice(kVpnName, local, peer, &fd, &ifindex, &step, ARPHRD_PPP);
    if (rc != 0) {
      answer = {500, std::string("ERROR ") + step + ": " + std::strerror(rc) + "\n"};
      return;
    }
    vpn_.name = kVpnName;
    vpn_.fd = fd;
    vpn_.ifindex = ifindex;
    vpn_.local = local;
    for (const Net& n : nets) {
      rc = nl::AddRoute(n.dest, n.len, 0, ifindex);
      if (rc != 0) {
        answer = {500, "ERROR route " + FormatAddress(n.dest) + "/" + std::to_string(n.len) + ": " +
                           std::strerror(rc) + "\n"};
        return;
      }
    }
  });
  return answer;
}

NetSim::Answer NetSim::Route(const std::multimap<std::string, std::string>& query) {
  RoutePlan plan = PlanForwardEntry(query, [](int ifindex, std::vector<uint32_t>* addresses) {
    if (IfName(ifindex) == "-") return false;
    nl::InterfaceAddresses(ifindex, addresses);
    return true;
  });
  if (plan.code != kWinOk) return {200, std::to_string(plan.code)};
  int rc = nl::AddRoute(plan.dest, plan.prefix_len, plan.gateway, plan.ifindex);
  return {200, std::to_string(WindowsCodeForRouteErrno(rc))};
}

// The PC moves to another network and back. lan1 comes up with the default route, and every
// route of lan0 goes, as when its adapter is unplugged; lan0 itself stays, without routes,
// because Wine keeps the index it first saw for a name and a new lan0 would be handed to
// later scenarios under the old one. Back: lan1 goes with its routes, the default route
// returns to lan0 (what the client pinned there comes back with its next connection).
NetSim::Answer NetSim::Lan(const std::multimap<std::string, std::string>& query) {
  const std::string* move = Param(query, "move");
  if (!move || (*move != "new" && *move != "back")) return {500, "ERROR need move=new or move=back\n"};
  Answer answer{200, "OK"};
  WhilePacketThreadParked([&] {
    if (*move == "back") {
      if (newLan_.fd >= 0) close(newLan_.fd);
      newLan_ = Device();
      int rc = nl::AddRoute(0, 0, kLanPeer, lan_.ifindex);
      if (rc != 0 && rc != EEXIST) answer = {500, std::string("ERROR ") + std::strerror(rc) + "\n"};
      return;
    }
    if (newLan_.fd >= 0) return;
    const char* step = "";
    int rc = OpenTunDevice("lan1", kNewLanAddress, kNewLanPeer, &newLan_.fd, &newLan_.ifindex, &step);
    if (rc != 0) {
      answer = {500, std::string("ERROR ") + step + ": " + std::strerror(rc) + "\n"};
      return;
    }
    newLan_.name = "lan1";
    newLan_.local = kNewLanAddress;
    std::vector<nl::RouteEntry> routes;
    nl::DumpMainRoutes(&routes);
    for (const nl::RouteEntry& r : routes) {
      // The kernel's own route to the peer stays with the address.
      if (r.ifindex == lan_.ifindex && !(r.gateway == 0 && r.prefix_len == 32 && r.dest == kLanPeer))
        nl::DeleteRoute(r.dest, r.prefix_len, r.gateway, r.ifindex);
    }
    rc = nl::AddRoute(0, 0, kNewLanPeer, newLan_.ifindex);
    if (rc != 0) answer = {500, std::string("ERROR default route: ") + std::strerror(rc) + "\n"};
  });
  return answer;
}

NetSim::Answer NetSim::Routes() {
  std::vector<nl::RouteEntry> routes;
  int rc = nl::DumpMainRoutes(&routes);
  if (rc != 0) return {500, std::string("ERROR ") + std::strerror(rc) + "\n"};
  std::string body;
  for (const nl::RouteEntry& r : routes) {
    body += FormatAddress(r.dest) + "/" + std::to_string(r.prefix_len) + " " +
            FormatAddress(r.gateway) + " " + IfName(r.ifindex) + "\n";
  }
  return {200, body};
}

NetSim::Answer NetSim::Netem(const std::multimap<std::string, std::string>& query) {
  std::string error;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!shaping_.Set(query, &error)) return {500, "ERROR " + error + "\n"};
  return {200, "OK"};
}

int NetSim::SendDueAnswers() {
  Clock::time_point now = Clock::now();
  while (!delayed_.empty() && delayed_.begin()->first <= now) {
    const Delayed& d = delayed_.begin()->second;
    bool open = d.fd == lan_.fd || d.fd == ppp_.fd || d.fd == newLan_.fd || d.fd == vpn_.fd;
    if (open && write(d.fd, d.bytes.data(), d.bytes.size()) < 0) {
      // A full queue drops the answer, as a congested line would.
    }
    delayed_.erase(delayed_.begin());
  }
  if (delayed_.empty()) return -1;
  return static_cast<int>(
             std::chrono::duration_cast<std::chrono::milliseconds>(delayed_.begin()->first - now).count()) +
         1;
}

void NetSim::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (changes_waiting_ > 0) {
      parked_ = true;
      cv_.notify_all();
      cv_.wait(lock, [this] { return changes_waiting_ == 0 || stopping_; });
      parked_ = false;
      continue;
    }
    int timeout = -1;
    if (drop_pending_) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(drop_at_ - Clock::now()).count();
      if (left <= 0) {
        ClosePpp();  // the dropped line: gone without a hang-up
        continue;
      }
      timeout = static_cast<int>(left) + 1;
    }
    int answers_in = SendDueAnswers();
    if (answers_in >= 0 && (timeout < 0 || answers_in < timeout)) timeout = answers_in;
    // A closed device's slot has fd -1, which poll passes over: the tunnel, the other
    // network and the other VPN come and go.
    pollfd fds[5] = {{wake_fd_, POLLIN, 0}, {lan_.fd, POLLIN, 0}, {ppp_.fd, POLLIN, 0},
                     {newLan_.fd, POLLIN, 0}, {vpn_.fd, POLLIN, 0}};
    nfds_t count = 5;
    lock.unlock();
    int n = poll(fds, count, timeout);
    lock.lock();
    if (n <= 0) continue;
    if (fds[0].revents) {
      uint64_t drained;
      if (read(wake_fd_, &drained, sizeof drained) < 0) {
        // Nothing to drain: another wake took it.
      }
    }
    // Devices change only while this thread is parked, so the descriptors polled are
    // still the ones open.
    if (fds[1].revents & POLLIN) ReadPackets(lan_);
    if (ppp_.fd >= 0 && (fds[2].revents & POLLIN)) ReadPackets(ppp_);
    if (newLan_.fd >= 0 && (fds[3].revents & POLLIN)) ReadPackets(newLan_);
    if (vpn_.fd >= 0 && (fds[4].revents & POLLIN)) ReadPackets(vpn_);
  }
  // From here on changes go ahead without this thread.
  parked_ = true;
  cv_.notify_all();
}

void NetSim::ReadPackets(Device& device) {
  static uint8_t buf[65536];
  std::vector<uint8_t> answer;
  for (int i = 0; i < kPacketsPerRound; ++i) {
    ssize_t n = read(device.fd, buf, sizeof buf);
    if (n < 0) return;  // EAGAIN: all read; anything else: the next poll tells
    PacketInfo info = ReadPacket(buf, static_cast<size_t>(n));
    if (!info.ipv4) continue;
    RecordPacket(FormatPacketLine(info, ++packet_seq_, FormatRecordTime(NowMillis()), device.name));
    if (!BuildEchoAnswer(buf, static_cast<size_t>(n), &answer)) continue;
    uint32_t delay_ms = 0;
    if (!shaping_.Pass(info.dst, &delay_ms)) continue;
    if (delay_ms > 0) {
      delayed_.insert({Clock::now() + std::chrono::milliseconds(delay_ms), Delayed{device.fd, answer}});
    } else if (write(device.fd, answer.data(), answer.size()) < 0) {
      // A full queue drops the answer, as a congested line would.
    }
  }
}

void NetSim::RecordPacket(const std::string& line) {
  if (packets_fd_ < 0) return;
  std::string text = line + "\n";
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(packets_fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace stub
