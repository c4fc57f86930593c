// Local time stamps from the C runtime, in the process's time zone.
#include <windows.h>

#include <cerrno>
#include <ctime>

#include "platform/local_time.h"
#include "platform/win32/backend.h"

namespace orv::win32 {

std::optional<std::int64_t> MakeLocalTimeStamp(const Platform&, std::int32_t day, std::int32_t hour,
                                               std::int32_t minute, std::int32_t second) {
  std::tm local = LocalTimeOfMay2016(day, hour, minute, second);
  errno = 0;
  const __time64_t stamp = _mktime64(&local);
  if (stamp == -1) {
    FailWithErrno(errno != 0 ? errno : EINVAL);
    return std::nullopt;
  }
  return static_cast<std::int64_t>(stamp);
}

}  // namespace orv::win32
