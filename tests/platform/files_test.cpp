// Temporary folder, folder creation, file writing, copying and status.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/seam.h"
#include "tests/support/test_support.h"

namespace orv {
namespace {

using test::TempDir;

const Platform& P() {
  return SystemPlatform();
}

TEST(TempFolder, AnExistingFolderEndingInOneSeparator) {
  char16_t buffer[kMaxPath] = {};
  const std::uint32_t length = P().TempFolder(P(), buffer, kMaxPath);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, kMaxPath);
  const String folder(buffer, length);
  EXPECT_EQ(folder.size(), std::char_traits<char16_t>::length(buffer));
  EXPECT_TRUE(folder.back() == u'\\' || folder.back() == u'/');
  EXPECT_FALSE(folder.size() > 1 &&
               (folder[folder.size() - 2] == u'\\' || folder[folder.size() - 2] == u'/'));
  EXPECT_TRUE(test::IsFolder(folder));
}

TEST(TempFolder, TooSmallABufferGetsTheSizeNeededAndNoText) {
  char16_t full[kMaxPath] = {};
  const std::uint32_t length = P().TempFolder(P(), full, kMaxPath);
  ASSERT_GT(length, 2u);
  char16_t small[2] = {u'k', u'k'};
  EXPECT_EQ(P().TempFolder(P(), small, 2), length + 1);
}

TEST(MakeFolder, OneLevelOnly) {
  TempDir dir;
  EXPECT_NE(P().MakeFolder(P(), (dir / u"de").c_str()), 0);
  EXPECT_TRUE(test::IsFolder(dir / u"de"));
  EXPECT_EQ(P().MakeFolder(P(), (dir / u"de").c_str()), 0);  // already there
  EXPECT_EQ(P().MakeFolder(P(), (dir / u"x\\y").c_str()), 0);
  EXPECT_FALSE(test::Exists(dir / u"x"));
}

TEST(FileStream, WritesTheBytesAndRemoveDeletes) {
  TempDir dir;
  const String path = dir / u"Pellmark.exe";
  test::WriteBytes(path, std::string(5000, 'o'));  // truncated by the open
  std::string payload(40960, '\0');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7);
  FileStream* stream = nullptr;
  ASSERT_EQ(P().OpenFileForWrite(P(), path.c_str(), stream), 0);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(P().WriteToFile(P(), stream, payload.data(), payload.size()), payload.size());
  P().CloseFile(P(), stream);
  EXPECT_EQ(test::ReadBytes(path), payload);

  EXPECT_NE(P().RemoveFile(P(), path.c_str()), 0);
  EXPECT_FALSE(test::Exists(path));
  EXPECT_EQ(P().RemoveFile(P(), path.c_str()), 0);
}

TEST(FileStream, OpenInAMissingFolderFailsWithACode) {
  TempDir dir;
  FileStream* stream = nullptr;
  EXPECT_NE(P().OpenFileForWrite(P(), (dir / u"none\\x.dll").c_str(), stream), 0);
  EXPECT_EQ(stream, nullptr);
}

TEST(CopySingleFile, KeepsTimeReplacesWhenAskedAndFailsForAMissingSource) {
  TempDir dir;
  test::WriteBytes(dir / u"Brisquel.dll", "library bytes");
  test::SetModificationTime(dir / u"Brisquel.dll", 1400000000);
  test::WriteBytes(dir / u"target.dll", "older and longer content");
  EXPECT_NE(P().CopySingleFile(P(), (dir / u"Brisquel.dll").c_str(), (dir / u"target.dll").c_str(),
                               false),
            0);
  EXPECT_EQ(test::ReadBytes(dir / u"target.dll"), "library bytes");
  EXPECT_EQ(test::ModificationTime(dir / u"target.dll"), 1400000000);
  EXPECT_EQ(
      P().CopySingleFile(P(), (dir / u"Brisquel.dll").c_str(), (dir / u"target.dll").c_str(), true),
      0);
  EXPECT_EQ(
      P().CopySingleFile(P(), (dir / u"Fendraw.dll").c_str(), (dir / u"new.dll").c_str(), false),
      0);
  EXPECT_FALSE(test::Exists(dir / u"new.dll"));
}

TEST(FileStatus, ReadsSizeAndTimeAndSetsOnlyTheModificationTime) {
  TempDir dir;
  const String path = dir / u"x.dll";
  test::WriteBytes(path, std::string(81920, 'x'));
  test::SetModificationTime(path, 1300000000);
  FileStatusRecord status;
  ASSERT_NE(P().ReadFileStatus(P(), path.c_str(), status), 0);
  EXPECT_EQ(status.size, 81920u);
  EXPECT_EQ(status.modificationTime, 1300000000);
  EXPECT_EQ(status.accessTime, 1300000000);

  FileStatusRecord changed = status;
  changed.modificationTime = 1463756614;
  changed.accessTime = 1;  // must not be applied
  ASSERT_NE(P().WriteFileStatus(P(), path.c_str(), changed), 0);
  FileStatusRecord after;
  ASSERT_NE(P().ReadFileStatus(P(), path.c_str(), after), 0);
  EXPECT_EQ(after.modificationTime, 1463756614);
  EXPECT_NE(after.accessTime, 1);
  EXPECT_EQ(after.size, 81920u);
  EXPECT_EQ(after.attributes, status.attributes);
  EXPECT_EQ(test::ReadBytes(path), std::string(81920, 'x'));
}

TEST(FileStatus, ReadOnlyFileGetsItsTimeAndStaysReadOnly) {
  TempDir dir;
  const String path = dir / u"ro.dll";
  test::WriteBytes(path, "ro");
  namespace fs = std::filesystem;
  fs::permissions(test::FsPath(path),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  FileStatusRecord status;
  ASSERT_NE(P().ReadFileStatus(P(), path.c_str(), status), 0);
  status.modificationTime = 1463756614;
  EXPECT_NE(P().WriteFileStatus(P(), path.c_str(), status), 0);
  EXPECT_EQ(test::ModificationTime(path), 1463756614);
  FileStatusRecord after;
  ASSERT_NE(P().ReadFileStatus(P(), path.c_str(), after), 0);
  EXPECT_EQ(after.attributes, status.attributes);
  EXPECT_EQ(after.attributes & 0x1u, 0x1u);  // read-only
}

TEST(FileStatus, MissingFileFails) {
  TempDir dir;
  FileStatusRecord status;
  status.size = 99;
  EXPECT_EQ(P().ReadFileStatus(P(), (dir / u"missing").c_str(), status), 0);
  EXPECT_EQ(status.size, 99u);
  EXPECT_EQ(P().WriteFileStatus(P(), (dir / u"missing").c_str(), status), 0);
}

}  // namespace
}  // namespace orv
