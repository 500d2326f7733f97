#include "netlink_routes.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace stub {
namespace nl {

namespace {

// A request: header, family header and attributes, with room to spare for the few
// attributes any request here carries.
struct Request {
  alignas(nlmsghdr) char bytes[512];
  nlmsghdr* h() { return reinterpret_cast<nlmsghdr*>(bytes); }
};

class Socket {
 public:
  Socket() {
    fd_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd_ >= 0) {
      sockaddr_nl local{};
      local.nl_family = AF_NETLINK;
      if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        close(fd_);
        fd_ = -1;
      }
    }
  }
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

void AddAttr(Request& r, unsigned short type, const void* data, size_t len) {
  size_t at = NLMSG_ALIGN(r.h()->nlmsg_len);
  if (at + RTA_SPACE(len) > sizeof r.bytes) return;  // cannot happen with the requests here
  rtattr* attr = reinterpret_cast<rtattr*>(r.bytes + at);
  attr->rta_type = type;
  attr->rta_len = static_cast<unsigned short>(RTA_LENGTH(len));
  std::memcpy(r.bytes + at + RTA_LENGTH(0), data, len);
  r.h()->nlmsg_len = static_cast<uint32_t>(at + RTA_ALIGN(attr->rta_len));
}

void AddAddrAttr(Request& r, unsigned short type, uint32_t host_order) {
  uint32_t be = htonl(host_order);
  AddAttr(r, type, &be, sizeof be);
}

int Send(int fd, nlmsghdr* h) {
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  ssize_t n = sendto(fd, h, h->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
  return n == static_cast<ssize_t>(h->nlmsg_len) ? 0 : (errno ? errno : EIO);
}

// Reads answers to seq until the acknowledgement (or the end of a dump); on_message sees
// every data message. Returns 0 or the kernel's errno.
template <typename OnMessage>
int Receive(int fd, uint32_t seq, OnMessage on_message) {
  alignas(nlmsghdr) static thread_local char buf[32768];
  for (;;) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    int len = static_cast<int>(n);
    for (nlmsghdr* h = reinterpret_cast<nlmsghdr*>(buf); NLMSG_OK(h, len); h = NLMSG_NEXT(h, len)) {
      if (h->nlmsg_seq != seq) continue;
      if (h->nlmsg_type == NLMSG_DONE) return 0;
      if (h->nlmsg_type == NLMSG_ERROR) {
        if (h->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) return EIO;
        return -static_cast<nlmsgerr*>(NLMSG_DATA(h))->error;
      }
      on_message(h);
    }
  }
}

uint32_t NextSeq() {
  static thread_local uint32_t seq = 0;
  return ++seq;
}

// One change request: sent with an acknowledgement asked for, answered by its errno.
int Transact(nlmsghdr* h) {
  Socket s;
  if (s.fd() < 0) return errno ? errno : EIO;
  h->nlmsg_flags |= NLM_F_REQUEST | NLM_F_ACK;
  h->nlmsg_seq = NextSeq();
  int rc = Send(s.fd(), h);
  if (rc != 0) return rc;
  return Receive(s.fd(), h->nlmsg_seq, [](nlmsghdr*) {});
}

uint32_t AttrAddress(const rtattr* attr) {
  uint32_t be = 0;
  if (RTA_PAYLOAD(attr) >= sizeof be) std::memcpy(&be, RTA_DATA(attr), sizeof be);
  return ntohl(be);
}

}  // namespace

int SetLinkUp(int ifindex) {
  Request r{};
  r.h()->nlmsg_len = NLMSG_LENGTH(sizeof(ifinfomsg));
  r.h()->nlmsg_type = RTM_NEWLINK;
  ifinfomsg* info = static_cast<ifinfomsg*>(NLMSG_DATA(r.h()));
  info->ifi_family = AF_UNSPEC;
  info->ifi_index = ifindex;
  info->ifi_flags = IFF_UP;
  info->ifi_change = IFF_UP;
  return Transact(r.h());
}

int AddPeerAddress(int ifindex, uint32_t local, uint32_t peer) {
  Request r{};
  r.h()->nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
  r.h()->nlmsg_type = RTM_NEWADDR;
  r.h()->nlmsg_flags = NLM_F_CREATE | NLM_F_EXCL;
  ifaddrmsg* addr = static_cast<ifaddrmsg*>(NLMSG_DATA(r.h()));
  addr->ifa_family = AF_INET;
  addr->ifa_prefixlen = 32;
  addr->ifa_scope = RT_SCOPE_UNIVERSE;
  addr->ifa_index = static_cast<unsigned>(ifindex);
  // On a point-to-point link IFA_ADDRESS is the far end and IFA_LOCAL our own.
  AddAddrAttr(r, IFA_LOCAL, local);
  AddAddrAttr(r, IFA_ADDRESS, peer);
  return Transact(r.h());
}

int AddRoute(uint32_t dest, int prefix_len, uint32_t gateway, int ifindex) {
  if (prefix_len < 0 || prefix_len > 32) return EINVAL;
  Request r{};
  r.h()->nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
  r.h()->nlmsg_type = RTM_NEWROUTE;
  // Exclusive create: a second route of the same net and mask is refused (EEXIST), since
  // the priority is always 0 there is no other route it could sit beside.
  r.h()->nlmsg_flags = NLM_F_CREATE | NLM_F_EXCL;
  rtmsg* rt = static_cast<rtmsg*>(NLMSG_DATA(r.h()));
  rt->rtm_family = AF_INET;
  rt->rtm_dst_len = static_cast<unsigned char>(prefix_len);
  rt->rtm_table = RT_TABLE_MAIN;
  rt->rtm_protocol = RTPROT_STATIC;
  rt->rtm_scope = gateway ? RT_SCOPE_UNIVERSE : RT_SCOPE_LINK;
  rt->rtm_type = RTN_UNICAST;
  if (prefix_len > 0) AddAddrAttr(r, RTA_DST, dest);
  if (gateway) AddAddrAttr(r, RTA_GATEWAY, gateway);
  uint32_t oif = static_cast<uint32_t>(ifindex);
  AddAttr(r, RTA_OIF, &oif, sizeof oif);
  return Transact(r.h());
}

int DeleteRoute(uint32_t dest, int prefix_len, uint32_t gateway, int ifindex) {
  if (prefix_len < 0 || prefix_len > 32) return EINVAL;
  Request r{};
  r.h()->nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
  r.h()->nlmsg_type = RTM_DELROUTE;
  rtmsg* rt = static_cast<rtmsg*>(NLMSG_DATA(r.h()));
  rt->rtm_family = AF_INET;
  rt->rtm_dst_len = static_cast<unsigned char>(prefix_len);
  rt->rtm_table = RT_TABLE_MAIN;
  rt->rtm_scope = RT_SCOPE_NOWHERE;  // any scope
  if (prefix_len > 0) AddAddrAttr(r, RTA_DST, dest);
  if (gateway) AddAddrAttr(r, RTA_GATEWAY, gateway);
  uint32_t oif = static_cast<uint32_t>(ifindex);
  AddAttr(r, RTA_OIF, &oif, sizeof oif);
  return Transact(r.h());
}

int DumpMainRoutes(std::vector<RouteEntry>* routes) {
  routes->clear();
  Socket s;
  if (s.fd() < 0) return errno ? errno : EIO;
  Request r{};
  r.h()->nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
  r.h()->nlmsg_type = RTM_GETROUTE;
  r.h()->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  r.h()->nlmsg_seq = NextSeq();
  static_cast<rtmsg*>(NLMSG_DATA(r.h()))->rtm_family = AF_INET;
  int rc = Send(s.fd(), r.h());
  if (rc != 0) return rc;
  return Receive(s.fd(), r.h()->nlmsg_seq, [routes](nlmsghdr* h) {
    if (h->nlmsg_type != RTM_NEWROUTE || h->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) return;
    const rtmsg* rt = static_cast<const rtmsg*>(NLMSG_DATA(h));
    if (rt->rtm_family != AF_INET) return;
    uint32_t table = rt->rtm_table;
    RouteEntry e;
    e.prefix_len = rt->rtm_dst_len;
    int len = static_cast<int>(RTM_PAYLOAD(h));
    for (const rtattr* a = RTM_RTA(rt); RTA_OK(a, len); a = RTA_NEXT(a, len)) {
      if (a->rta_type == RTA_TABLE && RTA_PAYLOAD(a) >= sizeof(uint32_t)) {
        std::memcpy(&table, RTA_DATA(a), sizeof table);
      } else if (a->rta_type == RTA_DST) {
        e.dest = AttrAddress(a);
      } else if (a->rta_type == RTA_GATEWAY) {
        e.gateway = AttrAddress(a);
      } else if (a->rta_type == RTA_OIF && RTA_PAYLOAD(a) >= sizeof(uint32_t)) {
        uint32_t oif = 0;
        std::memcpy(&oif, RTA_DATA(a), sizeof oif);
        e.ifindex = static_cast<int>(oif);
      }
    }
    if (table == RT_TABLE_MAIN) routes->push_back(e);
  });
}

int InterfaceAddresses(int ifindex, std::vector<uint32_t>* addresses) {
  addresses->clear();
  Socket s;
  if (s.fd() < 0) return errno ? errno : EIO;
  Request r{};
  r.h()->nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
  r.h()->nlmsg_type = RTM_GETADDR;
  r.h()->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  r.h()->nlmsg_seq = NextSeq();
  static_cast<ifaddrmsg*>(NLMSG_DATA(r.h()))->ifa_family = AF_INET;
  int rc = Send(s.fd(), r.h());
  if (rc != 0) return rc;
  return Receive(s.fd(), r.h()->nlmsg_seq, [addresses, ifindex](nlmsghdr* h) {
    if (h->nlmsg_type != RTM_NEWADDR || h->nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg))) return;
    const ifaddrmsg* ifa = static_cast<const ifaddrmsg*>(NLMSG_DATA(h));
    if (ifa->ifa_family != AF_INET || static_cast<int>(ifa->ifa_index) != ifindex) return;
    int len = static_cast<int>(IFA_PAYLOAD(h));
    uint32_t local = 0, address = 0;
    bool has_local = false, has_address = false;
    for (const rtattr* a = IFA_RTA(ifa); RTA_OK(a, len); a = RTA_NEXT(a, len)) {
      if (a->rta_type == IFA_LOCAL) {
        local = AttrAddress(a);
        has_local = true;
      } else if (a->rta_type == IFA_ADDRESS) {
        address = AttrAddress(a);
        has_address = true;
      }
    }
    // On a point-to-point link IFA_ADDRESS is the peer; the own address is IFA_LOCAL.
    if (has_local) {
      addresses->push_back(local);
    } else if (has_address) {
      addresses->push_back(address);
    }
  });
}

}  // namespace nl
}  // namespace stub
