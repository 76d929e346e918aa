// Stand-in for the desktop program the service starts. It shows a window that says what it is,
// records each start (command line and session) in "Marrowbank-starts.log" beside itself, and
// stays until closed. With "--exit" on its command line it records the start and ends at once; with
// "--record-folder" it also records its current folder in "Marrowbank-folders.log".
// It keeps running without a window where no display is available.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr char kTitle[] = "Marrowbank (stand-in desktop program)";
constexpr char kClassName[] = "MarrowbankStandIn";

std::string OwnDirectory() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  if (char* separator = std::strrchr(path, '\\')) separator[1] = '\0';
  return path;
}

// One line per start: "pid=<id> session=<id> cmdline=<command line>". Opened for appending with
// sharing, so starts that overlap do not lose lines.
void RecordLine(const char* logName, const std::string& line) {
  const std::string log = OwnDirectory() + logName;
  HANDLE file = ::CreateFileA(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\r\n";
  DWORD written = 0;
  ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(file);
}

void RecordStart(const std::string& line) { RecordLine("Marrowbank-starts.log", line); }

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

HWND ShowWindowWithText(HINSTANCE instance, const std::string& text) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kClassName;
  if (!::RegisterClassA(&windowClass)) return nullptr;
  HWND window = ::CreateWindowExA(0, kClassName, kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  520, 200, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return nullptr;
  ::CreateWindowExA(0, "STATIC", text.c_str(), WS_CHILD | WS_VISIBLE, 10, 10, 490, 140, window, nullptr,
                    instance, nullptr);
  ::ShowWindow(window, SW_SHOWNORMAL);
  ::UpdateWindow(window);
  return window;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  const char* commandLine = ::GetCommandLineA();
  DWORD sessionId = 0;
  if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &sessionId)) sessionId = 0xFFFFFFFF;

  char line[64];
  std::snprintf(line, sizeof line, "pid=%lu session=%lu cmdline=", ::GetCurrentProcessId(), sessionId);
  RecordStart(line + std::string(commandLine));
  // With "--record-folder": the folder it was started in, one line per start, apart from the starts'
  // own log.
  if (std::strstr(commandLine, "--record-folder") != nullptr) {
    char folder[MAX_PATH + 1] = {};
    const DWORD folderLength = ::GetCurrentDirectoryA(sizeof folder, folder);
    RecordLine("Marrowbank-folders.log", folderLength > 0 && folderLength < sizeof folder ? folder : "?");
  }
  if (std::strstr(commandLine, "--exit") != nullptr) return 0;

  char session[32];
  std::snprintf(session, sizeof session, "%lu", sessionId);
  ShowWindowWithText(instance, std::string("Started by the service.\r\n\r\nCommand line: ") + commandLine +
                                   "\r\nSession: " + session);

  // Without a window no message arrives; the program then waits until it is ended from outside.
  MSG message;
  while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
  return 0;
}
