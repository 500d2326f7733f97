// The stand-in game for runs in the simulated network (test tooling, not shipped): what the
// launch offer starts in place of a game. It talks to its servers the way an online game
// does, a steady stream of UDP datagrams, so that a run can see which interface each
// destination's packets take and whether the answers come back.
//
//   netsim_game.exe <record file> <seconds> <addr>...
//
// For <seconds> it sends 20 datagrams a second to <addr>:7777 for each address, from one
// socket, each 200 bytes that name the address and a sequence number, and counts the echoes
// per address. At the end it writes "<addr> sent <n> echoed <m>", one line per address, to
// the record file: whole, through a temporary file renamed into place, so that a reader
// never sees half of it. Exit 0; 2 for bad arguments, 1 when the socket or the file fails.
//
// A GUI program without a window: no console appears over the client's window.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/dotted_address.h"
#include "common/text_format.h"

namespace {

const u_short kGamePort = 7777;
const DWORD kIntervalMs = 50;  // 20 a second
const DWORD kMaxSeconds = 3600;
const size_t kMaxAddresses = 64;
const size_t kPayloadSize = 200;
const DWORD kLastEchoWaitMs = 500;  // for the echoes of the last datagrams

struct Peer {
  std::string text;
  in_addr addr;
  unsigned long sent = 0;
  unsigned long echoed = 0;
};

bool ParseSeconds(const char* s, DWORD* out) {
  char* end = nullptr;
  unsigned long v = std::strtoul(s, &end, 10);
  if (end == s || *end != '\0' || *s == '-' || v == 0 || v > kMaxSeconds) return false;
  *out = static_cast<DWORD>(v);
  return true;
}

std::string Label(const Peer& p) { return "netsim_game " + p.text + " seq "; }

void SendRound(SOCKET s, std::vector<Peer>* peers) {
  for (Peer& p : *peers) {
    char payload[kPayloadSize];
    std::memset(payload, '.', sizeof payload);
    std::string head = Format("%s%lu ", Label(p).c_str(), p.sent + 1);
    std::memcpy(payload, head.data(), head.size() < sizeof payload ? head.size() : sizeof payload);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr = p.addr;
    to.sin_port = htons(kGamePort);
    if (sendto(s, payload, sizeof payload, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
        static_cast<int>(sizeof payload)) {
      ++p.sent;
    }
  }
}

// Takes every datagram waiting; an echo counts for the address it came from when it carries
// that address's own payload.
void Drain(SOCKET s, std::vector<Peer>* peers) {
  for (;;) {
    char buf[2048];
    sockaddr_in from = {};
    int len = sizeof from;
    int n = recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) {
      // A port-unreachable report of an earlier datagram shows up as a reset here: the
      // socket stays usable.
      if (WSAGetLastError() == WSAECONNRESET) continue;
      return;
    }
    if (n != static_cast<int>(kPayloadSize) || from.sin_port != htons(kGamePort)) continue;
    for (Peer& p : *peers) {
      std::string label = Label(p);
      if (p.addr.s_addr == from.sin_addr.s_addr &&
          std::memcmp(buf, label.data(), label.size()) == 0 && p.echoed < p.sent) {
        ++p.echoed;
        break;
      }
    }
  }
}

void WaitAndDrain(SOCKET s, std::vector<Peer>* peers, DWORD ms) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval tv = {static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
  if (select(0, &readable, nullptr, nullptr, &tv) > 0) Drain(s, peers);
}

bool WriteRecord(const std::string& path, const std::vector<Peer>& peers) {
  std::string text;
  for (const Peer& p : peers) {
    text += Format("%s sent %lu echoed %lu\n", p.text.c_str(), p.sent, p.echoed);
  }
  std::string temp = path + ".tmp";
  HANDLE f = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size();
  CloseHandle(f);
  if (!ok || !MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileA(temp.c_str());
    return false;
  }
  return true;
}

int Run(int argc, char** argv) {
  if (argc < 4 || static_cast<size_t>(argc - 3) > kMaxAddresses) {
    std::fprintf(stderr, "usage: netsim_game <record file> <seconds> <addr>...\n");
    return 2;
  }
  DWORD seconds = 0;
  if (!ParseSeconds(argv[2], &seconds)) {
    std::fprintf(stderr, "netsim_game: seconds must be 1 to %lu\n", kMaxSeconds);
    return 2;
  }
  std::vector<Peer> peers;
  for (int i = 3; i < argc; ++i) {
    Peer p;
    uint32_t addr = 0;
    if (!ParseDottedAddress(argv[i], &addr)) {
      std::fprintf(stderr, "netsim_game: not an IPv4 address: %s\n", argv[i]);
      return 2;
    }
    p.addr.s_addr = addr;
    for (const Peer& q : peers) {
      if (q.addr.s_addr == p.addr.s_addr) {
        std::fprintf(stderr, "netsim_game: address given twice: %s\n", argv[i]);
        return 2;
      }
    }
    p.text = argv[i];
    peers.push_back(p);
  }

  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 1;
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in any = {};
  any.sin_family = AF_INET;
  u_long on = 1;
  if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 ||
      ioctlsocket(s, FIONBIO, &on) != 0) {
    std::fprintf(stderr, "netsim_game: no UDP socket (%d)\n", WSAGetLastError());
    return 1;
  }

  const DWORD start = GetTickCount();
  const DWORD duration = seconds * 1000;
  DWORD next = start;  // time of the next round, as an offset would wrap with the tick count
  for (;;) {
    DWORD now = GetTickCount();
    if (now - start >= duration) break;
    if (static_cast<LONG>(now - next) >= 0) {
      SendRound(s, &peers);
      next += kIntervalMs;
      // Fallen far behind (a stalled process): go on from now rather than send a burst.
      if (static_cast<LONG>(now - next) > 1000) next = now + kIntervalMs;
    }
    DWORD wait = static_cast<LONG>(next - now) > 0 ? next - now : 0;
    if (wait > duration - (now - start)) wait = duration - (now - start);
    WaitAndDrain(s, &peers, wait);
  }
  const DWORD stop = GetTickCount();
  for (DWORD now = stop; now - stop < kLastEchoWaitMs; now = GetTickCount()) {
    WaitAndDrain(s, &peers, kLastEchoWaitMs - (now - stop));
  }
  closesocket(s);
  WSACleanup();

  if (!WriteRecord(argv[1], peers)) {
    std::fprintf(stderr, "netsim_game: cannot write %s (%lu)\n", argv[1], GetLastError());
    return 1;
  }
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return Run(__argc, __argv); }
