#include "client/ui/message_box.h"

namespace {
IMessageBoxes* g_boxes = nullptr;
}

int AccelMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
  if (g_boxes) return g_boxes->Show(owner, text, caption, type);
  return MessageBoxA(owner, text, caption, type);
}

void SetMessageBoxes(IMessageBoxes* boxes) { g_boxes = boxes; }
