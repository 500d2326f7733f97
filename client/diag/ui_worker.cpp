#include "client/diag/ui_worker.h"

#include <winsock2.h>
#include <iphlpapi.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "client/account/config_store.h"
#include "client/account/login_socket.h"
#include "client/account/sync_socket.h"
#include "client/diag/diag_report.h"
#include "client/diag/echo_request.h"
#include "common/run_log.h"
#include "common/text_format.h"

namespace {

// Owned by the worker and overwritten by the next measurement; the page copies it when the
// message arrives.
char g_szTrafficText[64];

void Answer(LPARAM window, UINT message, WPARAM wParam, LPARAM lParam) {
  PostMessageA(reinterpret_cast<HWND>(window), message, wParam, lParam);
}

class CSocketEchoReceive : public IEchoReceive {
 public:
  int Receive(CSyncSocket& socket, char* buffer, int size, int timeoutMs) override {
    return socket.Receive(buffer, size, 0, timeoutMs);
  }
};

CSocketEchoReceive g_socketReceive;
IEchoReceive* g_echoReceive = &g_socketReceive;

// The line's host as an address in network byte order; INADDR_NONE when it does not resolve.
unsigned long ResolveHost(const std::string& host) {
  unsigned long addr = inet_addr(host.c_str());
  if (addr != INADDR_NONE) return addr;
  hostent* he = gethostbyname(host.c_str());
  if (!he || he->h_length != 4 || !he->h_addr_list[0]) return INADDR_NONE;
  std::memcpy(&addr, he->h_addr_list[0], 4);
  return addr;
}

// Milliseconds of the performance counter: finer than the tick count's 10 to 16 ms.
uint32_t NowMs() {
  LARGE_INTEGER frequency, now;
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart < 1000 ||
      !QueryPerformanceCounter(&now)) {
    return GetTickCount();
  }
  return static_cast<uint32_t>(now.QuadPart / (frequency.QuadPart / 1000));
}

}  // namespace

void SetEchoReceive(IEchoReceive* receive) {
  g_echoReceive = receive ? receive : &g_socketReceive;
}

CUiThread* StartUiWorker(CConfigStore* store) {
  CUiWorker* worker = new CUiWorker(store);
  if (!worker->CreateThread(THREAD_PRIORITY_NORMAL)) {
    delete worker;
    return nullptr;
  }
  return worker;
}

BEGIN_THREAD_MESSAGE_MAP(CUiWorker)
ON_THREAD_MESSAGE(WM_WORKER_TICK, &CUiWorker::OnTick)
ON_THREAD_MESSAGE(WM_WORKER_PING, &CUiWorker::OnPing)
ON_THREAD_MESSAGE(WM_WORKER_APPLY_ROUTES, &CUiWorker::OnApplyRoutes)
ON_THREAD_MESSAGE(WM_WORKER_CONNECT, &CUiWorker::OnConnect)
ON_THREAD_MESSAGE(WM_WORKER_REPORT, &CUiWorker::OnReport)
END_THREAD_MESSAGE_MAP(CUiWorker)

CUiWorker::CUiWorker(CConfigStore* store) : m_store(store), m_routes(store) {}

const char* CUiWorker::GetRuntimeClassName() const { return "CUiWorker"; }

CUiWorker::~CUiWorker() {}

BOOL CUiWorker::InitInstance() {
  // Before any tunnel exists, so that the default route found is the former one; the DNS
  // servers keep answering through it once the tunnel is up.
  m_routes.StartUp();
  return TRUE;
}

int CUiWorker::ExitInstance() {
  // The store saves only what it has loaded.
  m_store->SaveSettings();
  return 0;
}

void CUiWorker::OnTick(WPARAM interfaceIndex, LPARAM window) {
  if (static_cast<DWORD>(interfaceIndex) != m_meterIfIndex) {
    // Another interface's counters: the figure starts anew from its first reading.
    m_traffic = TrafficMeter();
    m_meterIfIndex = static_cast<DWORD>(interfaceIndex);
  }
  MIB_IFROW row;
  std::memset(&row, 0, sizeof row);
  row.dwIndex = static_cast<DWORD>(interfaceIndex);
  if (GetIfEntry(&row) != NO_ERROR) return;
  float up = 0, down = 0;
  if (!m_traffic.Measure(row.dwInOctets, row.dwOutOctets, GetTickCount(), &up, &down)) return;
  CopyCut(g_szTrafficText, sizeof g_szTrafficText, FormatTrafficText(up, down).c_str());
  Answer(window, WM_TRAFFIC_TEXT, 0, reinterpret_cast<LPARAM>(g_szTrafficText));
}

void CUiWorker::OnPing(WPARAM lineId, LPARAM window) {
  // The lines asked for, each id once: a repeated id is the line FindById gives.
  std::vector<int> ids;
  std::vector<ServerItem> lines;
  if (lineId == kPingEveryLine) {
    for (size_t i = 0; i < m_store->m_lines.Count(); ++i) {
      const ServerItem& line = m_store->m_lines.At(i);
      if (std::find(ids.begin(), ids.end(), line.id) != ids.end()) continue;
      ids.push_back(line.id);
      lines.push_back(line);
    }
  } else {
    const ServerItem* found = m_store->m_lines.FindById(static_cast<int>(lineId));
    if (found) {
      // The answer names the line as it was asked for.
      ids.push_back(static_cast<int>(lineId));
      lines.push_back(*found);
    }
  }
  if (lines.empty()) return;  // no lines at all: nothing to measure

  CSyncSocket sock;
  if (sock.Create(AF_INET, SOCK_RAW, IPPROTO_ICMP) == INVALID_SOCKET) {
    CRunLog::Write("创建Socket失败，请使用管理员运行本程序！\r\n");
    for (int id : ids) Answer(window, WM_PING_RESULT, static_cast<WPARAM>(id), PingAnswer(kPingNoSocket, 0));
    return;
  }
  // One lookup per line, before the clock starts: a host with several addresses must be
  // sent to and answered from the same one, and a lookup is no part of the echo time.
  std::vector<uint32_t> addresses;
  std::vector<int> measured;
  for (size_t i = 0; i < lines.size(); ++i) {
    unsigned long hostAddr = ResolveHost(lines[i].host);
    if (hostAddr == INADDR_NONE) {
      Answer(window, WM_PING_RESULT, static_cast<WPARAM>(ids[i]), PingAnswer(kPingNotSent, 0));
      continue;
    }
    addresses.push_back(static_cast<uint32_t>(hostAddr));
    measured.push_back(ids[i]);
  }
  if (addresses.empty()) return;

  // Sequence numbers go on from round to round, so that a late answer to an earlier
  // round's probe matches nothing of this one.
  static uint16_t s_nextSequence = static_cast<uint16_t>(GetTickCount());
  const uint16_t identifier = static_cast<uint16_t>(GetCurrentProcessId());
  CEchoRound round(addresses, identifier, s_nextSequence, NowMs());
  s_nextSequence = static_cast<uint16_t>(s_nextSequence + addresses.size() * kEchoProbes);

  std::vector<bool> answered(addresses.size(), false);
  for (;;) {
    uint32_t now = NowMs();
    size_t target;
    uint16_t sequence;
    while (round.NextDue(now, &target, &sequence)) {
      uint8_t request[kEchoRequestBytes];
      BuildEchoRequest(request, identifier, sequence);
      in_addr to;
      to.s_addr = addresses[target];
      char dotted[16];
      CopyCut(dotted, sizeof dotted, inet_ntoa(to));
      if (!sock.SendTo(reinterpret_cast<const char*>(request), sizeof request, 0, dotted, 0)) {
        round.Unsent(target, sequence);
      }
      now = NowMs();
    }
    // Each line's figure goes to the window as soon as its own probes are done.
    for (size_t i = 0; i < addresses.size(); ++i) {
      if (answered[i] || !round.Finished(i, now)) continue;
      answered[i] = true;
      EchoFigure figure = round.Figure(i);
      Answer(window, WM_PING_RESULT, static_cast<WPARAM>(measured[i]),
             PingAnswer(figure.answered, figure.medianMs));
    }
    if (round.AllFinished(now)) break;
    char packet[1024];
    // Other ICMP traffic of the machine arrives on the same raw socket: the round skips it.
    int n = g_echoReceive->Receive(sock, packet, sizeof packet,
                                   static_cast<int>(round.WaitMs(now)) + 1);
    if (n > 0) {
      round.Receive(reinterpret_cast<const uint8_t*>(packet), static_cast<size_t>(n), NowMs());
    } else if (n < 0) {
      // The socket fails rather than waits: wait out the time so as not to spin.
      Sleep(round.WaitMs(NowMs()) + 1);
    }
  }
}

void CUiWorker::OnApplyRoutes(WPARAM, LPARAM window) {
  m_routes.ApplyGameRoutes(reinterpret_cast<HWND>(window));
}

void CUiWorker::OnConnect(WPARAM lineId, LPARAM window) {
  std::string lineHost = "127.0.0.1";
  if (static_cast<int>(lineId) != -1) {
    const ServerItem* line = m_store->m_lines.FindById(static_cast<int>(lineId));
    if (!line) {
      // No lines at all: there is nothing to connect to, and the connection must not be
      // released.
      Answer(window, WM_ACCOUNT_REJECTED, 1, kRejectedNoAnswer);
      return;
    }
    lineHost = line->host;
  }
  int64_t result;
  {
    CLoginSocket login(m_store);
    result = login.Login(m_store->m_accountUser, m_store->m_accountPassword, lineHost);
  }
  if (result == 0)
    Answer(window, WM_ACCOUNT_VERIFIED, lineId, 0);
  else if (result == kLoginNoAnswer)
    Answer(window, WM_ACCOUNT_REJECTED, 1, kRejectedNoAnswer);
  else
    Answer(window, WM_ACCOUNT_REJECTED, static_cast<WPARAM>(result), kRejectedByServer);
}

void CUiWorker::OnReport(WPARAM message, LPARAM window) {
  RunReportJob(*m_store, reinterpret_cast<HWND>(window), static_cast<UINT>(message));
}
