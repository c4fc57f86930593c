// Temporary folder, folders and files, the notice and the single-instance
// guard over POSIX calls, and the record that gathers the backend.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/posix/backend.h"

namespace orv::posix {

namespace fs = std::filesystem;

struct Guard {
  int fd;
};

namespace {

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
  return std::fwrite(data, 1, size, AsFile(stream));
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
