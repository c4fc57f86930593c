// What the run needs to know of its surroundings: whether a box can be seen,
// the local clock, and a path's absolute form.
#include <windows.h>

#include "platform/win32/backend.h"
#include "platform/win32/surroundings.h"

namespace orv::win32 {

bool MessagesCanBeSeen(std::optional<std::uint32_t> session,
                       std::optional<std::uint32_t> stationFlags) {
  // Session 0 holds services and nobody's desktop.
  if (session == 0u) return false;
  // A window station that is not visible (a service's, or one a deployment
  // tool made) shows a box to nobody.
  if (stationFlags.has_value() && (*stationFlags & WSF_VISIBLE) == 0) return false;
  // What cannot be found out counts as seen: a box nobody sees is a wait,
  // a box suppressed in front of a user is a silent failure.
  return true;
}

bool CanShowMessages(const Platform&) {
  std::optional<std::uint32_t> session;
  if (DWORD id = 0; ProcessIdToSessionId(GetCurrentProcessId(), &id)) session = id;
  std::optional<std::uint32_t> stationFlags;
  USEROBJECTFLAGS flags{};
  const HWINSTA station = GetProcessWindowStation();
  if (station != nullptr &&
      GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) {
    stationFlags = flags.dwFlags;
  }
  return MessagesCanBeSeen(session, stationFlags);
}

bool InSessionZero(const Platform&) {
  // Not known counts as session 0: there the two guard names are one object,
  // and taking both would find the run's own first handle and never patch.
  DWORD id = 0;
  return !ProcessIdToSessionId(GetCurrentProcessId(), &id) || id == 0;
}

void Wait(const Platform&, std::uint32_t milliseconds) {
  Sleep(milliseconds);
}

bool LeaveCurrentFolder(const Platform&) {
  wchar_t system[MAX_PATH];
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return Fail();
  return SetCurrentDirectoryW(system) || Fail();
}

LocalClock LocalTimeNow(const Platform&) {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return LocalClock{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                    now.wMinute, now.wSecond, now.wMilliseconds};
}

bool FullPath(const Platform&, const char16_t* path, String& full) {
  if (path == nullptr) return Fail(ERROR_INVALID_NAME);
  wchar_t buffer[32768];
  // An empty or blank path fails without a reason under Wine (the last error
  // is left as it was); Windows gives ERROR_INVALID_NAME, and so do we.
  SetLastError(ERROR_SUCCESS);
  const DWORD length = GetFullPathNameW(Wide(path), 32768, buffer, nullptr);
  if (length == 0) {
    const DWORD error = GetLastError();
    return Fail(error != ERROR_SUCCESS ? error : ERROR_INVALID_NAME);
  }
  if (length >= 32768) return Fail(ERROR_FILENAME_EXCED_RANGE);
  full.assign(reinterpret_cast<const char16_t*>(buffer), length);
  return true;
}

}  // namespace orv::win32
