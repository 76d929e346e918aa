// Finds a message box by its caption from outside the process that shows it, reads it, answers it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tools {

struct MessageBoxView {
  std::string text;          // the text's bytes in this process's ANSI code page
  std::vector<int> buttons;  // the command identifiers of its visible buttons (IDOK, IDYES, ...), ascending
  bool icon = false;         // whether it shows an icon
};

// Waits until a visible top-level window with this caption exists; null when none came in time.
HWND WaitForMessageBox(const char* caption, DWORD timeoutMs);

// Reads the text of the box's "Static" child, its buttons and whether it shows an icon.
bool ReadMessageBox(HWND box, MessageBoxView* view);

// Answers as if the button `id` (IDYES, IDNO, IDOK, ...) had been clicked.
bool AnswerMessageBox(HWND box, int id);

// Waits until the window has gone.
bool WaitWindowGone(HWND window, DWORD timeoutMs);

// "OK", "YES", "NO", ... for a button identifier; the number for any other value.
std::string ButtonName(int id);

}  // namespace tools
