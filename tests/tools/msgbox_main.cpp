// msgbox.exe: waits for a message box by its caption, prints what it shows, and answers it.
//   msgbox [--caption TEXT] [--timeout MS] [--answer yes|no|ok|cancel|none] [--utf8]
// Defaults: caption "MarrowbankServer", 15000 ms, answer none (the box is left open). Prints
//   text: <the text's bytes in the ANSI code page, or UTF-8 with --utf8>
//   hex: <the ANSI bytes in hexadecimal>
//   buttons: YES NO
//   icon: yes|no
//   answered: NO
// Exit code 0 when a box was found (and answered), 1 when none came in time, 3 for bad arguments.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/tools/message_box.h"

namespace {

int AnswerId(const std::string& name) {
  if (name == "yes") return IDYES;
  if (name == "no") return IDNO;
  if (name == "ok") return IDOK;
  if (name == "cancel") return IDCANCEL;
  if (name == "none") return 0;
  return -1;
}

std::string AnsiToUtf8(const std::string& text) {
  const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring w(wide, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &w[0], wide);
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, &out[0], n, nullptr, nullptr);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const char* caption = "MarrowbankServer";
  DWORD timeout = 15000;
  int answer = 0;
  bool utf8 = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--caption") && i + 1 < argc) caption = argv[++i];
    else if (!std::strcmp(argv[i], "--timeout") && i + 1 < argc) timeout = std::strtoul(argv[++i], nullptr, 10);
    else if (!std::strcmp(argv[i], "--answer") && i + 1 < argc && AnswerId(argv[i + 1]) >= 0) answer = AnswerId(argv[++i]);
    else if (!std::strcmp(argv[i], "--utf8")) utf8 = true;
    else {
      std::fprintf(stderr, "usage: msgbox [--caption TEXT] [--timeout MS] [--answer yes|no|ok|cancel|none] [--utf8]\n");
      return 3;
    }
  }
  HWND box = tools::WaitForMessageBox(caption, timeout);
  if (!box) {
    std::printf("no message box \"%s\" within %lu ms\n", caption, static_cast<unsigned long>(timeout));
    return 1;
  }
  tools::MessageBoxView view;
  tools::ReadMessageBox(box, &view);
  std::printf("text: %s\nhex:", (utf8 ? AnsiToUtf8(view.text) : view.text).c_str());
  for (unsigned char c : view.text) std::printf(" %02X", c);
  std::printf("\nbuttons:");
  for (int id : view.buttons) std::printf(" %s", tools::ButtonName(id).c_str());
  std::printf("\nicon: %s\n", view.icon ? "yes" : "no");
  if (answer) {
    tools::AnswerMessageBox(box, answer);
    std::printf("answered: %s\n", tools::ButtonName(answer).c_str());
  }
  return 0;
}
