// The staging folder's descriptor: built as meant, and what the file system
// keeps of it. Wine keeps no descriptor on a file of its own; it answers one
// made from the Unix mode, so there only the absence of other accounts can
// be read back from the folder.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <aclapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/seam.h"
#include "platform/win32/private_folder.h"
#include "tests/support/test_support.h"
#include "tests/win32/access_list.h"
#include "tests/win32/win32_test_support.h"

namespace orv {
namespace {

using Lines = std::vector<std::string>;
using test::P;

// Full control, handed down to files and folders below.
std::string FullControlFor(const std::string& sid) {
  return "allow " + sid + " 0x1f01ff 0x3";
}

bool NamesAnotherAccount(const Lines& lines) {
  // Everyone, Users, Authenticated Users, Interactive.
  for (const char* other : {" S-1-1-0 ", " S-1-5-32-545 ", " S-1-5-11 ", " S-1-5-4 "}) {
    for (const std::string& line : lines) {
      if (line.find(other) != std::string::npos) return true;
    }
  }
  return false;
}

TEST(PrivateFolder, DescriptorGrantsOnlyTheUserSystemAndAdministratorsAndIsProtected) {
  win32::PrivateDescriptor descriptor;
  ASSERT_TRUE(descriptor.Build());
  Lines lines = win32test::DescribeAccessList(descriptor.get());
  std::sort(lines.begin() + 1, lines.end());
  Lines expected{"protected yes", FullControlFor(win32test::ProcessUserSid()),
                 FullControlFor("S-1-5-18"), FullControlFor("S-1-5-32-544")};
  std::sort(expected.begin() + 1, expected.end());
  EXPECT_EQ(lines, expected);
}

TEST(PrivateFolder, NoOtherAccountOnTheFolderAndNeverAnExistingName) {
  test::TempDir dir;
  const String folder = dir / u"private";
  ASSERT_TRUE(P().MakePrivateFolder(P(), folder.c_str()));
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(
      GetNamedSecurityInfoW(win32test::Wide(folder), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, nullptr, nullptr, &descriptor),
      static_cast<DWORD>(ERROR_SUCCESS));
  const Lines lines = win32test::DescribeAccessList(descriptor);
  LocalFree(descriptor);
  EXPECT_FALSE(NamesAnotherAccount(lines)) << testing::PrintToString(lines);
  EXPECT_NE(std::find(lines.begin(), lines.end(), FullControlFor(win32test::ProcessUserSid())),
            lines.end())
      << testing::PrintToString(lines);

  EXPECT_FALSE(P().MakePrivateFolder(P(), folder.c_str()));
  EXPECT_EQ(P().LastError(P()), (SystemError{ErrorSource::Win32, ERROR_ALREADY_EXISTS}));
}

}  // namespace
}  // namespace orv
