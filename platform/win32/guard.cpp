// The single-instance guard: a named mutex whose existence is what guards.
#include <windows.h>

#include "platform/win32/backend.h"

namespace orv::win32 {

InstanceGuard* CreateInstanceGuard(const Platform&, const char16_t* name, bool& alreadyExists) {
  // Only the name's existence guards; the mutex is never waited on.
  SetLastError(ERROR_SUCCESS);
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, Wide(name));
  const DWORD error = GetLastError();
  // A name that exists but may not be opened (a SYSTEM run's guard in the
  // global namespace, seen from a user's session) is held by someone else
  // all the same.
  alreadyExists =
      error == ERROR_ALREADY_EXISTS || (mutex == nullptr && error == ERROR_ACCESS_DENIED);
  if (mutex == nullptr) Fail(error);
  return static_cast<InstanceGuard*>(mutex);
}

void ReleaseInstanceGuard(const Platform&, InstanceGuard* guard) {
  if (guard == nullptr) return;
  // Never owned, so the release fails harmlessly; the close is what counts.
  ReleaseMutex(static_cast<HANDLE>(guard));
  CloseHandle(static_cast<HANDLE>(guard));
}

}  // namespace orv::win32
