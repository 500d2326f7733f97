// Route-list reading: CXmlDoc against pugixml on the same generated file, in one run.
//
// Each contender loads the file and walks every entry reading "net" and "mask" into strings,
// as the route manager does. Times are medians of several alternating runs; peak memory is
// the maximum resident size of a fresh process that does one load and walk and nothing else
// (a process that only starts is measured as the baseline).
//
//   xml_bench [--entries N] [--runs R] [--file PATH]
#include "common/xml_doc.h"

#include <pugixml.hpp>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct WalkResult {
  size_t entries = 0;
  size_t bytes = 0;  // of the attribute values read, so the reads cannot be dropped
};

bool WalkCXmlDoc(const char* path, WalkResult* r) {
  CXmlDoc doc;
  if (!doc.LoadFile(path)) return false;
  if (!doc.FindNext("Data") || !doc.Enter()) return false;
  while (doc.FindNext("entry")) {
    std::string net = doc.GetAttribute("net");
    std::string mask = doc.GetAttribute("mask");
    r->bytes += net.size() + mask.size();
    ++r->entries;
  }
  return true;
}

bool WalkPugi(const char* path, WalkResult* r) {
  pugi::xml_document doc;
  if (!doc.load_file(path)) return false;
  for (pugi::xml_node e = doc.child("Data").child("entry"); e; e = e.next_sibling("entry")) {
    std::string net = e.attribute("net").value();
    std::string mask = e.attribute("mask").value();
    r->bytes += net.size() + mask.size();
    ++r->entries;
  }
  return true;
}

// A route list like the service's, with both attribute orders and both element forms.
// Written line by line so that the measuring process stays small.
long Generate(const std::string& path, int entries) {
  static const char* const kMasks[] = {"255.255.255.0", "255.255.240.0", "255.255.0.0", "255.255.255.128"};
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return -1;
  long size = std::fprintf(f, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Data>\r\n");
  unsigned seed = 12345;
  for (int i = 0; i < entries; ++i) {
    seed = seed * 1103515245u + 12345u;
    unsigned a = 1 + (seed >> 24) % 223, b = (seed >> 16) & 0xFF, c = (seed >> 8) & 0xFF;
    const char* mask = kMasks[(seed >> 4) & 3];
    if (i & 1) {
      size += std::fprintf(f, "    <entry mask=\"%s\" net=\"%u.%u.%u.0\"></entry>\r\n", mask, a, b, c);
    } else {
      size += std::fprintf(f, "    <entry net=\"%u.%u.%u.0\" mask=\"%s\" />\r\n", a, b, c, mask);
    }
  }
  size += std::fprintf(f, "</Data>\r\n");
  return std::fclose(f) == 0 ? size : -1;
}

double Millis(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Peak resident size in KiB of a fresh copy of this program running one contender. The
// child reports the high-water mark of its own address space after exec (VmHWM), which
// nothing of the parent's memory can inflate.
long PeakKiB(const char* self, const char* mode, const char* path) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&fa, fds[0]);
  pid_t pid;
  char* argv[] = {const_cast<char*>(self), const_cast<char*>("--child"), const_cast<char*>(mode),
                  const_cast<char*>(path), nullptr};
  int rc = posix_spawn(&pid, self, &fa, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&fa);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return -1;
  }
  char buf[64] = {0};
  ssize_t got = read(fds[0], buf, sizeof buf - 1);
  close(fds[0]);
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || got <= 0) return -1;
  return std::atol(buf);
}

long OwnPeakKiB() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, "VmHWM:", 6) == 0) kib = std::atol(line + 6);
  }
  std::fclose(f);
  return kib;
}

int Child(const char* mode, const char* path) {
  WalkResult r;
  bool ok = true;
  if (std::strcmp(mode, "cxml") == 0) {
    ok = WalkCXmlDoc(path, &r) && r.entries;
  } else if (std::strcmp(mode, "pugi") == 0) {
    ok = WalkPugi(path, &r) && r.entries;
  }
  std::printf("%ld\n", OwnPeakKiB());
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--child") == 0) return Child(argv[2], argv[3]);

  int entries = 200000, runs = 7;
  std::string path;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--entries") == 0) {
      entries = std::atoi(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--runs") == 0) {
      runs = std::atoi(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--file") == 0) {
      path = argv[i + 1];
    }
  }
  if (entries < 1 || runs < 1) {
    std::fprintf(stderr, "usage: xml_bench [--entries N] [--runs R] [--file PATH]\n");
    return 2;
  }
  if (path.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    path = std::string(tmp && *tmp ? tmp : "/tmp") + "/xml_bench_routes_" + std::to_string(getpid()) + ".xml";
  }
  const long size = Generate(path, entries);
  if (size < 0) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return 1;
  }
  std::printf("xml_bench: %d entries, %.1f MB in %s\n", entries, size / 1e6, path.c_str());

  // Memory first, while this process is still small.
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  long base = -1, pa = -1, pb = -1;
  if (n > 0) {
    self[n] = '\0';
    base = PeakKiB(self, "none", path.c_str());
    pa = PeakKiB(self, "cxml", path.c_str());
    pb = PeakKiB(self, "pugi", path.c_str());
  }

  std::vector<double> mine, theirs;
  WalkResult check[2];
  for (int run = 0; run < runs; ++run) {
    // Alternate who goes first so that neither always meets a warmer cache.
    for (int k = 0; k < 2; ++k) {
      const bool cxml = (k == 0) == (run % 2 == 0);
      WalkResult r;
      auto t0 = std::chrono::steady_clock::now();
      bool ok = cxml ? WalkCXmlDoc(path.c_str(), &r) : WalkPugi(path.c_str(), &r);
      auto t1 = std::chrono::steady_clock::now();
      if (!ok || r.entries != static_cast<size_t>(entries)) {
        std::fprintf(stderr, "%s read %zu of %d entries\n", cxml ? "CXmlDoc" : "pugixml", r.entries, entries);
        return 1;
      }
      (cxml ? mine : theirs).push_back(Millis(t1 - t0));
      check[cxml ? 0 : 1] = r;
    }
  }
  if (check[0].bytes != check[1].bytes) {
    std::fprintf(stderr, "the two readers disagree on the values read\n");
    return 1;
  }

  const double a = Median(mine), b = Median(theirs);
  std::printf("load + walk, median of %d runs:\n", runs);
  std::printf("  (a) CXmlDoc  %8.2f ms\n", a);
  std::printf("  (b) pugixml  %8.2f ms\n", b);
  std::printf("  ratio a/b    %8.3f\n", a / b);

  if (base >= 0 && pa >= 0 && pb >= 0) {
    std::printf("peak resident memory of one load + walk in a fresh process (VmHWM):\n");
    std::printf("  (a) CXmlDoc  %8.1f MiB (%.1f MiB above an idle start)\n", pa / 1024.0, (pa - base) / 1024.0);
    std::printf("  (b) pugixml  %8.1f MiB (%.1f MiB above an idle start)\n", pb / 1024.0, (pb - base) / 1024.0);
    std::printf("  ratio a/b    %8.3f\n", static_cast<double>(pa - base) / static_cast<double>(pb - base));
  } else {
    std::printf("peak memory: could not measure\n");
  }
  std::remove(path.c_str());
  return 0;
}
