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

// The folder of ProtectedPaths(), as its first entry is written; "" when this executable's path
// cannot be read.
std::string ServiceFolder();

// This executable's path up to and including its last separator, for the names of the files beside
// it. The folder's last byte is no guide: a double-byte character may end in 0x5C.
std::string ServiceFolderPrefix();

// One warning event, for the first of ProtectedPaths() that such an account can change, naming it,
// the account and what to do. A file that is missing or whose access list cannot be read is passed
// over: the self-test reports those. The service never refuses to run for it: a folder made by hand
// on an old machine must keep working.
void WarnWhenFolderWritable();
