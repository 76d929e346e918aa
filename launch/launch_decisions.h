// When the service starts the desktop program: on a device arrival and on each timer message.
#pragma once

#include <windows.h>

#include <cstdint>

// 1 while the timer response has started the desktop program and not since seen the device list
// empty. Touched by the worker thread alone.
extern int32_t LaunchedFlag;

// The arrival response. The pauses between listing attempts wait on `stopEvent` when one is given:
// once it is signalled the response returns at once without launching.
void OnDeviceArrival(HANDLE stopEvent = nullptr);

// The timer response.
void OnLaunchTimer();
