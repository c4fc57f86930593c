// Reading back what was written: file contents compared chunk by chunk, and
// a folder's entries listed.
#include <windows.h>

#include <cstring>
#include <memory>

#include "platform/win32/backend.h"

namespace orv::win32 {

namespace {

constexpr DWORD kChunk = 64 * 1024;

// Shared with any reader, so that a scanner looking at the file does not
// make the check fail; a link in the file's place is opened as itself.
HANDLE OpenForReading(const char16_t* path, bool followLink = false) {
  const DWORD flags =
      FILE_FLAG_SEQUENTIAL_SCAN | (followLink ? DWORD{0} : DWORD{FILE_FLAG_OPEN_REPARSE_POINT});
  return CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, flags, nullptr);
}

// Fills buffer as far as the file goes; false on a read error.
bool ReadChunk(HANDLE file, char* buffer, DWORD size, DWORD& have) {
  have = 0;
  while (have < size) {
    DWORD got = 0;
    if (!ReadFile(file, buffer + have, size - have, &got, nullptr)) return false;
    if (got == 0) break;
    have += got;
  }
  return true;
}

FileCompare Failed(DWORD error = GetLastError()) {
  Fail(error);
  return FileCompare::Failed;
}

}  // namespace

FileCompare CompareFileWithBytes(const Platform&, const char16_t* path, const std::uint8_t* data,
                                 std::size_t size) {
  const HANDLE file = OpenForReading(path);
  if (file == INVALID_HANDLE_VALUE) return Failed();
  const std::unique_ptr<char[]> buffer(new char[kChunk]);
  std::size_t at = 0;
  FileCompare result = FileCompare::Same;
  for (;;) {
    DWORD count = 0;
    if (!ReadChunk(file, buffer.get(), kChunk, count)) {
      result = Failed();
      break;
    }
    if (count > size - at || std::memcmp(buffer.get(), data + at, count) != 0) {
      result = FileCompare::Different;
      break;
    }
    at += count;
    if (count < kChunk) break;
  }
  CloseHandle(file);
  return result == FileCompare::Same && at != size ? FileCompare::Different : result;
}

FileCompare CompareFiles(const Platform&, const char16_t* path, const char16_t* other) {
  const HANDLE first = OpenForReading(path);
  if (first == INVALID_HANDLE_VALUE) return Failed();
  const HANDLE second = OpenForReading(other, true);
  if (second == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    CloseHandle(first);
    return Failed(error);
  }
  const std::unique_ptr<char[]> a(new char[kChunk]);
  const std::unique_ptr<char[]> b(new char[kChunk]);
  FileCompare result = FileCompare::Same;
  for (;;) {
    DWORD gotA = 0;
    DWORD gotB = 0;
    if (!ReadChunk(first, a.get(), kChunk, gotA) || !ReadChunk(second, b.get(), kChunk, gotB)) {
      result = Failed();
      break;
    }
    if (gotA != gotB || std::memcmp(a.get(), b.get(), gotA) != 0) {
      result = FileCompare::Different;
      break;
    }
    if (gotA < kChunk) break;
  }
  CloseHandle(first);
  CloseHandle(second);
  return result;
}

bool ListFolder(const Platform&, const char16_t* path, std::vector<String>& names) {
  names.clear();
  PathBuffer pattern;
  if (!JoinPath(pattern, path, u"*")) return Fail(ERROR_FILENAME_EXCED_RANGE);
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(Wide(pattern.c_str()), &found);
  if (search == INVALID_HANDLE_VALUE) return Fail();
  do {
    const String name(reinterpret_cast<const char16_t*>(found.cFileName));
    if (name != u"." && name != u"..") names.push_back(name);
  } while (FindNextFileW(search, &found));
  const DWORD error = GetLastError();
  FindClose(search);
  if (error != ERROR_NO_MORE_FILES) {
    names.clear();
    return Fail(error);
  }
  return true;
}

}  // namespace orv::win32
