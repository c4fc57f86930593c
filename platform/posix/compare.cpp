// Reading back what was written: file contents compared chunk by chunk, and
// a folder's entries listed, links never followed.
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/posix/backend.h"

namespace orv::posix {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

// Fills buffer as far as the file goes; the count read, or -1 (errno set).
ssize_t ReadChunk(int fd, char* buffer, std::size_t size) {
  std::size_t have = 0;
  while (have < size) {
    const ssize_t got = ::read(fd, buffer + have, size - have);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    have += static_cast<std::size_t>(got);
  }
  return static_cast<ssize_t>(have);
}

int OpenForReading(const char16_t* path, bool followLink = false) {
  return ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
}

// The payload is mapped from the program file: its pages, once compared,
// are handed back, so that checking a large payload does not make the
// process as large as the payload. Only a hint, which never changes the
// bytes: the pages are read again from the file if they are needed.
void ReleasePages(const std::uint8_t* start, std::size_t size) {
#ifdef MADV_PAGEOUT
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto from = (reinterpret_cast<std::uintptr_t>(start) + page - 1) / page * page;
  const auto to = (reinterpret_cast<std::uintptr_t>(start) + size) / page * page;
  if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_PAGEOUT);
#else
  static_cast<void>(start);
  static_cast<void>(size);
#endif
}

FileCompare Failed(int error) {
  Fail(error);
  return FileCompare::Failed;
}

}  // namespace

FileCompare CompareFileWithBytes(const Platform&, const char16_t* path, const std::uint8_t* data,
                                 std::size_t size) {
  const int fd = OpenForReading(path);
  if (fd < 0) return Failed(errno);
  const std::unique_ptr<char[]> buffer(new char[kChunk]);
  std::size_t at = 0;
  FileCompare result = FileCompare::Same;
  for (;;) {
    const ssize_t got = ReadChunk(fd, buffer.get(), kChunk);
    if (got < 0) {
      result = Failed(errno);
      break;
    }
    const auto count = static_cast<std::size_t>(got);
    if (count > size - at || std::memcmp(buffer.get(), data + at, count) != 0) {
      result = FileCompare::Different;
      break;
    }
    ReleasePages(data + at, count);
    at += count;
    if (count < kChunk) break;
  }
  ::close(fd);
  return result == FileCompare::Same && at != size ? FileCompare::Different : result;
}

FileCompare CompareFiles(const Platform&, const char16_t* path, const char16_t* other) {
  const int first = OpenForReading(path);
  if (first < 0) return Failed(errno);
  const int second = OpenForReading(other, true);
  if (second < 0) {
    const int error = errno;
    ::close(first);
    return Failed(error);
  }
  const std::unique_ptr<char[]> a(new char[kChunk]);
  const std::unique_ptr<char[]> b(new char[kChunk]);
  FileCompare result = FileCompare::Same;
  for (;;) {
    const ssize_t gotA = ReadChunk(first, a.get(), kChunk);
    const ssize_t gotB = gotA < 0 ? 0 : ReadChunk(second, b.get(), kChunk);
    if (gotA < 0 || gotB < 0) {
      result = Failed(errno);
      break;
    }
    if (gotA != gotB || std::memcmp(a.get(), b.get(), static_cast<std::size_t>(gotA)) != 0) {
      result = FileCompare::Different;
      break;
    }
    if (static_cast<std::size_t>(gotA) < kChunk) break;
  }
  ::close(first);
  ::close(second);
  return result;
}

bool ListFolder(const Platform&, const char16_t* path, std::vector<String>& names) {
  names.clear();
  const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return Fail();
  DIR* folder = ::fdopendir(fd);
  if (folder == nullptr) {
    const int error = errno;
    ::close(fd);
    return Fail(error);
  }
  errno = 0;
  while (const dirent* entry = ::readdir(folder)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.push_back(FromUtf8(entry->d_name));
    }
    errno = 0;
  }
  const int error = errno;
  ::closedir(folder);
  if (error != 0) {
    names.clear();
    return Fail(error);
  }
  return true;
}

}  // namespace orv::posix
