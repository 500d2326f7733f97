#include "client/accel/select_line_dlg.h"

#include <cstdio>
#include <string>

#include "client/account/config_store.h"
#include "client/diag/ui_worker_messages.h"
#include "client/shell/resource.h"
#include "client/web/skin_html_view.h"
#include "common/decimal_text.h"
#include "common/xml_doc.h"

BEGIN_DIALOG_MESSAGE_MAP(CSelectLineDlg)
ON_DIALOG_COMMAND(IDC_LINE_RECHECK, &CSelectLineDlg::OnRecheck)
ON_DIALOG_NOTIFY(TVN_SELCHANGEDA, IDC_LINE_TREE, &CSelectLineDlg::OnSelChanged)
ON_DIALOG_NOTIFY(TVN_SELCHANGEDW, IDC_LINE_TREE, &CSelectLineDlg::OnSelChanged)
ON_DIALOG_MESSAGE(WM_PING_RESULT, &CSelectLineDlg::OnPingResult)
END_DIALOG_MESSAGE_MAP(CSelectLineDlg)

namespace {

HTREEITEM InsertItem(HWND tree, HTREEITEM parent, const std::string& text, LPARAM data,
                     int image) {
  TVINSERTSTRUCTA insert;
  ZeroMemory(&insert, sizeof insert);
  insert.hParent = parent;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  insert.item.pszText = const_cast<char*>(text.c_str());
  insert.item.lParam = data;
  insert.item.iImage = image;
  insert.item.iSelectedImage = image;
  return reinterpret_cast<HTREEITEM>(
      SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

LPARAM ItemData(HWND tree, HTREEITEM item) {
  TVITEMA tv;
  ZeroMemory(&tv, sizeof tv);
  tv.mask = TVIF_PARAM | TVIF_HANDLE;
  tv.hItem = item;
  if (!SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv))) return 0;
  return tv.lParam;
}

}  // namespace

CSelectLineDlg::CSelectLineDlg()
    : CDialogBase(IDD_SELECT_LINE), m_pView(new CSkinHtmlView), m_images(nullptr) {}

CSelectLineDlg::~CSelectLineDlg() {
  delete m_pView;
  if (m_images) ImageList_Destroy(m_images);
}

BOOL CSelectLineDlg::OnInitDialog() {
  CConfigStore& store = ConfigStore();
  HWND tree = Item(IDC_LINE_TREE);
  m_images = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 2, 0);
  if (m_images) {
    // 0: the list and its groups, 1: a line.
    ImageList_AddIcon(m_images, LoadIconA(nullptr, MAKEINTRESOURCEA(32512)));
    ImageList_AddIcon(m_images, LoadIconA(ResourceInstance(), MAKEINTRESOURCEA(IDR_MAINFRAME)));
    SendMessageA(tree, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(m_images));
  }
  m_pView->CreateOverControl(IDC_LINE_GUIDE, m_hWnd);
  m_pView->ShowWindow(SW_SHOW);
  std::string guide = store.ClientPageUrl("/choice_guide.html");
  SetIdentityCookie(guide, "uid", store.m_accountUser);
  m_pView->OpenUrl(guide);
  FillTree();
  return TRUE;
}

void CSelectLineDlg::FillTree() {
  HWND tree = Item(IDC_LINE_TREE);
  HTREEITEM root = InsertItem(tree, TVI_ROOT, "===服务器列表===", 0, 0);
  // Read from the file each time the dialog opens, empty groups included, rather than from
  // the lines in memory.
  CXmlDoc doc;
  doc.LoadFile(ConfigStore().CachePath("groups.xml"));
  if (doc.FindNext("Data")) {
    doc.Enter();
    while (doc.FindNext("Group")) {
      HTREEITEM group = InsertItem(tree, root, doc.GetAttribute("name"), 0, 0);
      doc.Enter();
      while (doc.FindNext("Server")) {
        InsertItem(tree, group, doc.GetAttribute("name"),
                   DecimalToInt(doc.GetAttribute("id")), 1);
      }
      doc.Leave();
    }
    doc.Leave();
  }
  SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
}

int CSelectLineDlg::SelectedLineId(HTREEITEM* item) const {
  HWND tree = Item(IDC_LINE_TREE);
  HTREEITEM selected = reinterpret_cast<HTREEITEM>(
      SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
  if (item) *item = selected;
  return selected ? static_cast<int>(ItemData(tree, selected)) : 0;
}

void CSelectLineDlg::AskLatency() {
  HTREEITEM item;
  int id = SelectedLineId(&item);
  if (id == 0) return;
  if (ConfigStore().PostToWorker(WM_WORKER_PING, static_cast<WPARAM>(id),
                                 reinterpret_cast<LPARAM>(m_hWnd))) {
    m_asked.push_back(item);
  }
}

void CSelectLineDlg::OnRecheck() { AskLatency(); }

void CSelectLineDlg::OnSelChanged(NMHDR*, LRESULT*) { AskLatency(); }

LRESULT CSelectLineDlg::OnPingResult(WPARAM code, LPARAM ms) {
  if (m_asked.empty()) return 0;
  HTREEITEM item = m_asked.front();
  m_asked.pop_front();

  char latency[32];
  if (code != 0) {
    std::snprintf(latency, sizeof latency, "超时");
  } else {
    std::snprintf(latency, sizeof latency, "%d ms", static_cast<int>(ms));
  }
  HTREEITEM selected;
  SelectedLineId(&selected);
  if (selected == item) SetItemText(IDC_LINE_LATENCY, latency);

  HWND tree = Item(IDC_LINE_TREE);
  const ServerItem* line = ConfigStore().m_lines.FindById(static_cast<int>(ItemData(tree, item)));
  if (!line) return 0;
  // Rebuilt from the line's name each time, so repeated checks do not pile up.
  std::string text = line->name + "（" + latency + "）";
  TVITEMA tv;
  ZeroMemory(&tv, sizeof tv);
  tv.mask = TVIF_TEXT | TVIF_HANDLE;
  tv.hItem = item;
  tv.pszText = const_cast<char*>(text.c_str());
  SendMessageA(tree, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
  return 0;
}

void CSelectLineDlg::OnOK() {
  int id = SelectedLineId(nullptr);
  if (id != 0) ConfigStore().m_selectedLine = id;
  EndDialog(IDOK);
}

void CSelectLineDlg::OnDestroy() { m_asked.clear(); }
