// What the executable does with its own service, chosen by the service's state.
#pragma once

#include <windows.h>

#include <cstddef>

// Installs and starts, starts, leaves alone, asks whether to stop, or (started by the service
// control manager) becomes the service until it stops. Reads the names from `g_serviceHost`.
void RunServiceController();

// The installation, shared by the hand-run installer, the administrator's switches and the package.
// Each routine answers 0 or the Win32 error that stopped it, and shows nothing.

inline constexpr DWORD kServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
inline constexpr DWORD kModulePathRoom = MAX_PATH;  // as GetModuleFileNameA is offered it
// Opening quote, the path as GetModuleFileNameA writes it, closing quote, terminator.
inline constexpr DWORD kQuotedPathRoom = 1 + kModulePathRoom + 2;
// This executable's path cannot be read whole: nothing is registered.
inline constexpr DWORD kPathUnreadable = ERROR_BAD_PATHNAME;

// Failure recovery: restart after kRestartDelayMs, twice, then nothing; the count resets after a day.
inline constexpr DWORD kRestartDelayMs = 5000;
inline constexpr DWORD kFailureResetSeconds = 24 * 60 * 60;

// How long starting and stopping wait for RUNNING or STOPPED before answering
// ERROR_SERVICE_REQUEST_TIMEOUT.
inline constexpr DWORD kStateWaitMs = 30000;

// This executable's full path in double quotes; false when it cannot be read whole, or holds a
// character outside the ANSI code page (GetModuleFileNameA gives '?' for it).
bool ReadQuotedModulePath(char (&command)[kQuotedPathRoom]);

// Sets what CreateServiceA cannot: the description and the failure actions. Their failure leaves a
// working service, so it is not reported.
void ConfigureService(SC_HANDLE service);

// Registers the event source with this executable, `command` (quoted, as ReadQuotedModulePath gives
// it), as its message file. Its failure leaves a working service whose events lack their texts, so
// it is not reported.
void RegisterEventSourceFor(const char (&command)[kQuotedPathRoom]);

// Creates the service for this executable (automatic start, local system) and configures it.
// Everything an installation registers is registered here.
DWORD InstallService();

// Stops the service, waiting for STOPPED, and deletes it with everything InstallService registered.
// A service that does not exist is already uninstalled: 0.
DWORD UninstallService();

// Starts the service and waits for RUNNING; a service that stops on the way answers its exit code,
// a paused or stopping one ERROR_SERVICE_ALREADY_RUNNING.
DWORD StartAndWait(SC_HANDLE service);

// Asks the service to stop (unless it is stopped or stopping) and waits for STOPPED and for the end
// of its process.
DWORD StopAndWait(SC_HANDLE service);

// The installer's texts, code page 936, byte for byte. They are converted from that code page
// explicitly and shown (MessageBoxW) or registered (ChangeServiceConfig2W) as UTF-16, so they read the
// same on a system of any ANSI code page.
// "如果停止此服务，KOLVA的设备将不会被发现。如果禁用此服务，任何依赖此服务的服务都无法正常启动。"
inline constexpr char kServiceDescription[] =
    "\xC8\xE7\xB9\xFB\xCD\xA3\xD6\xB9\xB4\xCB\xB7\xFE\xCE\xF1\xA3\xAC"
    "KOLVA"
    "\xB5\xC4\xC9\xE8\xB1\xB8\xBD\xAB\xB2\xBB\xBB\xE1\xB1\xBB\xB7\xA2\xCF\xD6\xA1\xA3"
    "\xC8\xE7\xB9\xFB\xBD\xFB\xD3\xC3\xB4\xCB\xB7\xFE\xCE\xF1\xA3\xAC"
    "\xC8\xCE\xBA\xCE\xD2\xC0\xC0\xB5\xB4\xCB\xB7\xFE\xCE\xF1\xB5\xC4\xB7\xFE\xCE\xF1"
    "\xB6\xBC\xCE\xDE\xB7\xA8\xD5\xFD\xB3\xA3\xC6\xF4\xB6\xAF\xA1\xA3";
static_assert(sizeof(kServiceDescription) - 1 == 93);
inline constexpr std::size_t kDescriptionBufferSize = 128;

// "启动服务出错，错误码：%d"
inline constexpr char kDispatchErrorFormat[] =
    "\xC6\xF4\xB6\xAF\xB7\xFE\xCE\xF1\xB3\xF6\xB4\xED\xA3\xAC\xB4\xED\xCE\xF3\xC2\xEB\xA3\xBA%d";
// "停止服务?"
inline constexpr char kStopQuestion[] = "\xCD\xA3\xD6\xB9\xB7\xFE\xCE\xF1?";
// "创建服务失败，未能获取应用程序当前的路径"
inline constexpr char kNoPathMessage[] =
    "\xB4\xB4\xBD\xA8\xB7\xFE\xCE\xF1\xCA\xA7\xB0\xDC\xA3\xAC"
    "\xCE\xB4\xC4\xDC\xBB\xF1\xC8\xA1\xD3\xA6\xD3\xC3\xB3\xCC\xD0\xF2\xB5\xB1\xC7\xB0\xB5\xC4\xC2\xB7\xBE\xB6";
// "启动服务失败"
inline constexpr char kStartFailedMessage[] = "\xC6\xF4\xB6\xAF\xB7\xFE\xCE\xF1\xCA\xA7\xB0\xDC";
