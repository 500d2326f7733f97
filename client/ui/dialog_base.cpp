#include "client/ui/dialog_base.h"

#include <vector>

HINSTANCE ResourceInstance() { return GetModuleHandleA(nullptr); }

CDialogBase::CDialogBase(UINT templateId)
    : m_hWnd(nullptr), m_templateId(templateId), m_modal(false) {}

CDialogBase::~CDialogBase() {
  // A modeless page that outlives its own destruction would call into a freed object.
  if (m_hWnd && !m_modal) DestroyWindow();
}

const DialogMsgEntry* CDialogBase::GetMessageMap() const {
  static const DialogMsgEntry none[] = {{DialogMsgEntry::kEnd, 0, 0, nullptr, nullptr, nullptr}};
  return none;
}

INT_PTR CDialogBase::DoModal(HWND parent) {
  m_modal = true;
  INT_PTR result = DialogBoxParamA(ResourceInstance(), MAKEINTRESOURCEA(m_templateId), parent,
                                   DialogProc, reinterpret_cast<LPARAM>(this));
  m_hWnd = nullptr;
  return result;
}

BOOL CDialogBase::Create(HWND parent) {
  m_modal = false;
  HWND wnd = CreateDialogParamA(ResourceInstance(), MAKEINTRESOURCEA(m_templateId), parent,
                                DialogProc, reinterpret_cast<LPARAM>(this));
  return wnd != nullptr;
}

void CDialogBase::DestroyWindow() {
  if (m_hWnd) ::DestroyWindow(m_hWnd);
}

void CDialogBase::EndDialog(INT_PTR result) {
  if (m_hWnd && m_modal) ::EndDialog(m_hWnd, result);
}

std::string CDialogBase::ItemText(int id) const {
  HWND item = Item(id);
  if (!item) return std::string();
  int length = GetWindowTextLengthA(item);
  std::vector<char> text(static_cast<size_t>(length) + 1, '\0');
  int got = GetWindowTextA(item, text.data(), length + 1);
  return std::string(text.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

void CDialogBase::SetItemText(int id, const std::string& text) const {
  SetDlgItemTextA(m_hWnd, id, text.c_str());
}

void CDialogBase::EnableItem(int id, bool enable) const { EnableWindow(Item(id), enable); }

bool CDialogBase::IsItemEnabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }

bool CDialogBase::IsChecked(int id) const {
  return IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED;
}

void CDialogBase::Check(int id, bool checked) const {
  CheckDlgButton(m_hWnd, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool CDialogBase::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  *result = 0;
  for (const DialogMsgEntry* e = GetMessageMap(); e->kind != DialogMsgEntry::kEnd; ++e) {
    switch (e->kind) {
      case DialogMsgEntry::kMessage:
        if (e->message == message) {
          *result = (this->*(e->onMessage))(wParam, lParam);
          return true;
        }
        break;
      case DialogMsgEntry::kCommand:
        if (message == WM_COMMAND && e->id == LOWORD(wParam)) {
          (this->*(e->onCommand))();
          return true;
        }
        break;
      case DialogMsgEntry::kNotify:
        if (message == WM_NOTIFY) {
          NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
          if (header && e->id == header->idFrom && e->message == header->code) {
            (this->*(e->onNotify))(header, result);
            return true;
          }
        }
        break;
      default:
        break;
    }
  }
  return false;
}

INT_PTR CALLBACK CDialogBase::DialogProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialogBase* self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<CDialogBase*>(lParam);
    SetWindowLongPtrA(wnd, DWLP_USER, lParam);
    self->m_hWnd = wnd;
    return self->OnInitDialog();
  }
  self = reinterpret_cast<CDialogBase*>(GetWindowLongPtrA(wnd, DWLP_USER));
  if (!self) return FALSE;

  // Reflection first: a control that handles its own colour or click answers non-zero.
  if ((message == WM_CTLCOLORSTATIC || (message == WM_COMMAND && lParam)) && lParam) {
    LRESULT reflected = SendMessageA(reinterpret_cast<HWND>(lParam), WM_REFLECT_BASE + message,
                                     wParam, lParam);
    if (reflected) {
      if (message == WM_CTLCOLORSTATIC) return static_cast<INT_PTR>(reflected);
      return TRUE;
    }
  }

  LRESULT result = 0;
  bool handled = self->Dispatch(message, wParam, lParam, &result);
  if (!handled && message == WM_COMMAND && self->m_modal) {
    if (LOWORD(wParam) == IDOK) {
      self->OnOK();
      handled = true;
    } else if (LOWORD(wParam) == IDCANCEL) {
      self->OnCancel();
      handled = true;
    }
  }
  if (message == WM_DESTROY) {
    self->OnDestroy();
  } else if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(wnd, DWLP_USER, 0);
    self->m_hWnd = nullptr;
  }
  if (handled) SetWindowLongPtrA(wnd, DWLP_MSGRESULT, result);
  return handled ? TRUE : FALSE;
}
