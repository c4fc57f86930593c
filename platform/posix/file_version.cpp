// File versions on POSIX: our own PE reader over the file, read at offsets.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
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

// The reader asks for many small pieces (headers, section table, directory
// entries, the version block), most of them close together. They are served
// from one block of the file read at a time, so a version costs a few reads
// rather than one per piece.
class FilePeSource final : public PeSource {
 public:
  FilePeSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}

  std::uint64_t Size() const override { return size_; }

  bool ReadAt(std::uint64_t offset, void* out, std::size_t count) const override {
    if (offset > size_ || count > size_ - offset) return false;
    if (count > sizeof block_) return ReadUpTo(offset, out, count) == count;
    if (offset < blockStart_ || offset + count > blockStart_ + blockSize_) {
      // The block begins at the aligned offset before the piece, unless the
      // piece would then run past the block's end.
      std::uint64_t start = offset - offset % sizeof block_;
      if (offset + count > start + sizeof block_) start = offset;
      const std::size_t want =
          static_cast<std::size_t>(std::min<std::uint64_t>(sizeof block_, size_ - start));
      blockStart_ = start;
      blockSize_ = ReadUpTo(start, block_, want);
      // Short when the file shrank under us: what is missing cannot be read.
      if (offset + count > blockStart_ + blockSize_) return false;
    }
    std::memcpy(out, block_ + (offset - blockStart_), count);
    return true;
  }

 private:
  // Reads until count bytes, the end of the file or an error; the number read.
  std::size_t ReadUpTo(std::uint64_t offset, void* out, std::size_t count) const {
    auto* bytes = static_cast<unsigned char*>(out);
    std::size_t done = 0;
    while (done < count) {
      const ssize_t got =
          ::pread(fd_, bytes + done, count - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    return done;
  }

  int fd_;
  std::uint64_t size_;
  mutable unsigned char block_[4096];
  mutable std::uint64_t blockStart_ = 0;
  mutable std::size_t blockSize_ = 0;
};

}  // namespace

bool ReadFileVersion(const Platform&, const char16_t* path, FileVersion4& version) {
  if (path == nullptr) return Fail(ENOENT);
  const std::string native = NativePath(path);
  // O_NONBLOCK: opening a FIFO must not hang; it is refused below as not a
  // regular file.
  const FileDescriptor file(::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat status {};
  if (file.get() < 0 || ::fstat(file.get(), &status) != 0) return Fail();
  if (!S_ISREG(status.st_mode)) return Fail(EISDIR);
  const FilePeSource source(file.get(), static_cast<std::uint64_t>(status.st_size));
  // No version resource: the platform's version service says "resource type
  // not found"; ENODATA is the nearest POSIX word.
  return ReadPeFileVersion(source, version) || Fail(ENODATA);
}

}  // namespace orv::posix
