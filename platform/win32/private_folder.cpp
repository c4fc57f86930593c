// A folder that only the program's own account, the system and the
// administrators can use: the staging folder, which lives in a temporary
// folder other accounts may share.
#include <windows.h>
// After windows.h, whose types it uses.
#include <aclapi.h>

#include <memory>

#include "platform/win32/backend.h"

namespace orv::win32 {

namespace {

struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};
struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using LocalMemory = std::unique_ptr<void, LocalFreer>;
using Handle = std::unique_ptr<void, HandleCloser>;

// The account the process runs as, from its token.
LocalMemory TokenUser() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    Fail();
    return nullptr;
  }
  const Handle owned(token);
  DWORD size = 0;
  GetTokenInformation(token, ::TokenUser, nullptr, 0, &size);
  LocalMemory user(LocalAlloc(LPTR, size));
  if (size == 0 || user == nullptr ||
      !GetTokenInformation(token, ::TokenUser, user.get(), size, &size)) {
    Fail();
    return nullptr;
  }
  return user;
}

struct WellKnownSid {
  explicit WellKnownSid(WELL_KNOWN_SID_TYPE type) {
    DWORD size = sizeof bytes;
    made = CreateWellKnownSid(type, nullptr, bytes, &size) || Fail();
  }
  BYTE bytes[SECURITY_MAX_SID_SIZE];
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

bool MakePrivateFolder(const Platform&, const char16_t* path) {
  const LocalMemory user = TokenUser();
  WellKnownSid system(WinLocalSystemSid);
  WellKnownSid administrators(WinBuiltinAdministratorsSid);
  if (user == nullptr || !system.made || !administrators.made) return false;

  EXPLICIT_ACCESS_W entries[] = {
      FullControl(static_cast<TOKEN_USER*>(user.get())->User.Sid),
      FullControl(system.bytes),
      FullControl(administrators.bytes),
  };
  PACL acl = nullptr;
  const DWORD made = SetEntriesInAclW(3, entries, nullptr, &acl);
  if (made != ERROR_SUCCESS) return Fail(made);
  const LocalMemory ownedAcl(acl);

  // Protected: nothing is inherited from the temporary folder, whose own
  // entries may let every user in.
  SECURITY_DESCRIPTOR descriptor;
  if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) ||
      !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    return Fail();
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
  // CreateDirectoryW never takes an existing name, a link's included.
  return CreateDirectoryW(Wide(path), &attributes) || Fail();
}

}  // namespace orv::win32
