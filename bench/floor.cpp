// orv_bench_floor: the file work of a successful patch and nothing else, done
// as directly as POSIX allows. It is the floor the patch is measured against:
// the same 25 payload files from the same read-only data in the program's
// image, the same folders and names, but no registry, no version checks, no
// probe, no guard, no retries and no notice.
//
//   orv_bench_floor ADDIN_FOLDER TEMP_FOLDER
//
// 1. TEMP_FOLDER/PellmarkOV is made and the 25 files are written into it from
//    memory (with their culture folders), each given its modification time;
// 2. that tree is copied to ADDIN_FOLDER_CPY, keeping the files' times;
// 3. the three libraries are copied from ADDIN_FOLDER into the copy;
// 4. every file of the copy is put on stable storage (fsync), and each of
//    its folders and the folder that holds it, as the patch does before the
//    swap;
// 5. ADDIN_FOLDER becomes ADDIN_FOLDER_BAK, the copy becomes ADDIN_FOLDER,
//    and the folder that holds them is synced again;
// 6. the staging folder and ADDIN_FOLDER_BAK are removed.
// Exit code 0 when all of it was done; 1 and a message naming the step
// otherwise.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "patch/manifest.h"
#include "platform/local_time.h"
#include "platform/posix/embedded_store.h"

namespace {

std::string Narrow(const char16_t* text) {
  std::string out;
  for (; *text != u'\0'; ++text) out.push_back(*text == u'\\' ? '/' : static_cast<char>(*text));
  return out;
}

bool Fail(const char* step, const std::string& path) {
  std::fprintf(stderr, "orv_bench_floor: %s %s: %s\n", step, path.c_str(), std::strerror(errno));
  return false;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size != 0) {
    const ssize_t put = ::write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

bool SetTime(int fd, std::int64_t modified) {
  const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(modified), 0}};
  return ::futimens(fd, times) == 0;
}

const orv::posix::EmbeddedPayload* Payload(const orv::posix::EmbeddedStore& store, int id) {
  for (std::size_t i = 0; i < store.payloadCount; ++i) {
    if (store.payload[i].resourceId == id) return &store.payload[i];
  }
  errno = ENOENT;
  return nullptr;
}

// Whether a folder entry is a folder; the type comes with the entry on the
// usual file systems, and from a status read where it does not.
bool IsFolder(int parent, const dirent& entry) {
  if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_DIR;
  struct stat st;
  return ::fstatat(parent, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

bool WritePayload(const std::string& staging) {
  if (::mkdir(staging.c_str(), 0777) != 0) return Fail("mkdir", staging);
  const orv::posix::EmbeddedStore& store = orv::posix::kEmbeddedStore;
  for (int k = 0; k < orv::manifest::kPayloadCount; ++k) {
    const orv::manifest::PayloadEntry& entry = orv::manifest::kPayload[k];
    const std::string path = staging + "/" + Narrow(entry.relativePath);
    if (orv::manifest::InSubFolder(k)) {
      const std::string folder = path.substr(0, path.rfind('/'));
      if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) return Fail("mkdir", folder);
    }
    const orv::posix::EmbeddedPayload* bytes = Payload(store, orv::manifest::PayloadResourceId(k));
    if (bytes == nullptr) return Fail("find payload", path);
    std::tm local = orv::LocalTimeOfMay2016(entry.time.day, entry.time.hour, entry.time.minute,
                                            entry.time.second);
    const std::int64_t stamp = std::mktime(&local);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return Fail("open", path);
    const bool done = WriteAll(fd, bytes->data, *bytes->size) && SetTime(fd, stamp);
    ::close(fd);
    if (!done) return Fail("write", path);
  }
  return true;
}

bool Sync(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return Fail("open", path);
  const bool done = ::fsync(fd) == 0;
  ::close(fd);
  return done || Fail("fsync", path);
}

bool SyncFolder(const std::string& path) {
  return Sync(path, O_RDONLY | O_DIRECTORY);
}

// Every file below path, and each folder once its entries are synced; made
// once the whole tree is written, as the patch flushes after its copies.
bool SyncTree(const std::string& path) {
  DIR* folder = ::opendir(path.c_str());
  if (folder == nullptr) return Fail("opendir", path);
  bool done = true;
  while (const dirent* entry = ::readdir(folder)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    const std::string child = path + "/" + name;
    done = IsFolder(::dirfd(folder), *entry) ? SyncTree(child) : Sync(child, O_RDONLY);
    if (!done) break;
  }
  ::closedir(folder);
  return done && SyncFolder(path);
}

// One file's bytes and modification time, kernel to kernel.
bool CopyFile(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Fail("open", from);
  struct stat st;
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  bool done = out >= 0 && ::fstat(in, &st) == 0;
  for (off_t left = done ? st.st_size : 0; done && left > 0;) {
    const ssize_t moved = ::copy_file_range(in, nullptr, out, nullptr, left, 0);
    if (moved < 0 && errno == EINTR) continue;
    done = moved > 0;
    left -= moved;
  }
  if (done) {
    const timespec times[2] = {st.st_atim, st.st_mtim};
    done = ::futimens(out, times) == 0;
  }
  ::close(in);
  if (out >= 0) ::close(out);
  return done || Fail("copy", from);
}

bool CopyTree(const std::string& from, const std::string& to) {
  if (::mkdir(to.c_str(), 0777) != 0) return Fail("mkdir", to);
  DIR* folder = ::opendir(from.c_str());
  if (folder == nullptr) return Fail("opendir", from);
  bool done = true;
  while (const dirent* entry = ::readdir(folder)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    const std::string source = from + "/" + name;
    const std::string target = to + "/" + name;
    done = IsFolder(::dirfd(folder), *entry) ? CopyTree(source, target) : CopyFile(source, target);
    if (!done) break;
  }
  ::closedir(folder);
  return done;
}

bool RemoveTree(int parent, const char* name) {
  const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return Fail("open", name);
  DIR* folder = ::fdopendir(fd);
  if (folder == nullptr) {
    ::close(fd);
    return Fail("fdopendir", name);
  }
  bool done = true;
  while (const dirent* entry = ::readdir(folder)) {
    const char* child = entry->d_name;
    if (std::strcmp(child, ".") == 0 || std::strcmp(child, "..") == 0) continue;
    done = IsFolder(fd, *entry) ? RemoveTree(fd, child)
                                : (::unlinkat(fd, child, 0) == 0 || Fail("unlink", child));
    if (!done) break;
  }
  ::closedir(folder);
  return done && (::unlinkat(parent, name, AT_REMOVEDIR) == 0 || Fail("rmdir", name));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: orv_bench_floor ADDIN_FOLDER TEMP_FOLDER\n", stderr);
    return 2;
  }
  const std::string addin = argv[1];
  const std::string staging = std::string(argv[2]) + "/" + Narrow(orv::manifest::kStagingName);
  const std::string copy = addin + Narrow(orv::manifest::kReplacementSuffix);
  const std::string backup = addin + Narrow(orv::manifest::kBackupSuffix);
  const std::size_t slash = addin.rfind('/');
  const std::string host = slash == std::string::npos ? "." : addin.substr(0, slash);

  if (!WritePayload(staging) || !CopyTree(staging, copy)) return 1;
  for (const orv::manifest::CarriedLibrary& library : orv::manifest::kLibraries) {
    const std::string name = "/" + Narrow(library.fileName);
    if (!CopyFile(addin + name, copy + name)) return 1;
  }
  if (!SyncTree(copy) || !SyncFolder(host)) return 1;
  if (::rename(addin.c_str(), backup.c_str()) != 0) return Fail("rename", addin), 1;
  if (::rename(copy.c_str(), addin.c_str()) != 0) return Fail("rename", copy), 1;
  if (!SyncFolder(host)) return 1;
  if (!RemoveTree(AT_FDCWD, staging.c_str()) || !RemoveTree(AT_FDCWD, backup.c_str())) return 1;
  return 0;
}
