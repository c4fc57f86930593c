// Temporary folder, folders and files, the message box, the named guard, and
// the platform record that gathers every Win32 operation.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <new>

#include "platform/win32/backend.h"

namespace orv {

struct FileStream {
  std::FILE* file;
};

namespace win32 {

std::uint32_t TempFolder(const Platform&, char16_t* buffer, std::uint32_t capacity) {
  return GetTempPathW(capacity, Wide(buffer));
}

int MakeFolder(const Platform&, const char16_t* path) {
  return CreateDirectoryW(Wide(path), nullptr) ? 1 : 0;
}

int OpenFileForWrite(const Platform&, const char16_t* path, FileStream*& stream) {
  stream = nullptr;
  std::FILE* file = nullptr;
  const errno_t error = _wfopen_s(&file, Wide(path), L"wb");
  if (error != 0) return error;
  if (file == nullptr) return EINVAL;
  // Unbuffered, so that the count a write reports is what reached the file:
  // an error cannot hide in the buffer until a close whose result nobody
  // reads.
  std::setvbuf(file, nullptr, _IONBF, 0);
  stream = new (std::nothrow) FileStream{file};
  if (stream == nullptr) {
    std::fclose(file);
    return ENOMEM;
  }
  return 0;
}

std::size_t WriteToFile(const Platform&, FileStream* stream, const void* data, std::size_t size) {
  if (stream == nullptr) return 0;
  return std::fwrite(data, 1, size, stream->file);
}

void CloseFile(const Platform&, FileStream* stream) {
  if (stream == nullptr) return;
  std::fclose(stream->file);
  delete stream;
}

int RemoveFile(const Platform&, const char16_t* path) {
  return DeleteFileW(Wide(path)) ? 1 : 0;
}

int CopySingleFile(const Platform&, const char16_t* from, const char16_t* to, bool failIfExists) {
  return CopyFileW(Wide(from), Wide(to), failIfExists ? TRUE : FALSE) ? 1 : 0;
}

void ShowMessage(const Platform&, const char16_t* caption, const char16_t* text, MessageIcon icon) {
  MessageBoxW(nullptr, Wide(text), Wide(caption), MB_OK | static_cast<UINT>(icon));
}

InstanceGuard* CreateInstanceGuard(const Platform&, const char16_t* name, bool& alreadyExists) {
  // Only the name's existence guards; the mutex is never waited on.
  SetLastError(ERROR_SUCCESS);
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, Wide(name));
  alreadyExists = GetLastError() == ERROR_ALREADY_EXISTS;
  return static_cast<InstanceGuard*>(mutex);
}

void ReleaseInstanceGuard(const Platform&, InstanceGuard* guard) {
  if (guard == nullptr) return;
  // Never owned, so the release fails harmlessly; the close is what counts.
  ReleaseMutex(static_cast<HANDLE>(guard));
  CloseHandle(static_cast<HANDLE>(guard));
}

}  // namespace win32

const Platform& SystemPlatform() {
  static constexpr Platform kWin32{
      .context = nullptr,
      .FileExists = win32::FileExists,
      .FolderExists = win32::FolderExists,
      .ProbeFolderWritable = win32::ProbeFolderWritable,
      .ShellDelete = win32::ShellDelete,
      .ShellCopy = win32::ShellCopy,
      .ShellRename = win32::ShellRename,
      .ReadFileVersion = win32::ReadFileVersion,
      .ReadRegistryValue = win32::ReadRegistryValue,
      .MakeLocalTimeStamp = win32::MakeLocalTimeStamp,
      .TempFolder = win32::TempFolder,
      .MakeFolder = win32::MakeFolder,
      .OpenFileForWrite = win32::OpenFileForWrite,
      .WriteToFile = win32::WriteToFile,
      .CloseFile = win32::CloseFile,
      .RemoveFile = win32::RemoveFile,
      .CopySingleFile = win32::CopySingleFile,
      .ReadFileStatus = win32::ReadFileStatus,
      .WriteFileStatus = win32::WriteFileStatus,
      .FindPayload = win32::FindPayload,
      .LoadTableString = win32::LoadTableString,
      .ShowMessage = win32::ShowMessage,
      .CreateInstanceGuard = win32::CreateInstanceGuard,
      .ReleaseInstanceGuard = win32::ReleaseInstanceGuard,
  };
  return kWin32;
}

}  // namespace orv
