// What the run needs to know of its surroundings: whether a notice can be
// seen, the local clock, and a path's absolute form.
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>
#include <vector>

#include "platform/posix/backend.h"

namespace orv::posix {

bool CanShowMessages(const Platform&) {
  // The notice is written to standard output, which never waits for anyone
  // unless a terminal is there to answer it.
  return true;
}

LocalClock LocalTimeNow(const Platform&) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::tm parts{};
  ::localtime_r(&now.tv_sec, &parts);
  return LocalClock{parts.tm_year + 1900,
                    parts.tm_mon + 1,
                    parts.tm_mday,
                    parts.tm_hour,
                    parts.tm_min,
                    parts.tm_sec,
                    static_cast<std::int32_t>(now.tv_nsec / 1'000'000)};
}

bool FullPath(const Platform&, const char16_t* path, String& full) {
  if (path == nullptr || *path == u'\0') return Fail(ENOENT);
  std::string text = NativePath(path);
  if (text.front() != '/') {
    std::vector<char> cwd(4096);
    if (::getcwd(cwd.data(), cwd.size()) == nullptr) return Fail();
    text = std::string(cwd.data()) + "/" + text;
  }
  // "." and ".." by name, as the file system resolves them for a path that
  // holds no links.
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t end = std::min(text.find('/', at), text.size());
    const std::string part = text.substr(at, end - at);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = end + 1;
  }
  std::string out;
  for (const std::string& part : parts) out += "/" + part;
  full = FromUtf8(out.empty() ? "/" : out);
  return true;
}

}  // namespace orv::posix

namespace orv::posix {

bool InSessionZero(const Platform&) {
  // POSIX has no sessions of named objects.
  return false;
}

namespace {
WaitHook g_waitHook = nullptr;
}

void SetWaitHook(WaitHook hook) {
  g_waitHook = hook;
}

void Wait(const Platform&, std::uint32_t milliseconds) {
  if (g_waitHook != nullptr) return g_waitHook(milliseconds);
  ::usleep(static_cast<useconds_t>(milliseconds) * 1000);
}

bool LeaveCurrentFolder(const Platform&) {
  // POSIX renames a folder that is some process's current folder, and the
  // in-process tests rely on their own: nothing to do.
  return true;
}

}  // namespace orv::posix
