// When the service starts the desktop program: on a device arrival, on each timer message, and (when
// switched on) when a user logs on at the console.
#pragma once

#include <windows.h>

#include <cstdint>

// The arrival response lists up to kListingAttempts times, pausing kPauseMs after each listing
// that finds nothing.
constexpr int kListingAttempts = 20;
constexpr DWORD kPauseMs = 1000;

// 1 while the timer response has started the desktop program and not since seen the device list
// empty. Touched by the worker thread alone.
extern int32_t LaunchedFlag;

// The arrival response. The pauses between listing attempts wait on `stopEvent` when one is given:
// once it is signalled the response returns at once without launching.
void OnDeviceArrival(HANDLE stopEvent = nullptr);

// The arrival decision once, for a user who has logged on at the console (or was logged on when the
// service started, or a launch waited for the logon): one listing, no pause, "AutoBack" and the
// running check as on an arrival. Ends a launch's wait for a console logon.
void OnConsoleLogon();

// The timer response.
void OnLaunchTimer();
