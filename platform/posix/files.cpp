// The temporary folder, folders, file streams and single-file copies over
// POSIX calls.
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/posix/backend.h"

namespace orv::posix {

namespace fs = std::filesystem;

namespace {

// A read-only mapping of a file, as /proc/self/maps lists it: the file by
// name and identity, and where in it the mapping begins.
struct FileMapping {
  std::uintptr_t start = 0;
  std::uintptr_t end = 0;
  std::uint64_t offset = 0;
  dev_t device = 0;
  ino_t inode = 0;
  std::string path;
};

// The read-only file mapping that holds all of [address, address + size).
bool FindFileMapping(std::uintptr_t address, std::size_t size, FileMapping& found) {
  FILE* maps = std::fopen("/proc/self/maps", "re");
  if (maps == nullptr) return false;
  char line[8192];
  bool matched = false;
  while (!matched && std::fgets(line, sizeof line, maps) != nullptr) {
    unsigned long long start = 0, end = 0, offset = 0, inode = 0;
    unsigned major = 0, minor = 0;
    char permissions[5] = {};
    int pathAt = 0;
    if (std::sscanf(line, "%llx-%llx %4s %llx %x:%x %llu %n", &start, &end, permissions, &offset,
                    &major, &minor, &inode, &pathAt) < 7 ||
        address < start || address >= end) {
      continue;
    }
    // Bytes that may have been written in memory would not be the file's.
    if (size > end - address || permissions[0] != 'r' || permissions[1] != '-' || inode == 0 ||
        line[pathAt] != '/') {
      break;
    }
    std::string path = line + pathAt;
    if (path.empty() || path.back() != '\n') break;  // cut short: too long to trust
    path.pop_back();
    found = {start, end, offset, makedev(major, minor), static_cast<ino_t>(inode), path};
    matched = true;
  }
  std::fclose(maps);
  return matched;
}

}  // namespace

int OpenMappedFile(const void* data, std::size_t size, off_t& offset) {
  const auto address = reinterpret_cast<std::uintptr_t>(data);
  // One mapping holds the whole payload store; it is looked up once.
  static FileMapping mapping;
  if ((address < mapping.start || address >= mapping.end || size > mapping.end - address) &&
      !FindFileMapping(address, size, mapping)) {
    return -1;
  }
  const int source = ::open(mapping.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) return -1;
  struct stat st;
  if (::fstat(source, &st) != 0 || st.st_dev != mapping.device || st.st_ino != mapping.inode) {
    ::close(source);
    return -1;
  }
  offset = static_cast<off_t>(mapping.offset + (address - mapping.start));
  return source;
}

namespace {

// Writes a payload to fd from the file the program's payload is mapped from,
// kernel to kernel: the bytes never pass through the process's memory, so
// the process does not grow by the payload's size (a write from the mapped
// bytes would map every page of them in). False, with nothing written, when
// that is not possible here; the caller then writes from memory. Otherwise
// true and sent is the number of bytes written, short after an error.
bool SendFromProgramFile(int fd, const void* data, std::size_t size, std::size_t& sent) {
  off_t offset = 0;
  const int source = OpenMappedFile(data, size, offset);
  if (source < 0) return false;
  sent = 0;
  bool started = true;
  while (sent < size) {
    const ssize_t moved = ::sendfile(fd, source, &offset, size - sent);
    if (moved < 0 && errno == EINTR) continue;
    if (moved < 0 && sent == 0 && (errno == EINVAL || errno == ENOSYS)) started = false;
    if (moved <= 0) break;
    sent += static_cast<std::size_t>(moved);
  }
  ::close(source);
  return started;
}

FILE* AsFile(FileStream* stream) {
  return reinterpret_cast<FILE*>(stream);
}

// The variable that names the temporary folder, when it is set.
const char* TempVariable() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : nullptr;
}

}  // namespace

String TempFolderText() {
  const char* tmp = TempVariable();
  std::string folder = tmp != nullptr ? tmp : "/tmp";
  while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  return FromUtf8(folder + "/");
}

bool TempFolder(const Platform&, PathBuffer& folder) {
  // As the platform's own: a folder that does not fit with its NUL is none.
  if (folder.Assign(TempFolderText())) return true;
  folder.Clear();
  return Fail(ENAMETOOLONG);
}

const char* TempFolderSource(const Platform&) {
  return TempVariable() != nullptr ? "TMPDIR" : "the default /tmp";
}

bool MakeFolder(const Platform&, const char16_t* path) {
  return ::mkdir(NativePath(path).c_str(), 0777) == 0 || Fail();
}

bool MakePrivateFolder(const Platform&, const char16_t* path) {
  // mkdir never follows a link and never takes an existing name; the mode is
  // the folder's from its first moment, so no other account can get in
  // between.
  return ::mkdir(NativePath(path).c_str(), 0700) == 0 || Fail();
}

namespace {

// A file of that name that is not ours alone: another account's (a file
// keeps its owner when we write into it) or a hard link to another name.
bool ForeignFile(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return true;
  return !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1;
}

// A new file when the name is free; otherwise the existing file, emptied,
// when it is this account's own and no other name's.
int OpenOwnFileForWrite(const std::string& path) {
  constexpr int kFlags = O_WRONLY | O_CLOEXEC | O_NOFOLLOW;
  // Writable by this account only, whatever the umask: the file is copied
  // into the add-in folder with its mode.
  const int fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0644);
  if (fd >= 0 || errno != EEXIST) return fd;
  const int existing = ::open(path.c_str(), kFlags | O_NONBLOCK);
  if (existing < 0) return -1;
  if (ForeignFile(existing)) {
    ::close(existing);
    errno = EEXIST;
    return -1;
  }
  if (::ftruncate(existing, 0) != 0) {
    const int error = errno;
    ::close(existing);
    errno = error;
    return -1;
  }
  return existing;
}

}  // namespace

FileStream* OpenFileForWrite(const Platform&, const char16_t* path) {
  // A link in the target's place is not followed, and a file planted there
  // by someone else is not written into: the write lands in a file of our
  // own in the folder it was meant for, or fails.
  const int fd = OpenOwnFileForWrite(NativePath(path));
  if (fd < 0) {
    Fail();
    return nullptr;
  }
  FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) {
    Fail();
    ::close(fd);
    return nullptr;
  }
  // Unbuffered, so that the count a write reports is what reached the file:
  // an error cannot hide in the buffer until a close whose result nobody
  // reads.
  std::setvbuf(file, nullptr, _IONBF, 0);
  return reinterpret_cast<FileStream*>(file);
}

bool WriteToFile(const Platform&, FileStream* stream, const void* data, std::size_t size) {
  FILE* file = AsFile(stream);
  std::size_t written = 0;
  errno = 0;
  // The stream is unbuffered, so its descriptor is where the bytes go.
  if (!IsEmbeddedPayload(data, size) || !SendFromProgramFile(::fileno(file), data, size, written)) {
    written = std::fwrite(data, 1, size, file);
  }
  // A short count with no error of its own is the disk filling up.
  return written == size || Fail(errno != 0 ? errno : ENOSPC);
}

void CloseFile(const Platform&, FileStream* stream) {
  if (stream == nullptr) return;
  std::fclose(AsFile(stream));
}

bool RemoveFile(const Platform&, const char16_t* path) {
  return ::unlink(NativePath(path).c_str()) == 0 || Fail();
}

bool ReadSmallFile(const Platform&, const char16_t* path, std::string& bytes, std::size_t limit) {
  bytes.clear();
  const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return Fail();
  // One byte beyond the limit tells a file that is too long.
  std::string content(limit + 1, '\0');
  std::size_t have = 0;
  int error = 0;
  while (have < content.size()) {
    const ssize_t got = ::read(fd, content.data() + have, content.size() - have);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) error = errno;
    if (got <= 0) break;
    have += static_cast<std::size_t>(got);
  }
  ::close(fd);
  if (error != 0) return Fail(error);
  if (have > limit) return Fail(EFBIG);
  content.resize(have);
  bytes = std::move(content);
  return true;
}

bool CopySingleFile(const Platform&, const char16_t* from, const char16_t* to, bool failIfExists) {
  const std::string source = NativePath(from);
  const std::string target = NativePath(to);
  struct stat st;
  if (::stat(source.c_str(), &st) != 0) return Fail();
  if (!S_ISREG(st.st_mode)) return Fail(EISDIR);
  std::error_code ec;
  const auto options = failIfExists ? fs::copy_options::none : fs::copy_options::overwrite_existing;
  if (!fs::copy_file(source, target, options, ec) || ec) return Fail(ec ? ec.value() : EEXIST);
  // The copy keeps the source's modification time, as the platform's copy does.
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  return ::utimensat(AT_FDCWD, target.c_str(), times, 0) == 0 || Fail();
}

}  // namespace orv::posix
