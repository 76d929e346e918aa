#include "platform/file_security.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstring>

#include "platform/handles.h"

namespace {

constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                      FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                      GENERIC_ALL;

// SYSTEM, Administrators, TrustedInstaller: the accounts that own an installation's files.
constexpr const char* kTrustedSids[] = {"S-1-5-18", "S-1-5-32-544",
                                        "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};

std::string SidString(PSID sid) {
  sys::UniqueLocalMemory text;
  char* raw = nullptr;
  if (!::ConvertSidToStringSidA(sid, &raw)) return "";
  text.reset(raw);
  return raw;
}

// A SID that cannot even be written out is no trusted one.
bool IsTrusted(PSID sid) {
  const std::string text = SidString(sid);
  for (const char* trusted : kTrustedSids) {
    if (text == trusted) return true;
  }
  return false;
}

std::string AccountName(PSID sid) {
  char name[256] = {}, domain[256] = {};
  DWORD nameSize = sizeof name, domainSize = sizeof domain;
  SID_NAME_USE use;
  if (sys::calls().LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use) && name[0] != '\0') {
    return domain[0] != '\0' ? std::string(domain) + "\\" + name : std::string(name);
  }
  const std::string text = SidString(sid);
  return text.empty() ? "an account whose SID cannot be read" : text;
}

OtherWriter Found(PSID sid) { return OtherWriter{ERROR_SUCCESS, true, AccountName(sid)}; }

}  // namespace

OtherWriter FindOtherWriter(const char* path) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = sys::calls().GetNamedSecurityInfoA(path, SE_FILE_OBJECT,
                                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                         &owner, nullptr, &dacl, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return OtherWriter{error, false, ""};
  const sys::UniqueLocalMemory held(descriptor);
  if (dacl == nullptr) {
    SID everyone = {SID_REVISION, 1, SECURITY_WORLD_SID_AUTHORITY, {SECURITY_WORLD_RID}};
    return Found(&everyone);
  }
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!::GetAce(dacl, i, reinterpret_cast<void**>(&header))) continue;
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;
    // The allowing entries with a mask and a SID at the same place; denials only take rights away.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) continue;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    PSID sid = &ace->SidStart;
    if ((ace->Mask & kChangeRights) != 0 && !IsTrusted(sid)) return Found(sid);
  }
  if (owner != nullptr && !IsTrusted(owner)) return Found(owner);
  return OtherWriter{ERROR_SUCCESS, false, ""};
}
