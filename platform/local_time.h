// Local wall-clock times: those of May 2016 the payload is stamped with, and
// the time of day a log line is written at.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace orv {

// Day, hour, minute and second of May 2016 as a broken-down local time whose
// daylight saving the zone's rules decide. Out-of-range fields are left for
// the conversion to normalise (day 32 is 1 June).
std::tm LocalTimeOfMay2016(std::int32_t day, std::int32_t hour, std::int32_t minute,
                           std::int32_t second);

// A moment of the machine's local clock.
struct LocalClock {
  std::int32_t year = 0, month = 0, day = 0;
  std::int32_t hour = 0, minute = 0, second = 0, millisecond = 0;
};

// "2026-12-08 23:48:26.123"
std::string FormatLocalClock(const LocalClock& clock);

}  // namespace orv
