#include "http_front.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <utility>

#include "netsim.h"

namespace stub {

namespace {

const char kControlPath[] = "/_control";
const char kXml[] = "text/xml";
const char kHtml[] = "text/html; charset=GBK";
const char kPlain[] = "text/plain";

// A browser view opens several connections at once and keeps them alive; the library's
// default pool of eight would make the ninth wait for a keep-alive to lapse.
constexpr size_t kWorkerThreads = 24;
// Uploads are diagnostic reports of a few kilobytes; anything far beyond is refused.
constexpr size_t kMaxRequestBody = 16 * 1024 * 1024;

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// The headers exactly as the client sent them, taken before the request is adjusted for
// the library (see AdjustRequest). The pre-routing step and the handler of one request run
// on the same worker thread, one after the other.
thread_local HeaderList t_sent_headers;

bool IsLibraryHeader(const std::string& name) {
  // The library files the connection's addresses among the headers.
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
         name == "LOCAL_PORT";
}

// Two changes so that the stand-in sees and answers bytes as they travel:
// - a multipart body is kept whole in the request body (the library would parse it and
//   drop the raw bytes, and would refuse the malformed body that a missing report file
//   gives), so the Content-Type is hidden from the library;
// - Accept-Encoding is dropped, so answers are never compressed: a cut body must be a cut
//   of the plain bytes under a plain Content-Length.
void AdjustRequest(httplib::Request& req) {
  t_sent_headers.clear();
  for (const auto& h : req.headers) {
    if (!IsLibraryHeader(h.first)) t_sent_headers.push_back(h);
  }
  req.headers.erase("Accept-Encoding");
  auto it = req.headers.find("Content-Type");
  if (it != req.headers.end() && it->second.compare(0, 10, "multipart/") == 0) {
    it->second = "application/octet-stream";
  }
}

std::string HtmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string QueryOf(const std::string& target) {
  size_t q = target.find('?');
  return q == std::string::npos ? std::string() : target.substr(q + 1);
}

bool EndsWith(const std::string& s, const char* suffix) {
  std::string t(suffix);
  return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

// Shuts the request's own connection down without an answer. The library does not hand
// the socket to handlers, so it is found among the process's descriptors by its two ends.
bool ShutDownConnection(const httplib::Request& req) {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return false;
  bool done = false;
  while (dirent* entry = readdir(dir)) {
    char* end = nullptr;
    long fd = std::strtol(entry->d_name, &end, 10);
    if (*entry->d_name == '\0' || *end != '\0' || fd <= 2) continue;
    sockaddr_in local{}, peer{};
    socklen_t local_len = sizeof local, peer_len = sizeof peer;
    if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &local_len) != 0 ||
        local.sin_family != AF_INET ||
        getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &peer_len) != 0) {
      continue;
    }
    char peer_addr[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &peer.sin_addr, peer_addr, sizeof peer_addr);
    if (ntohs(local.sin_port) == req.local_port && ntohs(peer.sin_port) == req.remote_port &&
        req.remote_addr == peer_addr) {
      done = shutdown(static_cast<int>(fd), SHUT_RDWR) == 0;
      break;
    }
  }
  closedir(dir);
  return done;
}

}  // namespace

const char* FrontRoleName(FrontRole role) {
  return role == FrontRole::kLists ? "lists" : "pages";
}

bool IsServicePagePath(const std::string& path) {
  return path == "/" || EndsWith(path, ".php") || EndsWith(path, ".html");
}

std::string ServicePageHtml(const std::string& path, const std::string& query,
                            const std::vector<std::string>& cookie_headers) {
  std::vector<std::string> cookies;
  for (const std::string& header : cookie_headers) {
    size_t pos = 0;
    while (pos <= header.size()) {
      size_t end = header.find(';', pos);
      if (end == std::string::npos) end = header.size();
      size_t b = pos, e = end;
      while (b < e && header[b] == ' ') ++b;
      while (e > b && header[e - 1] == ' ') --e;
      if (e > b) cookies.push_back(header.substr(b, e - b));
      pos = end + 1;
    }
  }
  std::string html =
      "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=GBK\">"
      "<title>" + HtmlEscape(path) + "</title></head>\n<body>\n<h1>" + HtmlEscape(path) +
      "</h1>\n<p>query: " + HtmlEscape(query) + "</p>\n";
  if (cookies.empty()) {
    html += "<p>no cookies</p>\n";
  } else {
    html += "<p>cookies:</p>\n<ul>\n";
    for (const std::string& c : cookies) html += "<li>" + HtmlEscape(c) + "</li>\n";
    html += "</ul>\n";
  }
  html += "</body></html>\n";
  return html;
}

HttpFront::HttpFront(FrontRole role, const SampleData& data, FaultTable& faults,
                     RequestRecorder& recorder)
    : role_(role), data_(data), faults_(faults), recorder_(recorder) {
  server_.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
  // Short, so that a stop does not wait long for idle keep-alive connections.
  server_.set_keep_alive_timeout(2);
  server_.set_payload_max_length(kMaxRequestBody);
  // The library's default also sets SO_REUSEPORT, which lets a second stand-in bind the
  // same port and silently take half the connections. Address reuse alone keeps a restart
  // from waiting for old connections, and a taken port stays an error.
  server_.set_socket_options([](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server_.set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
    // The request object is the library's own, not const; only its headers change.
    AdjustRequest(const_cast<httplib::Request&>(req));
    return httplib::Server::HandlerResponse::Unhandled;
  });
  auto handler = [this](const httplib::Request& req, httplib::Response& res) { Handle(req, res); };
  server_.Get(".*", handler);
  server_.Post(".*", handler);
  server_.Put(".*", handler);
  server_.Delete(".*", handler);
  server_.Options(".*", handler);
  server_.Patch(".*", handler);
}

int HttpFront::Bind(int port) {
  int bound = port == 0 ? server_.bind_to_any_port("127.0.0.1")
                        : (server_.bind_to_port("127.0.0.1", port) ? port : -1);
  if (bound > 0) port_ = bound;
  return bound > 0 ? bound : -1;
}

void HttpFront::Run() { server_.listen_after_bind(); }

void HttpFront::WaitUntilRunning() const {
  while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void HttpFront::Stop() { server_.stop(); }

void HttpFront::Handle(const httplib::Request& req, httplib::Response& res) {
  RequestRecord record;
  record.port = port_;
  record.role = FrontRoleName(role_);
  record.method = req.method;
  record.target = req.target;
  record.path = req.path;
  record.query = QueryOf(req.target);
  record.headers.swap(t_sent_headers);
  record.body = req.body;

  // The control endpoint is never faulted: a test must always be able to undo a mode.
  bool control = role_ == FrontRole::kLists && req.path == kControlPath;
  FaultMode mode = control ? FaultMode() : faults_.Lookup(req.path);
  // A request the fault refuses is not carried out: the simulated network's endpoints change
  // the namespace, and a refused tunnel must leave no interface behind.
  bool refused = mode.kind == FaultKind::kNotFound || mode.kind == FaultKind::kServerError ||
                 mode.kind == FaultKind::kDrop;
  Answer answer = control ? ControlAnswer(req) : refused ? Answer{} : NormalAnswer(req);
  if (mode.kind == FaultKind::kNotFound) {
    answer = {404, kHtml, "<html><body><h1>404 Not Found</h1></body></html>\n"};
  } else if (mode.kind == FaultKind::kServerError) {
    answer = {500, kHtml, "<html><body><h1>500 Internal Server Error</h1></body></html>\n"};
  }

  // Recorded before answering, so that a dropped or late request is on record at once.
  record.status = mode.kind == FaultKind::kDrop ? 0 : answer.status;
  record.mode = FormatFaultMode(mode);
  recorder_.Write(record);

  if (mode.kind == FaultKind::kSlow) faults_.Delay(mode.delay_ms);
  if (mode.kind == FaultKind::kDrop) {
    if (!ShutDownConnection(req)) {
      std::fprintf(stderr, "service_stub: cannot drop the connection of %s\n", req.path.c_str());
    }
    // Whatever the library writes now goes nowhere.
    res.status = 500;
    return;
  }
  res.status = answer.status;
  if (mode.kind == FaultKind::kCut) {
    // Promise the whole body, send the first half, then fail the provider: the library
    // closes the connection with the rest unsent.
    auto body = std::make_shared<std::string>(std::move(answer.body));
    size_t promised = body->empty() ? 16 : body->size();
    size_t sent = body->size() / 2;
    res.set_content_provider(promised, answer.content_type,
                             [body, sent](size_t offset, size_t, httplib::DataSink& sink) {
                               if (offset < sent) sink.write(body->data() + offset, sent - offset);
                               return false;
                             });
    return;
  }
  res.set_content(answer.body, answer.content_type);
}

HttpFront::Answer HttpFront::NormalAnswer(const httplib::Request& req) const {
  const std::string& path = req.path;
  if (path == "/accel_apps.php") return DataFileAnswer(kAppsFile);
  if (role_ == FrontRole::kLists) {
    if (path == "/servers2.0.php") return DataFileAnswer(kServersFile);
    if (path == "/server_group.php") return DataFileAnswer(kGroupsFile);
    if (path == "/route.php") return RouteListAnswer(req);
  } else {
    if (path == "/report_ip.php" || path == "/send_report.php") return {200, kPlain, "OK"};
    if (path == "/vpn_auth.php") return DialUpCheckAnswer(req);
    if (netsim_ && (path == "/_tunnel" || path == "/_route" || path == "/_routes" ||
                    path == "/_lan" || path == "/_netem" || path == "/_vpn")) {
      NetSim::Answer a = netsim_->Handle(path, req.params);
      return {a.status, kPlain, a.body};
    }
    if (IsServicePagePath(path)) {
      std::vector<std::string> cookies;
      auto range = req.headers.equal_range("Cookie");
      for (auto it = range.first; it != range.second; ++it) cookies.push_back(it->second);
      return {200, kHtml, ServicePageHtml(path, QueryOf(req.target), cookies)};
    }
  }
  return {404, kHtml, "<html><body><h1>404 Not Found</h1></body></html>\n"};
}

HttpFront::Answer HttpFront::DataFileAnswer(const std::string& name) const {
  std::string bytes;
  if (!data_.ReadFile(name, &bytes)) {
    return {404, kHtml, "<html><body><h1>404 Not Found</h1><p>" + HtmlEscape(name) +
                            "</p></body></html>\n"};
  }
  return {200, kXml, bytes};
}

HttpFront::Answer HttpFront::RouteListAnswer(const httplib::Request& req) const {
  std::string name;
  if (!RouteFileName(req.get_param_value("app_id"), &name)) {
    return {400, kHtml, "<html><body><h1>400 Bad Request</h1><p>app_id</p></body></html>\n"};
  }
  return DataFileAnswer(name);
}

HttpFront::Answer HttpFront::DialUpCheckAnswer(const httplib::Request& req) const {
  std::vector<Account> accounts = data_.LoadAccounts();
  bool ok = req.has_param("user") && req.has_param("pass") &&
            FindAccountByCode(accounts, req.get_param_value("user"),
                              req.get_param_value("pass")) != nullptr;
  return {200, kPlain, ok ? "OK" : "DENY"};
}

HttpFront::Answer HttpFront::ControlAnswer(const httplib::Request& req) {
  if (req.method == "GET") {
    std::string list;
    for (const auto& rule : faults_.List()) list += rule.first + " " + FormatFaultMode(rule.second) + "\n";
    return {200, kPlain, list};
  }
  if (req.method != "POST") return {405, kPlain, "use GET to list, POST to set\n"};
  std::string path = req.get_param_value("path");
  FaultMode mode;
  if (!IsFaultPath(path) || !ParseFaultMode(req.get_param_value("mode"), &mode)) {
    return {400, kPlain, "need path=/PATH or * and mode=normal|404|500|slow:<ms>|cut|drop\n"};
  }
  faults_.Set(path, mode);
  return {200, kPlain, "OK\n"};
}

}  // namespace stub
