// The registry as a folder tree: ORVANTO_HKLM stands for HKEY_LOCAL_MACHINE,
// each key a sub-folder, each value a file holding its string in UTF-8. A
// value is REG_SZ unless a file "<name>.type" beside it says REG_EXPAND_SZ.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
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

// A type file's whole content, or nothing (errno set).
std::optional<std::string> ReadTypeFile(const std::string& path, std::size_t limit) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat st;
  std::string bytes;
  char chunk[64];
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  while (ok && bytes.size() <= limit) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
  const int error = errno;
  ::close(fd);
  if (!ok || bytes.size() > limit) {
    errno = ok ? EINVAL : error;
    return std::nullopt;
  }
  return bytes;
}

// The value's type from its "<name>.type" file: REG_SZ when there is none;
// nothing (errno EINVAL) for a type this registry does not hold.
std::optional<std::uint32_t> ValueType(const std::string& valuePath) {
  const std::string typePath = valuePath + ".type";
  struct stat st;
  if (::lstat(typePath.c_str(), &st) != 0 && errno == ENOENT) return kRegSz;
  std::optional<std::string> name = ReadTypeFile(typePath, 32);
  if (!name) return std::nullopt;
  while (!name->empty() && (name->back() == '\n' || name->back() == '\r')) name->pop_back();
  if (*name == "REG_SZ") return kRegSz;
  if (*name == "REG_EXPAND_SZ") return kRegExpandSz;
  errno = EINVAL;
  return std::nullopt;
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
  const std::optional<std::uint32_t> type = ValueType(valuePath);
  if (!type) return Failed(errno);
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
  request.type = *type;
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

bool ExpandEnvironmentText(const Platform&, const char16_t* text, PathBuffer& expanded) {
  const StringView in = text == nullptr ? StringView() : StringView(text);
  String out;
  std::size_t at = 0;
  while (at < in.size()) {
    const std::size_t open = in.find(u'%', at);
    const std::size_t close = open == StringView::npos ? open : in.find(u'%', open + 1);
    if (close == StringView::npos) {
      out.append(in.substr(at));
      break;
    }
    out.append(in.substr(at, open - at));
    const StringView name = in.substr(open + 1, close - open - 1);
    const char* value = name.empty() ? nullptr : std::getenv(ToUtf8(name).c_str());
    // As Windows does: a name that is not set stays, with its percent signs.
    out.append(value != nullptr ? FromUtf8(value) : String(in.substr(open, close - open + 1)));
    at = close + 1;
  }
  if (expanded.Assign(out)) return true;
  expanded.Clear();
  return Fail(EOVERFLOW);
}

}  // namespace orv::posix
