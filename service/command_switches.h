// The administrator's switches: MarrowbankServer.exe /install | /uninstall | /start | /stop | /status,
// each optionally with /quiet, /status and /selftest also with /json (run by the entry: the self-test sits above the
// service host). Without arguments the executable is the hand-run installer and the
// service itself (RunServiceController); these switches never change that road.
#pragma once

#include <windows.h>

#include <string>

#include "launch/settings.h"

enum class SwitchAction { kNone, kInstall, kUninstall, kStart, kStop, kStatus, kSelfTest };

struct CommandSwitches {
  SwitchAction action;
  bool quiet;
  bool valid;  // false: an unknown argument, a second action, /quiet alone, /json without /status or /selftest
  bool json;   // /json: the status or the self-test's report as JSON
};

// Reads the arguments after the program name (WinMain's command line). Switches are
// case-insensitive and start with '/' or '-'; empty arguments ("") are skipped.
CommandSwitches ParseCommandSwitches(const char* arguments);

// True when the arguments hold nothing but blanks and empty arguments (""): the executable runs the
// by-hand branch, or is the service.
bool NoArguments(const char* arguments);

// What /status found of the service: `error` 0 with its state and image path ("?" when unreadable),
// ERROR_SERVICE_DOES_NOT_EXIST when absent, or the error that stopped the query.
struct ServiceStatusFacts {
  DWORD error;
  DWORD state;
  std::string imagePath;
};

// /status's text: the service's line, then one line per setting in force, each value passed over and
// each source that could not be read.
std::string StatusText(const ServiceStatusFacts& facts, const Settings& settings);

// /status /json: the same as one JSON object on one line (README.md, "Switches").
std::string StatusJson(const ServiceStatusFacts& facts, const Settings& settings);

// Exit codes: 0 done (also when the service was already in the wanted state); /status: the
// service's state 1-7, or ERROR_SERVICE_DOES_NOT_EXIST (1060); ERROR_INVALID_PARAMETER (87) for an
// unknown argument, which changes nothing; otherwise the Win32 error that stopped the switch, such
// as 5 (access denied), 1060 (no such service), 1053 (no RUNNING or STOPPED within the wait) or the
// Win32 code a service stopped with while starting (1066 for a code of its own, which the text gives).
// /selftest is not run here: it answers 87 with the usage.
DWORD RunCommandSwitches(const char* arguments);

// The switches' one output: to the standard output when the parent gave one (a pipe or a file), else
// to the parent's console, else in a message box unless `quiet`.
void TellAdministrator(const char* text, bool failed, bool quiet);
