#include "tests/win32/access_list.h"

// After windows.h, whose types it uses.
#include <sddl.h>

#include <cstdio>

namespace orv::win32test {

namespace {

std::string SidText(PSID sid) {
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return "?";
  std::string result = text;
  LocalFree(text);
  return result;
}

std::string DescribeAce(const ACE_HEADER* header) {
  const char* kind = header->AceType == ACCESS_ALLOWED_ACE_TYPE  ? "allow"
                     : header->AceType == ACCESS_DENIED_ACE_TYPE ? "deny"
                                                                 : "other";
  // Allowed and denied entries share one layout.
  const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
  const std::string sid =
      header->AceType > ACCESS_DENIED_ACE_TYPE ? "?" : SidText(const_cast<DWORD*>(&ace->SidStart));
  char numbers[32];
  std::snprintf(numbers, sizeof numbers, " 0x%lx 0x%x", ace->Mask, header->AceFlags);
  return kind + (" " + sid) + numbers;
}

}  // namespace

std::vector<std::string> DescribeAccessList(PSECURITY_DESCRIPTOR descriptor) {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  std::vector<std::string> lines{(control & SE_DACL_PROTECTED) != 0 ? "protected yes"
                                                                    : "protected no"};
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL acl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) || !present ||
      acl == nullptr) {
    lines.push_back("no access list");
    return lines;
  }
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (GetAce(acl, i, &ace)) lines.push_back(DescribeAce(static_cast<const ACE_HEADER*>(ace)));
  }
  return lines;
}

std::string ProcessUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "?";
  alignas(TOKEN_USER) BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof bytes;
  const bool read = GetTokenInformation(token, TokenUser, bytes, size, &size);
  CloseHandle(token);
  return read ? SidText(reinterpret_cast<TOKEN_USER*>(bytes)->User.Sid) : "?";
}

}  // namespace orv::win32test
