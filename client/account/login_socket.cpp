#include "client/account/login_socket.h"

#include <windows.h>
#include <nb30.h>

#include <cstring>
#include <ctime>
#include <vector>

#include "client/account/config_store.h"
#include "client/account/login_packet.h"
#include "common/run_log.h"
#include "common/text_format.h"

namespace {

const int kAttempts = 5;
const int kAnswerWaitMs = 2000;
const int kAnswerBytes = 1500;

// Through the system's own time-zone rules rather than the runtime's 32-bit localtime,
// which stops in 2038 while the expiry is unsigned.
bool ToLocalTime(int64_t utcSeconds, struct tm* local) {
  ULARGE_INTEGER ticks;
  ticks.QuadPart = static_cast<ULONGLONG>(utcSeconds + 11644473600LL) * 10000000ULL;
  FILETIME ft;
  ft.dwLowDateTime = ticks.LowPart;
  ft.dwHighDateTime = ticks.HighPart;
  SYSTEMTIME utc, st;
  if (!FileTimeToSystemTime(&ft, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &st))
    return false;
  local->tm_year = st.wYear - 1900;
  local->tm_mon = st.wMonth - 1;
  local->tm_mday = st.wDay;
  local->tm_hour = st.wHour;
  local->tm_min = st.wMinute;
  local->tm_sec = st.wSecond;
  local->tm_wday = st.wDayOfWeek;
  return true;
}

}  // namespace

CLoginSocket::CLoginSocket(CConfigStore* store) : m_store(store), m_requestNumber(0) {
  // A socket that cannot be created makes every send fail, which ends as "no answer".
  m_socket.Create(AF_INET, SOCK_DGRAM, 0);
}

CLoginSocket::~CLoginSocket() { m_socket.Close(); }

std::string CLoginSocket::GetHostId() {
  for (int lana = 0; lana < 8; ++lana) {
    NCB ncb;
    std::memset(&ncb, 0, sizeof ncb);
    ncb.ncb_command = NCBRESET;
    ncb.ncb_lana_num = static_cast<UCHAR>(lana);
    Netbios(&ncb);

    // Adapter status plus its name table.
    unsigned char status[600];
    std::memset(status, 0, sizeof status);
    std::memset(&ncb, 0, sizeof ncb);
    ncb.ncb_command = NCBASTAT;
    ncb.ncb_lana_num = static_cast<UCHAR>(lana);
    ncb.ncb_callname[0] = '*';
    ncb.ncb_callname[1] = ' ';
    ncb.ncb_buffer = status;
    ncb.ncb_length = sizeof status;
    UCHAR code = Netbios(&ncb);
    if (code != NRC_GOODRET) {
      CRunLog::Write("GetHostId error, NCBASTAT[%d] return code is: 0x%x \r\n", lana, code);
      continue;
    }
    const unsigned char* a = reinterpret_cast<const ADAPTER_STATUS*>(status)->adapter_address;
    return Format("%02X%02X%02X%02X%02X%02X", a[0], a[1], a[2], a[3], a[4], a[5]);
  }
  return std::string();
}

int64_t CLoginSocket::Login(const std::string& user, const std::string& password,
                            const std::string& lineHost) {
  std::vector<uint8_t> request =
      BuildLoginRequest(m_requestNumber, GetHostId(), user, password, lineHost);
  const int requestLength = static_cast<int>(request.size());

  std::vector<char> answer(kAnswerBytes);
  int answerLength = 0;
  for (size_t i = 0; i < m_store->m_loginServers.size() && answerLength <= 0; ++i) {
    const CLoginSvr& server = m_store->m_loginServers[i];
    if (m_socket.Connect(server.m_address.c_str(), server.m_port, 0)) {
      for (int attempt = 0; attempt < kAttempts; ++attempt) {
        int sent = m_socket.Send(reinterpret_cast<const char*>(request.data()), requestLength, 0);
        if (sent < requestLength) {
          CRunLog::Write("send length error: %d, errno:%d.\r\n", sent, WSAGetLastError());
          break;
        }
        int n = m_socket.Receive(answer.data(), kAnswerBytes, 0, kAnswerWaitMs);
        if (n > 0) {
          answerLength = n;
          break;
        }
        CRunLog::Write("recv error: %d, errno:%d\r\n", n, WSAGetLastError());
      }
    }
    if (answerLength <= 0) CRunLog::Write(" UDP %d 端口发送数据失败. \r\n", server.m_port);
  }
  if (answerLength <= 0) {
    CRunLog::Write(" UDP 收发数据失败。\r\n");
    CRunLog::Write("登录服务器失败，可能是因为服务器离线.\r\n");
    return kLoginNoAnswer;
  }

  LoginResponse response;
  if (!ParseLoginResponse(reinterpret_cast<const uint8_t*>(answer.data()),
                          static_cast<size_t>(answerLength), &response)) {
    // Too short for its fields: no usable answer, as if the server had stayed silent.
    CRunLog::Write("登录服务器失败，可能是因为服务器离线.\r\n");
    return kLoginNoAnswer;
  }
  if (response.result != 0) {
    CRunLog::Write("登录失败，错误代码: %d.\r\n", static_cast<int>(response.result));
    return response.result;
  }
  m_store->m_loginCode = response.loginCode;
  m_store->m_accountKind = AccountKindText(response.kind);
  m_store->m_expiry = ExpiryText(response.expiry, ToLocalTime);
  return 0;
}
