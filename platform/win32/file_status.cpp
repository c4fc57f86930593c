// The file-status read and write: times, size and attributes of one file.
#include <windows.h>

#include <cstdint>
#include <limits>

#include "platform/win32/backend.h"

namespace orv::win32 {

namespace {

// FILETIME counts 100-nanosecond ticks from 1601-01-01 UTC.
constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kTicksFrom1601To1970 = 116'444'736'000'000'000;

std::int64_t ToUnixSeconds(const FILETIME& time) {
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  // Floor division, so that a time before 1970 is not rounded towards it.
  const std::int64_t since1970 = static_cast<std::int64_t>(ticks) - kTicksFrom1601To1970;
  std::int64_t seconds = since1970 / kTicksPerSecond;
  if (since1970 % kTicksPerSecond < 0) --seconds;
  return seconds;
}

// False for a time that FILETIME cannot hold.
bool ToFileTime(std::int64_t seconds, FILETIME& time) {
  constexpr std::int64_t kMin = -kTicksFrom1601To1970 / kTicksPerSecond;
  constexpr std::int64_t kMax =
      (std::numeric_limits<std::int64_t>::max() - kTicksFrom1601To1970) / kTicksPerSecond;
  if (seconds < kMin || seconds > kMax) return false;
  const auto ticks = static_cast<std::uint64_t>(seconds * kTicksPerSecond + kTicksFrom1601To1970);
  time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return true;
}

// Attribute access alone: on Windows it is granted for a read-only file too,
// and it leaves the attributes and the other two times as they are.
bool SetModificationTime(const char16_t* path, const FILETIME& modified) {
  const HANDLE file = CreateFileW(Wide(path), FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const BOOL set = SetFileTime(file, nullptr, nullptr, &modified);
  CloseHandle(file);
  return set != FALSE;
}

}  // namespace

bool ReadFileStatus(const Platform&, const char16_t* path, FileStatusRecord& status) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data)) return Fail();
  status.creationTime = ToUnixSeconds(data.ftCreationTime);
  status.modificationTime = ToUnixSeconds(data.ftLastWriteTime);
  status.accessTime = ToUnixSeconds(data.ftLastAccessTime);
  status.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  status.attributes = data.dwFileAttributes;
  return true;
}

bool WriteFileStatus(const Platform&, const char16_t* path, const FileStatusRecord& status) {
  FILETIME modified{};
  if (!ToFileTime(status.modificationTime, modified)) return Fail(ERROR_INVALID_PARAMETER);
  if (SetModificationTime(path, modified)) return true;
  const DWORD refused = GetLastError();
  // Wine refuses attribute access to a read-only file (access denied), which
  // Windows grants. There the read-only attribute is lifted for the change
  // and put back after it.
  const DWORD attributes = GetFileAttributesW(Wide(path));
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
    return Fail(refused);
  }
  if (!SetFileAttributesW(Wide(path), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
    return Fail();
  }
  const bool set = SetModificationTime(path, modified);
  const DWORD error = GetLastError();
  SetFileAttributesW(Wide(path), attributes);
  return set || Fail(error);
}

}  // namespace orv::win32
