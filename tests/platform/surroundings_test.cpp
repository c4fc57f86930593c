// The run's surroundings: the local clock a log line is stamped with, and a
// path's absolute form.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <set>
#include <thread>

#include "platform/seam.h"
#include "tests/support/test_support.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

using test::P;

// A wall-clock reading as seconds, taken as if it were UTC: readings of one
// zone compare by it.
std::int64_t WallSeconds(int year, int month, int day, int hour, int minute, int second) {
  using namespace std::chrono;
  const sys_days date{std::chrono::year{year} / month / day};
  return date.time_since_epoch().count() * 86400LL + hour * 3600 + minute * 60 + second;
}
std::int64_t WallSeconds(const LocalClock& c) {
  return WallSeconds(c.year, c.month, c.day, c.hour, c.minute, c.second);
}
std::int64_t WallSeconds(std::time_t moment) {
  const std::tm c = *std::localtime(&moment);
  return WallSeconds(c.tm_year + 1900, c.tm_mon + 1, c.tm_mday, c.tm_hour, c.tm_min, c.tm_sec);
}

TEST(LocalTimeNow, IsTheCRuntimesLocalTimeWithMilliseconds) {
  std::set<std::int32_t> milliseconds;
  for (int sample = 0; sample < 20; ++sample) {
    const std::time_t before = std::time(nullptr);
    const LocalClock now = P().LocalTimeNow(P());
    const std::time_t after = std::time(nullptr);
    EXPECT_GE(WallSeconds(now), WallSeconds(before) - 1);
    EXPECT_LE(WallSeconds(now), WallSeconds(after) + 1);
    EXPECT_GE(now.millisecond, 0);
    EXPECT_LE(now.millisecond, 999);
    milliseconds.insert(now.millisecond);
    std::this_thread::sleep_for(std::chrono::milliseconds(7));
  }
  // The clock is read to the millisecond, not to the second.
  EXPECT_GT(milliseconds.size(), 2u);
}

TEST(FormatLocalClock, FixedWidthFieldsWithZeroPadding) {
  const struct {
    LocalClock clock;
    const char* text;
  } cases[] = {
      {{2026, 12, 8, 23, 48, 26, 123}, "2026-12-08 23:48:26.123"},
      {{2016, 5, 1, 0, 0, 0, 0}, "2016-05-01 00:00:00.000"},
      {{2027, 1, 2, 3, 4, 5, 6}, "2027-01-02 03:04:05.006"},
      {{2030, 10, 31, 9, 59, 59, 50}, "2030-10-31 09:59:59.050"},
      {{999, 12, 31, 23, 59, 58, 999}, "0999-12-31 23:59:58.999"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatLocalClock(c.clock), c.text);
}

TEST(FullPath, ResolvesAgainstTheCurrentFolder) {
  const fs::path here = fs::current_path();
  ASSERT_TRUE(here.has_parent_path() && here != here.root_path());
  const String base = test::FromFs(here);
  const struct {
    String path;
    fs::path expected;
  } cases[] = {
      {u"name.log", here / "name.log"},
      {u"a\\b", here / "a" / "b"},
      {u".", here},
      {u".\\a\\.\\b", here / "a" / "b"},
      {u"a\\..\\b", here / "b"},
      {u"..", here.parent_path()},
      {u"..\\x", here.parent_path() / "x"},
      {test::FromFs(here / "x" / "y"), here / "x" / "y"},  // already absolute
      {base + u"\\x\\..\\y", here / "y"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.path));
    String full = u"left over";
    ASSERT_TRUE(P().FullPath(P(), c.path.c_str(), full));
    EXPECT_EQ(ToUtf8(full), ToUtf8(test::FromFs(c.expected)));
  }
  // An empty path has no absolute form; its reason is among the errors'.
  String full;
  EXPECT_FALSE(P().FullPath(P(), u"", full));
}

}  // namespace
}  // namespace orv
