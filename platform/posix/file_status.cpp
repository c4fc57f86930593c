// The file-status record over stat and utimensat.
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/posix/backend.h"

namespace orv::posix {

namespace {
constexpr std::uint32_t kAttributeReadOnly = 0x01;
constexpr std::uint32_t kAttributeDirectory = 0x10;
constexpr std::uint32_t kAttributeNormal = 0x80;
}  // namespace

bool ReadFileStatus(const Platform&, const char16_t* path, FileStatusRecord& status) {
  struct stat st;
  if (::stat(NativePath(path).c_str(), &st) != 0) return Fail();
  FileStatusRecord filled;
  // POSIX keeps no creation time in stat; the status-change time stands in.
  filled.creationTime = st.st_ctim.tv_sec;
  filled.modificationTime = st.st_mtim.tv_sec;
  filled.accessTime = st.st_atim.tv_sec;
  filled.size = static_cast<std::uint64_t>(st.st_size);
  if (S_ISDIR(st.st_mode)) filled.attributes |= kAttributeDirectory;
  if ((st.st_mode & S_IWUSR) == 0) filled.attributes |= kAttributeReadOnly;
  if (filled.attributes == 0) filled.attributes = kAttributeNormal;
  status = filled;
  return true;
}

bool WriteFileStatus(const Platform&, const char16_t* path, const FileStatusRecord& status) {
  // Only the modification time is set; the access time is left alone, and
  // so are the mode bits (a read-only file stays read-only).
  const struct timespec times[2] = {{0, UTIME_OMIT},
                                    {static_cast<time_t>(status.modificationTime), 0}};
  return ::utimensat(AT_FDCWD, NativePath(path).c_str(), times, 0) == 0 || Fail();
}

}  // namespace orv::posix
