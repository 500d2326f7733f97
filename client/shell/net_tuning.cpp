#include "client/shell/net_tuning.h"

#include "client/shell/resource.h"
#include "client/ui/message_box.h"
#include "common/run_log.h"
#include "common/text_format.h"

namespace {

// The value as it was, for the log: a change to the system that is never undone should at
// least be undoable by hand.
std::string FormerAckValue(HKEY sub) {
  DWORD type = 0, value = 0, size = sizeof value;
  LONG rc = RegQueryValueExA(sub, "TcpAckFrequency", nullptr, &type,
                             reinterpret_cast<BYTE*>(&value), &size);
  if (rc == ERROR_FILE_NOT_FOUND) return "未设置";
  if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return "非DWORD值";
  return Format("%lu", static_cast<unsigned long>(value));
}

}  // namespace

const char kTcpInterfacesKey[] = "SYSTEM\\CurrentControlSet\\services\\Tcpip\\Parameters\\Interfaces";

int SetAckFrequency(HKEY root, const char* interfacesKey) {
  HKEY interfaces;
  if (RegOpenKeyA(root, interfacesKey, &interfaces) != ERROR_SUCCESS) return -1;
  DWORD count = 0;
  if (RegQueryInfoKeyA(interfaces, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    count = 0;
  }
  int written = 0;
  for (DWORD i = 0; i < count; ++i) {
    char name[256];
    DWORD length = 255;
    if (RegEnumKeyExA(interfaces, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      continue;
    }
    HKEY sub;
    if (RegOpenKeyA(interfaces, name, &sub) != ERROR_SUCCESS) continue;
    std::string former = FormerAckValue(sub);
    DWORD one = 1;
    // Without administrator rights the subkeys open read-only and every write fails: that
    // is no success to report.
    if (RegSetValueExA(sub, "TcpAckFrequency", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                       sizeof one) == ERROR_SUCCESS) {
      ++written;
      CRunLog::WriteText(Format("网络优化：接口%s的TcpAckFrequency原为%s，已设为1.\r\n",
                                ShowControlBytes(name).c_str(), former.c_str()));
    }
    RegCloseKey(sub);
  }
  RegCloseKey(interfaces);
  return written > 0 ? 1 : 0;
}

void RunNetworkTuning(HWND owner) {
  if (AccelMessageBox(owner,
                      "本选项为一次性设置，修改后需要重启计算机！\n可降低大约30%的网络游戏延迟。\n"
                      "但是会少许增加网络带宽使用！\n\n请确认是否继续？",
                      "提示信息", MB_OKCANCEL | MB_ICONQUESTION) != IDOK) {
    return;
  }
  if (SetAckFrequency() <= 0) {
    AccelMessageBox(owner, "设置失败，本设置仅对有线宽带用户有效。", "提示信息", MB_ICONINFORMATION);
  } else {
    AccelMessageBox(owner, "设置成功，在重启电脑后才能生效。", "提示信息", MB_ICONINFORMATION);
  }
}

CFirstRun::CFirstRun() : CWebPageDlg(IDD_FIRST_RUN, IDC_FIRST_RUN_WEB, "/first_run.php") {}

void CFirstRun::OnOK() {
  if (SetAckFrequency() <= 0) {
    AccelMessageBox(m_hWnd, "设置失败，本设置仅对宽带用户有效。", "提示信息", MB_ICONQUESTION);
  } else {
    AccelMessageBox(m_hWnd, "设置成功！但在重启电脑后才能生效。", "提示信息", MB_ICONQUESTION);
  }
  EndDialog(IDOK);
}
