// What the run needs to know of its surroundings: whether a box can be seen,
// the local clock, and a path's absolute form.
#include <windows.h>

#include "platform/win32/backend.h"

namespace orv::win32 {

bool CanShowMessages(const Platform&) {
  // Session 0 holds services and nobody's desktop.
  DWORD session = 0;
  if (ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0) return false;
  // A window station that is not visible (a service's, or one a deployment
  // tool made) shows a box to nobody.
  USEROBJECTFLAGS flags{};
  const HWINSTA station = GetProcessWindowStation();
  if (station != nullptr &&
      GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
      (flags.dwFlags & WSF_VISIBLE) == 0) {
    return false;
  }
  return true;
}

LocalClock LocalTimeNow(const Platform&) {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return LocalClock{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                    now.wMinute, now.wSecond, now.wMilliseconds};
}

bool FullPath(const Platform&, const char16_t* path, String& full) {
  wchar_t buffer[32768];
  const DWORD length = GetFullPathNameW(Wide(path), 32768, buffer, nullptr);
  if (length == 0) return Fail();
  if (length >= 32768) return Fail(ERROR_FILENAME_EXCED_RANGE);
  full.assign(reinterpret_cast<const char16_t*>(buffer), length);
  return true;
}

}  // namespace orv::win32
