// The files whoever can change runs code as LocalSystem through the service, and the warning at start
// when an account other than SYSTEM, Administrators and TrustedInstaller can change one of them.
#pragma once

#include <string>
#include <vector>

// The service's folder, this executable, t3FPDll.dll, JMUsbDll.dll and the mode file beside it; while
// the mode file is absent, its folder "language" in its place (whoever can write there can create
// it), and while that is absent too, nothing more (the folder decides). Empty when this executable's
// path cannot be read.
std::vector<std::string> ProtectedPaths();

// The folder of ProtectedPaths(), as its first entry is written.
std::string ServiceFolder();

// One warning event, for the first of ProtectedPaths() that such an account can change, naming it,
// the account and what to do. A file that is missing or whose access list cannot be read is passed
// over: the self-test reports those. The service never refuses to run for it: a folder made by hand
// on an old machine must keep working.
void WarnWhenFolderWritable();
