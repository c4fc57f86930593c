// Reading file versions through the platform, from real PE files.
#include <gtest/gtest.h>

#include "platform/seam.h"
#include "tests/support/test_support.h"

namespace orv {
namespace {

using test::P;
using test::TempDir;
using test::V;

FileVersion4 Read(StringView path, int* result) {
  FileVersion4 version{7, 7, 7, 7};
  *result = P().ReadFileVersion(P(), String(path).c_str(), version);
  return version;
}

TEST(ReadFileVersion, FileVersionOfLaunchersAndLibraries) {
  TempDir dir;
  struct Case {
    FileVersion4 version;
    bool executable;
  };
  const Case cases[] = {{V(4, 1, 52, 1), true},
                        {V(4, 1, 52, 0), true},
                        {V(4, 2, 0, 0), true},
                        {V(1, 0, 1, 1), false},
                        {V(0, 9, 9, 9), false},
                        {V(1, 0, 65535, 1), false},
                        {V(65535, 65535, 65535, 65535), false}};
  for (const Case& c : cases) {
    pegen::PeImageSpec spec;
    spec.fileVersion = c.version;
    spec.productVersion = V(9, 8, 7, 6);  // only the file version counts
    spec.executable = c.executable;
    const String path = dir / u"fixture.bin";
    test::WritePeFixture(path, spec);
    int result = -1;
    EXPECT_EQ(Read(path, &result), c.version) << ToText(c.version);
    EXPECT_EQ(result, 1);
  }
}

TEST(ReadFileVersion, NoReadableVersionLeavesTheRecordAsItWas) {
  TempDir dir;
  pegen::PeImageSpec noVersion;
  noVersion.hasVersion = false;
  test::WritePeFixture(dir / u"plain.dll", noVersion);
  pegen::PeImageSpec otherId;
  otherId.versionResourceId = 2;
  test::WritePeFixture(dir / u"other-id.dll", otherId);
  test::WriteBytes(dir / u"readme.txt", "not a program");
  test::WriteBytes(dir / u"empty.dll", "");
  test::MakeFolders(dir / u"folder.dll");

  for (const char16_t* name : {u"plain.dll", u"other-id.dll", u"readme.txt", u"empty.dll",
                               u"folder.dll", u"missing.dll"}) {
    int result = -1;
    EXPECT_EQ(Read(dir / name, &result), V(7, 7, 7, 7)) << ToUtf8(name);
    EXPECT_EQ(result, 0) << ToUtf8(name);
  }
}

TEST(ReadFileVersion, PayloadSizedFileIsReadAtItsExactSize) {
  TempDir dir;
  pegen::PeImageSpec spec;
  spec.size = 847872;
  spec.executable = true;
  test::WritePeFixture(dir / u"Pellmark35.exe", spec);
  EXPECT_EQ(test::ReadBytes(dir / u"Pellmark35.exe").size(), 847872u);
  int result = -1;
  EXPECT_EQ(Read(dir / u"Pellmark35.exe", &result), V(1, 0, 1, 1));
  EXPECT_EQ(result, 1);
}

}  // namespace
}  // namespace orv
