// The service's pages of the main window, the first-run dialog and the network tuning, with
// their real templates in this process: each page's address and the identity cookies of
// the moment the pages were made, and the tuning's results and texts on a registry key of
// the test's own.
#include "client/web/web_page_dlg.h"

#include <windows.h>
#include <ole2.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "client/account/config_store.h"
#include "client/shell/net_tuning.h"
#include "client/test_support/stub_client.h"
#include "client/ui/message_box.h"
#include "common/run_log.h"

namespace {

using namespace testing_support;

std::string Cookies(const std::string& url) {
  char cookies[512] = "";
  DWORD size = sizeof cookies;
  if (!InternetGetCookieA(url.c_str(), nullptr, cookies, &size)) return std::string();
  return cookies;
}

TEST(WebPages, EachPageOpensItsAddressWithTheUserAndTheGameOfThatMoment) {
  OleInitialize(nullptr);
  std::string dir = MakeOfflineProgramDir("pages");
  ASSERT_FALSE(dir.empty());
  {
    CConfigStore store(dir + "\\accelclient.exe");
    store.m_accountUser = "页面用户";
    store.m_modeApp = 4;
    HWND parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 800, 600, nullptr, nullptr,
                                  nullptr, nullptr);
    std::vector<std::unique_ptr<CWebPageDlg>> pages;
    pages.emplace_back(new CGameToolDlg);
    pages.emplace_back(new CRechargeDlg);
    pages.emplace_back(new CBuyCardsDlg);
    pages.emplace_back(new CHotGamesDlg);
    pages.emplace_back(new CHelpDlg);
    pages.emplace_back(new CAkVoiceDlg);
    const char* paths[] = {"/tools.php", "/new_recharge.php", "/game_cards.php",
                           "/hot_games.php", "/new_help.php", "/ak_voice.php"};
    for (size_t i = 0; i < pages.size(); ++i) {
      ASSERT_TRUE(pages[i]->Create(parent));
      EXPECT_STREQ(pages[i]->Path(), paths[i]);
      // The view lies over the placeholder, which fills the page's top.
      HWND view = GetDlgItem(pages[i]->GetSafeHwnd(), 1012);
      ASSERT_NE(view, nullptr);
      RECT rc;
      GetWindowRect(view, &rc);
      EXPECT_GT(rc.right - rc.left, 500);
      std::string url = store.ClientPageUrl(paths[i]);
      EXPECT_EQ(Cookies(url), "uid=页面用户; app=4") << url;
    }
    // A later choice of game does not reach the pages made before it.
    store.m_modeApp = 2;
    EXPECT_EQ(Cookies(store.ClientPageUrl("/tools.php")), "uid=页面用户; app=4");
    pages.clear();
    DestroyWindow(parent);

  }
  OleUninitialize();
}

// A thread that never initialised COM cannot ask the desktop's shell: the address comes up
// in the client's own page dialog, captioned with the address as it went out. An address
// that is not a web address opens nothing.
struct OpenCall {
  std::string url;
};

DWORD WINAPI OpenOnThread(LPVOID param) {
  OpenWebAddress(nullptr, static_cast<OpenCall*>(param)->url);
  return 0;
}

TEST(WebPages, AnAddressTheShellCannotTakeOpensInAPageDialogOfItsOwn) {
  using Call = OpenCall;
  LPTHREAD_START_ROUTINE open = &OpenOnThread;
  Call refused{"file:///C:/windows/system32/calc.exe"};
  HANDLE thread = CreateThread(nullptr, 0, open, &refused, 0, nullptr);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
  CloseHandle(thread);

  Call web{"http://127.0.0.1:1/register?a=\"b c"};
  thread = CreateThread(nullptr, 0, open, &web, 0, nullptr);
  HWND dialog = nullptr;
  PumpUntil([&] {
    dialog = FindWindowA("#32770", "http://127.0.0.1:1/register?a=%22b%20c");
    return dialog != nullptr;
  }, 10000);
  ASSERT_NE(dialog, nullptr);
  EXPECT_NE(GetDlgItem(dialog, 1012), nullptr);
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 0)) << "the dialog is modal";
  PostMessageA(dialog, WM_CLOSE, 0, 0);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
  CloseHandle(thread);
}

class CAnswerAll : public IMessageBoxes {
 public:
  explicit CAnswerAll(int answer) : m_answer(answer) {}
  int Show(HWND, const char* text, const char*, UINT) override {
    texts.push_back(text);
    return m_answer;
  }
  std::vector<std::string> texts;

 private:
  int m_answer;
};

DWORD AckValue(HKEY key, const char* sub) {
  DWORD value = 0, size = sizeof value, type = 0;
  HKEY k;
  if (RegOpenKeyA(key, sub, &k) != ERROR_SUCCESS) return 0;
  RegQueryValueExA(k, "TcpAckFrequency", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(k);
  return type == REG_DWORD ? value : 0;
}

TEST(NetworkTuning, ResultsForAMissingKeyNoInterfacesAndInterfacesAndTheTexts) {
  const char* key = "Software\\AccelTuningTest\\Interfaces";
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\AccelTuningTest\\Interfaces\\{A}");
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\AccelTuningTest\\Interfaces\\{B}");
  RegDeleteKeyA(HKEY_CURRENT_USER, key);
  EXPECT_EQ(SetAckFrequency(HKEY_CURRENT_USER, key), -1);

  HKEY k;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, key, &k), ERROR_SUCCESS);
  RegCloseKey(k);
  EXPECT_EQ(SetAckFrequency(HKEY_CURRENT_USER, key), 0);

  std::string a = std::string(key) + "\\{A}", b = std::string(key) + "\\{B}";
  RegCreateKeyA(HKEY_CURRENT_USER, a.c_str(), &k);
  DWORD two = 2;
  RegSetValueExA(k, "TcpAckFrequency", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two), sizeof two);
  RegCloseKey(k);
  RegCreateKeyA(HKEY_CURRENT_USER, b.c_str(), &k);
  RegCloseKey(k);
  // Each interface changed is logged with the value it had.
  const std::string logPath = CRunLog::GetPath();
  char tuningLog[MAX_PATH];
  GetTempPathA(MAX_PATH, tuningLog);
  lstrcatA(tuningLog, "accel_tuning_run.log");
  DeleteFileA(tuningLog);
  CRunLog::SetPath(tuningLog);
  const char* former[2][2] = {{"2", "未设置"}, {"1", "1"}};
  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(SetAckFrequency(HKEY_CURRENT_USER, key), 1);
    EXPECT_EQ(AckValue(HKEY_CURRENT_USER, a.c_str()), 1u);
    EXPECT_EQ(AckValue(HKEY_CURRENT_USER, b.c_str()), 1u);
    std::string log;
    ASSERT_TRUE(ReadFileBytes(tuningLog, &log));
    for (int i = 0; i < 2; ++i) {
      std::string line = std::string("网络优化：接口{") + "AB"[i] + "}的TcpAckFrequency原为" +
                         former[run][i] + "，已设为1.\r\n";
      EXPECT_NE(log.find(line), std::string::npos) << log;
      EXPECT_EQ(log.find(line), log.rfind(line)) << log;
    }
  }
  CRunLog::SetPath(logPath.c_str());

  // The menu command on this machine's interfaces (the test's own prefix): the question,
  // then one of the two results; a refusal changes nothing.
  CAnswerAll no(IDCANCEL);
  SetMessageBoxes(&no);
  RunNetworkTuning(nullptr);
  ASSERT_EQ(no.texts.size(), 1u);
  EXPECT_EQ(no.texts[0].find("本选项为一次性设置"), 0u);
  CAnswerAll yes(IDOK);
  SetMessageBoxes(&yes);
  RunNetworkTuning(nullptr);
  SetMessageBoxes(nullptr);
  ASSERT_EQ(yes.texts.size(), 2u);
  int result = SetAckFrequency();
  EXPECT_EQ(yes.texts[1], result > 0 ? "设置成功，在重启电脑后才能生效。"
                                     : "设置失败，本设置仅对有线宽带用户有效。");
}

}  // namespace
