// The temporary folder, folders, file streams and single-file copies.
#include <windows.h>
// After windows.h, whose types they use.
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <utility>

#include "platform/win32/backend.h"

namespace orv {

struct FileStream {
  std::FILE* file;
};

namespace win32 {

namespace {

using TempPathFunction = DWORD(WINAPI*)(DWORD, LPWSTR);

// GetTempPath2W where the system has it: run as SYSTEM it names a folder
// closed to every other account, where GetTempPathW names one every local
// user may write to. For any other caller the two agree. Looked up at run
// time, since older systems lack it.
TempPathFunction TempPath2() {
  static const auto function = reinterpret_cast<TempPathFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W")));
  return function;
}

}  // namespace

const char* TempFolderSource(const Platform&) {
  return TempPath2() != nullptr ? "GetTempPath2W" : "GetTempPathW";
}

bool TempFolder(const Platform&, PathBuffer& folder) {
  folder.Clear();
  const TempPathFunction tempPath = TempPath2() != nullptr ? TempPath2() : &GetTempPathW;
  const DWORD length = tempPath(static_cast<DWORD>(kMaxPath), Wide(folder.text));
  if (length == 0) return Fail();
  // Otherwise the size a longer folder needs: it does not fit our buffers.
  if (length >= kMaxPath) {
    folder.Clear();
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  return true;
}

bool MakeFolder(const Platform&, const char16_t* path) {
  return CreateDirectoryW(Wide(path), nullptr) || Fail();
}

FileStream* OpenFileForWrite(const Platform&, const char16_t* path) {
  // The name itself is opened, a link's too, and nothing is cut before it is
  // known to be a plain file with one name: a symbolic link, a junction or
  // a file with a second name (a hard link) elsewhere is refused as it is,
  // with nothing written to it or to what it leads to.
  const HANDLE handle =
      CreateFileW(Wide(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail();
    return nullptr;
  }
  const auto refuse = [handle](DWORD error) -> FileStream* {
    CloseHandle(handle);
    Fail(error);
    return nullptr;
  };
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) return refuse(GetLastError());
  // The system's own answer for a file it will not go through: neither a
  // sharing or lock conflict nor access denied, nothing that passes with
  // time, so that no retry waits on it.
  constexpr DWORD kOnlyPlainFiles = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
  if ((info.dwFileAttributes & kOnlyPlainFiles) != 0 || info.nNumberOfLinks > 1) {
    return refuse(ERROR_CANT_ACCESS_FILE);
  }
  if (!SetEndOfFile(handle)) return refuse(GetLastError());
  // The C runtime's stream over the handle; the descriptor owns the handle
  // from here, and the stream the descriptor.
  const int descriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_BINARY);
  if (descriptor == -1) return refuse(ERROR_TOO_MANY_OPEN_FILES);
  std::FILE* file = _fdopen(descriptor, "wb");
  if (file == nullptr) {
    const int error = errno;
    _close(descriptor);
    FailWithErrno(error != 0 ? error : EMFILE);
    return nullptr;
  }
  // Unbuffered, so that the count a write reports is what reached the file:
  // an error cannot hide in the buffer until a close whose result nobody
  // reads.
  std::setvbuf(file, nullptr, _IONBF, 0);
  FileStream* stream = new (std::nothrow) FileStream{file};
  if (stream == nullptr) {
    std::fclose(file);
    FailWithErrno(ENOMEM);
  }
  return stream;
}

bool WriteToFile(const Platform&, FileStream* stream, const void* data, std::size_t size) {
  if (stream == nullptr) return FailWithErrno(EBADF);
  errno = 0;
  if (std::fwrite(data, 1, size, stream->file) == size) return true;
  // A short count with no error of its own is the disk filling up.
  return FailWithErrno(errno != 0 ? errno : ENOSPC);
}

void CloseFile(const Platform&, FileStream* stream) {
  if (stream == nullptr) return;
  std::fclose(stream->file);
  delete stream;
}

bool RemoveFile(const Platform&, const char16_t* path) {
  return DeleteFileW(Wide(path)) || Fail();
}

bool ReadSmallFile(const Platform&, const char16_t* path, std::string& bytes, std::size_t limit) {
  bytes.clear();
  const HANDLE file = CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail();
  // One byte beyond the limit tells a file that is too long.
  std::string content(limit + 1, '\0');
  std::size_t have = 0;
  DWORD error = ERROR_SUCCESS;
  while (have < content.size()) {
    DWORD got = 0;
    if (!ReadFile(file, content.data() + have, static_cast<DWORD>(content.size() - have), &got,
                  nullptr)) {
      error = GetLastError();
      break;
    }
    if (got == 0) break;
    have += got;
  }
  CloseHandle(file);
  if (error != ERROR_SUCCESS) return Fail(error);
  if (have > limit) return Fail(ERROR_FILE_TOO_LARGE);
  content.resize(have);
  bytes = std::move(content);
  return true;
}

bool CopySingleFile(const Platform&, const char16_t* from, const char16_t* to, bool failIfExists) {
  return CopyFileW(Wide(from), Wide(to), failIfExists ? TRUE : FALSE) || Fail();
}

}  // namespace win32
}  // namespace orv
