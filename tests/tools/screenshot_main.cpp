// screenshot.exe: writes what the display shows as a PNG file and prints "PATH WIDTHxHEIGHT".
//   screenshot PATH.png [CLASS]
// PATH is a Windows path (under Wine, a Unix path /x/y is reached as Z:\x\y). With CLASS, only once
// a visible top-level window of that class exists and its thread has painted it: a message sent to
// the window returns only after the thread's ShowWindow and UpdateWindow, when it takes messages.
// Exit code 0 when written, 1 when the screen could not be captured or the file not written, 2 when
// no such window is shown (yet).
#include <windows.h>

#include <cstdio>

#include "tests/tools/png.h"
#include "tests/tools/screen.h"

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: screenshot PATH.png [CLASS]\n");
    return 3;
  }
  if (argc == 3) {
    HWND window = ::FindWindowA(argv[2], nullptr);
    if (window == nullptr || !::IsWindowVisible(window)) return 2;
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK, 10000, &result)) return 2;
  }
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;
  if (!tools::CaptureScreen(&width, &height, &rgb)) {
    std::fprintf(stderr, "screenshot: the screen could not be captured\n");
    return 1;
  }
  if (!tools::WriteFileBytes(argv[1], tools::EncodePng(width, height, rgb))) {
    std::fprintf(stderr, "screenshot: %s could not be written\n", argv[1]);
    return 1;
  }
  std::printf("%s %ux%u\n", argv[1], static_cast<unsigned>(width), static_cast<unsigned>(height));
  return 0;
}
