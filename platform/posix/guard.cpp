// The single-instance guard: an advisory lock on a file in the temporary
// folder.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/backend.h"

namespace orv::posix {

namespace {
struct Guard {
  int fd;
};
}  // namespace

InstanceGuard* CreateInstanceGuard(const Platform&, const char16_t* name, bool& alreadyExists) {
  alreadyExists = false;
  // A lock on a file in the temporary folder: runs that share the folder
  // share the guard, and the kernel lets go of it when the process ends,
  // however it ends.
  // A namespace prefix ("Global\NAME") becomes part of the file's name, so
  // that both names of the guard are locks side by side.
  std::string file = ToUtf8(name);
  for (char& c : file) {
    if (c == '\\' || c == '/') c = '.';
  }
  const std::string path = NativePath(TempFolderText().c_str()) + file + ".lock";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    Fail();
    return nullptr;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) alreadyExists = (errno == EWOULDBLOCK);
  return reinterpret_cast<InstanceGuard*>(new Guard{fd});
}

void ReleaseInstanceGuard(const Platform&, InstanceGuard* guard) {
  Guard* held = reinterpret_cast<Guard*>(guard);
  if (held == nullptr) return;
  ::close(held->fd);  // closing the last descriptor drops the lock
  delete held;
}

}  // namespace orv::posix
