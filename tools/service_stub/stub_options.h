// Command line of the service stand-in.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "fault_table.h"

namespace stub {

struct StubOptions {
  std::string data_dir;  // defaults to the data directory shipped beside the sources
  int list_port = 8080;  // the service's list endpoints
  int web_port = 80;     // pages, reports and uploads (the client uses the default port)
  int login_port = 8001; // UDP login datagrams, the port of the sample login servers
  std::string record_path;
  std::string pid_path;
  std::vector<std::pair<std::string, FaultMode>> faults;
  bool netsim = false;       // hold the simulated network (only inside a namespace of its own)
  std::string packets_path;  // packet record of the simulated network
  bool help = false;
};

// Fills options from argv[1..]; "--name value" and "--name=value" both work. Port 0 picks
// a free port. On a wrong command line returns false with a one-line reason.
bool ParseStubOptions(const std::vector<std::string>& args, const std::string& default_data_dir,
                      StubOptions* options, std::string* error);

const char* StubUsage();

}  // namespace stub
