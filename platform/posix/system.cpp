// Temporary folder, folders and files, the notice and the single-instance
// guard over POSIX calls, and the record that gathers the backend.
#include <fcntl.h>
#include <sys/file.h>
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

struct Guard {
  int fd;
};

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

// Writes a payload to fd from the file the program's payload is mapped from,
// kernel to kernel: the bytes never pass through the process's memory, so
// the process does not grow by the payload's size (a write from the mapped
// bytes would map every page of them in). The file is the mapped one by
// identity, not by name alone. False, with nothing written, when that is
// not possible here; the caller then writes from memory. Otherwise true and
// sent is the number of bytes written, short after an error.
bool SendFromProgramFile(int fd, const void* data, std::size_t size, std::size_t& sent) {
  const auto address = reinterpret_cast<std::uintptr_t>(data);
  // One mapping holds the whole payload store; it is looked up once.
  static FileMapping mapping;
  if ((address < mapping.start || address >= mapping.end || size > mapping.end - address) &&
      !FindFileMapping(address, size, mapping)) {
    return false;
  }
  const int source = ::open(mapping.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) return false;
  struct stat st;
  if (::fstat(source, &st) != 0 || st.st_dev != mapping.device || st.st_ino != mapping.inode) {
    ::close(source);
    return false;
  }
  auto offset = static_cast<off_t>(mapping.offset + (address - mapping.start));
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

String TempFolderText() {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
  while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  return FromUtf8(folder + "/");
}

}  // namespace

std::uint32_t TempFolder(const Platform&, char16_t* buffer, std::uint32_t capacity) {
  const String folder = TempFolderText();
  // As the platform does: the size needed, NUL included, when it won't fit.
  if (buffer == nullptr || folder.size() + 1 > capacity) {
    return static_cast<std::uint32_t>(folder.size() + 1);
  }
  folder.copy(buffer, folder.size());
  buffer[folder.size()] = u'\0';
  return static_cast<std::uint32_t>(folder.size());
}

int MakeFolder(const Platform&, const char16_t* path) {
  return ::mkdir(NativePath(path).c_str(), 0777) == 0 ? 1 : 0;
}

int OpenFileForWrite(const Platform&, const char16_t* path, FileStream*& stream) {
  // A link in the target's place is not followed: the write lands in the
  // folder it was meant for or fails.
  const int fd =
      ::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return errno;
  FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) {
    const int error = errno;
    ::close(fd);
    return error;
  }
  // Unbuffered, so that the count a write reports is what reached the file:
  // an error cannot hide in the buffer until a close whose result nobody
  // reads.
  std::setvbuf(file, nullptr, _IONBF, 0);
  stream = reinterpret_cast<FileStream*>(file);
  return 0;
}

std::size_t WriteToFile(const Platform&, FileStream* stream, const void* data, std::size_t size) {
  FILE* file = AsFile(stream);
  if (IsEmbeddedPayload(data, size)) {
    // The stream is unbuffered, so its descriptor is where the bytes go.
    std::size_t sent = 0;
    if (SendFromProgramFile(::fileno(file), data, size, sent)) return sent;
  }
  return std::fwrite(data, 1, size, file);
}

void CloseFile(const Platform&, FileStream* stream) {
  std::fclose(AsFile(stream));
}

int RemoveFile(const Platform&, const char16_t* path) {
  return ::unlink(NativePath(path).c_str()) == 0 ? 1 : 0;
}

int CopySingleFile(const Platform&, const char16_t* from, const char16_t* to, bool failIfExists) {
  const std::string source = NativePath(from);
  const std::string target = NativePath(to);
  struct stat st;
  if (::stat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  std::error_code ec;
  const auto options = failIfExists ? fs::copy_options::none : fs::copy_options::overwrite_existing;
  if (!fs::copy_file(source, target, options, ec) || ec) return 0;
  // The copy keeps the source's modification time, as the platform's copy does.
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  return ::utimensat(AT_FDCWD, target.c_str(), times, 0) == 0 ? 1 : 0;
}

void ShowMessage(const Platform&, const char16_t* caption, const char16_t* text, MessageIcon icon) {
  const char* mark = icon == MessageIcon::Information ? "[information]" : "[warning]";
  std::printf("%s\n%s %s\n", ToUtf8(caption).c_str(), mark, ToUtf8(text).c_str());
  std::fflush(stdout);
  // Modal, like the box: at a terminal the notice waits for Enter.
  if (::isatty(STDIN_FILENO)) {
    int c;
    do {
      c = std::getchar();
    } while (c != '\n' && c != EOF);
  }
}

InstanceGuard* CreateInstanceGuard(const Platform&, const char16_t* name, bool& alreadyExists) {
  alreadyExists = false;
  // A lock on a file in the temporary folder: runs that share the folder
  // share the guard, and the kernel lets go of it when the process ends,
  // however it ends.
  const std::string path = NativePath(TempFolderText().c_str()) + ToUtf8(name) + ".lock";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return nullptr;
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

namespace orv {

const Platform& SystemPlatform() {
  static const Platform record = [] {
    Platform p;
    p.FileExists = posix::FileExists;
    p.FolderExists = posix::FolderExists;
    p.ProbeFolderWritable = posix::ProbeFolderWritable;
    p.ShellDelete = posix::ShellDelete;
    p.ShellCopy = posix::ShellCopy;
    p.ShellRename = posix::ShellRename;
    p.ReadFileVersion = posix::ReadFileVersion;
    p.ReadRegistryValue = posix::ReadRegistryValue;
    p.MakeLocalTimeStamp = posix::MakeLocalTimeStamp;
    p.TempFolder = posix::TempFolder;
    p.MakeFolder = posix::MakeFolder;
    p.OpenFileForWrite = posix::OpenFileForWrite;
    p.WriteToFile = posix::WriteToFile;
    p.CloseFile = posix::CloseFile;
    p.RemoveFile = posix::RemoveFile;
    p.CopySingleFile = posix::CopySingleFile;
    p.ReadFileStatus = posix::ReadFileStatus;
    p.WriteFileStatus = posix::WriteFileStatus;
    p.FindPayload = posix::FindPayload;
    p.LoadTableString = posix::LoadTableString;
    p.ShowMessage = posix::ShowMessage;
    p.CreateInstanceGuard = posix::CreateInstanceGuard;
    p.ReleaseInstanceGuard = posix::ReleaseInstanceGuard;
    return p;
  }();
  return record;
}

}  // namespace orv
