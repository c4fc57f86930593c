// The registry as a folder tree: ORVANTO_HKLM stands for HKEY_LOCAL_MACHINE,
// each key a sub-folder, each value a file holding its string in UTF-8.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/posix/backend.h"

namespace orv::posix {

namespace {

// A key path's components become folder names; anything that could step out
// of the tree or name no single folder is no key at all.
bool SafeComponent(const std::string& part) {
  return !part.empty() && part != "." && part != ".." && part.find('/') == std::string::npos;
}

RegistryRead Failed(int error) {
  Fail(error);
  return RegistryRead::Failed;
}

}  // namespace

RegistryRead ReadRegistryValue(const Platform&, const char16_t* keyPath,
                               RegistryValueRequest& request) {
  const char* root = std::getenv("ORVANTO_HKLM");
  if (root == nullptr || *root == '\0' || keyPath == nullptr || request.valueName == nullptr) {
    return Failed(ENOENT);
  }
  std::string path = root;
  const std::string key = ToUtf8(keyPath);
  std::size_t start = 0;
  while (start <= key.size()) {
    const std::size_t end = std::min(key.find('\\', start), key.size());
    const std::string part = key.substr(start, end - start);
    if (!SafeComponent(part)) return Failed(ENOENT);
    path += "/" + part;
    start = end + 1;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return Failed(errno);
  if (!S_ISDIR(st.st_mode)) return Failed(ENOENT);

  const std::string name = ToUtf8(request.valueName);
  if (!SafeComponent(name)) return Failed(ENOENT);
  const std::string valuePath = path + "/" + name;
  const int fd = ::open(valuePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return Failed(errno == ELOOP ? ENOENT : errno);
  std::string bytes;
  int readError = 0;
  bool readable = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  char chunk[4096];
  while (readable) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      readError = errno;
      readable = false;
    }
    if (got <= 0) break;
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
  const bool isFile = S_ISREG(st.st_mode);
  ::close(fd);
  if (!isFile) return Failed(ENOENT);
  if (!readable) return Failed(readError != 0 ? readError : EACCES);

  // Sized as Windows sizes REG_SZ data: UTF-16 code units with the NUL.
  const String text = FromUtf8(bytes);
  const std::uint64_t needed = (static_cast<std::uint64_t>(text.size()) + 1) * 2;
  request.type = kRegSz;
  // The value does not fit the buffer: EOVERFLOW is POSIX's word for it.
  if (needed > 0xFFFFFFFFull) {
    Fail(EOVERFLOW);
    return RegistryRead::MoreData;
  }
  const std::uint32_t capacity = request.size;
  request.size = static_cast<std::uint32_t>(needed);
  if (request.data == nullptr) return RegistryRead::Read;
  if (needed > capacity) {
    Fail(EOVERFLOW);
    return RegistryRead::MoreData;
  }
  std::size_t at = 0;
  for (char16_t unit : text) {
    request.data[at++] = static_cast<std::uint8_t>(unit & 0xFF);
    request.data[at++] = static_cast<std::uint8_t>(unit >> 8);
  }
  request.data[at++] = 0;
  request.data[at] = 0;
  return RegistryRead::Read;
}

}  // namespace orv::posix
