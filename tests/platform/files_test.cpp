// Temporary folder, folder creation, file writing, copying and status.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#endif

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "platform/seam.h"
#include "tests/support/test_support.h"

namespace orv {
namespace {

using test::P;
using test::TempDir;

TEST(TempFolder, AnExistingFolderEndingInOneSeparator) {
  PathBuffer buffer;
  ASSERT_TRUE(P().TempFolder(P(), buffer));
  const String folder(buffer.view());
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(folder.back() == u'\\' || folder.back() == u'/');
  EXPECT_FALSE(folder.size() > 1 &&
               (folder[folder.size() - 2] == u'\\' || folder[folder.size() - 2] == u'/'));
  EXPECT_TRUE(test::IsFolder(folder));
}

TEST(MakeFolder, OneLevelOnly) {
  TempDir dir;
  EXPECT_TRUE(P().MakeFolder(P(), (dir / u"de").c_str()));
  EXPECT_TRUE(test::IsFolder(dir / u"de"));
  EXPECT_FALSE(P().MakeFolder(P(), (dir / u"de").c_str()));  // already there
  EXPECT_FALSE(P().MakeFolder(P(), (dir / u"x\\y").c_str()));
  EXPECT_FALSE(test::Exists(dir / u"x"));
}

TEST(FileStream, WritesTheBytesAndRemoveDeletes) {
  TempDir dir;
  const String path = dir / u"Pellmark.exe";
  test::WriteBytes(path, std::string(5000, 'o'));  // truncated by the open
  std::string payload(40960, '\0');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7);
  FileStream* stream = P().OpenFileForWrite(P(), path.c_str());
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(P().WriteToFile(P(), stream, payload.data(), payload.size()));
  P().CloseFile(P(), stream);
  EXPECT_EQ(test::ReadBytes(path), payload);

  EXPECT_TRUE(P().RemoveFile(P(), path.c_str()));
  EXPECT_FALSE(test::Exists(path));
  EXPECT_FALSE(P().RemoveFile(P(), path.c_str()));
}

TEST(FileStream, OpenInAMissingFolderFailsWithAReason) {
  TempDir dir;
  EXPECT_EQ(P().OpenFileForWrite(P(), (dir / u"none\\x.dll").c_str()), nullptr);
  // "No such path": opened with CreateFileW on Windows, open() on POSIX.
#ifdef _WIN32
  EXPECT_EQ(P().LastError(P()), (SystemError{ErrorSource::Win32, 3}));
#else
  EXPECT_EQ(P().LastError(P()), (SystemError{ErrorSource::Errno, ENOENT}));
#endif
}

TEST(CopySingleFile, KeepsTimeReplacesWhenAskedAndFailsForAMissingSource) {
  TempDir dir;
  test::WriteBytes(dir / u"Brisquel.dll", "library bytes");
  test::SetModificationTime(dir / u"Brisquel.dll", 1400000000);
  test::WriteBytes(dir / u"target.dll", "older and longer content");
  EXPECT_TRUE(P().CopySingleFile(P(), (dir / u"Brisquel.dll").c_str(),
                                 (dir / u"target.dll").c_str(), false));
  EXPECT_EQ(test::ReadBytes(dir / u"target.dll"), "library bytes");
  EXPECT_EQ(test::ModificationTime(dir / u"target.dll"), 1400000000);
  EXPECT_FALSE(P().CopySingleFile(P(), (dir / u"Brisquel.dll").c_str(),
                                  (dir / u"target.dll").c_str(), true));
  EXPECT_FALSE(
      P().CopySingleFile(P(), (dir / u"Fendraw.dll").c_str(), (dir / u"new.dll").c_str(), false));
  EXPECT_FALSE(test::Exists(dir / u"new.dll"));
}

TEST(FileStatus, ReadsSizeAndTimeAndSetsOnlyTheModificationTime) {
  TempDir dir;
  const String path = dir / u"x.dll";
  test::WriteBytes(path, std::string(81920, 'x'));
  test::SetModificationTime(path, 1300000000);
  FileStatusRecord status;
  ASSERT_TRUE(P().ReadFileStatus(P(), path.c_str(), status));
  EXPECT_EQ(status.size, 81920u);
  EXPECT_EQ(status.modificationTime, 1300000000);
  EXPECT_EQ(status.accessTime, 1300000000);

  FileStatusRecord changed = status;
  changed.modificationTime = 1463756614;
  changed.accessTime = 1;  // must not be applied
  ASSERT_TRUE(P().WriteFileStatus(P(), path.c_str(), changed));
  FileStatusRecord after;
  ASSERT_TRUE(P().ReadFileStatus(P(), path.c_str(), after));
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
  ASSERT_TRUE(P().ReadFileStatus(P(), path.c_str(), status));
  status.modificationTime = 1463756614;
  EXPECT_TRUE(P().WriteFileStatus(P(), path.c_str(), status));
  EXPECT_EQ(test::ModificationTime(path), 1463756614);
  FileStatusRecord after;
  ASSERT_TRUE(P().ReadFileStatus(P(), path.c_str(), after));
  EXPECT_EQ(after.attributes, status.attributes);
  EXPECT_EQ(after.attributes & 0x1u, 0x1u);  // read-only
}

// A flush changes nothing that can be seen: bytes, sizes, times, and a
// read-only file stays read-only (the Windows backend lifts the attribute
// for the flush).
TEST(Flush, LeavesFilesAndFoldersAsTheyWere) {
  TempDir dir;
  const String file = dir / u"Pellmark.exe";
  const String readOnly = dir / u"Brisquel.dll";
  const String folder = dir / u"de";
  test::WriteBytes(file, std::string(40960, 'p'));
  test::WriteBytes(readOnly, "a kept library");
  test::MakeFolders(folder);
  test::WriteBytes(folder + u"\\Pellmark35.resources.dll", "de");
  test::SetModificationTime(file, 1463756614);
  std::filesystem::permissions(test::FsPath(readOnly),
                               std::filesystem::perms::owner_write |
                                   std::filesystem::perms::group_write |
                                   std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
  const std::string before = test::DescribeTree(dir.path());

  for (const String& path : {file, readOnly}) {
    EXPECT_TRUE(P().FlushFile(P(), path.c_str())) << ToUtf8(path);
  }
  for (const String& path : {folder, dir.path()}) {
    EXPECT_TRUE(P().FlushFolder(P(), path.c_str())) << ToUtf8(path);
  }
  EXPECT_EQ(test::DescribeTree(dir.path()), before);
  FileStatusRecord status;
  ASSERT_TRUE(P().ReadFileStatus(P(), readOnly.c_str(), status));
  EXPECT_EQ(status.attributes & 0x1u, 0x1u);  // read-only
}

// Compared across chunk boundaries, where a read loop goes wrong first.
TEST(ReadBack, ComparesContentAndListsNames) {
  TempDir dir;
  std::string bytes(200000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + 7);
  const auto data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const String file = dir / u"Pellmark.exe";
  const String same = dir / u"same.dll";
  test::WriteBytes(file, bytes);
  test::WriteBytes(same, bytes);
  std::string changedLast = bytes;
  changedLast.back() ^= 1;
  const struct {
    std::string content;
    FileCompare expected;
  } cases[] = {
      {bytes, FileCompare::Same},
      {bytes.substr(0, 65536), FileCompare::Different},  // cut at a chunk's end
      {bytes.substr(0, bytes.size() - 1), FileCompare::Different},
      {bytes + "x", FileCompare::Different},
      {changedLast, FileCompare::Different},
      {"", FileCompare::Different},
  };
  const String other = dir / u"other.dll";
  for (const auto& c : cases) {
    test::WriteBytes(other, c.content);
    EXPECT_EQ(P().CompareFileWithBytes(P(), other.c_str(), data, bytes.size()), c.expected)
        << c.content.size();
    EXPECT_EQ(P().CompareFiles(P(), other.c_str(), file.c_str()), c.expected) << c.content.size();
  }
  EXPECT_EQ(P().CompareFileWithBytes(P(), (dir / u"missing").c_str(), data, 1),
            FileCompare::Failed);
  EXPECT_EQ(P().CompareFiles(P(), file.c_str(), (dir / u"missing").c_str()), FileCompare::Failed);

  test::MakeFolders(dir / u"de");
  std::vector<String> names{u"stale"};
  ASSERT_TRUE(P().ListFolder(P(), dir.path().c_str(), names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<String>{u"Pellmark.exe", u"de", u"other.dll", u"same.dll"}));
  EXPECT_FALSE(P().ListFolder(P(), file.c_str(), names));
  EXPECT_TRUE(names.empty());
}

TEST(FileStatus, MissingFileFails) {
  TempDir dir;
  FileStatusRecord status;
  status.size = 99;
  EXPECT_FALSE(P().ReadFileStatus(P(), (dir / u"missing").c_str(), status));
  EXPECT_EQ(status.size, 99u);
  EXPECT_FALSE(P().WriteFileStatus(P(), (dir / u"missing").c_str(), status));
}

}  // namespace
}  // namespace orv

namespace orv {
namespace {

// Sets (or, with null, removes) a variable of this process's environment,
// where the platform's expansion looks.
void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
  const String wideName = FromUtf8(name);
  const String wideValue = value == nullptr ? String() : FromUtf8(value);
  SetEnvironmentVariableW(
      reinterpret_cast<const wchar_t*>(wideName.c_str()),
      value == nullptr ? nullptr : reinterpret_cast<const wchar_t*>(wideValue.c_str()));
#else
  if (value == nullptr) {
    ::unsetenv(name);
  } else {
    ::setenv(name, value, 1);
  }
#endif
}

// Expansion as the host discovery uses it: %NAME% of a set variable is
// replaced, anything else stays as written, and a result that does not fit
// 260 characters with its NUL is refused with nothing left in the buffer.
TEST(ExpandEnvironmentText, VariablesAndTheBufferLimit) {
  SetVariable("ORV_EXPAND_TEST", "C:\\Apps");  // 7 characters
  SetVariable("ORV_EXPAND_UNSET", nullptr);
  const String fill(kMaxPath - 1 - 7, u'x');
  const struct {
    String text;
    bool fits;
    String expanded;
  } cases[] = {
      {u"C:\\Orvanto", true, u"C:\\Orvanto"},
      {u"%ORV_EXPAND_TEST%\\Orvanto", true, u"C:\\Apps\\Orvanto"},
      {u"%ORV_EXPAND_UNSET%\\Orvanto", true, u"%ORV_EXPAND_UNSET%\\Orvanto"},
      {u"100%\\Orvanto", true, u"100%\\Orvanto"},
      {u"%ORV_EXPAND_TEST%" + fill, true, u"C:\\Apps" + fill},     // 259 and the NUL
      {u"%ORV_EXPAND_TEST%" + fill + u"y", false, u""},            // one more
      {u"%ORV_EXPAND_TEST%%ORV_EXPAND_TEST%" + fill, false, u""},  // short, but not once expanded
  };
  for (const auto& c : cases) {
    PathBuffer expanded;
    expanded.Assign(u"left over");
    EXPECT_EQ(P().ExpandEnvironmentText(P(), c.text.c_str(), expanded), c.fits) << ToUtf8(c.text);
    EXPECT_EQ(String(expanded.view()), c.expanded) << ToUtf8(c.text);
  }
  SetVariable("ORV_EXPAND_TEST", nullptr);
}

}  // namespace
}  // namespace orv
