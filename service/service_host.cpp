#include "service/service_host.h"

const char kServiceName[] = "MarrowbankServer";

ServiceHost* g_serviceHost = nullptr;

void PublishServiceHost() {
  auto* host = new ServiceHost{};
  host->displayName = kServiceName;
  host->serviceName = kServiceName;
  g_serviceHost = host;
}
