#include "stub_options.h"

namespace stub {

namespace {

bool ParsePort(const std::string& text, int* port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > 65535) return false;
  *port = value;
  return true;
}

}  // namespace

const char* StubUsage() {
  return "usage: service_stub [options]\n"
         "Local stand-in of the accelerator service, listening on 127.0.0.1 only.\n"
         "  --data DIR          sample data directory (default: the one shipped with the tool)\n"
         "  --list-port N       port of /servers2.0.php, /server_group.php, /route.php,\n"
         "                      /accel_apps.php and /_control (default 8080; 0: any free port)\n"
         "  --web-port N        port of the pages, /accel_apps.php, /report_ip.php,\n"
         "                      /send_report.php and /vpn_auth.php (default 80; 0: any free port)\n"
         "  --login-port N      UDP port of the login datagrams (default 8001; 0: any free port)\n"
         "  --record FILE       append one JSON line per request received to FILE\n"
         "  --pidfile FILE      write the process id to FILE (a new one), removed again on exit\n"
         "  --fault PATH=MODE   answer PATH (\"login\": the login datagrams, \"*\": every path)\n"
         "                      with MODE from the start;\n"
         "                      MODE is normal, 404, 500, slow:<ms>, cut or drop (repeatable)\n"
         "  --netsim            create the simulated network: lan0 with the default route,\n"
         "                      /_tunnel, /_route and /_routes on the pages port (refused\n"
         "                      outside a network namespace of its own)\n"
         "  --packets FILE      append one JSON line per packet of the simulated network\n"
         "  --help              show this text\n"
         "Modes change at run time with POST /_control path=PATH&mode=MODE on the list port.\n"
         "Stops cleanly on SIGTERM or SIGINT.\n";
}

bool ParseStubOptions(const std::vector<std::string>& args, const std::string& default_data_dir,
                      StubOptions* options, std::string* error) {
  StubOptions o;
  o.data_dir = default_data_dir;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool has_value = false;
    size_t eq = name.find('=');
    if (name.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      has_value = true;
    }
    if (name == "--help" || name == "-h") {
      o.help = true;
      continue;
    }
    if (name == "--netsim" && !has_value) {
      o.netsim = true;
      continue;
    }
    bool known = name == "--data" || name == "--list-port" || name == "--web-port" ||
                 name == "--login-port" ||
                 name == "--record" || name == "--pidfile" || name == "--fault" ||
                 name == "--packets";
    if (!known) {
      *error = "unknown option: " + args[i];
      return false;
    }
    if (!has_value) {
      if (i + 1 >= args.size()) {
        *error = "missing value for " + name;
        return false;
      }
      value = args[++i];
    }
    if (name == "--data") {
      if (value.empty()) {
        *error = "empty --data";
        return false;
      }
      o.data_dir = value;
    } else if (name == "--list-port" || name == "--web-port" || name == "--login-port") {
      int port = 0;
      if (!ParsePort(value, &port)) {
        *error = "bad port for " + name + ": " + value;
        return false;
      }
      (name == "--list-port" ? o.list_port : name == "--web-port" ? o.web_port : o.login_port) =
          port;
    } else if (name == "--record") {
      o.record_path = value;
    } else if (name == "--pidfile") {
      o.pid_path = value;
    } else if (name == "--packets") {
      o.packets_path = value;
    } else {
      std::pair<std::string, FaultMode> rule;
      if (!ParseFaultRule(value, &rule.first, &rule.second)) {
        *error = "bad --fault (PATH=normal|404|500|slow:<ms>|cut|drop): " + value;
        return false;
      }
      o.faults.push_back(rule);
    }
  }
  if (o.list_port != 0 && o.list_port == o.web_port) {
    *error = "--list-port and --web-port must differ";
    return false;
  }
  if (!o.packets_path.empty() && !o.netsim) {
    *error = "--packets needs --netsim";
    return false;
  }
  *options = o;
  return true;
}

}  // namespace stub
