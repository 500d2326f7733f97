#include "common/command_runner.h"
#include "tunnel/dialup.h"

const char kEntryName[] = "VelaVPN";

const char* DialStateText(DWORD state) {
  switch (state) {
    case RASCS_OpenPort: return "正在打开端口...";
    case RASCS_PortOpened: return "端口已经打开...";
    case RASCS_ConnectDevice: return "连接设备...";
    case RASCS_DeviceConnected: return "设备已经连接...";
    case RASCS_AllDevicesConnected: return "所有设备已经连接...";
    case RASCS_Authenticate: return "开始身份认证...";
    case RASCS_AuthNotify: return "正在身份认证...";
    case RASCS_AuthProject: return "开始映射...";
    case RASCS_Authenticated: return "验证通过...";
    case RASCS_PasswordExpired: return "密码已经过期";
    default: return "连接中...";
  }
}

void StartDialServices() {
  // Both services must run for any dial; without administrator rights these fail
  // unnoticed and the dial reports the real error.
  static const struct {
    const char* program;
    const char* line;
  } kCommands[] = {
      {"sc.exe", "sc config TapiSrv start= AUTO"},
      {"sc.exe", "sc config RasMan start= AUTO"},
      {"net.exe", "net start TapiSrv"},
      {"net.exe", "net start RasMan"},
  };
  for (const auto& command : kCommands) RunSystemProgram(command.program, command.line, SW_HIDE);
}
