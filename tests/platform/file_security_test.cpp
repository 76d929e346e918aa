// Who may change a file: Wine's real answer for a file of the test tree, and the access lists Windows
// gives (written as SDDL), handed back through the platform-call table where Wine keeps none.
#include "platform/file_security.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/syscalls.h"

namespace {

const char* g_sddl = nullptr;  // the security descriptor the fake hands back

// As Microsoft documents GetNamedSecurityInfoA: owner and DACL point into one descriptor the caller
// frees with LocalFree; a descriptor without a DACL (the NULL DACL) gives a null DACL pointer.
DWORD WINAPI DescriptorFromSddl(LPCSTR, SE_OBJECT_TYPE type, SECURITY_INFORMATION, PSID* owner, PSID*, PACL* dacl,
                                PACL*, PSECURITY_DESCRIPTOR* descriptor) {
  if (type != SE_FILE_OBJECT) return ERROR_INVALID_PARAMETER;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(g_sddl, SDDL_REVISION_1, descriptor, nullptr)) {
    return GetLastError();
  }
  BOOL present = FALSE, defaulted = FALSE;
  ::GetSecurityDescriptorDacl(*descriptor, &present, dacl, &defaulted);
  if (!present) *dacl = nullptr;
  ::GetSecurityDescriptorOwner(*descriptor, owner, &defaulted);
  return ERROR_SUCCESS;
}
DWORD WINAPI AccessDenied(LPCSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*, PACL*,
                          PSECURITY_DESCRIPTOR*) {
  return ERROR_ACCESS_DENIED;
}
BOOL WINAPI LookupFails(LPCSTR, PSID, LPSTR, LPDWORD, LPSTR, LPDWORD, PSID_NAME_USE) {
  SetLastError(ERROR_NONE_MAPPED);
  return FALSE;
}

constexpr char kTrustedInstaller[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

TEST(FileSecurityTest, AccessListsWindowsGives) {
  const std::string ti = kTrustedInstaller;
  // Program Files' own list: TrustedInstaller, SYSTEM and Administrators change it; Users read and
  // run; CREATOR OWNER's entry only passes on to what is created inside.
  const std::string programFiles = "O:" + ti + "D:PAI(A;;FA;;;" + ti + ")(A;;0x1301bf;;;SY)(A;;0x1301bf;;;BA)"
                                   "(A;;0x1200a9;;;BU)(A;OICIIO;GA;;;CO)(A;OICIIO;GA;;;SY)(A;OICIIO;GA;;;BA)";
  const struct Case {
    std::string sddl;
    bool found;
    const char* account;
  } cases[] = {
      {programFiles, false, ""},
      // A folder under a drive's root: Authenticated Users may modify it.
      {"O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1301bf;;;AU)", true, "NT AUTHORITY\\Authenticated Users"},
      // Appending data is a write, and a right granted after denials of others still counts.
      {"O:SYD:(D;;FA;;;WD)(A;;FA;;;SY)(A;;0x4;;;BU)", true, "BUILTIN\\Users"},
      // Changing only the access list or the owner is enough to take the rest.
      {"O:SYD:(A;;FA;;;SY)(A;;WD;;;BU)", true, "BUILTIN\\Users"},
      // Reading and running is no write; a denial grants nothing.
      {"O:SYD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFX;;;BU)(D;;FA;;;AU)", false, ""},
      // No access list at all (the NULL DACL): everyone may do everything.
      {"O:SY", true, "Everyone"},
      // An owner outside the three may rewrite the list.
      {"O:BUD:(A;;FA;;;SY)", true, "BUILTIN\\Users"},
  };
  sys::ScopedCall<decltype(sys::calls().GetNamedSecurityInfoA)> fake(sys::calls().GetNamedSecurityInfoA,
                                                                      DescriptorFromSddl);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sddl);
    g_sddl = c.sddl.c_str();
    const OtherWriter writer = FindOtherWriter("C:\\Program Files\\Marrowbank");
    EXPECT_EQ(writer.error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(writer.found, c.found);
    EXPECT_EQ(writer.account, c.account);
  }
}

TEST(FileSecurityTest, NamesTheSidWhereNoNameIsFoundAndReportsAnUnreadableList) {
  g_sddl = "O:SYD:(A;;FA;;;SY)(A;;0x1301bf;;;S-1-5-21-1-2-3-1001)";
  {
    sys::ScopedCall<decltype(sys::calls().GetNamedSecurityInfoA)> fake(sys::calls().GetNamedSecurityInfoA,
                                                                        DescriptorFromSddl);
    sys::ScopedCall<decltype(sys::calls().LookupAccountSidA)> lookup(sys::calls().LookupAccountSidA, LookupFails);
    const OtherWriter writer = FindOtherWriter("C:\\x");
    EXPECT_TRUE(writer.found);
    EXPECT_EQ(writer.account, "S-1-5-21-1-2-3-1001");
  }
  sys::ScopedCall<decltype(sys::calls().GetNamedSecurityInfoA)> denied(sys::calls().GetNamedSecurityInfoA,
                                                                        AccessDenied);
  const OtherWriter writer = FindOtherWriter("C:\\x");
  EXPECT_EQ(writer.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(writer.found);
}

// Wine keeps no access lists for files: it makes one from the Unix mode, giving the Unix user's
// account (which is no built-in one) full control of every file it owns, so the check finds it. A
// missing file is its own error.
TEST(FileSecurityTest, WineAnswersForRealFiles) {
  char path[MAX_PATH];
  ASSERT_GT(::GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
  const OtherWriter writer = FindOtherWriter(path);
  EXPECT_EQ(writer.error, static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_TRUE(writer.found);
  EXPECT_NE(writer.account, "");
  EXPECT_EQ(writer.account.find("SYSTEM"), std::string::npos) << writer.account;

  const OtherWriter missing = FindOtherWriter((std::string(path) + ".absent").c_str());
  EXPECT_EQ(missing.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(missing.found);
}

}  // namespace
