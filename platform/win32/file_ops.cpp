// File and folder probes and the shell's whole-folder operations.
#include <windows.h>
// After windows.h, whose types they use.
#include <io.h>
#include <shellapi.h>

#include "platform/file_ops.h"
#include "platform/win32/backend.h"

namespace orv::win32 {

namespace {

constexpr FILEOP_FLAGS kSilentShellFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
static_assert(kSilentShellFlags == 0x0414);

// One path per list: the zero-filled buffer supplies the NUL that ends it.
// A path the list cannot hold is refused rather than cut, since a cut path
// may name another folder.
int ShellFileOp(UINT operation, const char16_t* from, const char16_t* to) {
  PathBuffer source;
  PathBuffer target;
  if (!FitsShellPath(from) || !source.Assign(from)) return 0;
  if (to != nullptr && (!FitsShellPath(to) || !target.Assign(to))) return 0;

  SHFILEOPSTRUCTW request{};
  request.hwnd = nullptr;
  request.wFunc = operation;
  request.pFrom = Wide(source.text);
  request.pTo = Wide(target.text);
  request.fFlags = kSilentShellFlags;
  return SHFileOperationW(&request) == 0 ? 1 : 0;
}

}  // namespace

int FileExists(const Platform&, const char16_t* path) {
  const HANDLE file = CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return 1;
  }
  // Only these mean "not there"; a file we may not open (shared, denied, a
  // folder) still exists.
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_NETNAME_DELETED:
    case ERROR_NETWORK_ACCESS_DENIED:
      return 0;
    default:
      return 1;
  }
}

int FolderExists(const Platform&, const char16_t* path) {
  PathBuffer saved;
  GetCurrentDirectoryW(static_cast<DWORD>(kMaxPath), Wide(saved.text));
  if (!SetCurrentDirectoryW(Wide(path))) return 0;
  SetCurrentDirectoryW(Wide(saved.text));
  return 1;
}

int ProbeFolderWritable(const Platform&, const char16_t* path) {
  PathBuffer folder;
  if (!NormaliseProbePath(path, folder)) return kProbeMissing;
  if (_waccess(Wide(folder.text), 0) != 0) return kProbeMissing;
  // INVALID_FILE_ATTRIBUTES has every bit set, the folder bit included: a
  // path that vanished since the access check is missing, not a folder.
  const DWORD attributes = GetFileAttributesW(Wide(folder.text));
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return kProbeMissing;
  }
  PathBuffer probe;
  if (GetTempFileNameW(Wide(folder.text), Wide(kProbePrefix), 0, Wide(probe.text)) == 0) {
    return kProbeNotWritable;
  }
  // Wine's GetTempFileNameW reports a name even when access was denied and
  // it created nothing; a probe file that is not there to delete means the
  // folder took no file. (On Windows a reported name is always a new file.)
  if (!DeleteFileW(Wide(probe.text)) && GetLastError() == ERROR_FILE_NOT_FOUND) {
    return kProbeNotWritable;
  }
  return kProbeWritable;
}

int ShellDelete(const Platform&, const char16_t* path) {
  return ShellFileOp(FO_DELETE, path, nullptr);
}

int ShellCopy(const Platform&, const char16_t* from, const char16_t* to) {
  return ShellFileOp(FO_COPY, from, to);
}

int ShellRename(const Platform&, const char16_t* from, const char16_t* to) {
  return ShellFileOp(FO_RENAME, from, to);
}

}  // namespace orv::win32
