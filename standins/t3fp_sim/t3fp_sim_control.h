// Control exports of the t3FPDll.dll simulator, for tests in the same process. The product never
// imports these: its import library names the seven SDK functions only.
#pragma once

extern "C" {
// Takes a scenario (the text format described in t3fp_sim.cpp) for every later call, replacing any
// earlier one and forgetting the recorded calls. Returns 1, or 0 on a malformed scenario (the
// scenario in force is then one without devices; SimLastError says why).
int __cdecl SimLoadScenario(const char* text);
// Forgets the scenario and the recorded calls: the simulator reads t3fp-scenario.txt again.
void __cdecl SimReset(void);
// Forgets the recorded calls only.
void __cdecl SimClearCalls(void);
// The calls received so far, one readable line each, e.g. `vsInitFP(12, "\\?\usbstor#0", 2, 0)`.
// A returned text stays valid until the next control call.
int __cdecl SimCallCount(void);
const char* __cdecl SimCallText(int index);
const char* __cdecl SimLastError(void);
// Performance-counter ticks spent inside the seven SDK calls since the library was loaded.
long long __cdecl SimBusyTicks(void);
}
