// Registering, starting, stopping and removing this executable's service: the installation shared
// by the by-hand branch, the administrator's switches and the package. Each routine answers 0 or the
// Win32 error that stopped it, and shows nothing.
#pragma once

#include <windows.h>

#include "platform/handles.h"

inline constexpr DWORD kServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
inline constexpr DWORD kModulePathRoom = MAX_PATH;  // as ReadModulePath is offered it
// Opening quote, the path as ReadModulePath writes it, closing quote, terminator.
inline constexpr DWORD kQuotedPathRoom = 1 + kModulePathRoom + 2;
// This executable's path cannot be read whole: nothing is registered.
inline constexpr DWORD kPathUnreadable = ERROR_BAD_PATHNAME;

// Failure recovery: restart after kRestartDelayMs, twice, then nothing; the count resets after a day.
inline constexpr DWORD kRestartDelayMs = 5000;
inline constexpr DWORD kFailureResetSeconds = 24 * 60 * 60;
inline constexpr SC_ACTION kFailureActions[] = {
    {SC_ACTION_RESTART, kRestartDelayMs}, {SC_ACTION_RESTART, kRestartDelayMs}, {SC_ACTION_NONE, 0}};

// How long starting and stopping wait for RUNNING or STOPPED before answering
// ERROR_SERVICE_REQUEST_TIMEOUT.
inline constexpr DWORD kStateWaitMs = 30000;

// This executable's full path in double quotes; false when it cannot be read whole, or holds a
// character with no exact form in the ANSI code page (ReadModulePath refuses it).
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

// Starts the service and waits for RUNNING; a paused one answers ERROR_SERVICE_ALREADY_RUNNING, a
// stopping one is started once it has stopped (StopAndWait). A service that stops on the way answers
// the Win32 exit code it reported (ERROR_SERVICE_NOT_ACTIVE for none); for
// ERROR_SERVICE_SPECIFIC_ERROR its own code is in `serviceCode`, which is 0 otherwise. Needs
// SERVICE_START, SERVICE_QUERY_STATUS and SERVICE_QUERY_CONFIG.
DWORD StartAndWait(SC_HANDLE service, DWORD& serviceCode);

// Asks the service to stop (unless it is stopped or stopping) and waits for STOPPED and for the end
// of its process: the process the service still reports once it has been opened, so that an id the
// system gave to another process meanwhile is never waited on. A service already STOPPED still waits
// for any process of its registered executable (other than this one) to end. Needs SERVICE_STOP,
// SERVICE_QUERY_STATUS and SERVICE_QUERY_CONFIG.
DWORD StopAndWait(SC_HANDLE service);

// The registered configuration, in `buffer`; null, with the error left, when it cannot be read.
inline constexpr DWORD kServiceConfigRoom = 8192;
const QUERY_SERVICE_CONFIGA* ReadServiceConfig(SC_HANDLE service, BYTE (&buffer)[kServiceConfigRoom]);

// This executable's service opened with `access`, or an empty handle with the error in `error`.
sys::UniqueServiceHandle OpenOwnService(DWORD access, DWORD& error);

// Registers this executable as the service, or points an existing registration at it, and starts it
// (StartAndWait). An existing registration keeps its start type; a disabled one is registered but not
// started (`started` false). When the start fails, the previous registration is put back.
DWORD InstallAndStart(bool& started, DWORD& serviceCode);
