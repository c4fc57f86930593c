// Probes and shell operations where the real platform decides: sharing,
// access rights, the current directory and the shell's path limit.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/seam.h"
#include "platform/win32/backend.h"
#include "tests/support/test_support.h"
#include "tests/win32/win32_test_support.h"

namespace orv {
namespace {

using test::P;
using test::TempDir;
using win32test::Wide;

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

// A link is the name itself, whatever it leads to. Wine 8 hides a link that
// leads nowhere from every call, with FILE_FLAG_OPEN_REPARSE_POINT or
// without (both "file not found"), where Windows opens the link itself: that
// case is shown only where the system shows the link.
TEST(FileExists, ALinkIsPresentWhateverItLeadsTo) {
  TempDir dir;
  test::WriteBytes(dir / u"target.dll", "t");
  const std::string target = win32test::UnixPath(Wide(dir / u"target.dll"));
  const win32test::UnixLink link(target, Wide(dir / u"link"));
  const win32test::UnixLink nowhere(target, Wide(dir / u"dangling"));
  if (!link.made() || !nowhere.made()) GTEST_SKIP() << "no link can be made here";
  EXPECT_EQ(P().FileExists(P(), (dir / u"link").c_str()), FileProbe::Present);
  ASSERT_TRUE(DeleteFileW(Wide(dir / u"target.dll")));
  if (GetFileAttributesW(Wide(dir / u"dangling")) != INVALID_FILE_ATTRIBUTES) {
    EXPECT_EQ(P().FileExists(P(), (dir / u"dangling").c_str()), FileProbe::Present);
  }
}

// When the way back to the current folder is gone, the system's folder is
// current after the look, never the folder looked at. Here the way back is
// a current folder whose name is longer than the program's path buffers.
TEST(FolderExists, AFailedReturnLeavesTheSystemFolderCurrent) {
  TempDir dir;
  test::MakeFolders(dir / u"Pellmark");
  String deep = dir.path();
  while (deep.size() < kMaxPath + 20) {
    deep += u"\\" + String(40, u'd');
    ASSERT_TRUE(CreateDirectoryW(Wide(u"\\\\?\\" + deep), nullptr));
  }
  // The test tree's own removal cannot reach so long a name.
  const struct Remover {
    String deep;
    std::size_t top;
    ~Remover() {
      for (String name = deep; name.size() > top; CutAtLastBackslash(name)) {
        RemoveDirectoryW(Wide(u"\\\\?\\" + name));
      }
    }
  } remover{deep, dir.path().size()};
  const std::wstring start = CurrentDirectory();
  // Windows takes so long a current folder only where long paths are on.
  if (!SetCurrentDirectoryW(Wide(u"\\\\?\\" + deep))) {
    GTEST_SKIP() << "a current folder this long cannot be set here";
  }
  EXPECT_TRUE(P().FolderExists(P(), (dir / u"Pellmark").c_str()));
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  EXPECT_EQ(_wcsicmp(CurrentDirectory().c_str(), system), 0) << CurrentDirectory();
  SetCurrentDirectoryW(start.c_str());
}

// A taken name, folder or file, empty or not, is never renamed onto: the
// rename fails and moves nothing.
TEST(ShellRename, NeverLandsOnATakenName) {
  TempDir dir;
  const String from = dir / u"Pellmark";
  const String to = dir / u"aside";
  test::MakeFolders(from);
  test::WriteBytes(from + u"\\Pellmark.dll", "new");
  for (const std::string taken : {"empty folder", "folder", "file"}) {
    if (taken == "file") {
      test::WriteBytes(to, "file");
    } else {
      test::MakeFolders(to);
      if (taken == "folder") test::WriteBytes(to + u"\\Pellmark.dll", "backup");
    }
    const std::string there = test::DescribeTree(dir.path());
    EXPECT_FALSE(P().ShellRename(P(), from.c_str(), to.c_str())) << taken;
    EXPECT_EQ(P().LastError(P()), (SystemError{ErrorSource::Win32, ERROR_ALREADY_EXISTS}));
    EXPECT_EQ(test::DescribeTree(dir.path()), there) << taken;
    ASSERT_TRUE(P().ShellDelete(P(), to.c_str()));
  }
  // The shell's limit still holds; a free name is taken.
  EXPECT_FALSE(P().ShellRename(P(), from.c_str(), (to + String(259 - to.size(), u'x')).c_str()));
  EXPECT_EQ(P().LastError(P()), (SystemError{ErrorSource::Win32, ERROR_FILENAME_EXCED_RANGE}));
  EXPECT_TRUE(P().ShellRename(P(), from.c_str(), to.c_str()));
  EXPECT_EQ(test::ReadBytes(to + u"\\Pellmark.dll"), "new");
}

TEST(ShellFileOp, AnAbortedOperationIsAFailure) {
  EXPECT_EQ(win32::ShellOutcome(0, false), SystemError{});
  EXPECT_EQ(win32::ShellOutcome(0, true), (SystemError{ErrorSource::Win32, ERROR_CANCELLED}));
  EXPECT_EQ(win32::ShellOutcome(0x75, true), (SystemError{ErrorSource::Shell, 0x75}));
}

// Written only when it is a plain file with one name. Wine 8 cannot show a
// link to a file as one: its CreateSymbolicLinkW makes nothing, and a Unix
// link to a file opens as that file, with no reparse-point attribute.
TEST(OpenFileForWrite, NeverThroughALinkNorIntoAFileWithASecondName) {
  TempDir dir;
  const auto write = [](const String& path) {
    FileStream* stream = P().OpenFileForWrite(P(), path.c_str());
    const bool written = stream != nullptr && P().WriteToFile(P(), stream, "new", 3);
    P().CloseFile(P(), stream);
    return written;
  };
  test::WriteBytes(dir / u"old.log", "a longer old content");
  for (const char16_t* name : {u"new.log", u"old.log"}) {
    EXPECT_TRUE(write(dir / name));
    EXPECT_EQ(test::ReadBytes(dir / name), "new");
  }
  test::WriteBytes(dir / u"journal", "the journal");
  ASSERT_TRUE(CreateHardLinkW(Wide(dir / u"second.log"), Wide(dir / u"journal"), nullptr));
  test::MakeFolders(dir / u"folder.log");
  const win32test::UnixLink link(win32test::UnixPath(Wide(dir / u"folder.log")),
                                 Wide(dir / u"folder-link.log"));
  std::vector<String> refused{dir / u"second.log", dir / u"journal", dir / u"folder.log"};
  if (link.made()) refused.push_back(dir / u"folder-link.log");
  const std::string tree = test::DescribeTree(dir.path());
  for (const String& path : refused) EXPECT_FALSE(write(path)) << ToUtf8(path);
  EXPECT_EQ(test::DescribeTree(dir.path()), tree);
  EXPECT_FALSE(write(dir / u"journal"));
  EXPECT_EQ(P().LastError(P()), (SystemError{ErrorSource::Win32, ERROR_CANT_ACCESS_FILE}));
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
