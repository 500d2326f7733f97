// The simulated network of a run, held by the stand-in inside the run's own network
// namespace: the PC's connection lan0 (198.18.0.2 peer 198.18.0.1, the default route) and,
// while the simulated dial-up is connected, the tunnel ppp0. Both are tun devices of this
// process, so they vanish with it. A thread reads them: every IPv4 packet is recorded and
// UDP and ICMP echo are answered back into the same device, as the game servers would.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "netsim_rules.h"

namespace stub {

constexpr uint32_t kLanAddress = 0xC6120002;  // 198.18.0.2, the PC
constexpr uint32_t kLanPeer = 0xC6120001;     // 198.18.0.1, its gateway
// The network the PC moves to: lan1, 198.18.1.2 with its gateway 198.18.1.1.
constexpr uint32_t kNewLanAddress = 0xC6120102;
constexpr uint32_t kNewLanPeer = 0xC6120101;

// True when this process's network namespace is not the initial one (that of pid 1).
// The simulated network must never create devices or routes in the host's namespace.
bool InOwnNetworkNamespace(std::string* why);

class NetSim {
 public:
  struct Answer {
    int status;
    std::string body;  // plain text
  };

  NetSim() = default;
  NetSim(const NetSim&) = delete;
  NetSim& operator=(const NetSim&) = delete;
  ~NetSim();

  // Brings lo up, creates lan0 with its address and the default route, opens the packet
  // record (none for an empty path) and starts the packet thread.
  bool Start(const std::string& packets_path, std::string* error);
  void Stop();

  // /_tunnel, /_route, /_routes and /_vpn of the pages port; query as the request carried it.
  Answer Handle(const std::string& path, const std::multimap<std::string, std::string>& query);

 private:
  struct Device {
    std::string name;
    int fd = -1;
    int ifindex = 0;
    uint32_t local = 0;
  };
  using Clock = std::chrono::steady_clock;

  Answer Tunnel(const std::multimap<std::string, std::string>& query);
  Answer Route(const std::multimap<std::string, std::string>& query);
  Answer Routes();
  Answer Lan(const std::multimap<std::string, std::string>& query);
  Answer Netem(const std::multimap<std::string, std::string>& query);
  // Writes the delayed answers that are due; the time until the next one, or -1.
  int SendDueAnswers();
  // Another VPN's interface vpn0, a PPP link: up=<local>&peer=<peer>, halves=1 for the two
  // halves of the default route, net=a.b.c.d/n (repeated) for routes to given networks;
  // down removes it and its routes.
  Answer Vpn(const std::multimap<std::string, std::string>& query);

  // Every open or close of a device happens with the packet thread parked outside poll:
  // a descriptor that a poll still waits on keeps its device alive after close, and the
  // next ppp0 could not take the name.
  template <typename Change>
  void WhilePacketThreadParked(Change change);
  void Wake();
  void ClosePpp();
  void Run();
  void ReadPackets(Device& device);
  void RecordPacket(const std::string& line);

  std::mutex mutex_;
  std::condition_variable cv_;
  int changes_waiting_ = 0;
  bool parked_ = false;
  bool stopping_ = false;
  bool drop_pending_ = false;
  Clock::time_point drop_at_;
  // newLan_: the PC's other network while the PC is moved there (/_lan?move=new); vpn_:
  // another VPN's interface (/_vpn).
  Device lan_, ppp_, newLan_, vpn_;
  int wake_fd_ = -1;
  int packets_fd_ = -1;
  uint64_t packet_seq_ = 0;
  unsigned tunnels_made_ = 0;  // ppp0, ppp1, ...: one for each connection
  std::thread thread_;
  // The answers held back by /_netem, by the time they leave and the descriptor of the device
  // they go to (those of a closed tunnel go with it).
  AnswerShaping shaping_;
  struct Delayed {
    int fd;
    std::vector<uint8_t> bytes;
  };
  std::multimap<Clock::time_point, Delayed> delayed_;
};

}  // namespace stub
