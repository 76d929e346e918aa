// The service host's one global record: created zero-filled by the entry, which names the service;
// the service main routine adds the status handle. Never freed. The runtime state (recorded state,
// stop event, worker) has its owners in service/service_main.cpp and service/worker.h.
#pragma once

#include <windows.h>

#include <cstddef>

struct ServiceHost {
  SERVICE_STATUS_HANDLE statusHandle;
  const char* displayName;
  const char* serviceName;
};

static_assert(offsetof(ServiceHost, statusHandle) == 0 && offsetof(ServiceHost, displayName) == sizeof(void*) &&
              offsetof(ServiceHost, serviceName) == 2 * sizeof(void*) && sizeof(ServiceHost) == 3 * sizeof(void*));

// "MarrowbankServer": the service name, the display name and every message box's caption.
extern const char kServiceName[];

// The process's record; published by the entry before anything else reads it.
extern ServiceHost* g_serviceHost;

// Creates the process's record, zero-filled and named kServiceName, and publishes it in
// g_serviceHost. Called once; the record lives until the process ends.
void PublishServiceHost();
