#include "common/ui_thread.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const UINT kAdd = WM_USER + 1;
const UINT kStop = WM_USER + 2;

class CCounter : public CUiThread {
 public:
  CCounter() : exited(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~CCounter() override { CloseHandle(exited); }
  BOOL InitInstance() override {
    order.push_back(-1);
    return TRUE;
  }
  int ExitInstance() override {
    order.push_back(-2);
    SetEvent(exited);
    return 7;
  }
  void OnAdd(WPARAM w, LPARAM l) { order.push_back(static_cast<int>(w + l)); }
  void OnStop(WPARAM, LPARAM) { EndMessageLoop(); }

  std::vector<int> order;
  HANDLE exited;
  DECLARE_THREAD_MESSAGE_MAP()
};

BEGIN_THREAD_MESSAGE_MAP(CCounter)
ON_THREAD_MESSAGE(kAdd, &CCounter::OnAdd)
ON_THREAD_MESSAGE(kStop, &CCounter::OnStop)
END_THREAD_MESSAGE_MAP(CCounter)

TEST(UiThread, PostsRightAfterStartAreHandledInOrderThenTheLoopEnds) {
  CCounter t;
  ASSERT_TRUE(t.CreateThread());
  // No sleep: the queue exists when CreateThread returns.
  EXPECT_TRUE(t.PostThreadMessage(kAdd, 1, 2));
  EXPECT_TRUE(t.PostThreadMessage(kAdd, 10, 0));
  EXPECT_TRUE(t.PostThreadMessage(kStop, 0, 0));
  EXPECT_TRUE(t.PostThreadMessage(kAdd, 100, 0));  // after the end: never handled
  ASSERT_EQ(WaitForSingleObject(t.ThreadHandle(), 5000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(t.ThreadHandle(), &code);
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(t.order, (std::vector<int>{-1, 3, 10, -2}));
}

TEST(UiThread, PostBeforeStartFails) {
  CCounter t;
  EXPECT_FALSE(t.PostThreadMessage(kAdd, 1, 1));
}

}  // namespace
