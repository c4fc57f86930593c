// Probes and shell operations where the real platform decides: sharing,
// access rights, the current directory and the shell's path limit.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/paths.h"
#include "platform/seam.h"
#include "platform/win32/backend.h"
#include "tests/support/test_support.h"
#include "tests/win32/win32_test_support.h"

namespace orv {
namespace {

using test::TempDir;
using win32test::Wide;

const Platform& P() {
  return SystemPlatform();
}

std::wstring CurrentDirectory() {
  wchar_t buffer[MAX_PATH * 2] = {};
  GetCurrentDirectoryW(MAX_PATH * 2, buffer);
  return buffer;
}

FolderProbe Probe(const char16_t* path) {
  PathBuffer left;
  const FolderProbe answer = P().ProbeFolderWritable(P(), path, left);
  EXPECT_EQ(left.view(), u"");
  return answer;
}

TEST(FileExists, AFileOpenWithoutSharingIsPresent) {
  TempDir dir;
  const String path = dir / u"Pellmark.dll";
  test::WriteBytes(path, "locked");
  const HANDLE locked = CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  // The probe's own open fails here, with a sharing violation.
  const HANDLE again = CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(again, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(P().FileExists(P(), path.c_str()), FileProbe::Present);
  CloseHandle(locked);
  EXPECT_EQ(P().FileExists(P(), path.c_str()), FileProbe::Present);
}

// What CreateFileW's error says about the name: not found is absent, a
// file that is there but may not be opened is present, anything else (the
// volume not answering) is no answer.
TEST(FileExists, AnswersForErrors) {
  const struct {
    DWORD error;
    FileProbe answer;
  } cases[] = {
      {ERROR_FILE_NOT_FOUND, FileProbe::Absent},
      {ERROR_PATH_NOT_FOUND, FileProbe::Absent},
      {ERROR_ACCESS_DENIED, FileProbe::Present},
      {ERROR_SHARING_VIOLATION, FileProbe::Present},
      {ERROR_LOCK_VIOLATION, FileProbe::Present},
      {ERROR_DELETE_PENDING, FileProbe::Present},
      {ERROR_NOT_READY, FileProbe::Unanswered},
      {ERROR_NETNAME_DELETED, FileProbe::Unanswered},
      {ERROR_NETWORK_ACCESS_DENIED, FileProbe::Unanswered},
      {ERROR_BAD_NETPATH, FileProbe::Unanswered},
      {ERROR_IO_DEVICE, FileProbe::Unanswered},
      {ERROR_SEM_TIMEOUT, FileProbe::Unanswered},
      {ERROR_FILENAME_EXCED_RANGE, FileProbe::Unanswered},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(win32::FileProbeFromError(c.error), c.answer) << c.error;
  }
}

TEST(FolderExists, RelativeAndAbsoluteFoldersLeaveTheCurrentDirectory) {
  TempDir dir;
  test::MakeFolders(dir / u"Orvanto\\Pellmark");
  const std::wstring start = CurrentDirectory();
  ASSERT_TRUE(SetCurrentDirectoryW(Wide(dir.path())));
  const std::wstring inside = CurrentDirectory();

  EXPECT_TRUE(P().FolderExists(P(), (dir / u"Orvanto\\Pellmark").c_str()));
  EXPECT_EQ(CurrentDirectory(), inside);
  // Relative to the current directory, which must not move in between.
  EXPECT_TRUE(P().FolderExists(P(), u"Orvanto"));
  EXPECT_TRUE(P().FolderExists(P(), u"Orvanto\\Pellmark"));
  EXPECT_FALSE(P().FolderExists(P(), u"Pellmark"));
  EXPECT_EQ(CurrentDirectory(), inside);

  SetCurrentDirectoryW(start.c_str());
}

// Under Wine a Linux folder appears as Z:\...; one that belongs to root is a
// real folder in which an unprivileged user can create nothing.
TEST(ProbeFolderWritable, AFolderWithoutTheRightToCreateFilesIsNotWritable) {
  if (!win32test::IsWine()) GTEST_SKIP() << "needs a folder this user may not write to";
  const String folder = u"Z:\\usr";
  ASSERT_NE(GetFileAttributesW(Wide(folder)) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  // Decide independently whether this user may create a file there.
  const String check = folder + u"\\orvanto-write-check.tmp";
  const HANDLE created = CreateFileW(Wide(check), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (created != INVALID_HANDLE_VALUE) {
    CloseHandle(created);
    GTEST_SKIP() << "this user may write to Z:\\usr (running as root?)";
  }
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  EXPECT_EQ(Probe(folder.c_str()), FolderProbe::NotWritable);
  EXPECT_EQ(Probe((folder + u"\\").c_str()), FolderProbe::NotWritable);
  EXPECT_EQ(Probe(u"Z:\\usr\\no-such-folder"), FolderProbe::Missing);
}

// A path of 258 characters is the longest a one-entry list can carry.
TEST(ShellDelete, TakesPathsUpTo258Characters) {
  TempDir dir;
  String folder = dir / u"d";
  folder += String(200 - folder.size(), u'd');
  ASSERT_TRUE(CreateDirectoryW(Wide(folder), nullptr));
  const String at258 = folder + u"\\" + String(258 - folder.size() - 1, u'a');
  const String at259 = folder + u"\\" + String(259 - folder.size() - 1, u'b');
  ASSERT_EQ(at258.size(), 258u);
  ASSERT_EQ(at259.size(), 259u);
  test::WriteBytes(at258, "a");
  test::WriteBytes(at259, "b");

  EXPECT_FALSE(P().ShellDelete(P(), at259.c_str()));
  EXPECT_TRUE(test::Exists(at259));
  EXPECT_TRUE(P().ShellDelete(P(), at258.c_str()));
  EXPECT_FALSE(test::Exists(at258));
}

}  // namespace
}  // namespace orv
