// Flushes of a file's data and a folder's entries to stable storage, by
// FlushFileBuffers on a handle of their own.
#include <windows.h>

#include "platform/win32/backend.h"

namespace orv::win32 {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// FlushFileBuffers wants a handle with write access; it writes back what
// every handle of the file left in the cache. The error is the last one set
// (the open's or the flush's).
bool FlushThroughHandle(const char16_t* path, DWORD flags) {
  const HANDLE handle =
      CreateFileW(Wide(path), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const BOOL flushed = FlushFileBuffers(handle);
  const DWORD error = GetLastError();
  CloseHandle(handle);
  SetLastError(error);
  return flushed != FALSE;
}

}  // namespace

bool FlushFile(const Platform&, const char16_t* path) {
  const DWORD attributes = GetFileAttributesW(Wide(path));
  if (attributes == INVALID_FILE_ATTRIBUTES) return Fail();
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return FlushThroughHandle(path, 0) || Fail();
  // A read-only file refuses a handle with write access (a kept library may
  // be read-only, as it was in the old folder): the attribute is lifted for
  // the flush and set again, whatever the flush came to.
  const DWORD writable = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  if (!SetFileAttributesW(Wide(path), writable != 0 ? writable : FILE_ATTRIBUTE_NORMAL)) {
    return Fail();
  }
  const bool flushed = FlushThroughHandle(path, 0);
  const DWORD error = GetLastError();
  const bool restored = SetFileAttributesW(Wide(path), attributes) != FALSE;
  if (!flushed) return Fail(error);
  return restored || Fail();
}

bool FlushFolder(const Platform&, const char16_t* path) {
  // A folder is opened as a folder with backup semantics. Under Wine a write
  // handle to it is flushed with fsync of the folder, as on POSIX (measured:
  // strace shows the fsync). A Windows file system that offers no folder
  // flush refuses the handle or the flush as denied, invalid or
  // unsupported: its names are then as durable as it makes them, and there
  // is nothing more to do. A folder that is not there is a failure.
  if (FlushThroughHandle(path, FILE_FLAG_BACKUP_SEMANTICS)) return true;
  const DWORD error = GetLastError();
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
      return true;
    default:
      return Fail(error);
  }
}

}  // namespace orv::win32
