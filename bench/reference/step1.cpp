// reference_step1.exe, service "MarrowbankReference1": step 0 with the product's state query
// before the dispatcher.
#include "bench/reference/service.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  reference::QueryState("MarrowbankReference1");
  return reference::Serve("MarrowbankReference1");
}
