#include "patch/folder_steps.h"

#include "patch/retry.h"

namespace orv {

FileProbe LookAtName(const Platform& p, const String& name) {
  if (p.FolderExists(p, name.c_str())) return FileProbe::Present;
  return p.FileExists(p, name.c_str());
}

// One write of the whole content; a short write leaves no partial file
// behind for the next attempt to be mistaken for.
bool WriteWholeFile(const Platform& p, const char16_t* target, const void* data, std::size_t size) {
  return Retry(p, [&] {
    FileStream* stream = p.OpenFileForWrite(p, target);
    if (stream == nullptr) return false;
    const bool written = p.WriteToFile(p, stream, data, size);
    p.CloseFile(p, stream);
    if (written) return true;
    p.RemoveFile(p, target);
    return false;
  });
}

bool RenameFolder(const Platform& p, const String& from, const String& to) {
  return Retry(p, [&] { return p.ShellRename(p, from.c_str(), to.c_str()); });
}

void RemoveWorkFolder(const Platform& p, const String& folder) {
  // Gone only when the system says nothing bears the name: a look that
  // fails is no answer. The look comes first, so that a failed attempt's
  // reason, the one the back-off judges, is the removal's own.
  if (folder.empty()) return;
  Retry(p, [&] {
    return LookAtName(p, folder) == FileProbe::Absent || p.ShellDelete(p, folder.c_str());
  });
}

bool RemoveWorkFile(const Platform& p, const char16_t* file) {
  return Retry(p,
               [&] { return p.RemoveFile(p, file) || p.FileExists(p, file) == FileProbe::Absent; });
}

}  // namespace orv
