#include "service/protected_files.h"

#include <windows.h>

#include "device/bridge_api.h"
#include "device/fp_sdk.h"
#include "launch/mode_file.h"
#include "service/service_events.h"
#include "platform/file_security.h"
#include "platform/path_scan.h"
#include "platform/syscalls.h"

namespace {

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// This executable's path, or "" when it cannot be read whole.
std::string ModulePath() {
  char path[MAX_PATH];
  const DWORD length = ReadModulePath(path, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::string() : std::string(path, length);
}

}  // namespace

std::string ServiceFolderPrefix() {
  char prefix[MAX_PATH];
  return PathBesideExecutable("", prefix, MAX_PATH) ? prefix : "";
}

std::string ServiceFolder() {
  const std::string module = ModulePath();
  char folder[MAX_PATH];
  return !module.empty() && FolderOfPath(module.c_str(), folder, MAX_PATH) ? folder : "";
}

std::vector<std::string> ProtectedPaths() {
  const std::string module = ModulePath();
  const std::string prefix = ServiceFolderPrefix();
  if (module.empty() || prefix.empty()) return {};
  const std::string folder = ServiceFolder();
  std::vector<std::string> paths = {folder, module, prefix + kSdkLibraryName, prefix + BridgeApi::kLibraryName};
  const std::string modeFile = prefix + kModeFileName;
  const std::string name = kModeFileName;
  const std::string modeFolder = prefix + name.substr(0, name.find('\\'));
  if (Exists(modeFile)) {
    paths.push_back(modeFile);
  } else if (Exists(modeFolder)) {
    paths.push_back(modeFolder);
  }
  return paths;
}

void WarnWhenFolderWritable() {
  const std::vector<std::string> paths = ProtectedPaths();
  for (const std::string& path : paths) {
    const OtherWriter writer = FindOtherWriter(path.c_str());
    if (writer.error != ERROR_SUCCESS || !writer.found) continue;
    ReportFolderWritable(path.c_str(), writer.account.c_str(), paths.front().c_str());
    return;
  }
}
