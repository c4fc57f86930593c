// Who owns a name, what a path resolves to, and the access a folder gives.
#include "platform/win32/identity.h"

// After windows.h, whose types it uses.
#include <aclapi.h>

#include <vector>

#include "platform/win32/backend.h"

namespace orv::win32 {

namespace {

struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};
using LocalMemory = std::unique_ptr<void, LocalFreer>;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A folder is opened only with backup semantics; a handle is taken on the
// name for what is asked, nothing read or written through it.
Handle OpenName(const wchar_t* path, DWORD access, DWORD flags) {
  const HANDLE handle = CreateFileW(path, access, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
  return Handle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

bool NotThere(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Not found is an answer; anything else, access denied included, is not.
FileProbe Unseen(DWORD error = GetLastError()) {
  Fail(error);
  return NotThere(error) ? FileProbe::Absent : FileProbe::Unanswered;
}

// The volume's serial number and the file's index on it, which every name
// of one file shares. On ReFS the 64-bit index is not guaranteed unique
// (FILE_ID_INFO holds its 128-bit one); the folders this program compares
// are on NTFS or FAT volumes.
bool IdentityOf(HANDLE handle, FileIdentity& identity, DWORD* attributes = nullptr) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) return Fail();
  identity = FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  if (attributes != nullptr) *attributes = info.dwFileAttributes;
  return true;
}

// One piece of the process token's information, in a buffer of its own.
}  // namespace

std::vector<BYTE> ProcessTokenInformation(TOKEN_INFORMATION_CLASS kind) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    Fail();
    return {};
  }
  const Handle owned(token);
  DWORD size = 0;
  GetTokenInformation(token, kind, nullptr, 0, &size);
  std::vector<BYTE> bytes(size);
  if (size == 0 || !GetTokenInformation(token, kind, bytes.data(), size, &size)) {
    Fail();
    return {};
  }
  return bytes;
}

NameOwner ReadOwner(const Platform&, const char16_t* path) {
  // The name itself: a link is asked about, never what it leads to.
  const Handle name = OpenName(Wide(path), READ_CONTROL, FILE_FLAG_OPEN_REPARSE_POINT);
  if (name == nullptr) {
    const DWORD error = GetLastError();
    Fail(error);
    return NotThere(error) ? NameOwner::Absent : NameOwner::Unanswered;
  }
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD read = GetSecurityInfo(name.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                     nullptr, nullptr, nullptr, &descriptor);
  const LocalMemory held(descriptor);
  if (read != ERROR_SUCCESS) {
    Fail(read);
    return NameOwner::Unanswered;
  }
  if (owner == nullptr || !IsValidSid(owner)) {
    Fail(ERROR_INVALID_OWNER);
    return NameOwner::Unanswered;
  }
  // What this process makes is owned by its token's default owner
  // (TokenOwner), which is not always its account (TokenUser): for members of
  // the built-in Administrators group the system sets the default owner to
  // that group, so that what an administrator's elevated run creates is
  // owned by Administrators ("How Security Descriptors are Set on New
  // Directory Objects", and the security option "System objects: Default
  // owner for objects created by members of the Administrators group",
  // Administrators by default since Windows Server 2003, KB 318825). Both
  // are this run's own.
  const std::vector<BYTE> user = ProcessTokenInformation(TokenUser);
  const std::vector<BYTE> byDefault = ProcessTokenInformation(TokenOwner);
  if (user.empty() || byDefault.empty()) return NameOwner::Unanswered;
  const PSID userSid = reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
  const PSID ownerSid = reinterpret_cast<const TOKEN_OWNER*>(byDefault.data())->Owner;
  return EqualSid(owner, userSid) || EqualSid(owner, ownerSid) ? NameOwner::Ours
                                                               : NameOwner::Others;
}

FileProbe ReadIdentity(const Platform&, const char16_t* path, FileIdentity& identity) {
  const Handle file = OpenName(Wide(path), FILE_READ_ATTRIBUTES, 0);
  if (file == nullptr) return Unseen();
  return IdentityOf(file.get(), identity) ? FileProbe::Present : FileProbe::Unanswered;
}

std::size_t FinalPathRootLength(std::wstring_view path) {
  constexpr std::wstring_view kLocal = L"\\\\?\\";
  constexpr std::wstring_view kUnc = L"\\\\?\\UNC\\";
  if (path.substr(0, kUnc.size()) == kUnc) {
    // \\?\UNC\server\share\: the share is the root.
    const std::size_t server = path.find(L'\\', kUnc.size());
    if (server == std::wstring_view::npos || server == kUnc.size()) return 0;
    const std::size_t share = path.find(L'\\', server + 1);
    if (share == server + 1 || server + 1 == path.size()) return 0;
    // The share itself, named without its backslash, is its root too.
    return share == std::wstring_view::npos ? path.size() : share + 1;
  }
  if (path.substr(0, kLocal.size()) != kLocal) return 0;
  // \\?\C:\ is the root folder; \\?\C: without its backslash is the volume
  // device, never a folder of the chain.
  if (path.size() >= kLocal.size() + 3 && path[kLocal.size() + 1] == L':' &&
      path[kLocal.size() + 2] == L'\\') {
    return kLocal.size() + 3;
  }
  // \\?\Volume{...}\ for a volume that has no drive letter.
  constexpr std::wstring_view kVolume = L"Volume{";
  if (path.substr(kLocal.size(), kVolume.size()) == kVolume) {
    const std::size_t end = path.find(L'\\', kLocal.size());
    return end == std::wstring_view::npos ? 0 : end + 1;
  }
  return 0;
}

FileProbe ReadFolderChain(const Platform&, const char16_t* path, std::vector<FileIdentity>& chain) {
  chain.clear();
  const Handle folder = OpenName(Wide(path), FILE_READ_ATTRIBUTES, 0);
  if (folder == nullptr) return Unseen();
  FileIdentity identity;
  DWORD attributes = 0;
  if (!IdentityOf(folder.get(), identity, &attributes)) return FileProbe::Unanswered;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    // A file in the folder's place: the folder is not there.
    Fail(ERROR_DIRECTORY);
    return FileProbe::Absent;
  }

  // The name the file system itself has for the folder it opened, links,
  // short names and drive aliases resolved: its parents are the folder's
  // real ones. A volume without a drive letter is named by its GUID.
  std::vector<wchar_t> final(32768, L'\0');
  DWORD length = 0;
  for (const DWORD volume : {DWORD{VOLUME_NAME_DOS}, DWORD{VOLUME_NAME_GUID}}) {
    length = GetFinalPathNameByHandleW(folder.get(), final.data(), static_cast<DWORD>(final.size()),
                                       FILE_NAME_NORMALIZED | volume);
    if (length != 0) break;
  }
  if (length == 0 || length >= final.size()) {
    Fail(length == 0 ? GetLastError() : DWORD{ERROR_FILENAME_EXCED_RANGE});
    return FileProbe::Unanswered;
  }
  std::wstring name(final.data(), length);
  const std::size_t root = FinalPathRootLength(name);
  if (root == 0) {
    Fail(ERROR_INVALID_NAME);
    return FileProbe::Unanswered;
  }
  chain.push_back(identity);
  // Each folder above, nearest first, the root last. One that is there to
  // be named but cannot be read is no answer, never "not there".
  while (name.size() > root) {
    const std::size_t cut = name.find_last_of(L'\\');
    name.resize(cut < root ? root : cut);
    const Handle above = OpenName(name.c_str(), FILE_READ_ATTRIBUTES, 0);
    if (above == nullptr || !IdentityOf(above.get(), identity)) {
      if (above == nullptr) Fail();
      chain.clear();
      return FileProbe::Unanswered;
    }
    chain.push_back(identity);
  }
  return FileProbe::Present;
}

bool ExplicitAccess::Take(PSECURITY_DESCRIPTOR descriptor) {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL all = nullptr;
  if (!GetSecurityDescriptorControl(descriptor, &control, &revision) ||
      !GetSecurityDescriptorDacl(descriptor, &present, &all, &defaulted)) {
    return Fail();
  }
  protected_ = (control & SE_DACL_PROTECTED) != 0;
  hadList_ = present && all != nullptr;
  list_.reset();
  if (!hadList_) return true;

  // The entries set on the object itself, in their order: allowed and
  // denied entries are never moved against each other.
  std::vector<const ACE_HEADER*> explicitEntries;
  DWORD size = sizeof(ACL);
  for (DWORD i = 0; i < all->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(all, i, &entry)) return Fail();
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if ((header->AceFlags & INHERITED_ACE) != 0) continue;
    explicitEntries.push_back(header);
    size += header->AceSize;
  }
  LocalMemory memory(LocalAlloc(LPTR, size));
  auto* list = static_cast<PACL>(memory.get());
  if (list == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  if (!InitializeAcl(list, size, all->AclRevision)) return Fail();
  for (const ACE_HEADER* header : explicitEntries) {
    if (!AddAce(list, all->AclRevision, MAXDWORD, const_cast<ACE_HEADER*>(header),
                header->AceSize)) {
      return Fail();
    }
  }
  list_.reset(memory.release());
  return true;
}

bool CarryOverAccess(const Platform&, const char16_t* from, const char16_t* to) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD read = GetNamedSecurityInfoW(Wide(from), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                           nullptr, nullptr, nullptr, nullptr, &descriptor);
  const LocalMemory held(descriptor);
  if (read != ERROR_SUCCESS) return Fail(read);
  ExplicitAccess access;
  if (!access.Take(descriptor)) return false;
  // A folder with no list at all lets everyone do everything; so does the
  // new one then, as whoever could change the old one can change it.
  //
  // SetNamedSecurityInfoW with UNPROTECTED_DACL_SECURITY_INFORMATION gives
  // the folder these entries followed by what its own parent hands down;
  // with PROTECTED_DACL_SECURITY_INFORMATION these entries alone. It also
  // "automatically propagates any inheritable ACEs to existing child
  // objects" (its remarks; "Automatic Propagation of Inheritable ACEs"), so
  // the files already copied into the folder take the inheritable ones as
  // inherited entries, and entries they inherited from elsewhere are
  // recomputed. It does not reorder allowed and denied entries, which are
  // handed over in the order the old folder had them.
  const SECURITY_INFORMATION what =
      DACL_SECURITY_INFORMATION | (access.isProtected() ? PROTECTED_DACL_SECURITY_INFORMATION
                                                        : UNPROTECTED_DACL_SECURITY_INFORMATION);
  std::vector<wchar_t> target(Wide(to), Wide(to) + std::char_traits<char16_t>::length(to) + 1);
  const DWORD set = SetNamedSecurityInfoW(target.data(), SE_FILE_OBJECT, what, nullptr, nullptr,
                                          access.list(), nullptr);
  return set == ERROR_SUCCESS || Fail(set);
}

}  // namespace orv::win32
