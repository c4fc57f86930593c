// Local time stamps: the normalisation rules hold in every time zone.
#include <gtest/gtest.h>

#include "platform/seam.h"
#include "tests/support/test_support.h"

namespace orv {
namespace {

using test::P;

std::int64_t Stamp(int day, int hour, int minute, int second) {
  const std::optional<std::int64_t> stamp = P().MakeLocalTimeStamp(P(), day, hour, minute, second);
  EXPECT_TRUE(stamp.has_value());
  // -1 is the C runtime's failure, never a time stamp.
  EXPECT_NE(stamp.value_or(-1), -1);
  return stamp.value_or(-1);
}

TEST(MakeLocalTimeStamp, FieldsAddUpAndOverflowNormalises) {
  const std::int64_t base = Stamp(20, 15, 3, 34);
  EXPECT_EQ(Stamp(20, 15, 3, 35) - base, 1);
  EXPECT_EQ(Stamp(20, 15, 4, 34) - base, 60);
  EXPECT_EQ(Stamp(20, 16, 3, 34) - base, 3600);
  // No zone changes its clocks in late May: whole days are 86400 seconds.
  EXPECT_EQ(Stamp(21, 15, 3, 34) - base, 86400);
  EXPECT_EQ(Stamp(32, 0, 0, 0) - Stamp(31, 0, 0, 0), 86400);  // day 32 is 1 June
  EXPECT_EQ(Stamp(20, 24, 0, 0), Stamp(21, 0, 0, 0));
  // Whatever the zone, local time is within a day of UTC.
  const std::int64_t utc = 1463756614;  // 2016-05-20 15:03:34 UTC
  EXPECT_LE(std::llabs(base - utc), 86400);
}

TEST(MakeLocalTimeStamp, EveryPayloadDayOfMay2016IsRepresentable) {
  for (int day = 17; day <= 20; ++day) EXPECT_GT(Stamp(day, 14, 2, 54), 1463000000);
}

}  // namespace
}  // namespace orv
