// The temporary folder, folders, file streams and single-file copies.
#include <windows.h>

#include <cerrno>
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
  std::FILE* file = nullptr;
  const errno_t error = _wfopen_s(&file, Wide(path), L"wb");
  if (error != 0 || file == nullptr) {
    FailWithErrno(error != 0 ? error : EINVAL);
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
