// reference_service.exe, service "MarrowbankReference": the least any service can do. Register the
// handler, report RUNNING, wait for STOP, report STOPPED.
#include "bench/reference/service.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return reference::Serve("MarrowbankReference"); }
