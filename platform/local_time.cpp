#include "platform/local_time.h"

namespace orv {

std::tm LocalTimeOfMay2016(std::int32_t day, std::int32_t hour, std::int32_t minute,
                           std::int32_t second) {
  std::tm parts{};
  parts.tm_sec = second;
  parts.tm_min = minute;
  parts.tm_hour = hour;
  parts.tm_mday = day;
  parts.tm_mon = 4;     // May
  parts.tm_year = 116;  // 2016
  parts.tm_isdst = -1;  // the zone's rules decide
  return parts;
}

}  // namespace orv
