// The desktop program's manifest, read before it is ever started with the console user's token.
//
// A program whose manifest asks for administrator rights cannot be started with a user's token:
// under user account control that token is the filtered one, and CreateProcessAsUser fails with 740
// (ERROR_ELEVATION_REQUIRED). The service says so once at start rather than at every failed launch.
#pragma once

#include <string>

// The level of the requestedExecutionLevel element in the embedded manifest (resource 1 of type
// RT_MANIFEST) of the program at `path`: "asInvoker", "highestAvailable", "requireAdministrator";
// "" when the program, its manifest or the element cannot be read.
std::string RequestedExecutionLevel(const char* path);

// For a start with LaunchAs=user: one warning event when the manifest of "Marrowbank.exe" beside
// this executable asks for administrator rights (requireAdministrator, or highestAvailable, which
// asks for them of a user who has them), naming the program and the remedy.
void WarnWhenProgramNeedsElevation();
