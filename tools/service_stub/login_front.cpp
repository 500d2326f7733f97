#include "login_front.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace stub {

namespace {

constexpr size_t kHeaderSize = 15;
// How often the listener looks at the stop flag while no datagram comes.
constexpr int kStopPollMs = 100;

class Reader {
 public:
  explicit Reader(const std::string& bytes) : bytes_(bytes) {}
  bool Byte(uint8_t* v) {
    if (bytes_.size() - pos_ < 1) return false;
    *v = static_cast<uint8_t>(bytes_[pos_++]);
    return true;
  }
  bool Le32(uint32_t* v) {
    if (bytes_.size() - pos_ < 4) return false;
    uint32_t x = 0;
    for (int i = 3; i >= 0; --i) x = (x << 8) | static_cast<uint8_t>(bytes_[pos_ + i]);
    pos_ += 4;
    *v = x;
    return true;
  }
  // Big-endian length, unlike the numbers.
  bool String(std::string* v) {
    if (bytes_.size() - pos_ < 2) return false;
    size_t len = (static_cast<size_t>(static_cast<uint8_t>(bytes_[pos_])) << 8) |
                 static_cast<uint8_t>(bytes_[pos_ + 1]);
    if (bytes_.size() - pos_ - 2 < len) return false;
    v->assign(bytes_, pos_ + 2, len);
    pos_ += 2 + len;
    return true;
  }
  bool AtEnd() const { return pos_ == bytes_.size(); }

 private:
  const std::string& bytes_;
  size_t pos_ = 0;
};

void PutLe32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// Longer texts are cut: the length field has 16 bits.
void PutString(std::string* out, const std::string& s) {
  size_t len = s.size() > 0xFFFF ? 0xFFFF : s.size();
  out->push_back(static_cast<char>((len >> 8) & 0xFF));
  out->push_back(static_cast<char>(len & 0xFF));
  out->append(s, 0, len);
}

std::string JsonNumber(uint64_t v) { return std::to_string(v); }

}  // namespace

bool ParseLoginRequest(const std::string& datagram, LoginRequest* request, std::string* error) {
  Reader r(datagram);
  LoginRequest q;
  uint8_t magic = 0, version = 0;
  if (datagram.size() < kHeaderSize || !r.Byte(&magic) || !r.Byte(&q.command) ||
      !r.Byte(&version) || !r.Le32(&q.request_number) || !r.Le32(&q.reserved1) ||
      !r.Le32(&q.reserved2)) {
    *error = "short header";
    return false;
  }
  if (magic != 0x03 || version != 0x01) {
    *error = "bad header";
    return false;
  }
  if (q.command != 1) {
    *error = "unknown command";
    return false;
  }
  if (!r.String(&q.host_id) || !r.String(&q.user) || !r.String(&q.password) ||
      !r.String(&q.line_host)) {
    *error = "truncated";
    return false;
  }
  // Bytes past the last string mean the client and this reader disagree on the layout.
  if (!r.AtEnd()) {
    *error = "trailing bytes";
    return false;
  }
  *request = q;
  return true;
}

LoginAnswer CheckLogin(const std::vector<Account>& accounts, const LoginRequest& request) {
  LoginAnswer answer;
  const Account* found = nullptr;
  for (const Account& a : accounts) {
    if (a.user == request.user) {
      found = &a;
      break;
    }
  }
  if (!found) {
    answer.result = kLoginUnknownUser;
    answer.message = "unknown user";
  } else if (found->password != request.password) {
    answer.result = kLoginWrongPassword;
    answer.message = "wrong password";
  } else {
    // An expired account still logs in: the client shows the expiry and the service decides.
    answer.result = kLoginOk;
    answer.message = "OK";
    answer.login_code = found->login_code;
    answer.kind = found->kind;
    answer.expiry = found->expiry;
  }
  return answer;
}

std::string FormatLoginAnswer(const LoginAnswer& answer) {
  std::string out;
  out.push_back(0x03);
  out.push_back(0x01);
  PutLe32(&out, answer.result);
  PutString(&out, answer.message);
  PutString(&out, answer.login_code);
  PutLe32(&out, static_cast<uint32_t>(answer.kind));
  PutLe32(&out, answer.expiry);
  return out;
}

LoginFront::~LoginFront() {
  if (fd_ >= 0) close(fd_);
}

int LoginFront::Bind(int port) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // No SO_REUSEPORT: a second stand-in on the same port must fail, not share the datagrams.
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  fd_ = fd;
  port_ = ntohs(addr.sin_port);
  return port_;
}

void LoginFront::Run() {
  if (fd_ < 0) return;
  // Big enough for any datagram, so none is silently cut.
  std::vector<char> buf(65536);
  while (!stopping_) {
    pollfd p{fd_, POLLIN, 0};
    int ready = poll(&p, 1, kStopPollMs);
    if (ready <= 0) continue;
    sockaddr_in peer{};
    socklen_t peer_len = sizeof peer;
    ssize_t n = recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&peer),
                         &peer_len);
    if (n < 0) {
      if (errno != EINTR && errno != EAGAIN)
        std::fprintf(stderr, "service_stub: login receive failed: %s\n", std::strerror(errno));
      continue;
    }
    Handle(std::string(buf.data(), static_cast<size_t>(n)), &peer, peer_len);
  }
}

void LoginFront::Handle(const std::string& datagram, const void* peer, unsigned peer_len) {
  RequestRecord record;
  record.port = port_;
  record.role = "login";
  record.method = "UDP";
  record.path = kLoginFaultName;
  record.body = datagram;

  LoginRequest request;
  std::string error;
  FaultMode mode = faults_.Lookup(kLoginFaultName);
  record.mode = FormatFaultMode(mode);
  if (!ParseLoginRequest(datagram, &request, &error)) {
    // A datagram that is not a request gets no answer at all, as a real server would.
    record.status = -1;
    record.extra = ",\"login\":null,\"error\":" + JsonBytes(error);
    recorder_.Write(record);
    return;
  }

  LoginAnswer answer = CheckLogin(data_.LoadAccounts(), request);
  if (mode.kind == FaultKind::kNotFound || mode.kind == FaultKind::kServerError) {
    // The error modes become the server's own error codes, which the client must show as a
    // rejected login.
    answer = LoginAnswer();
    answer.result = mode.kind == FaultKind::kNotFound ? 404 : 500;
    answer.message = "server error";
  }
  std::string bytes = FormatLoginAnswer(answer);
  // A cut answer is the first half of the real one: the client must not take it for success.
  if (mode.kind == FaultKind::kCut) bytes.resize(bytes.size() / 2);

  record.status = mode.kind == FaultKind::kDrop ? -1 : static_cast<int>(answer.result);
  record.extra = ",\"login\":{\"command\":" + JsonNumber(request.command) +
                 ",\"request_number\":" + JsonNumber(request.request_number) +
                 ",\"reserved\":[" + JsonNumber(request.reserved1) + "," +
                 JsonNumber(request.reserved2) + "],\"host_id\":" + JsonBytes(request.host_id) +
                 ",\"user\":" + JsonBytes(request.user) +
                 ",\"password\":" + JsonBytes(request.password) +
                 ",\"line_host\":" + JsonBytes(request.line_host) +
                 ",\"result\":" + JsonNumber(answer.result) + "}";
  // Recorded before answering, so that a dropped or late datagram is on record at once.
  recorder_.Write(record);

  if (mode.kind == FaultKind::kDrop) return;
  if (mode.kind == FaultKind::kSlow && !faults_.Delay(mode.delay_ms)) return;
  ssize_t sent = sendto(fd_, bytes.data(), bytes.size(), 0, static_cast<const sockaddr*>(peer),
                        static_cast<socklen_t>(peer_len));
  if (sent != static_cast<ssize_t>(bytes.size())) {
    std::fprintf(stderr, "service_stub: login answer not sent: %s\n", std::strerror(errno));
  }
}

}  // namespace stub
