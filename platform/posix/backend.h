// The POSIX backend's operations, one unit per concern; system.cpp gathers
// them into the platform record.
#pragma once

#include "platform/seam.h"

namespace orv::posix {

// UTF-16 path to the file system's UTF-8, with both separators accepted.
std::string NativePath(const char16_t* path);

// file_ops.cpp
int FileExists(const Platform&, const char16_t* path);
int FolderExists(const Platform&, const char16_t* path);
int ProbeFolderWritable(const Platform&, const char16_t* path);
int ShellDelete(const Platform&, const char16_t* path);
int ShellCopy(const Platform&, const char16_t* from, const char16_t* to);
int ShellRename(const Platform&, const char16_t* from, const char16_t* to);

// file_version.cpp
int ReadFileVersion(const Platform&, const char16_t* path, FileVersion4& version);

// registry_time.cpp
std::int32_t ReadRegistryValue(const Platform&, const char16_t* keyPath,
                               RegistryValueRequest& request);
std::int64_t MakeLocalTimeStamp(const Platform&, std::int32_t day, std::int32_t hour,
                                std::int32_t minute, std::int32_t second, std::int64_t& value);

// framework.cpp
int ReadFileStatus(const Platform&, const char16_t* path, FileStatusRecord& status);
int WriteFileStatus(const Platform&, const char16_t* path, const FileStatusRecord& status);

// resources.cpp: the program's embedded payload and string table.
int FindPayload(const Platform&, int resourceId, const std::uint8_t*& data, std::size_t& size);
int LoadTableString(const Platform&, int id, String& text);

// system.cpp: temp folder, folders, files, message, guard.
std::uint32_t TempFolder(const Platform&, char16_t* buffer, std::uint32_t capacity);
int MakeFolder(const Platform&, const char16_t* path);
int OpenFileForWrite(const Platform&, const char16_t* path, FileStream*& stream);
std::size_t WriteToFile(const Platform&, FileStream* stream, const void* data, std::size_t size);
void CloseFile(const Platform&, FileStream* stream);
int RemoveFile(const Platform&, const char16_t* path);
int CopySingleFile(const Platform&, const char16_t* from, const char16_t* to, bool failIfExists);
void ShowMessage(const Platform&, const char16_t* caption, const char16_t* text, MessageIcon icon);
InstanceGuard* CreateInstanceGuard(const Platform&, const char16_t* name, bool& alreadyExists);
void ReleaseInstanceGuard(const Platform&, InstanceGuard* guard);

}  // namespace orv::posix
