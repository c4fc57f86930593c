// A folder that only the program's own account, the system and the
// administrators can use: the staging folder, which lives in a temporary
// folder other accounts may share.
#include "platform/win32/private_folder.h"

// After windows.h, whose types it uses.
#include <aclapi.h>

#include "platform/win32/backend.h"

namespace orv::win32 {

namespace {

struct WellKnownSid {
  explicit WellKnownSid(WELL_KNOWN_SID_TYPE type) {
    DWORD size = sizeof bytes;
    made = CreateWellKnownSid(type, nullptr, bytes, &size) || Fail();
  }
  alignas(DWORD) BYTE bytes[SECURITY_MAX_SID_SIZE];
  bool made;
};

// Full control for the sid, handed down to every file and folder below.
EXPLICIT_ACCESS_W FullControl(PSID sid) {
  EXPLICIT_ACCESS_W access{};
  access.grfAccessPermissions = FILE_ALL_ACCESS;
  access.grfAccessMode = SET_ACCESS;
  access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.ptstrName = static_cast<LPWSTR>(sid);
  return access;
}

}  // namespace

bool PrivateDescriptor::Build() {
  // The account the process runs as.
  const std::vector<BYTE> user = ProcessTokenInformation(TokenUser);
  WellKnownSid system(WinLocalSystemSid);
  WellKnownSid administrators(WinBuiltinAdministratorsSid);
  if (user.empty() || !system.made || !administrators.made) return false;

  EXPLICIT_ACCESS_W entries[] = {
      FullControl(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid),
      FullControl(system.bytes),
      FullControl(administrators.bytes),
  };
  PACL acl = nullptr;
  const DWORD made = SetEntriesInAclW(3, entries, nullptr, &acl);
  if (made != ERROR_SUCCESS) return Fail(made);
  acl_.reset(acl);
  // Protected: nothing is inherited from the temporary folder, whose own
  // entries may let every user in.
  return (InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
          SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
          SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) ||
         Fail();
}

bool MakePrivateFolder(const Platform&, const char16_t* path) {
  PrivateDescriptor descriptor;
  if (!descriptor.Build()) return false;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  // CreateDirectoryW never takes an existing name, a link's included.
  return CreateDirectoryW(Wide(path), &attributes) || Fail();
}

}  // namespace orv::win32
