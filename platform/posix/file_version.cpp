// File versions on POSIX: our own PE reader over the file, read at offsets.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/pe_version.h"
#include "platform/posix/backend.h"

namespace orv::posix {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

class FilePeSource final : public PeSource {
 public:
  FilePeSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}

  std::uint64_t Size() const override { return size_; }

  bool ReadAt(std::uint64_t offset, void* out, std::size_t count) const override {
    if (offset > size_ || count > size_ - offset) return false;
    auto* bytes = static_cast<unsigned char*>(out);
    while (count != 0) {
      const ssize_t got = ::pread(fd_, bytes, count, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;  // an error, or the file shrank under us
      bytes += got;
      offset += static_cast<std::uint64_t>(got);
      count -= static_cast<std::size_t>(got);
    }
    return true;
  }

 private:
  int fd_;
  std::uint64_t size_;
};

}  // namespace

int ReadFileVersion(const Platform&, const char16_t* path, FileVersion4& version) {
  if (path == nullptr) return 0;
  const std::string native = NativePath(path);
  // O_NONBLOCK: opening a FIFO must not hang; it is refused below as not a
  // regular file.
  const FileDescriptor file(::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat status {};
  if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) return 0;
  const FilePeSource source(file.get(), static_cast<std::uint64_t>(status.st_size));
  return ReadPeFileVersion(source, version) ? 1 : 0;
}

}  // namespace orv::posix
