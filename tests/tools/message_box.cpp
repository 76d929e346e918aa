#include "tests/tools/message_box.h"

#include <algorithm>

namespace tools {

namespace {

constexpr int kButtonIds[] = {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO, IDTRYAGAIN, IDCONTINUE};

struct Children {
  std::string text;
  bool textFound = false;
  bool icon = false;
};

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

BOOL CALLBACK VisitChild(HWND child, LPARAM param) {
  auto* found = reinterpret_cast<Children*>(param);
  if (_stricmp(ClassOf(child).c_str(), "Static") != 0 || !IsWindowVisible(child)) return TRUE;
  const LONG type = GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK;
  if (type == SS_ICON || type == SS_BITMAP) {
    found->icon = found->icon || SendMessageA(child, STM_GETICON, 0, 0) != 0;
  } else if (!found->textFound) {
    char text[2048] = {};
    const int n = GetWindowTextA(child, text, sizeof text);
    found->text.assign(text, n > 0 ? n : 0);
    found->textFound = true;
  }
  return TRUE;
}

}  // namespace

HWND WaitForMessageBox(const char* caption, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    HWND box = FindWindowA(nullptr, caption);
    // Visible once its initialisation (text, buttons, icon) is complete.
    if (box && IsWindowVisible(box)) return box;
    if (GetTickCount() - start >= timeoutMs) return nullptr;
    Sleep(20);
  }
}

bool ReadMessageBox(HWND box, MessageBoxView* view) {
  if (!IsWindow(box)) return false;
  Children found;
  EnumChildWindows(box, VisitChild, reinterpret_cast<LPARAM>(&found));
  view->text = found.text;
  view->icon = found.icon;
  view->buttons.clear();
  for (int id : kButtonIds) {
    HWND button = GetDlgItem(box, id);
    if (button && IsWindowVisible(button)) view->buttons.push_back(id);
  }
  std::sort(view->buttons.begin(), view->buttons.end());
  return found.textFound;
}

bool AnswerMessageBox(HWND box, int id) {
  return PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0) != 0;
}

bool WaitWindowGone(HWND window, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (IsWindow(window)) {
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(20);
  }
  return true;
}

std::string ButtonName(int id) {
  switch (id) {
    case IDOK: return "OK";
    case IDCANCEL: return "CANCEL";
    case IDABORT: return "ABORT";
    case IDRETRY: return "RETRY";
    case IDIGNORE: return "IGNORE";
    case IDYES: return "YES";
    case IDNO: return "NO";
    case IDTRYAGAIN: return "TRYAGAIN";
    case IDCONTINUE: return "CONTINUE";
    default: return std::to_string(id);
  }
}

}  // namespace tools
