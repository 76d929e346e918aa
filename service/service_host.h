// The service host's one global record: created zero-filled by the entry, filled in by the service
// main routine, read by the control handler, and never freed.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>

struct ServiceHost {
  HANDLE workerThread;
  SERVICE_STATUS_HANDLE statusHandle;
  HANDLE stopEvent;
  // Written by the service main thread and the control dispatcher's thread, read by the latter.
  std::atomic<DWORD> currentState;
  const char* displayName;
  const char* serviceName;
  // Where arrivals and the quit message are posted; 0 while no worker thread takes messages.
  std::atomic<DWORD> workerThreadId;
};

static_assert(sizeof(std::atomic<DWORD>) == 4 && std::atomic<DWORD>::is_always_lock_free);
static_assert(offsetof(ServiceHost, workerThread) == 0 && offsetof(ServiceHost, statusHandle) == 4 &&
              offsetof(ServiceHost, stopEvent) == 8 && offsetof(ServiceHost, currentState) == 12 &&
              offsetof(ServiceHost, displayName) == 16 && offsetof(ServiceHost, serviceName) == 20 &&
              offsetof(ServiceHost, workerThreadId) == 24 && sizeof(ServiceHost) == 28);

// "MarrowbankServer": the service name, the display name and every message box's caption.
extern const char kServiceName[];

// The process's record; published by the entry before anything else reads it.
extern ServiceHost* g_serviceHost;
