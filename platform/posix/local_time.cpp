// Local time stamps from the C library, in the process's time zone.
#include <cerrno>
#include <ctime>

#include "platform/local_time.h"
#include "platform/posix/backend.h"

namespace orv::posix {

std::optional<std::int64_t> MakeLocalTimeStamp(const Platform&, std::int32_t day, std::int32_t hour,
                                               std::int32_t minute, std::int32_t second) {
  std::tm parts = LocalTimeOfMay2016(day, hour, minute, second);
  errno = 0;
  const std::time_t result = std::mktime(&parts);
  if (result == static_cast<std::time_t>(-1)) {
    Fail(errno != 0 ? errno : EOVERFLOW);
    return std::nullopt;
  }
  return static_cast<std::int64_t>(result);
}

}  // namespace orv::posix
