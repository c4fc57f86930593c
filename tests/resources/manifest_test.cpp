// The payload table as the program holds it, checked against figures taken
// by hand from the patch's release table rather than from the build's table.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <tuple>

#include "patch/manifest.h"
#include "platform/paths.h"

namespace orv::manifest {
namespace {

using Time = std::tuple<int, int, int, int>;
Time TimeOf(int k) {
  const LocalTime& t = kPayload[k].time;
  return {t.day, t.hour, t.minute, t.second};
}

TEST(PayloadTable, RowsAgreeWithTheHandCopiedFigures) {
  struct Row {
    int k;
    const char16_t* path;
    Time time;
    std::uint32_t size;
  };
  const Row rows[] = {
      {0, u"de\\Pellmark35.resources.dll", {20, 15, 3, 34}, 81920},
      {3, u"en\\Pellmark45.resources.dll", {17, 14, 7, 6}, 66048},
      {11, u"ja\\Pellmark45.resources.dll", {17, 14, 7, 6}, 21504},
      {18, u"zh-CHS\\Pellmark35.resources.dll", {20, 15, 3, 38}, 53248},
      {21, u"zh-CHT\\Pellmark45.resources.dll", {20, 15, 8, 50}, 40448},
      {22, u"Pellmark.exe", {19, 18, 7, 14}, 40960},
      {23, u"Pellmark35.exe", {17, 14, 2, 54}, 847872},
      {24, u"Pellmark45.exe", {17, 14, 7, 0}, 842240},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.k);
    EXPECT_EQ(String(kPayload[row.k].relativePath), row.path);
    EXPECT_EQ(TimeOf(row.k), row.time);
    EXPECT_EQ(kPayload[row.k].size, row.size);
  }
  EXPECT_EQ(String(kLibraries[0].fileName), u"Brisquel.dll");
  EXPECT_EQ(String(kLibraries[1].fileName), u"Tarnivo.dll");
  EXPECT_EQ(String(kLibraries[2].fileName), u"Fendraw.dll");
}

// The released sizes add up to 3,128,320 bytes: a slip in any one size
// shows here.
TEST(PayloadTable, SizesAddUpToTheReleasedTotal) {
  std::uint64_t total = 0;
  for (const PayloadEntry& entry : kPayload) total += entry.size;
  EXPECT_EQ(total, 3128320u);
}

TEST(PayloadTable, FirstTwentyTwoLieInOneCultureFolderTheRestDirectly) {
  std::set<String> paths;
  for (int k = 0; k < kPayloadCount; ++k) {
    SCOPED_TRACE(k);
    const String path = kPayload[k].relativePath;
    paths.insert(path);
    const std::size_t slash = path.find(u'\\');
    if (k < 22) {
      EXPECT_TRUE(InSubFolder(k));
      ASSERT_NE(slash, String::npos);
      EXPECT_GT(slash, 0u);
      EXPECT_EQ(path.find(u'\\', slash + 1), String::npos);
      EXPECT_TRUE(path.ends_with(u".resources.dll"));
    } else {
      EXPECT_FALSE(InSubFolder(k));
      EXPECT_EQ(slash, String::npos);
      EXPECT_TRUE(path.ends_with(u".exe"));
    }
    EXPECT_EQ(path.find(u'/'), String::npos);
  }
  EXPECT_EQ(paths.size(), static_cast<std::size_t>(kPayloadCount));
}

TEST(PayloadTable, EachEntryHasItsOwnTimeInMay2016) {
  std::set<Time> times;
  for (int k = 0; k < kPayloadCount; ++k) {
    SCOPED_TRACE(k);
    const LocalTime& t = kPayload[k].time;
    EXPECT_GE(t.day, 17);
    EXPECT_LE(t.day, 20);
    EXPECT_GE(t.hour, 14);
    EXPECT_LE(t.hour, 18);
    times.insert(TimeOf(k));
  }
  // The one entry of 19 May sits between entries of other days.
  EXPECT_EQ(kPayload[22].time.day, 19);
  EXPECT_NE(kPayload[21].time.day, 19);
  EXPECT_NE(kPayload[23].time.day, 19);
  // Several entries share a time in the table (e.g. 4, 6 and 8), but
  // far from all: a table filled with one time would show here.
  EXPECT_EQ(times.size(), 11u);
}

}  // namespace
}  // namespace orv::manifest
