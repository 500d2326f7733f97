// The dialog the GUI driver's test drives from another process: a frame dialog with one
// child page holding an edit, buttons, a combo box, a tree and a status text that tells
// what the page received.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

namespace {

HWND g_page = nullptr;
int g_count = 0;

void Status(const char* text) { SetDlgItemTextA(g_page, 1004, text); }

HTREEITEM AddItem(HWND tree, HTREEITEM parent, const char* text, LPARAM data) {
  TVINSERTSTRUCTA ins = {};
  ins.hParent = parent;
  ins.hInsertAfter = TVI_LAST;
  ins.item.mask = TVIF_TEXT | TVIF_PARAM;
  ins.item.pszText = const_cast<char*>(text);
  ins.item.lParam = data;
  return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins)));
}

INT_PTR CALLBACK PageProc(HWND page, UINT msg, WPARAM wp, LPARAM lp) {
  char buf[64];
  switch (msg) {
    case WM_INITDIALOG: {
      g_page = page;
      HWND combo = GetDlgItem(page, 1002);
      SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("电信一区"));
      SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("网通一区"));
      HWND tree = GetDlgItem(page, 1003);
      HTREEITEM root = AddItem(tree, TVI_ROOT, "===服务器列表===", 0);
      HTREEITEM group = AddItem(tree, root, "电信专线", 0);
      AddItem(tree, group, "电信一区", 101);
      AddItem(tree, root, "网通专线", 0);
      SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wp) == 1001) {
        int r = MessageBoxA(GetParent(page), "要继续吗？", "询问", MB_OKCANCEL | MB_ICONQUESTION);
        Status(r == IDOK ? "确定" : "取消");
      } else if (LOWORD(wp) == 1006 && HIWORD(wp) == BN_CLICKED) {
        std::snprintf(buf, sizeof buf, "计数 %d", ++g_count);
        Status(buf);
      } else if (LOWORD(wp) == 1002 && HIWORD(wp) == CBN_SELCHANGE) {
        std::snprintf(buf, sizeof buf, "选中 %d",
                      static_cast<int>(SendDlgItemMessageA(page, 1002, CB_GETCURSEL, 0, 0)));
        Status(buf);
      }
      return TRUE;
    case WM_NOTIFY: {
      auto* nm = reinterpret_cast<NMTREEVIEWA*>(lp);
      if (nm->hdr.idFrom == 1003 && nm->hdr.code == TVN_SELCHANGEDA) {
        std::snprintf(buf, sizeof buf, "线路 %d", static_cast<int>(nm->itemNew.lParam));
        Status(buf);
      }
      return TRUE;
    }
  }
  return FALSE;
}

INT_PTR CALLBACK FrameProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG: {
      HWND page = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(101), dlg, PageProc, 0);
      ShowWindow(page, SW_SHOW);
      return TRUE;
    }
    case WM_APP + 1:  // a handler that takes wParam milliseconds
      Sleep(static_cast<DWORD>(wp));
      return TRUE;
    case WM_QUERYENDSESSION:
      SetWindowLongPtrA(dlg, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_ENDSESSION: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "会话结束 %d", static_cast<int>(wp));
      Status(buf);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) EndDialog(dlg, LOWORD(wp));
      return TRUE;
  }
  return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE inst, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX icc;
  icc.dwSize = sizeof icc;
  icc.dwICC = ICC_TREEVIEW_CLASSES;
  InitCommonControlsEx(&icc);
  return static_cast<int>(DialogBoxParamA(inst, MAKEINTRESOURCEA(100), nullptr, FrameProc, 0));
}
