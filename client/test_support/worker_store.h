// The fixture shared by the tests of the background worker's jobs (pings and ticks, the
// login, the routes): a configuration store with its worker started, in a program
// directory of its own, and a window that keeps every answer the worker posts to it.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "client/account/config_store.h"
#include "client/test_support/stub_client.h"

namespace testing_support {

// One answer of the worker, its text copied at once as a page does.
struct WorkerAnswer {
  UINT msg;
  WPARAM w;
  LPARAM l;
  std::string text;  // the traffic text of WM_TRAFFIC_TEXT
};

class CWorkerStoreTest : public ::testing::Test {
 protected:
  // The service is down (127.0.0.2) unless useStandIn: then the lists and the route list
  // come from the local stand-in. Files named in cache are put in Cache first.
  void StartStore(const char* tag, bool useStandIn,
                  const std::vector<std::pair<std::string, std::string>>& cache);
  // Ends the worker before the window that it answers goes.
  void TearDown() override;

  // The job with the window in lParam.
  bool Post(UINT msg, WPARAM w);
  // Pumps until n answers have arrived or the time is up.
  void WaitAnswers(size_t n, DWORD ms);
  // The run log as it stands.
  std::string Log() const;
  static size_t Count(const std::string& text, const std::string& what);

  std::string dir_;
  CConfigStore* store_ = nullptr;
  std::vector<WorkerAnswer> answers_;
  CRecordingWindow window_{[this](UINT msg, WPARAM w, LPARAM l) { return Record(msg, w, l); }};

 private:
  bool Record(UINT msg, WPARAM w, LPARAM l);
};

}  // namespace testing_support
