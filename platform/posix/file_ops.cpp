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
  if (!fs::copy_file(from, to, fs::copy_options::none, ec) || ec) {
    return Fail(ec ? ec.value() : EEXIST);
  }
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  return ::utimensat(AT_FDCWD, to.c_str(), times, 0) == 0 || Fail();
}

// The whole tree below from, recreated at to. Symbolic links are copied as
// links, never followed (but the top itself may be reached through one);
// folders get fresh times, files keep theirs. A new folder is never open to
// other accounts' writes, whatever the umask: the copy becomes the add-in
// folder, which another account must not be able to change.
bool CopyTree(const fs::path& from, const fs::path& to, bool followTop) {
  struct stat st;
  if ((followTop ? ::stat(from.c_str(), &st) : ::lstat(from.c_str(), &st)) != 0) return Fail();
  if (S_ISLNK(st.st_mode)) {
    std::error_code ec;
    fs::copy_symlink(from, to, ec);
    return !ec || Fail(ec.value());
  }
  if (S_ISREG(st.st_mode)) return CopyRegularFile(from, to, st);
  if (!S_ISDIR(st.st_mode)) return Fail(EINVAL);
  if (::mkdir(to.c_str(), 0755) != 0) return Fail();
  std::error_code ec;
  for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
    if (!CopyTree(it->path(), to / it->path().filename(), false)) return false;
  }
  return !ec || Fail(ec.value());
}

// Both paths given and short enough for the shell's one-path lists.
bool UsableShellPaths(const char16_t* from, const char16_t* to) {
  if (from == nullptr || to == nullptr || *from == u'\0' || *to == u'\0') return Fail(ENOENT);
  return (FitsShellPath(from) && FitsShellPath(to)) || Fail(ENAMETOOLONG);
}

}  // namespace

FileProbe FileProbeFromError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:  // no name that long can exist
      return FileProbe::Absent;
    default:
      return FileProbe::Unanswered;
  }
}

FileProbe FileExists(const Platform&, const char16_t* path) {
  const std::string native = NativePath(path);
  // Non-blocking, so that a FIFO of that name cannot stall the probe.
  const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    ::close(fd);
    return FileProbe::Present;
  }
  const int openError = errno;
  // The name's own entry decides: a file that exists but cannot be opened is
  // present, and so is a link whose target is gone: its name is taken all
  // the same, and nothing may be copied onto it or remove it as if it were
  // free.
  struct stat st;
  if (LinkStat(native, st)) {
    Fail(openError);
    return FileProbe::Present;
  }
  const int error = errno;
  Fail(error);
  return FileProbeFromError(error);
}

bool FolderExists(const Platform&, const char16_t* path) {
  // "Can be entered" without changing the process's current directory.
  const std::string native = NativePath(path);
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return Fail();
  if (!S_ISDIR(st.st_mode)) return Fail(ENOTDIR);
  return ::access(native.c_str(), X_OK) == 0 || Fail();
}

FolderProbe ProbeFolderWritable(const Platform&, const char16_t* path, PathBuffer& probeFile) {
  probeFile.Clear();
  const auto answer = [](FolderProbe probe, int error) {
    Fail(error);
    return probe;
  };
  PathBuffer folder;
  if (!NormaliseProbePath(path == nullptr ? StringView() : StringView(path), folder)) {
    return answer(FolderProbe::Missing, ENAMETOOLONG);
  }
  const std::string native = NativePath(folder.c_str());
  struct stat st;
  if (::access(native.c_str(), F_OK) != 0) return answer(FolderProbe::Missing, errno);
  if (::stat(native.c_str(), &st) != 0) return answer(FolderProbe::Missing, errno);
  if (!S_ISDIR(st.st_mode)) return answer(FolderProbe::Missing, ENOTDIR);
  // The probe file's full name must fit a 260-character buffer, as the
  // platform's temporary-name service requires ("\~shXXXX.TMP" is 13 more).
  if (folder.view().size() > kMaxPath - 14) return answer(FolderProbe::NotWritable, ENAMETOOLONG);
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
      if (::unlink(probe.c_str()) != 0) {
        Fail();
        probeFile.Assign(FromUtf8(probe));  // it fits: the folder was checked above
      }
      return FolderProbe::Writable;
    }
    if (errno != EEXIST) return answer(FolderProbe::NotWritable, errno);
  }
  return answer(FolderProbe::NotWritable, EEXIST);
}

bool ShellDelete(const Platform&, const char16_t* path) {
  if (path == nullptr || *path == u'\0') return Fail(ENOENT);
  if (!FitsShellPath(path)) return Fail(ENAMETOOLONG);
  const std::string native = NativePath(path);
  if (!Exists(native)) return Fail();
  // remove_all never follows a symbolic link: a link is removed, its target
  // stays untouched.
  std::error_code ec;
  fs::remove_all(native, ec);
  if (ec) return Fail(ec.value());
  return !Exists(native) || Fail(ENOTEMPTY);
}

bool IsLink(const Platform&, const char16_t* path) {
  struct stat st;
  if (LinkStat(NativePath(path), st)) return S_ISLNK(st.st_mode);
  const int error = errno;
  Fail(error);
  return error != ENOENT && error != ENOTDIR;
}

bool ShellCopy(const Platform&, const char16_t* from, const char16_t* to) {
  if (!UsableShellPaths(from, to)) return false;
  const std::string source = NativePath(from);
  const std::string target = NativePath(to);
  // A copy is made to a new name only: an existing target is refused rather
  // than merged into.
  if (Exists(target)) return Fail(EEXIST);
  return CopyTree(source, target, true);
}

bool ShellRename(const Platform&, const char16_t* from, const char16_t* to) {
  if (!UsableShellPaths(from, to)) return false;
  const std::string source = NativePath(from);
  const std::string target = NativePath(to);
  // A taken name is refused, as the shell refuses it, atomically where the
  // file system allows.
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) return Fail();
  if (Exists(target)) return Fail(EEXIST);
  if (!Exists(source)) return Fail(ENOENT);
  return ::rename(source.c_str(), target.c_str()) == 0 || Fail();
}

}  // namespace orv::posix
