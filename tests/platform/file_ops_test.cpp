// The file and folder probes and the whole-folder operations, against real
// folders, on whichever backend this build has.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/paths.h"
#include "platform/seam.h"
#include "tests/support/test_support.h"

namespace orv {
namespace {

using test::P;
using test::TempDir;

TEST(FileExists, PresentFileFolderAndAbsentPaths) {
  TempDir dir;
  test::WriteBytes(dir / u"a.dll", "x");
  EXPECT_EQ(P().FileExists(P(), (dir / u"a.dll").c_str()), FileProbe::Present);
  EXPECT_EQ(P().FileExists(P(), (dir / u"missing.dll").c_str()), FileProbe::Absent);
  EXPECT_EQ(P().FileExists(P(), (dir / u"no\\such\\parent.dll").c_str()), FileProbe::Absent);
  // A file in place of a folder on the way: no such path.
  EXPECT_EQ(P().FileExists(P(), (dir / u"a.dll\\x.dll").c_str()), FileProbe::Absent);
  // A folder cannot be opened as a file, but it is not absent either.
  EXPECT_EQ(P().FileExists(P(), dir.path().c_str()), FileProbe::Present);
}

TEST(FolderExists, FoldersOnlyAndTheCurrentDirectoryStays) {
  TempDir dir;
  test::WriteBytes(dir / u"file", "x");
  test::MakeFolders(dir / u"sub");
  const auto before = std::filesystem::current_path();
  EXPECT_TRUE(P().FolderExists(P(), (dir / u"sub").c_str()));
  EXPECT_EQ(std::filesystem::current_path(), before);
  EXPECT_FALSE(P().FolderExists(P(), (dir / u"file").c_str()));
  EXPECT_FALSE(P().FolderExists(P(), (dir / u"missing").c_str()));
  EXPECT_EQ(std::filesystem::current_path(), before);
}

// The probe's answer; a probe file is never left behind where it could be
// removed.
FolderProbe Probe(const char16_t* path) {
  PathBuffer left;
  const FolderProbe answer = P().ProbeFolderWritable(P(), path, left);
  EXPECT_EQ(left.view(), u"");
  return answer;
}

TEST(ProbeFolderWritable, WritableFolderLeavesNoProbeFile) {
  TempDir dir;
  test::MakeFolders(dir / u"addin");
  EXPECT_EQ(Probe((dir / u"addin").c_str()), FolderProbe::Writable);
  EXPECT_EQ(Probe((dir / u"addin\\").c_str()), FolderProbe::Writable);
  // Two trailing backslashes lose only one; the folder is still found.
  EXPECT_EQ(Probe((dir / u"addin\\\\").c_str()), FolderProbe::Writable);
  EXPECT_TRUE(std::filesystem::is_empty(test::FsPath(dir / u"addin")));
}

TEST(ProbeFolderWritable, MissingFileAndOverlongPathsAreNotFolders) {
  TempDir dir;
  test::WriteBytes(dir / u"file", "x");
  EXPECT_EQ(Probe((dir / u"missing").c_str()), FolderProbe::Missing);
  EXPECT_EQ(Probe((dir / u"file").c_str()), FolderProbe::Missing);
  const String overlong = dir.path() + u"\\" + String(300 - dir.path().size(), u'x');
  EXPECT_EQ(Probe(overlong.c_str()), FolderProbe::Missing);
}

TEST(ShellDelete, WholeTreeSilentlyAndMissingPathsFail) {
  TempDir dir;
  test::MakeFolders(dir / u"tree\\a\\b\\c");
  test::WriteBytes(dir / u"tree\\top.txt", "1");
  test::WriteBytes(dir / u"tree\\a\\b\\c\\deep.txt", "2");
  EXPECT_TRUE(P().ShellDelete(P(), (dir / u"tree").c_str()));
  EXPECT_FALSE(test::Exists(dir / u"tree"));
  EXPECT_FALSE(P().ShellDelete(P(), (dir / u"tree").c_str()));

  test::WriteBytes(dir / u"single.txt", "x");
  EXPECT_TRUE(P().ShellDelete(P(), (dir / u"single.txt").c_str()));
  EXPECT_FALSE(test::Exists(dir / u"single.txt"));
}

TEST(ShellDelete, RefusesAPathLongerThanTheShellTakes) {
  TempDir dir;
  test::MakeFolders(dir / u"keep");
  // A 259-character path that names the folder once the excess is cut off
  // must not be shortened into deleting it.
  String path = dir / u"keep\\";
  path += String(259 - path.size(), u'\\');
  ASSERT_EQ(path.size(), 259u);
  EXPECT_FALSE(P().ShellDelete(P(), path.c_str()));
  EXPECT_TRUE(test::IsFolder(dir / u"keep"));
}

TEST(ShellCopy, WholeTreeToANewNameKeepingFileTimes) {
  TempDir dir;
  test::MakeFolders(dir / u"src\\de");
  test::MakeFolders(dir / u"src\\empty");
  test::WriteBytes(dir / u"src\\Pellmark.exe", std::string(70000, 'p'));
  test::WriteBytes(dir / u"src\\de\\Pellmark35.resources.dll", "resources");
  test::SetModificationTime(dir / u"src\\Pellmark.exe", 1463681234);
  test::SetModificationTime(dir / u"src\\de\\Pellmark35.resources.dll", 1463756614);
  const std::string before = test::DescribeTree(dir / u"src");

  EXPECT_TRUE(P().ShellCopy(P(), (dir / u"src").c_str(), (dir / u"dst").c_str()));
  EXPECT_EQ(test::DescribeTree(dir / u"dst"), before);
  EXPECT_EQ(test::DescribeTree(dir / u"src"), before);
  EXPECT_TRUE(test::IsFolder(dir / u"dst\\empty"));
  EXPECT_EQ(test::ModificationTime(dir / u"dst\\de\\Pellmark35.resources.dll"), 1463756614);
}

TEST(ShellCopy, EmptyFolderToANewName) {
  TempDir dir;
  test::MakeFolders(dir / u"src");
  EXPECT_TRUE(P().ShellCopy(P(), (dir / u"src").c_str(), (dir / u"dst").c_str()));
  EXPECT_TRUE(test::IsFolder(dir / u"dst"));
  EXPECT_EQ(test::DescribeTree(dir / u"dst"), "");
}

// A copy onto a name that is taken, by a folder or a file, fails and leaves
// what bears the name as it was: never a copy nested inside it.
TEST(ShellCopy, OntoATakenNameFailsAndChangesNothing) {
  TempDir dir;
  test::MakeFolders(dir / u"src\\de");
  test::WriteBytes(dir / u"src\\de\\x.dll", "x");
  test::MakeFolders(dir / u"taken");
  test::WriteBytes(dir / u"taken\\mine.txt", "mine");
  test::WriteBytes(dir / u"file", "a file");
  const std::string before = test::DescribeTree(dir.path());
  for (const char16_t* name : {u"taken", u"file"}) {
    EXPECT_FALSE(P().ShellCopy(P(), (dir / u"src").c_str(), (dir / name).c_str()));
    EXPECT_EQ(test::DescribeTree(dir.path()), before) << ToUtf8(name);
  }
}

TEST(ShellCopy, MissingSourceAndOverlongPathsFail) {
  TempDir dir;
  test::MakeFolders(dir / u"src");
  EXPECT_FALSE(P().ShellCopy(P(), (dir / u"nothing").c_str(), (dir / u"dst").c_str()));
  const String overlong = dir.path() + u"\\" + String(259 - dir.path().size() - 1, u'd');
  ASSERT_EQ(overlong.size(), 259u);
  EXPECT_FALSE(P().ShellCopy(P(), (dir / u"src").c_str(), overlong.c_str()));
  EXPECT_FALSE(test::Exists(overlong));
}

TEST(ShellRename, ToAFreeNameMovesTheWholeFolder) {
  TempDir dir;
  test::MakeFolders(dir / u"Pellmark\\ja");
  test::WriteBytes(dir / u"Pellmark\\ja\\x.dll", "x");
  test::WriteBytes(dir / u"Pellmark\\Tarnivo.dll", "lib");
  const std::string before = test::DescribeTree(dir / u"Pellmark");
  EXPECT_TRUE(P().ShellRename(P(), (dir / u"Pellmark").c_str(), (dir / u"aside").c_str()));
  EXPECT_FALSE(test::Exists(dir / u"Pellmark"));
  EXPECT_EQ(test::DescribeTree(dir / u"aside"), before);
}

TEST(ShellRename, MissingSourceOrTakenNameFailsAndChangesNothing) {
  TempDir dir;
  test::MakeFolders(dir / u"Pellmark");
  test::WriteBytes(dir / u"Pellmark\\a.dll", "new");
  test::MakeFolders(dir / u"aside");
  test::WriteBytes(dir / u"aside\\a.dll", "old");
  EXPECT_FALSE(P().ShellRename(P(), (dir / u"gone").c_str(), (dir / u"other").c_str()));
  EXPECT_FALSE(P().ShellRename(P(), (dir / u"Pellmark").c_str(), (dir / u"aside").c_str()));
  EXPECT_EQ(test::ReadBytes(dir / u"Pellmark\\a.dll"), "new");
  EXPECT_EQ(test::ReadBytes(dir / u"aside\\a.dll"), "old");
}

}  // namespace
}  // namespace orv
