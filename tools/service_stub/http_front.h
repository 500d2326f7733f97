// One HTTP listener of the stand-in on 127.0.0.1: the list port (the service's lists and
// the control endpoint) or the pages port (the pages that the client's web views open, the
// collector's game list and report, the diagnostic upload and the dial-up check).
#pragma once

#include <httplib.h>

#include <string>
#include <vector>

#include "fault_table.h"
#include "request_recorder.h"
#include "sample_data.h"

namespace stub {

class NetSim;

enum class FrontRole { kLists, kPages };

const char* FrontRoleName(FrontRole role);

// Pages are "/" and every path ending in ".php" or ".html" that has no endpoint of its own.
bool IsServicePagePath(const std::string& path);

// The small page that stands in for every service page: it names the path, the query and
// the cookies received, so that a test (or a screenshot) shows what the web view asked for.
// cookie_headers are the values of the request's Cookie headers, as sent.
std::string ServicePageHtml(const std::string& path, const std::string& query,
                            const std::vector<std::string>& cookie_headers);

class HttpFront {
 public:
  HttpFront(FrontRole role, const SampleData& data, FaultTable& faults, RequestRecorder& recorder);
  HttpFront(const HttpFront&) = delete;
  HttpFront& operator=(const HttpFront&) = delete;

  // Binds 127.0.0.1:port (0: any free port). Returns the port bound, or -1.
  int Bind(int port);
  // Serves until Stop(); call from a thread of its own.
  void Run();
  // Returns once Run() has taken up the port. A Stop() before that point would be lost
  // (the library only stops a server that is already running), so callers wait first.
  void WaitUntilRunning() const;
  void Stop();
  // The simulated network's endpoints on the pages port; without it they answer 404.
  void SetNetSim(NetSim* netsim) { netsim_ = netsim; }

 private:
  struct Answer {
    int status;
    std::string content_type;
    std::string body;
  };

  void Handle(const httplib::Request& req, httplib::Response& res);
  Answer NormalAnswer(const httplib::Request& req) const;
  Answer ControlAnswer(const httplib::Request& req);
  Answer DataFileAnswer(const std::string& name) const;
  Answer RouteListAnswer(const httplib::Request& req) const;
  Answer DialUpCheckAnswer(const httplib::Request& req) const;

  FrontRole role_;
  const SampleData& data_;
  FaultTable& faults_;
  RequestRecorder& recorder_;
  int port_ = 0;
  NetSim* netsim_ = nullptr;
  httplib::Server server_;
};

}  // namespace stub
