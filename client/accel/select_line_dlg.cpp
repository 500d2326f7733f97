#include "client/accel/select_line_dlg.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "client/account/config_store.h"
#include "client/diag/echo_request.h"
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
  // Every line at once; the answers come as posted messages, the dialog does not wait.
  AskLatency(kPingEveryLine);
  return TRUE;
}

void CSelectLineDlg::FillTree() {
  HWND tree = Item(IDC_LINE_TREE);
  HTREEITEM root = InsertItem(tree, TVI_ROOT, "===服务器列表===", 0, 0);
  m_lines.clear();
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
        LineItem line;
        line.name = doc.GetAttribute("name");
        line.id = DecimalToInt(doc.GetAttribute("id"));
        line.item = InsertItem(tree, group, line.name, line.id, 1);
        line.group = group;
        line.measured = false;
        line.answer = 0;
        if (line.item) m_lines.push_back(line);
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

void CSelectLineDlg::AskLatency(WPARAM line) {
  ConfigStore().PostToWorker(WM_WORKER_PING, line, reinterpret_cast<LPARAM>(m_hWnd));
}

void CSelectLineDlg::OnRecheck() { AskLatency(kPingEveryLine); }

void CSelectLineDlg::OnSelChanged(NMHDR*, LRESULT*) {
  HTREEITEM selected;
  int id = SelectedLineId(&selected);
  if (id == 0) return;
  std::string latency;
  for (size_t i = 0; i < m_lines.size(); ++i) {
    if (m_lines[i].item == selected && m_lines[i].measured) latency = LatencyText(i);
  }
  // The last figure until the new one comes.
  SetItemText(IDC_LINE_LATENCY, latency.c_str());
  AskLatency(static_cast<WPARAM>(id));
}

std::string CSelectLineDlg::LatencyText(size_t index) const {
  int status = PingStatusOf(m_lines[index].answer);
  int ms = PingMsOf(m_lines[index].answer);
  char text[48];
  if (status <= 0 || status > kEchoProbes) {
    std::snprintf(text, sizeof text, "超时");
  } else if (status == kEchoProbes) {
    std::snprintf(text, sizeof text, "%d ms", ms);
  } else {
    std::snprintf(text, sizeof text, "%d ms，丢包%d%%", ms, (kEchoProbes - status) * 100 / kEchoProbes);
  }
  return text;
}

void CSelectLineDlg::ShowGroup(HTREEITEM group) {
  // The best of the group: every probe answered and the lowest median, the first of equals.
  size_t best = m_lines.size();
  for (size_t i = 0; i < m_lines.size(); ++i) {
    const LineItem& line = m_lines[i];
    if (line.group != group || !line.measured || PingStatusOf(line.answer) != kEchoProbes) continue;
    if (best == m_lines.size() || PingMsOf(line.answer) < PingMsOf(m_lines[best].answer)) best = i;
  }
  HWND tree = Item(IDC_LINE_TREE);
  for (size_t i = 0; i < m_lines.size(); ++i) {
    const LineItem& line = m_lines[i];
    if (line.group != group || !line.measured) continue;
    // Rebuilt from the item's name each time, so repeated checks do not pile up.
    std::string text = line.name + "（" + LatencyText(i) + "）";
    if (i == best) text += " ★";
    TVITEMA tv;
    ZeroMemory(&tv, sizeof tv);
    tv.mask = TVIF_TEXT | TVIF_HANDLE;
    tv.hItem = line.item;
    tv.pszText = const_cast<char*>(text.c_str());
    SendMessageA(tree, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
  }
}

LRESULT CSelectLineDlg::OnPingResult(WPARAM id, LPARAM answer) {
  HTREEITEM selected;
  SelectedLineId(&selected);
  std::vector<HTREEITEM> groups;
  for (size_t i = 0; i < m_lines.size(); ++i) {
    LineItem& line = m_lines[i];
    if (static_cast<WPARAM>(static_cast<LONG>(line.id)) != id) continue;
    line.measured = true;
    line.answer = answer;
    if (line.item == selected) SetItemText(IDC_LINE_LATENCY, LatencyText(i).c_str());
    if (std::find(groups.begin(), groups.end(), line.group) == groups.end()) groups.push_back(line.group);
  }
  for (HTREEITEM group : groups) ShowGroup(group);
  return 0;
}

void CSelectLineDlg::OnOK() {
  int id = SelectedLineId(nullptr);
  if (id != 0) ConfigStore().m_selectedLine = id;
  EndDialog(IDOK);
}

void CSelectLineDlg::OnDestroy() { m_lines.clear(); }
