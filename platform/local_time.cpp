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

std::string FormatLocalClock(const LocalClock& c) {
  // Digits by hand, as the joins make them: the C library's formatter would
  // bring its floating-point half into the program.
  std::string text;
  const auto put = [&text](std::int32_t value, int digits, char after) {
    const auto magnitude = static_cast<std::uint32_t>(value < 0 ? 0 : value);
    for (int i = digits - 1; i >= 0; --i) {
      std::uint32_t power = 1;
      for (int j = 0; j < i; ++j) power *= 10;
      text.push_back(static_cast<char>('0' + magnitude / power % 10));
    }
    if (after != '\0') text.push_back(after);
  };
  put(c.year, 4, '-');
  put(c.month, 2, '-');
  put(c.day, 2, ' ');
  put(c.hour, 2, ':');
  put(c.minute, 2, ':');
  put(c.second, 2, '.');
  put(c.millisecond, 3, '\0');
  return text;
}

}  // namespace orv
