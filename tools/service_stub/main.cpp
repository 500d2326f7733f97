// service_stub: the local stand-in of the accelerator service for tests and for running
// the client on one machine. See README.md beside this file.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "fault_table.h"
#include "http_front.h"
#include "login_front.h"
#include "netsim.h"
#include "request_recorder.h"
#include "sample_data.h"
#include "stub_options.h"

namespace {

// A new file only, never through a link: the stand-in may run as root, and a name in a
// shared folder could otherwise point at any file of the machine.
bool WritePidFile(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::string text = std::to_string(static_cast<long>(getpid())) + "\n";
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return close(fd) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  stub::StubOptions options;
  std::string error;
  if (!stub::ParseStubOptions(args, SERVICE_STUB_DEFAULT_DATA, &options, &error)) {
    std::fprintf(stderr, "service_stub: %s\n%s", error.c_str(), stub::StubUsage());
    return 2;
  }
  if (options.help) {
    std::fputs(stub::StubUsage(), stdout);
    return 0;
  }

  // Checked before anything else is done: outside a namespace of its own the simulated
  // network would put devices and routes into the host's network.
  std::string netsim_refusal;
  if (options.netsim && !stub::InOwnNetworkNamespace(&netsim_refusal)) {
    std::fprintf(stderr, "service_stub: --netsim refused: %s\n", netsim_refusal.c_str());
    return 2;
  }

  struct stat st;
  if (stat(options.data_dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    std::fprintf(stderr, "service_stub: no data directory %s\n", options.data_dir.c_str());
    return 1;
  }

  // Termination is taken by sigwait below, never by a handler, so every thread started
  // from here on inherits the blocked set. A peer that goes away must not kill the process.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  stub::RequestRecorder recorder;
  if (!options.record_path.empty() && !recorder.Open(options.record_path, &error)) {
    std::fprintf(stderr, "service_stub: %s\n", error.c_str());
    return 1;
  }
  stub::FaultTable faults;
  for (const auto& rule : options.faults) faults.Set(rule.first, rule.second);

  // Before any port is bound: a new namespace starts with lo down, and 127.0.0.1 with it.
  stub::NetSim netsim;
  if (options.netsim && !netsim.Start(options.packets_path, &error)) {
    std::fprintf(stderr, "service_stub: %s\n", error.c_str());
    return 1;
  }

  stub::SampleData data(options.data_dir);
  if (options.netsim) data.SetOverlay(options.data_dir + "/netsim");
  stub::HttpFront lists(stub::FrontRole::kLists, data, faults, recorder);
  stub::HttpFront pages(stub::FrontRole::kPages, data, faults, recorder);
  if (options.netsim) pages.SetNetSim(&netsim);
  int list_port = lists.Bind(options.list_port);
  if (list_port < 0) {
    std::fprintf(stderr, "service_stub: cannot listen on 127.0.0.1:%d: %s\n", options.list_port,
                 std::strerror(errno));
    return 1;
  }
  int web_port = pages.Bind(options.web_port);
  if (web_port < 0) {
    std::fprintf(stderr, "service_stub: cannot listen on 127.0.0.1:%d: %s\n", options.web_port,
                 std::strerror(errno));
    return 1;
  }
  stub::LoginFront login(data, faults, recorder);
  int login_port = login.Bind(options.login_port);
  if (login_port < 0) {
    std::fprintf(stderr, "service_stub: cannot listen on UDP 127.0.0.1:%d: %s\n",
                 options.login_port, std::strerror(errno));
    return 1;
  }
  if (!options.pid_path.empty() && !WritePidFile(options.pid_path)) {
    std::fprintf(stderr, "service_stub: cannot write %s (it must not exist yet): %s\n",
                 options.pid_path.c_str(), std::strerror(errno));
    return 1;
  }

  std::thread list_thread([&] { lists.Run(); });
  std::thread page_thread([&] { pages.Run(); });
  std::thread login_thread([&] { login.Run(); });
  lists.WaitUntilRunning();
  pages.WaitUntilRunning();
  // Every port is served from here on (the login socket queues datagrams from its bind);
  // the line tells a caller that asked for port 0 which ports it got.
  std::printf("service_stub: lists on 127.0.0.1:%d, pages on 127.0.0.1:%d, login on 127.0.0.1:%d, "
              "data %s%s\n",
              list_port, web_port, login_port, options.data_dir.c_str(),
              options.netsim ? ", simulated network: lan0 198.18.0.2 peer 198.18.0.1, "
                               "default via 198.18.0.1"
                             : "");
  std::fflush(stdout);

  int signo = 0;
  while (sigwait(&stop_signals, &signo) != 0) {
  }

  faults.Stop();
  lists.Stop();
  pages.Stop();
  login.Stop();
  list_thread.join();
  page_thread.join();
  login_thread.join();
  netsim.Stop();
  if (!options.pid_path.empty()) unlink(options.pid_path.c_str());
  std::printf("service_stub: stopped (signal %d)\n", signo);
  return 0;
}
