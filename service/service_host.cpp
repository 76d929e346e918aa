#include "service/service_host.h"

const char kServiceName[] = "MarrowbankServer";

ServiceHost* g_serviceHost = nullptr;
