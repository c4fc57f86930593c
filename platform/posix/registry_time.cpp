// The registry as a folder tree (ORVANTO_HKLM stands for HKEY_LOCAL_MACHINE,
// each key a sub-folder, each value a file holding its string in UTF-8), and
// local time stamps from the C library.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/posix/backend.h"

namespace orv::posix {

namespace {

// A key path's components become folder names; anything that could step out
// of the tree or name no single folder is no key at all.
bool SafeComponent(const std::string& part) {
  return !part.empty() && part != "." && part != ".." && part.find('/') == std::string::npos;
}

std::int32_t StatusFromErrno(int error) {
  return (error == EACCES || error == EPERM) ? kErrorAccessDenied : kErrorFileNotFound;
}

}  // namespace

std::int32_t ReadRegistryValue(const Platform&, const char16_t* keyPath,
                               RegistryValueRequest& request) {
  const char* root = std::getenv("ORVANTO_HKLM");
  if (root == nullptr || *root == '\0' || keyPath == nullptr || request.valueName == nullptr) {
    return kErrorFileNotFound;
  }
  std::string path = root;
  const std::string key = ToUtf8(keyPath);
  std::size_t start = 0;
  while (start <= key.size()) {
    const std::size_t end = std::min(key.find('\\', start), key.size());
    const std::string part = key.substr(start, end - start);
    if (!SafeComponent(part)) return kErrorFileNotFound;
    path += "/" + part;
    start = end + 1;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return StatusFromErrno(errno);
  if (!S_ISDIR(st.st_mode)) return kErrorFileNotFound;

  const std::string name = ToUtf8(request.valueName);
  if (!SafeComponent(name)) return kErrorFileNotFound;
  const std::string valuePath = path + "/" + name;
  const int fd = ::open(valuePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return errno == ELOOP ? kErrorFileNotFound : StatusFromErrno(errno);
  std::string bytes;
  bool readable = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  char chunk[4096];
  while (readable) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) readable = false;
    if (got <= 0) break;
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
  const bool isFile = S_ISREG(st.st_mode);
  ::close(fd);
  if (!isFile) return kErrorFileNotFound;
  if (!readable) return kErrorAccessDenied;

  // Sized as Windows sizes REG_SZ data: UTF-16 code units with the NUL.
  const String text = FromUtf8(bytes);
  const std::uint64_t needed = (static_cast<std::uint64_t>(text.size()) + 1) * 2;
  request.type = kRegSz;
  if (needed > 0xFFFFFFFFull) return kErrorMoreData;
  const std::uint32_t capacity = request.size;
  request.size = static_cast<std::uint32_t>(needed);
  if (request.data == nullptr) return kErrorSuccess;
  if (needed > capacity) return kErrorMoreData;
  std::size_t at = 0;
  for (char16_t unit : text) {
    request.data[at++] = static_cast<std::uint8_t>(unit & 0xFF);
    request.data[at++] = static_cast<std::uint8_t>(unit >> 8);
  }
  request.data[at++] = 0;
  request.data[at] = 0;
  return kErrorSuccess;
}

std::int64_t MakeLocalTimeStamp(const Platform&, std::int32_t day, std::int32_t hour,
                                std::int32_t minute, std::int32_t second, std::int64_t& value) {
  std::tm parts = LocalTimeOfMay2016(day, hour, minute, second);
  const std::time_t result = std::mktime(&parts);
  if (result == static_cast<std::time_t>(-1)) return kTimeStampFailed;
  value = static_cast<std::int64_t>(result);
  return value;
}

}  // namespace orv::posix
