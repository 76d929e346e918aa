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
// Pointer-sized fields, each DWORD padded to the next pointer: 28 bytes on i686, 56 on x86_64.
constexpr std::size_t kHostWord = sizeof(void*);
static_assert(offsetof(ServiceHost, workerThread) == 0 && offsetof(ServiceHost, statusHandle) == kHostWord &&
              offsetof(ServiceHost, stopEvent) == 2 * kHostWord && offsetof(ServiceHost, currentState) == 3 * kHostWord &&
              offsetof(ServiceHost, displayName) == 4 * kHostWord && offsetof(ServiceHost, serviceName) == 5 * kHostWord &&
              offsetof(ServiceHost, workerThreadId) == 6 * kHostWord && sizeof(ServiceHost) == (kHostWord == 4 ? 28 : 56));

// "MarrowbankServer": the service name, the display name and every message box's caption.
extern const char kServiceName[];

// The process's record; published by the entry before anything else reads it.
extern ServiceHost* g_serviceHost;
