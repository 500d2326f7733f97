#include "client/test_support/worker_store.h"

#include "client/diag/ui_worker.h"
#include "client/diag/ui_worker_messages.h"
#include "common/run_log.h"

namespace testing_support {

void CWorkerStoreTest::StartStore(const char* tag, bool useStandIn,
                                  const std::vector<std::pair<std::string, std::string>>& cache) {
  dir_ = MakeOfflineProgramDir(tag);
  ASSERT_FALSE(dir_.empty());
  if (useStandIn)
    ASSERT_TRUE(WriteFileBytes(dir_ + "\\service.ini",
                               "[Service]\r\nClientHost=127.0.0.1\r\nWebHost=127.0.0.1\r\n"));
  for (const auto& file : cache)
    ASSERT_TRUE(WriteFileBytes(dir_ + "\\Cache\\" + file.first, file.second));
  store_ = new CConfigStore(dir_ + "\\accelclient.exe", &StartUiWorker);
  ASSERT_NE(store_->m_pWorker, nullptr);
}

void CWorkerStoreTest::TearDown() {
  delete store_;
  store_ = nullptr;
}

bool CWorkerStoreTest::Post(UINT msg, WPARAM w) {
  return store_ && store_->PostToWorker(msg, w, window_.AsLParam()) != FALSE;
}

void CWorkerStoreTest::WaitAnswers(size_t n, DWORD ms) {
  PumpUntil([&] { return answers_.size() >= n; }, ms);
}

std::string CWorkerStoreTest::Log() const {
  std::string text;
  ReadFileBytes(CRunLog::GetPath(), &text);
  return text;
}

size_t CWorkerStoreTest::Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

bool CWorkerStoreTest::Record(UINT msg, WPARAM w, LPARAM l) {
  if (msg < WM_ACCOUNT_VERIFIED || msg > WM_TRAFFIC_TEXT) return false;
  WorkerAnswer a{msg, w, l, std::string()};
  if (msg == WM_TRAFFIC_TEXT && l) a.text = reinterpret_cast<const char*>(l);
  answers_.push_back(a);
  return true;
}

}  // namespace testing_support
