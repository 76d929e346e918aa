// What this process holds: private memory, open handles, threads. For leak checks and the
// benchmark's footprint figures.
#pragma once

#include <windows.h>

#include <cstddef>
#include <map>
#include <string>

namespace tools {

struct Footprint {
  size_t privateBytes;  // committed private memory: the sum of the MEM_PRIVATE regions VirtualQuery shows
  int handles;          // handle values that GetHandleInformation accepts, probed from 4 to 0xFFFC
  int threads;          // this process's threads in a Tool Help snapshot
};

// Wine's GetProcessHandleCount always reports 0, hence the probing.
Footprint MeasureFootprint();

// The open handles by their object type ("Event", "Key", "Thread", ...), probed the same way.
std::map<std::string, int> HandleTypes();

}  // namespace tools
