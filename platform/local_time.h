// Local wall-clock times of May 2016, as the C runtime converts them.
#pragma once

#include <cstdint>
#include <ctime>

namespace orv {

// Day, hour, minute and second of May 2016 as a broken-down local time whose
// daylight saving the zone's rules decide. Out-of-range fields are left for
// the conversion to normalise (day 32 is 1 June).
std::tm LocalTimeOfMay2016(std::int32_t day, std::int32_t hour, std::int32_t minute,
                           std::int32_t second);

}  // namespace orv
