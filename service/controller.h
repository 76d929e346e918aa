// The by-hand branch: what the executable does with its own service when run without arguments,
// chosen by the service's state.
#pragma once

// Installs and starts, starts, leaves alone, asks whether to stop, or (started by the service
// control manager) becomes the service until it stops. Reads the names from `g_serviceHost`.
void RunServiceController();
