// Who owns a name, what a path resolves to, and the access a folder gives.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "platform/posix/backend.h"

namespace orv::posix {

namespace {

FileIdentity IdentityOf(const struct stat& st) {
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), 0,
                      static_cast<std::uint64_t>(st.st_ino)};
}

// Not found and not a folder on the way are answers; anything else is not.
FileProbe Unseen(int error) {
  Fail(error);
  return error == ENOENT || error == ENOTDIR ? FileProbe::Absent : FileProbe::Unanswered;
}

}  // namespace

NameOwner ReadOwner(const Platform&, const char16_t* path) {
  struct stat st;
  if (::lstat(NativePath(path).c_str(), &st) != 0) {
    const int error = errno;
    Fail(error);
    return error == ENOENT || error == ENOTDIR ? NameOwner::Absent : NameOwner::Unanswered;
  }
  return st.st_uid == ::geteuid() ? NameOwner::Ours : NameOwner::Others;
}

FileProbe ReadIdentity(const Platform&, const char16_t* path, FileIdentity& identity) {
  struct stat st;
  if (::stat(NativePath(path).c_str(), &st) != 0) return Unseen(errno);
  identity = IdentityOf(st);
  return FileProbe::Present;
}

FileProbe ReadFolderChain(const Platform&, const char16_t* path, std::vector<FileIdentity>& chain) {
  chain.clear();
  // The kernel resolves every link and ".." on the way: what is left names
  // the folder by its one link-free path, whose parents are its real ones.
  const std::unique_ptr<char, decltype(&std::free)> resolved(
      ::realpath(NativePath(path).c_str(), nullptr), &std::free);
  if (resolved == nullptr) return Unseen(errno);
  std::string folder(resolved.get());
  for (;;) {
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0) {
      // A folder above one that is there is no answer, never "not there".
      const FileProbe seen = Unseen(errno);
      return chain.empty() ? seen : FileProbe::Unanswered;
    }
    if (chain.empty() && !S_ISDIR(st.st_mode)) return Unseen(ENOTDIR);
    chain.push_back(IdentityOf(st));
    if (folder == "/") return FileProbe::Present;
    const std::size_t slash = folder.find_last_of('/');
    folder.resize(slash == 0 ? 1 : slash);
  }
}

bool CarryOverAccess(const Platform&, const char16_t* from, const char16_t* to) {
  // A folder's access is its permission bits: the new folder gets the old
  // one's, so whoever could list, enter or change it still can.
  struct stat st;
  if (::stat(NativePath(from).c_str(), &st) != 0) return Fail();
  return ::chmod(NativePath(to).c_str(), st.st_mode & 07777) == 0 || Fail();
}

}  // namespace orv::posix
