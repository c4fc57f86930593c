// Owners, identities, folder chains and carried access lists on the real
// file system; under Wine also through the Z: alias and a Unix link. Wine
// keeps no descriptor on a file (it answers one made from the Unix owner and
// mode), so the carried list is also read from a descriptor made in memory.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, whose types they use.
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "platform/seam.h"
#include "platform/win32/identity.h"
#include "tests/support/test_support.h"
#include "tests/win32/access_list.h"
#include "tests/win32/win32_test_support.h"

namespace orv {
namespace {

using test::P;
using test::TempDir;
using win32test::Wide;

FileIdentity IdentityOf(const String& path) {
  FileIdentity identity;
  EXPECT_EQ(P().ReadIdentity(P(), path.c_str(), identity), FileProbe::Present) << ToUtf8(path);
  return identity;
}

// Other names of the folder: the \\?\ form, a trailing separator, "..",
// another case, the short name and (under Wine) the Z: alias.
std::vector<String> OtherNames(const String& folder) {
  String upper = folder;
  for (char16_t& c : upper) c = static_cast<char16_t>(towupper(c));
  std::vector<String> names{u"\\\\?\\" + folder + u"\\",
                            folder + u"\\..\\" + folder.substr(folder.rfind(u'\\') + 1), upper};
  wchar_t shortName[MAX_PATH] = {};
  if (GetShortPathNameW(Wide(folder), shortName, MAX_PATH) != 0) {
    names.push_back(win32test::Narrow16(shortName));
  }
  const std::wstring z = win32test::ZDrivePath(Wide(folder));
  if (!z.empty()) names.push_back(win32test::Narrow16(z));
  return names;
}

TEST(ReadOwner, OursForWhatWeMadeAbsentForNothingOthersForAnotherAccount) {
  TempDir dir;
  test::WriteBytes(dir / u"a.dll", "a");
  EXPECT_EQ(P().ReadOwner(P(), dir.path().c_str()), NameOwner::Ours);
  EXPECT_EQ(P().ReadOwner(P(), (dir / u"a.dll").c_str()), NameOwner::Ours);
  EXPECT_EQ(P().ReadOwner(P(), (dir / u"none\\a.dll").c_str()), NameOwner::Absent);
  // Wine answers root's files as another account's.
  if (win32test::IsWine()) {
    EXPECT_EQ(P().ReadOwner(P(), u"Z:\\usr"), NameOwner::Others);
  }
}

TEST(ReadIdentity, EveryNameOfOneFileIsOneIdentity) {
  TempDir dir;
  const String folder = dir / u"Orvanto Host Folder";
  test::MakeFolders(folder);
  test::WriteBytes(folder + u"\\one.log", "x");
  ASSERT_TRUE(CreateHardLinkW(Wide(folder + u"\\two.log"), Wide(folder + u"\\one.log"), nullptr));
  const FileIdentity identity = IdentityOf(folder);
  for (const String& name : OtherNames(folder))
    EXPECT_EQ(IdentityOf(name), identity) << ToUtf8(name);
  EXPECT_NE(IdentityOf(dir.path()), identity);
  EXPECT_EQ(IdentityOf(folder + u"\\two.log"), IdentityOf(folder + u"\\one.log"));
  EXPECT_NE(IdentityOf(folder + u"\\one.log"), identity);
  FileIdentity untouched;
  EXPECT_EQ(P().ReadIdentity(P(), (dir / u"none\\x").c_str(), untouched), FileProbe::Absent);
}

TEST(ReadFolderChain, TheFolderAndEachAboveItUpToTheRootByAnyName) {
  TempDir dir;
  const String inner = dir / u"Orvanto\\Pellmark\\Culture";
  test::MakeFolders(inner);
  std::vector<FileIdentity> expected;
  for (String folder = inner;; CutAtLastBackslash(folder)) {
    if (folder.size() == 2) folder += u"\\";  // "C:" alone is C:'s current folder
    expected.push_back(IdentityOf(folder));
    if (folder.size() == 3) break;
  }
  std::vector<String> names = OtherNames(inner);
  names.push_back(inner);
  const win32test::UnixLink link(win32test::UnixPath(Wide(inner)), Wide(dir / u"link"));
  if (link.made()) names.push_back(dir / u"link");
  for (const String& name : names) {
    std::vector<FileIdentity> chain;
    EXPECT_EQ(P().ReadFolderChain(P(), name.c_str(), chain), FileProbe::Present) << ToUtf8(name);
    EXPECT_EQ(chain, expected) << ToUtf8(name);
  }
  test::WriteBytes(dir / u"file", "x");
  for (const String& notAFolder : {dir / u"file", dir / u"none\\deeper"}) {
    std::vector<FileIdentity> chain{FileIdentity{}};
    EXPECT_EQ(P().ReadFolderChain(P(), notAFolder.c_str(), chain), FileProbe::Absent);
    EXPECT_TRUE(chain.empty());
  }
}

TEST(FinalPathRootLength, RootsOfTheFormsTheSystemNamesAFolderBy) {
  EXPECT_EQ(win32::FinalPathRootLength(L"\\\\?\\C:\\Program Files"), 7u);
  EXPECT_EQ(win32::FinalPathRootLength(L"\\\\?\\UNC\\server\\share\\Orvanto"), 21u);
  EXPECT_EQ(win32::FinalPathRootLength(L"\\\\?\\UNC\\server\\share"), 20u);
  EXPECT_EQ(win32::FinalPathRootLength(L"\\\\?\\Volume{0a1b}\\Orvanto"), 17u);
  // The volume device, a server without a share, a form never given.
  for (const wchar_t* none : {L"\\\\?\\C:", L"\\\\?\\UNC\\server\\", L"C:\\Orvanto"}) {
    EXPECT_EQ(win32::FinalPathRootLength(none), 0u) << testing::PrintToString(none);
  }
}

std::vector<std::string> Described(PACL list, bool isProtected) {
  SECURITY_DESCRIPTOR descriptor{};
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE);
  if (isProtected) SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  return win32test::DescribeAccessList(&descriptor);
}

// Only the entries set on the folder itself, in their order, and its choice
// of taking its parent's entries or not.
TEST(CarryOverAccess, TakesTheExplicitEntriesInOrderAndTheProtection) {
  const struct {
    const wchar_t* sddl;
    std::vector<std::string> expected;
  } cases[] = {
      {L"D:AI(A;OICI;FA;;;BA)(A;OICIID;FA;;;SY)(D;;FW;;;BU)(A;ID;FR;;;WD)(A;CI;0x1200a9;;;AU)",
       {"protected no", "allow S-1-5-32-544 0x1f01ff 0x3", "deny S-1-5-32-545 0x120116 0x0",
        "allow S-1-5-11 0x1200a9 0x2"}},
      {L"D:PAI(A;OICI;FA;;;SY)", {"protected yes", "allow S-1-5-18 0x1f01ff 0x3"}},
      {L"D:AI(A;OICIID;FA;;;SY)", {"protected no"}},
  };
  for (const auto& c : cases) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    win32::ExplicitAccess access;
    EXPECT_TRUE(access.Take(descriptor));
    LocalFree(descriptor);
    EXPECT_EQ(Described(access.list(), access.isProtected()), c.expected);
  }
}

std::vector<std::string> FolderAccess(const String& folder) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  GetNamedSecurityInfoW(Wide(folder), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        nullptr, nullptr, &descriptor);
  const std::vector<std::string> lines = win32test::DescribeAccessList(descriptor);
  LocalFree(descriptor);
  return lines;
}

// An ordinary folder's list carries over, and one that lets everyone change
// the folder (under Wine through the Unix mode, which is all Wine keeps).
TEST(CarryOverAccess, TheNewFolderGivesWhatTheOldOneGave) {
  TempDir dir;
  const String old = dir / u"aside";
  const String made = dir / u"Pellmark";
  test::MakeFolders(old);
  test::MakeFolders(made);
  PSECURITY_DESCRIPTOR open = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:(A;OICI;FA;;;WD)(A;OICI;FA;;;SY)", SDDL_REVISION_1, &open, nullptr));
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL list = nullptr;
  GetSecurityDescriptorDacl(open, &present, &list, &defaulted);
  for (const bool opened : {false, true}) {
    std::wstring name(Wide(old));
    if (opened) {
      ASSERT_EQ(SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, list, nullptr),
                static_cast<DWORD>(ERROR_SUCCESS));
    }
    EXPECT_TRUE(P().CarryOverAccess(P(), old.c_str(), made.c_str()));
    EXPECT_EQ(FolderAccess(made), FolderAccess(old));
  }
  LocalFree(open);
  EXPECT_FALSE(P().CarryOverAccess(P(), (dir / u"none").c_str(), made.c_str()));
}

}  // namespace
}  // namespace orv
