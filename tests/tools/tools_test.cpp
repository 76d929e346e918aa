// The test tools checked against the real thing: Wine's message boxes, debug output and screen,
// and known checksum values for the PNG writer.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/tools/debug_output.h"
#include "tests/tools/message_box.h"
#include "tests/tools/png.h"
#include "tests/tools/processes.h"
#include "tests/tools/screen.h"

namespace {

const uint8_t* Bytes(const char* s) { return reinterpret_cast<const uint8_t*>(s); }

uint32_t Big32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}

TEST(Png, ChecksumsMatchKnownValues) {
  EXPECT_EQ(tools::Crc32(Bytes("123456789"), 9), 0xCBF43926u);
  EXPECT_EQ(tools::Crc32(Bytes(""), 0), 0u);
  EXPECT_EQ(tools::Crc32(Bytes("6789"), 4, tools::Crc32(Bytes("12345"), 5)), 0xCBF43926u);
  EXPECT_EQ(tools::Crc32(Bytes("IEND"), 4), 0xAE426082u);
  EXPECT_EQ(tools::Adler32(Bytes("Wikipedia"), 9), 0x11E60398u);
  EXPECT_EQ(tools::Adler32(Bytes(""), 0), 1u);
}

// Takes the file apart as a decoder would and compares what comes out with the pixels put in.
TEST(Png, FileDecodesToThePixels) {
  struct Case { uint32_t width, height; } cases[] = {{1, 1}, {3, 2}, {200, 120}};  // the last needs two blocks
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    std::vector<uint8_t> rgb(c.width * c.height * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 7 + i / 251);
    const std::vector<uint8_t> png = tools::EncodePng(c.width, c.height, rgb);

    const uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    ASSERT_GE(png.size(), 8u);
    ASSERT_EQ(std::memcmp(png.data(), signature, 8), 0);
    std::vector<std::string> types;
    std::vector<uint8_t> idat;
    for (size_t at = 8; at < png.size();) {
      ASSERT_LE(at + 12, png.size());
      const uint32_t length = Big32(png, at);
      ASSERT_LE(at + 12 + length, png.size());
      const std::string type(png.begin() + at + 4, png.begin() + at + 8);
      EXPECT_EQ(Big32(png, at + 8 + length), tools::Crc32(png.data() + at + 4, 4 + length)) << type;
      if (type == "IHDR") {
        ASSERT_EQ(length, 13u);
        EXPECT_EQ(Big32(png, at + 8), c.width);
        EXPECT_EQ(Big32(png, at + 12), c.height);
        EXPECT_EQ(std::vector<uint8_t>(png.begin() + at + 16, png.begin() + at + 21),
                  (std::vector<uint8_t>{8, 2, 0, 0, 0}));
      }
      if (type == "IDAT") idat.insert(idat.end(), png.begin() + at + 8, png.begin() + at + 8 + length);
      types.push_back(type);
      at += 12 + length;
    }
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));

    // zlib: header, stored blocks, Adler-32 of the inflated data.
    ASSERT_GE(idat.size(), 2u + 5u + 4u);
    EXPECT_EQ(idat[0], 0x78);
    EXPECT_EQ((idat[0] * 256 + idat[1]) % 31, 0);
    std::vector<uint8_t> raw;
    size_t at = 2;
    for (bool last = false; !last;) {
      ASSERT_LE(at + 5, idat.size());
      ASSERT_EQ(idat[at] & 6, 0) << "not a stored block";
      last = idat[at] & 1;
      const unsigned len = idat[at + 1] | idat[at + 2] << 8;
      const unsigned nlen = idat[at + 3] | idat[at + 4] << 8;
      ASSERT_EQ(len ^ 0xFFFFu, nlen);
      ASSERT_LE(at + 5 + len, idat.size());
      raw.insert(raw.end(), idat.begin() + at + 5, idat.begin() + at + 5 + len);
      at += 5 + len;
    }
    ASSERT_EQ(at + 4, idat.size());
    EXPECT_EQ(Big32(idat, at), tools::Adler32(raw.data(), raw.size()));

    std::vector<uint8_t> expected;
    for (uint32_t y = 0; y < c.height; ++y) {
      expected.push_back(0);
      expected.insert(expected.end(), rgb.begin() + y * c.width * 3, rgb.begin() + (y + 1) * c.width * 3);
    }
    EXPECT_EQ(raw, expected);
  }
}

// A real message box on another thread of this process, found, read and answered by the helpers.
TEST(MessageBoxHelpers, ReadAndAnswerRealBoxes) {
  ASSERT_EQ(GetACP(), 936u) << "the GBK texts need code page 936";
  struct Case {
    const char* text;
    UINT style;
    std::vector<int> buttons;
    bool icon;
    int answer;
  } cases[] = {
      {"\xcd\xa3\xd6\xb9\xb7\xfe\xce\xf1\x3f", MB_YESNO | MB_ICONQUESTION, {IDYES, IDNO}, true, IDNO},
      {"\xcd\xa3\xd6\xb9\xb7\xfe\xce\xf1\x3f", MB_YESNO | MB_ICONQUESTION, {IDYES, IDNO}, true, IDYES},
      {"\xc6\xf4\xb6\xaf\xb7\xfe\xce\xf1\xca\xa7\xb0\xdc", MB_OK, {IDOK}, false, IDOK},
      {"plain text", MB_ICONERROR, {IDOK}, true, IDOK},
  };
  const char* caption = "tools_tests box";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int result = 0;
    std::thread shower([&] { result = MessageBoxA(nullptr, c.text, caption, c.style); });
    HWND box = tools::WaitForMessageBox(caption, 10000);
    tools::MessageBoxView view;
    const bool read = box && tools::ReadMessageBox(box, &view);
    if (box) tools::AnswerMessageBox(box, c.answer);
    shower.join();
    ASSERT_TRUE(read) << "no box (is there an X display?)";
    EXPECT_EQ(view.text, c.text);
    std::vector<int> buttons = c.buttons;
    std::sort(buttons.begin(), buttons.end());
    EXPECT_EQ(view.buttons, buttons);
    EXPECT_EQ(view.icon, c.icon);
    EXPECT_EQ(result, c.answer);
    EXPECT_TRUE(tools::WaitWindowGone(box, 5000));
  }
  EXPECT_EQ(tools::WaitForMessageBox(caption, 0), nullptr);
}

TEST(DebugOutput, CapturesLinesWithTheWritersProcessId) {
  tools::DebugOutputCapture capture;
  ASSERT_TRUE(capture.valid());
  tools::DebugOutputCapture second;
  EXPECT_FALSE(second.valid()) << "only one reader can own the buffer";

  std::thread writer([] {
    OutputDebugStringA("first line\r\n");
    OutputDebugStringA("CreateProcessAsUser OK!\r\n");
  });
  writer.join();
  tools::DebugLine line;
  ASSERT_TRUE(capture.WaitFor("CreateProcessAsUser OK!\r\n", GetCurrentProcessId(), 5000, &line));
  EXPECT_EQ(line.pid, GetCurrentProcessId());
  const auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "first line\r\n");
  EXPECT_FALSE(capture.WaitFor("CreateProcessAsUser OK!\r\n", GetCurrentProcessId() + 4, 0));
}

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  return DefWindowProcA(window, message, w, l);
}

// A window painted in one colour shows up in the capture at its place, with red, green and blue in order.
TEST(Screen, CaptureShowsAWindowInItsColour) {
  HBRUSH brush = CreateSolidBrush(RGB(0x12, 0x9A, 0xF0));
  WNDCLASSA wc = {};
  wc.lpfnWndProc = PlainWindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hbrBackground = brush;
  wc.lpszClassName = "tools_tests colour";
  ASSERT_TRUE(RegisterClassA(&wc));
  HWND window = CreateWindowExA(WS_EX_TOPMOST, wc.lpszClassName, "colour", WS_POPUP | WS_VISIBLE, 40, 60, 80, 50,
                                nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_TRUE(window);
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;
  bool coloured = false;
  for (int attempt = 0; attempt < 50 && !coloured; ++attempt) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    UpdateWindow(window);
    ASSERT_TRUE(tools::CaptureScreen(&width, &height, &rgb));
    const size_t at = (static_cast<size_t>(80) * width + 70) * 3;
    coloured = rgb[at] == 0x12 && rgb[at + 1] == 0x9A && rgb[at + 2] == 0xF0;
    if (!coloured) Sleep(20);
  }
  DestroyWindow(window);
  UnregisterClassA(wc.lpszClassName, wc.hInstance);
  DeleteObject(brush);
  EXPECT_EQ(width, static_cast<uint32_t>(GetSystemMetrics(SM_CXSCREEN)));
  EXPECT_EQ(height, static_cast<uint32_t>(GetSystemMetrics(SM_CYSCREEN)));
  EXPECT_EQ(rgb.size(), static_cast<size_t>(width) * height * 3);
  EXPECT_TRUE(coloured);
}

TEST(Processes, FindsAndEndsAKeeper) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string keeper(path);
  keeper = keeper.substr(0, keeper.find_last_of('\\') + 1) + "keeper.exe";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;  // no standard handles of ours
  PROCESS_INFORMATION pi = {};
  std::string commandLine = "\"" + keeper + "\" 30";
  ASSERT_TRUE(CreateProcessA(keeper.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);

  const auto keepers = tools::FindProcesses("KEEPER.EXE");
  EXPECT_NE(std::find(keepers.begin(), keepers.end(), pi.dwProcessId), keepers.end());
  EXPECT_TRUE(tools::ProcessExists(pi.dwProcessId));
  EXPECT_NE(tools::SessionOf(GetCurrentProcessId()), static_cast<DWORD>(-1));
  EXPECT_FALSE(tools::WaitProcessGone(pi.dwProcessId, 0));
  EXPECT_TRUE(tools::KillProcess(pi.dwProcessId));
  EXPECT_FALSE(tools::ProcessExists(pi.dwProcessId));
}

}  // namespace
