// Flushes of a file's data and a folder's entries to stable storage, by
// fsync on a descriptor of their own.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/backend.h"

namespace orv::posix {

namespace {

// Opens path with flags and fsyncs it. An fsync through any descriptor of a
// file writes back what every descriptor left in the cache, so the writer's
// own need not be kept open.
bool Sync(const char16_t* path, int flags, bool unsupportedIsDone) {
  const int fd = ::open(NativePath(path).c_str(), flags | O_CLOEXEC);
  if (fd < 0) return Fail();
  int result = 0;
  do {
    result = ::fsync(fd);
  } while (result != 0 && errno == EINTR);
  const int error = errno;
  ::close(fd);
  if (result == 0) return true;
  return (unsupportedIsDone && (error == EINVAL || error == EOPNOTSUPP)) || Fail(error);
}

}  // namespace

bool FlushFile(const Platform&, const char16_t* path) {
  // Read-only is enough for fsync, and works on a file whose mode forbids
  // writing; non-blocking, so that a FIFO in the file's place cannot stall it.
  return Sync(path, O_RDONLY | O_NONBLOCK | O_NOCTTY, false);
}

bool FlushFolder(const Platform&, const char16_t* path) {
  // A file system that cannot sync a folder says so with EINVAL: there is
  // no other way to make its entries durable, so that is not a failure.
  return Sync(path, O_RDONLY | O_DIRECTORY, true);
}

}  // namespace orv::posix
