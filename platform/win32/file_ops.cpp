// File and folder probes and the shell's whole-folder operations.
#include <windows.h>
// After windows.h, whose types they use.
#include <io.h>
#include <shellapi.h>

#include "platform/win32/backend.h"

namespace orv::win32 {

namespace {

constexpr FILEOP_FLAGS kSilentShellFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
static_assert(kSilentShellFlags == 0x0414);

// One path per list: the zero-filled buffer supplies the NUL that ends it.
// A path the list cannot hold is refused rather than cut, since a cut path
// may name another folder.
bool ShellFileOp(UINT operation, const char16_t* from, const char16_t* to) {
  PathBuffer source;
  PathBuffer target;
  if (!FitsShellPath(from) || !source.Assign(from)) return Fail(ERROR_FILENAME_EXCED_RANGE);
  if (to != nullptr && (!FitsShellPath(to) || !target.Assign(to))) {
    return Fail(ERROR_FILENAME_EXCED_RANGE);
  }

  SHFILEOPSTRUCTW request{};
  request.hwnd = nullptr;
  request.wFunc = operation;
  request.pFrom = Wide(source.text);
  request.pTo = Wide(target.text);
  request.fFlags = kSilentShellFlags;
  const int result = SHFileOperationW(&request);
  const SystemError error = ShellOutcome(result, request.fAnyOperationsAborted != FALSE);
  if (error.source == ErrorSource::None) return true;
  RecordSystemError(error);
  return false;
}

// The name itself is a reparse point: a symbolic link, a junction or a
// mount point, which the shell's operations would go through.
bool IsReparsePoint(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

SystemError ShellOutcome(int result, bool aborted) {
  // The shell's result is a code of its own (or a Windows error code).
  if (result != 0) return {ErrorSource::Shell, static_cast<std::uint32_t>(result)};
  // A result of 0 with an operation aborted on the way is not done: the
  // shell documents fAnyOperationsAborted for an operation stopped before
  // its end, some of it possibly done.
  if (aborted) return {ErrorSource::Win32, ERROR_CANCELLED};
  return {};
}

FileProbe FileProbeFromError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return FileProbe::Absent;
    // The name is there, but this open may not have it: a folder, a file
    // held without sharing or denied to us, or one about to be deleted.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_DELETE_PENDING:
      return FileProbe::Present;
    default:
      return FileProbe::Unanswered;
  }
}

bool IsLink(const Platform&, const char16_t* path) {
  const DWORD attributes = GetFileAttributesW(Wide(path));
  if (attributes != INVALID_FILE_ATTRIBUTES) return IsReparsePoint(attributes);
  const DWORD error = GetLastError();
  Fail(error);
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

FileProbe FileExists(const Platform&, const char16_t* path) {
  // The name itself, a link's included, whatever it leads to: a link that
  // leads nowhere still takes the name. No access asked for, so that a file
  // held without sharing or a folder opens all the same.
  const HANDLE file = CreateFileW(
      Wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return FileProbe::Present;
  }
  const DWORD error = GetLastError();
  Fail(error);
  return FileProbeFromError(error);
}

bool FolderExists(const Platform& self, const char16_t* path) {
  PathBuffer saved;
  const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(kMaxPath), Wide(saved.text));
  if (!SetCurrentDirectoryW(Wide(path))) return Fail();
  // A folder that is the current folder cannot be renamed or removed on
  // Windows, and this one may be the add-in folder. When the way back is
  // gone (the folder left was renamed, or its name did not fit), the
  // system's folder becomes current instead, never the folder looked at.
  const bool back = length != 0 && length < kMaxPath && SetCurrentDirectoryW(Wide(saved.text));
  if (!back) LeaveCurrentFolder(self);
  return true;
}

FolderProbe ProbeFolderWritable(const Platform&, const char16_t* path, PathBuffer& probeFile) {
  probeFile.Clear();
  const auto answer = [](FolderProbe probe, DWORD error) {
    Fail(error);
    return probe;
  };
  PathBuffer folder;
  if (!NormaliseProbePath(path, folder)) {
    return answer(FolderProbe::Missing, ERROR_FILENAME_EXCED_RANGE);
  }
  if (_waccess(Wide(folder.text), 0) != 0) return answer(FolderProbe::Missing, GetLastError());
  // INVALID_FILE_ATTRIBUTES has every bit set, the folder bit included: a
  // path that vanished since the access check is missing, not a folder.
  const DWORD attributes = GetFileAttributesW(Wide(folder.text));
  if (attributes == INVALID_FILE_ATTRIBUTES) return answer(FolderProbe::Missing, GetLastError());
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return answer(FolderProbe::Missing, ERROR_DIRECTORY);
  }
  PathBuffer probe;
  if (GetTempFileNameW(Wide(folder.text), Wide(kProbePrefix), 0, Wide(probe.text)) == 0) {
    return answer(FolderProbe::NotWritable, GetLastError());
  }
  // Wine's GetTempFileNameW reports a name even when access was denied and
  // it created nothing; a probe file that is not there to delete means the
  // folder took no file. (On Windows a reported name is always a new file.)
  if (!DeleteFileW(Wide(probe.text))) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return answer(FolderProbe::NotWritable, ERROR_ACCESS_DENIED);
    Fail(error);
    probeFile = probe;
  }
  return FolderProbe::Writable;
}

bool ShellDelete(const Platform&, const char16_t* path) {
  // A link is removed itself, never what it leads to: the shell's
  // recursive delete would empty the link's target first.
  const DWORD attributes = GetFileAttributesW(Wide(path));
  if (IsReparsePoint(attributes)) {
    const bool removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? RemoveDirectoryW(Wide(path))
                                                                      : DeleteFileW(Wide(path));
    return removed || Fail();
  }
  return ShellFileOp(FO_DELETE, path, nullptr);
}

bool ShellCopy(const Platform&, const char16_t* from, const char16_t* to) {
  // The shell copies a folder onto a name that is taken *into* what is
  // there and reports success. So the target is made here, and only while
  // its name is free: CreateDirectoryW claims the name in one step, leaving
  // no moment between a look and the copy in which another could take it.
  // The shell then copies the source folder's content into it.
  const String content = JoinPath(from == nullptr ? StringView() : StringView(from), u"*");
  if (to == nullptr || !FitsShellPath(content) || !FitsShellPath(to)) {
    return Fail(ERROR_FILENAME_EXCED_RANGE);
  }
  const DWORD source = GetFileAttributesW(Wide(from));
  if (source == INVALID_FILE_ATTRIBUTES) return Fail();
  if ((source & FILE_ATTRIBUTE_DIRECTORY) == 0) return Fail(ERROR_DIRECTORY);
  if (!CreateDirectoryW(Wide(to), nullptr)) return Fail();
  return ShellFileOp(FO_COPY, content.c_str(), to);
}

bool ShellRename(const Platform&, const char16_t* from, const char16_t* to) {
  // Not the shell's rename: with "no confirmation" it answers "yes to all",
  // replacing a file and merging a folder into one of the same name.
  // MoveFileExW without MOVEFILE_REPLACE_EXISTING fails on a taken name,
  // folder or file, empty or not, and moves nothing (ERROR_ALREADY_EXISTS);
  // without MOVEFILE_COPY_ALLOWED it never copies, so it is one rename on
  // one volume or a failure (ERROR_NOT_SAME_DEVICE). A link in from's place
  // is renamed itself. The shell's path limit is kept, so that what could
  // be renamed before can be now, and nothing longer.
  if (from == nullptr || to == nullptr || !FitsShellPath(from) || !FitsShellPath(to)) {
    return Fail(ERROR_FILENAME_EXCED_RANGE);
  }
  return MoveFileExW(Wide(from), Wide(to), 0) || Fail();
}

}  // namespace orv::win32
