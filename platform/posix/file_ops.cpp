// File-system operations over POSIX calls, keeping the contracts of the
// shell's silent, recursive, whole-folder operations.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "platform/file_ops.h"
#include "platform/posix/backend.h"

namespace orv::posix {

namespace fs = std::filesystem;

std::string NativePath(const char16_t* path) {
  std::string out = ToUtf8(path == nullptr ? StringView() : StringView(path));
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

namespace {

bool LinkStat(const std::string& path, struct stat& st) {
  return ::lstat(path.c_str(), &st) == 0;
}

bool Exists(const std::string& path) {
  struct stat st;
  return LinkStat(path, st);
}

// Copies one regular file to a new name with its bytes, mode and times.
bool CopyRegularFile(const fs::path& from, const fs::path& to, const struct stat& st) {
  std::error_code ec;
  if (!fs::copy_file(from, to, fs::copy_options::none, ec) || ec) return false;
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  return ::utimensat(AT_FDCWD, to.c_str(), times, 0) == 0;
}

// The whole tree below from, recreated at to. Symbolic links are copied as
// links, never followed (but the top itself may be reached through one);
// folders get fresh times, files keep theirs.
bool CopyTree(const fs::path& from, const fs::path& to, bool followTop) {
  struct stat st;
  if ((followTop ? ::stat(from.c_str(), &st) : ::lstat(from.c_str(), &st)) != 0) return false;
  if (S_ISLNK(st.st_mode)) {
    std::error_code ec;
    fs::copy_symlink(from, to, ec);
    return !ec;
  }
  if (S_ISREG(st.st_mode)) return CopyRegularFile(from, to, st);
  if (!S_ISDIR(st.st_mode)) return false;
  if (::mkdir(to.c_str(), 0777) != 0) return false;
  std::error_code ec;
  for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
    if (!CopyTree(it->path(), to / it->path().filename(), false)) return false;
  }
  return !ec;
}

}  // namespace

int FileExists(const Platform&, const char16_t* path) {
  const std::string native = NativePath(path);
  // Non-blocking, so that a FIFO of that name cannot stall the probe.
  const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    ::close(fd);
    return 1;
  }
  const int error = errno;
  // Only "no such file" and "no such path" mean absent; a file that exists
  // but cannot be opened is present, and so is a link whose target is gone:
  // its name is taken all the same, and nothing may be copied onto it or
  // remove it as if it were free.
  if (error == ENOENT) return Exists(native) ? 1 : 0;
  return (error == ENOTDIR || error == ENAMETOOLONG) ? 0 : 1;
}

int FolderExists(const Platform&, const char16_t* path) {
  // "Can be entered" without changing the process's current directory.
  const std::string native = NativePath(path);
  struct stat st;
  if (::stat(native.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
  return ::access(native.c_str(), X_OK) == 0 ? 1 : 0;
}

int ProbeFolderWritable(const Platform&, const char16_t* path) {
  PathBuffer folder;
  if (!NormaliseProbePath(path == nullptr ? StringView() : StringView(path), folder)) {
    return kProbeMissing;
  }
  const std::string native = NativePath(folder.c_str());
  struct stat st;
  if (::access(native.c_str(), F_OK) != 0) return kProbeMissing;
  if (::stat(native.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return kProbeMissing;
  // The probe file's full name must fit a 260-character buffer, as the
  // platform's temporary-name service requires ("\~shXXXX.TMP" is 13 more).
  if (folder.view().size() > kMaxPath - 14) return kProbeNotWritable;
  const std::string base = native.empty() || native.back() == '/' ? native : native + "/";
  unsigned start = static_cast<unsigned>(::getpid()) ^ static_cast<unsigned>(std::time(nullptr));
  for (unsigned n = 0; n < 0x10000; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "~sh%04X.TMP", (start + n) & 0xFFFFu);
    const std::string probe = base + name;
    const int fd =
        ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
      ::close(fd);
      ::unlink(probe.c_str());
      return kProbeWritable;
    }
    if (errno != EEXIST) return kProbeNotWritable;
  }
  return kProbeNotWritable;
}

int ShellDelete(const Platform&, const char16_t* path) {
  if (path == nullptr || *path == u'\0' || !FitsShellPath(path)) return 0;
  const std::string native = NativePath(path);
  if (!Exists(native)) return 0;
  // remove_all never follows a symbolic link: a link is removed, its target
  // stays untouched.
  std::error_code ec;
  fs::remove_all(native, ec);
  return !ec && !Exists(native) ? 1 : 0;
}

int ShellCopy(const Platform&, const char16_t* from, const char16_t* to) {
  if (from == nullptr || to == nullptr || *from == u'\0' || *to == u'\0') return 0;
  if (!FitsShellPath(from) || !FitsShellPath(to)) return 0;
  const std::string source = NativePath(from);
  const std::string target = NativePath(to);
  // A copy is made to a new name only: an existing target is refused rather
  // than merged into.
  if (Exists(target)) return 0;
  return CopyTree(source, target, true) ? 1 : 0;
}

int ShellRename(const Platform&, const char16_t* from, const char16_t* to) {
  if (from == nullptr || to == nullptr || *from == u'\0' || *to == u'\0') return 0;
  if (!FitsShellPath(from) || !FitsShellPath(to)) return 0;
  const std::string source = NativePath(from);
  const std::string target = NativePath(to);
  // A taken name is refused, as the shell refuses it, atomically where the
  // file system allows.
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
    return 1;
  }
  if (errno != EINVAL && errno != ENOSYS) return 0;
  if (Exists(target) || !Exists(source)) return 0;
  return ::rename(source.c_str(), target.c_str()) == 0 ? 1 : 0;
}

}  // namespace orv::posix
