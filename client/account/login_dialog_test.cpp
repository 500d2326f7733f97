// The login dialog and the line selection dialog in this process, with their real templates,
// a store of their own and a driver thread that works them the way a user does. Message
// boxes are answered by a recorder; the login runs on the real worker against the service
// stand-in's UDP login on 127.0.0.1:8001, and the line checks go to a recording worker that
// the test answers itself, in the order it chooses.
#include "client/account/login_dialog.h"

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "client/accel/select_line_dlg.h"
#include "client/account/config_store.h"
#include "client/diag/ui_worker.h"
#include "client/diag/ui_worker_messages.h"
#include "client/shell/resource.h"
#include "client/test_support/stub_client.h"
#include "client/ui/message_box.h"

namespace {

using namespace testing_support;

struct Box {
  std::string text, caption;
  UINT type;
};

class CBoxRecorder : public IMessageBoxes {
 public:
  int Show(HWND, const char* text, const char* caption, UINT type) override {
    boxes.push_back({text ? text : "", caption ? caption : "", type});
    return IDOK;
  }
  std::vector<Box> boxes;
};

std::string LoginServersXml(int port) {
  return "<?xml version=\"1.0\" encoding=\"GBK\"?><Data><LoginServer><Server Address=\"127.0.0.1\" "
         "Port=\"" + std::to_string(port) + "\"/></LoginServer></Data>";
}

// Login datagrams the stand-in has recorded so far for this user and password.
int LoginRecords(const std::string& user, const std::string& password) {
  std::string bytes;
  if (!ReadFileBytes(EnvPath("ACCEL_STUB_RECORD"), &bytes)) return 0;
  std::string needle = "\"user\":\"" + user + "\",\"password\":\"" + password + "\"";
  int n = 0;
  for (size_t at = 0; (at = bytes.find(needle, at)) != std::string::npos; ++at) ++n;
  return n;
}

// Every login datagram the stand-in has recorded so far, whatever its account.
int AllLoginRecords() {
  std::string bytes;
  if (!ReadFileBytes(EnvPath("ACCEL_STUB_RECORD"), &bytes)) return 0;
  int n = 0;
  for (size_t at = 0; (at = bytes.find(",\"user\":", at)) != std::string::npos; ++at) ++n;
  return n;
}

// Runs the dialog modally on this thread while script works it from another, through the
// dialog's window (cross-thread sends are handled inside the modal loop).
INT_PTR RunDriven(CDialogBase& dialog, const char* title, const std::function<void(HWND)>& script) {
  std::thread driver([&] {
    HWND wnd = nullptr;
    for (int i = 0; i < 100 && !wnd; ++i) {
      Sleep(50);
      wnd = FindWindowA("#32770", title);
    }
    if (!wnd) {
      ADD_FAILURE() << "no dialog " << title;
      return;
    }
    script(wnd);
  });
  INT_PTR result = dialog.DoModal(nullptr);
  driver.join();
  return result;
}

bool WaitFor(const std::function<bool()>& done, DWORD ms) {
  for (DWORD waited = 0; waited < ms; waited += 20) {
    if (done()) return true;
    Sleep(20);
  }
  return done();
}

std::string Text(HWND wnd) {
  char buf[512] = "";
  GetWindowTextA(wnd, buf, sizeof buf);
  return buf;
}

void Type(HWND dialog, int id, const char* text) {
  SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void Click(HWND dialog, int id) {
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OleInitialize(nullptr);
    INITCOMMONCONTROLSEX controls = {sizeof controls, 0xFF};
    InitCommonControlsEx(&controls);
    SetMessageBoxes(&boxes_);
    dir_ = MakeOfflineProgramDir("dialogs");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    delete store_;
    SetMessageBoxes(nullptr);
    OleUninitialize();
  }
  void MakeStore(const std::string& serversXml, WorkerStarter starter) {
    ASSERT_TRUE(WriteFileBytes(dir_ + "\\Cache\\servers.xml", serversXml));
    store_ = new CConfigStore(dir_ + "\\accelclient.exe", starter);
    store_->LoadSettings();
  }

  CBoxRecorder boxes_;
  std::string dir_;
  CConfigStore* store_ = nullptr;
};

// The refusals (a short name, a wrong password) are driven in the running program by the
// end-to-end scenarios; here the answer's effect on the store and the next start.
TEST_F(DialogTest, VerifiedLoginStoresTheAccountAndTheNextStartLogsInByItself) {
  MakeStore(LoginServersXml(8001), &StartUiWorker);
  int before = LoginRecords("test02", "pass02");
  CLoginDialog dialog;
  // A slow check, so that the dialog can be worked while it runs.
  ASSERT_TRUE(SetStubMode("login", "slow:1500"));
  INT_PTR result = RunDriven(dialog, CLoginDialog::Title(), [&](HWND wnd) {
    EXPECT_EQ(Text(GetDlgItem(wnd, IDC_LOGIN_REGISTER)), "注册帐号");
    // Blanks around the name are not part of it: sent, shown and saved without them.
    Type(wnd, IDC_LOGIN_USER, " \ttest02  ");
    Type(wnd, IDC_LOGIN_PASSWORD, "pass02");
    SendMessageA(GetDlgItem(wnd, IDC_LOGIN_REMEMBER), BM_SETCHECK, BST_CHECKED, 0);
    Click(wnd, IDOK);
    EXPECT_EQ(Text(GetDlgItem(wnd, IDC_LOGIN_USER)), "test02");
    for (int id : {IDOK, IDC_LOGIN_USER, IDC_LOGIN_PASSWORD, IDC_LOGIN_REMEMBER, IDC_LOGIN_AUTO})
      EXPECT_FALSE(IsWindowEnabled(GetDlgItem(wnd, id))) << id << " during the check";
    // Whatever reaches the edits meanwhile, the checked password is the one saved.
    Type(wnd, IDC_LOGIN_PASSWORD, "other99");
  });
  SetStubMode("login", "normal");
  EXPECT_EQ(result, IDOK);
  EXPECT_TRUE(boxes_.boxes.empty());
  EXPECT_EQ(store_->m_userName, "test02");
  // Anything else would be refused at the auto-login below, and that dialog stays open.
  ASSERT_EQ(store_->m_password, "pass02");
  EXPECT_EQ(store_->m_accountUser, "test02");
  EXPECT_EQ(store_->m_loginCode, "C0DE0002");
  EXPECT_EQ(store_->m_accountKind, "免费积分用户");
  EXPECT_EQ(store_->m_remember, 1);
  EXPECT_EQ(LoginRecords("test02", "pass02"), before + 1);

  // The settings written at exit bring the next start straight through: auto-login.
  store_->m_autoLogin = 1;
  ASSERT_TRUE(store_->SaveSettings());
  delete store_;
  store_ = nullptr;
  MakeStore(LoginServersXml(8001), &StartUiWorker);
  CLoginDialog again;  // nobody touches it: it may be gone before a driver could find it
  EXPECT_EQ(again.DoModal(nullptr), IDOK);
  EXPECT_EQ(store_->m_loginCode, "C0DE0002");
  EXPECT_EQ(LoginRecords("test02", "pass02"), before + 2);
}

TEST_F(DialogTest, NoLoginServerAnsweringIsANetworkFaultAndAnyServerResultARefusal) {
  // A loopback port where nobody listens: each try fails at once.
  MakeStore(LoginServersXml(9), &StartUiWorker);
  CLoginDialog dialog;
  INT_PTR result = RunDriven(dialog, CLoginDialog::Title(), [&](HWND wnd) {
    Type(wnd, IDC_LOGIN_USER, "test01");
    Type(wnd, IDC_LOGIN_PASSWORD, "pass01");
    Click(wnd, IDOK);
    ASSERT_TRUE(WaitFor([&] { return !boxes_.boxes.empty(); }, 30000));
    EXPECT_EQ(boxes_.boxes[0].text, "无法连接登录服务器，请检查网络后重试！");
    EXPECT_EQ(boxes_.boxes[0].caption, "网络错误");
    EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(GetDlgItem(wnd, IDOK)) != FALSE; }, 2000));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(wnd, IDC_LOGIN_PASSWORD)));

    // A server that answers with its own result 1 refuses the account: no network fault.
    SOCKET server = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    int len = sizeof a;
    EXPECT_EQ(bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    getsockname(server, reinterpret_cast<sockaddr*>(&a), &len);
    std::thread answer([&] {
      char buf[1500];
      sockaddr_in from;
      int fromLen = sizeof from;
      fd_set set;
      FD_ZERO(&set);
      FD_SET(server, &set);
      timeval wait = {10, 0};
      if (select(0, &set, nullptr, nullptr, &wait) == 1 &&
          recvfrom(server, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen) > 0)
        sendto(server, "\0\0\x01\0\0\0", 6, 0, reinterpret_cast<sockaddr*>(&from), fromLen);
    });
    store_->m_loginServers.assign(1, CLoginSvr("127.0.0.1", ntohs(a.sin_port)));
    Click(wnd, IDOK);
    EXPECT_TRUE(WaitFor([&] { return boxes_.boxes.size() > 1; }, 10000));
    answer.join();
    closesocket(server);
    EXPECT_EQ(boxes_.boxes.size(), 2u);
    Box last = boxes_.boxes.size() > 1 ? boxes_.boxes[1] : Box{};
    EXPECT_EQ(last.text, "输入的用户名/密码验证错误！\n请注意：密码区分大小写。");
    EXPECT_EQ(last.caption, "密码错误");
    Click(wnd, IDCANCEL);
  });
  EXPECT_EQ(result, IDCANCEL);
}

// A name that would add cookie attributes or forge parts of the upload form is refused as a
// short one is, before anything is sent; a saved one is not even offered, so the automatic
// login stops at the same message.
TEST_F(DialogTest, NamesWithCookieOrFormSeparatorsAreRefusedBeforeAnyDatagram) {
  ASSERT_TRUE(WriteFileBytes(dir_ + "\\Cache\\user.ini",
                             "[User]\r\nNAME=test01; expires=Fri, 31 Dec 2100 00:00:00 GMT\r\n"
                             "PASSWD=\r\nREMEMBER=0\r\nAUTO_LOGIN=1\r\n"));
  MakeStore(LoginServersXml(8001), &StartUiWorker);
  EXPECT_EQ(store_->m_userName, "");
  int before = AllLoginRecords();
  CLoginDialog dialog;
  INT_PTR result = RunDriven(dialog, CLoginDialog::Title(), [&](HWND wnd) {
    EXPECT_EQ(Text(GetDlgItem(wnd, IDC_LOGIN_USER)), "");
    for (const char* name : {"test01;", "test01,x", "te\r\nst01", "test01\nContent-Type: x"}) {
      Type(wnd, IDC_LOGIN_USER, name);
      Type(wnd, IDC_LOGIN_PASSWORD, "pass01");
      Click(wnd, IDOK);
      EXPECT_TRUE(IsWindowEnabled(GetDlgItem(wnd, IDOK))) << name;
    }
    Click(wnd, IDCANCEL);
  });
  EXPECT_EQ(result, IDCANCEL);
  ASSERT_EQ(boxes_.boxes.size(), 5u);
  for (const Box& box : boxes_.boxes) {
    EXPECT_EQ(box.text, "请输入用户名、密码登录！");
    EXPECT_EQ(box.caption, "输入错误");
  }
  EXPECT_EQ(store_->m_accountUser, "");
  EXPECT_EQ(store_->m_userName, "");
  Sleep(500);
  EXPECT_EQ(AllLoginRecords(), before);
}

// The line checks the dialog asks for, answered by the test.
struct PingRequest {
  int line;
  HWND window;
};
std::vector<PingRequest> g_pings;
CRITICAL_SECTION g_pingLock;

class CRecordingWorker : public CUiThread {
  void OnPing(WPARAM line, LPARAM window) {
    EnterCriticalSection(&g_pingLock);
    g_pings.push_back({static_cast<int>(line), reinterpret_cast<HWND>(window)});
    LeaveCriticalSection(&g_pingLock);
  }
  DECLARE_THREAD_MESSAGE_MAP()
};
BEGIN_THREAD_MESSAGE_MAP(CRecordingWorker)
ON_THREAD_MESSAGE(WM_WORKER_PING, &CRecordingWorker::OnPing)
END_THREAD_MESSAGE_MAP(CRecordingWorker)

CUiThread* StartRecordingWorker(CConfigStore*) {
  CRecordingWorker* worker = new CRecordingWorker;
  worker->CreateThread();
  return worker;
}

size_t PingCount() {
  EnterCriticalSection(&g_pingLock);
  size_t n = g_pings.size();
  LeaveCriticalSection(&g_pingLock);
  return n;
}

struct TreeItem {
  HTREEITEM handle;
  std::string text;
  LPARAM data;
  int depth;
};

void ReadTree(HWND tree, HTREEITEM item, int depth, std::vector<TreeItem>* out) {
  for (; item; item = TreeView_GetNextSibling(tree, item)) {
    char text[256] = "";
    TVITEMA tv = {};
    tv.mask = TVIF_TEXT | TVIF_PARAM | TVIF_HANDLE;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = sizeof text;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
    out->push_back({item, text, tv.lParam, depth});
    ReadTree(tree, TreeView_GetChild(tree, item), depth + 1, out);
  }
}

TEST_F(DialogTest, LineTreeFromGroupsFileAndEachLatencyOnItsOwnLine) {
  InitializeCriticalSection(&g_pingLock);
  std::string groups;
  ASSERT_TRUE(ReadFileBytes(EnvPath("ACCEL_STUB_DATA") + "\\groups.xml", &groups));
  ASSERT_TRUE(WriteFileBytes(dir_ + "\\Cache\\groups.xml", groups));
  // A host of this test alone: the cookie store is the process's, and other pages set "app".
  ASSERT_TRUE(WriteFileBytes(dir_ + "\\service.ini", "[Service]\r\nClientHost=127.0.0.3\r\n"));
  MakeStore(LoginServersXml(8001), &StartRecordingWorker);
  store_->m_accountUser = "玩家一";

  CSelectLineDlg dialog;
  int chosen = 0;
  INT_PTR result = RunDriven(dialog, "选择加速线路", [&](HWND wnd) {
    HWND tree = GetDlgItem(wnd, IDC_LINE_TREE);
    std::vector<TreeItem> items;
    ReadTree(tree, TreeView_GetRoot(tree), 0, &items);
    ASSERT_GE(items.size(), 3u);
    EXPECT_EQ(items[0].text, "===服务器列表===");
    EXPECT_EQ(items[0].data, 0);
    // Every group of the file, the empty one too; every line with its id, a repeated id too.
    std::vector<const TreeItem*> lines;
    bool emptyGroup = false;
    int repeated = 0;
    for (size_t i = 1; i < items.size(); ++i) {
      if (items[i].depth == 1) {
        EXPECT_EQ(items[i].data, 0);
        bool hasChild = i + 1 < items.size() && items[i + 1].depth == 2;
        if (items[i].text == "海外线路") emptyGroup = !hasChild;
      } else {
        EXPECT_EQ(items[i].depth, 2);
        lines.push_back(&items[i]);
        if (items[i].data == 102) ++repeated;
      }
    }
    EXPECT_TRUE(emptyGroup);
    EXPECT_EQ(repeated, 2);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.size(), store_->m_lines.Count());

    auto textOf = [&](HTREEITEM item) {
      char text[256] = "";
      TVITEMA tv = {};
      tv.mask = TVIF_TEXT | TVIF_HANDLE;
      tv.hItem = item;
      tv.pszText = text;
      tv.cchTextMax = sizeof text;
      SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
      return std::string(text);
    };
    // Opening asks for every line at once, and nothing more.
    ASSERT_TRUE(WaitFor([] { return PingCount() == 1; }, 3000));
    EXPECT_EQ(g_pings[0].line, static_cast<int>(kPingEveryLine));
    EXPECT_EQ(g_pings[0].window, wnd);
    // lines[0], lines[1] are the first group's (101, 102); lines[2], lines[3] the second's
    // (201, and 102 again).
    ASSERT_GE(lines.size(), 4u);
    const TreeItem* first = lines[0];
    const TreeItem* second = lines[1];
    const std::string name0 = store_->m_lines.FindById(101)->name;
    const std::string name1 = "电信二区", name2 = "网通一区", name3 = "网通备用";
    SendMessageA(wnd, WM_PING_RESULT, 101, PingAnswer(4, 37));
    EXPECT_EQ(textOf(first->handle), name0 + "（37 ms） ★");
    // Lower but with a loss: shown with it, and not the best.
    SendMessageA(wnd, WM_PING_RESULT, 102, PingAnswer(3, 23));
    EXPECT_EQ(textOf(first->handle), name0 + "（37 ms） ★");
    EXPECT_EQ(textOf(second->handle), name1 + "（23 ms，丢包25%）");
    // The repeated id shows under both its items, each with its own name, and each group
    // has its own best.
    EXPECT_EQ(textOf(lines[3]->handle), name3 + "（23 ms，丢包25%）");
    SendMessageA(wnd, WM_PING_RESULT, 201, PingAnswer(0, 0));
    EXPECT_EQ(textOf(lines[2]->handle), name2 + "（超时）");
    // The best moves when a lower figure without loss comes.
    SendMessageA(wnd, WM_PING_RESULT, 102, PingAnswer(4, 12));
    EXPECT_EQ(textOf(first->handle), name0 + "（37 ms）");
    EXPECT_EQ(textOf(second->handle), name1 + "（12 ms） ★");
    EXPECT_EQ(textOf(lines[3]->handle), name3 + "（12 ms） ★");
    SendMessageA(wnd, WM_PING_RESULT, 102, PingAnswer(1, 500));
    EXPECT_EQ(textOf(second->handle), name1 + "（500 ms，丢包75%）");
    EXPECT_EQ(textOf(first->handle), name0 + "（37 ms） ★");

    // Selecting a line checks it again, and shows its last figure until the new one.
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(first->handle));
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(second->handle));
    ASSERT_TRUE(WaitFor([] { return PingCount() == 3; }, 3000));
    EXPECT_EQ(g_pings[1].line, 101);
    EXPECT_EQ(g_pings[2].line, 102);
    EXPECT_EQ(Text(GetDlgItem(wnd, IDC_LINE_LATENCY)), "500 ms，丢包75%");
    SendMessageA(wnd, WM_PING_RESULT, 101, PingAnswer(kPingNotSent, 0));
    EXPECT_EQ(textOf(first->handle), name0 + "（超时）");
    EXPECT_EQ(Text(GetDlgItem(wnd, IDC_LINE_LATENCY)), "500 ms，丢包75%");
    SendMessageA(wnd, WM_PING_RESULT, 102, PingAnswer(4, 5));
    EXPECT_EQ(textOf(second->handle), name1 + "（5 ms） ★");
    EXPECT_EQ(Text(GetDlgItem(wnd, IDC_LINE_LATENCY)), "5 ms");

    // A recheck asks for every line again.
    Click(wnd, IDC_LINE_RECHECK);
    ASSERT_TRUE(WaitFor([] { return PingCount() == 4; }, 3000));
    EXPECT_EQ(g_pings[3].line, static_cast<int>(kPingEveryLine));

    // The root carries no line: it is neither measured nor chosen.
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(items[0].handle));
    Sleep(200);
    EXPECT_EQ(PingCount(), 4u);
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(second->handle));
    chosen = static_cast<int>(second->data);
    Click(wnd, IDOK);
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_NE(chosen, 0);
  EXPECT_EQ(store_->m_selectedLine, chosen);

  // The guide page knows the user and nothing of the game.
  char cookies[512] = "";
  DWORD size = sizeof cookies;
  ASSERT_TRUE(InternetGetCookieA("http://127.0.0.3/choice_guide.html", nullptr, cookies, &size));
  EXPECT_NE(std::string(cookies).find("uid=玩家一"), std::string::npos) << cookies;
  EXPECT_EQ(std::string(cookies).find("app="), std::string::npos) << cookies;
}

}  // namespace
