// Every failed operation leaves the platform's own reason, and the system's
// text for it, for whoever reports the failure.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "platform/seam.h"
#include "tests/support/test_support.h"

namespace orv {
namespace {

using test::P;
using test::TempDir;

// The reason each backend gives; 0 where only the kind is fixed (the
// shell's codes and some of the version service's differ between systems).
struct Expected {
  ErrorSource source;
  std::uint32_t code;
};
#ifdef _WIN32
constexpr Expected kNotFound{ErrorSource::Win32, 2};      // ERROR_FILE_NOT_FOUND
constexpr Expected kExists{ErrorSource::Win32, 183};      // ERROR_ALREADY_EXISTS
constexpr Expected kShellFailure{ErrorSource::Shell, 0};  // the shell's own codes
constexpr Expected kNoVersion{ErrorSource::Win32, 0};     // the version service's
constexpr Expected kNoString{ErrorSource::Win32, 1814};   // ERROR_RESOURCE_NAME_NOT_FOUND
constexpr Expected kBadName{ErrorSource::Win32, 123};     // ERROR_INVALID_NAME
#else
constexpr Expected kNotFound{ErrorSource::Errno, ENOENT};
constexpr Expected kExists{ErrorSource::Errno, EEXIST};
constexpr Expected kShellFailure{ErrorSource::Errno, ENOENT};
constexpr Expected kNoVersion{ErrorSource::Errno, ENODATA};
constexpr Expected kNoString{ErrorSource::Errno, ENOENT};
constexpr Expected kBadName{ErrorSource::Errno, ENOENT};
#endif
// A file opened for writing in a folder that is not there: CreateFileW's
// "path not found" on Windows, which opens it without following a link.
#ifdef _WIN32
constexpr Expected kOpenNotFound{ErrorSource::Win32, 3};  // ERROR_PATH_NOT_FOUND
#else
constexpr Expected kOpenNotFound{ErrorSource::Errno, ENOENT};
#endif

TEST(Errors, EveryFailureLeavesItsReasonAndText) {
  TempDir dir;
  test::WriteBytes(dir / u"text.dll", "no version here");
  test::MakeFolders(dir / u"folder");
  const String missing = dir / u"missing";
  struct Case {
    const char* what;
    std::function<bool()> fails;  // true when the operation failed
    Expected reason;
  };
  const Case cases[] = {
      {"FileExists", [&] { return P().FileExists(P(), missing.c_str()) == FileProbe::Absent; },
       kNotFound},
      {"ProbeFolderWritable",
       [&] {
         PathBuffer left;
         return P().ProbeFolderWritable(P(), missing.c_str(), left) == FolderProbe::Missing;
       },
       kNotFound},
      {"ShellDelete", [&] { return !P().ShellDelete(P(), missing.c_str()); }, kShellFailure},
      {"ReadFileVersion",
       [&] {
         FileVersion4 version;
         return !P().ReadFileVersion(P(), (dir / u"text.dll").c_str(), version);
       },
       kNoVersion},
      {"MakeFolder", [&] { return !P().MakeFolder(P(), (dir / u"folder").c_str()); }, kExists},
      {"OpenFileForWrite",
       [&] { return P().OpenFileForWrite(P(), (missing + u"\\x.dll").c_str()) == nullptr; },
       kOpenNotFound},
      {"RemoveFile", [&] { return !P().RemoveFile(P(), missing.c_str()); }, kNotFound},
      {"CopySingleFile",
       [&] { return !P().CopySingleFile(P(), missing.c_str(), (dir / u"copy").c_str(), false); },
       kNotFound},
      {"FlushFile", [&] { return !P().FlushFile(P(), missing.c_str()); }, kNotFound},
      {"FlushFolder", [&] { return !P().FlushFolder(P(), missing.c_str()); }, kNotFound},
      {"ReadFileStatus",
       [&] {
         FileStatusRecord status;
         return !P().ReadFileStatus(P(), missing.c_str(), status);
       },
       kNotFound},
      {"LoadTableString",
       [&] {
         String text;
         return !P().LoadTableString(P(), 9999, text);
       },
       kNoString},
      {"FullPath",
       [&] {
         String full;
         return !P().FullPath(P(), u"", full);
       },
       kBadName},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordSystemError({});  // nothing left over from an earlier case
    ASSERT_TRUE(c.fails());
    const SystemError reason = P().LastError(P());
    EXPECT_EQ(reason.source, c.reason.source);
    if (c.reason.code != 0) {
      EXPECT_EQ(reason.code, c.reason.code);
    }
    EXPECT_NE(reason.code, 0u);
    const String text = P().DescribeError(P(), reason);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find_first_of(u"\r\n"), String::npos) << ToUtf8(text);
  }
}

TEST(Errors, TextIsTheSystemsOwn) {
  const String text = P().DescribeError(P(), {kNotFound.source, kNotFound.code});
  EXPECT_NE(text, u"unknown error");
#ifndef _WIN32
  EXPECT_EQ(text, u"No such file or directory");
#endif
  EXPECT_EQ(P().DescribeError(P(), {}), u"no error");
}

}  // namespace
}  // namespace orv
