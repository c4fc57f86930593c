// The one seam through which the program reaches the outside world: a plain
// record of operations that a backend fills in. The stages receive it by
// reference and never know which backend is behind it; a test wraps a real
// backend's record to count calls and fail any of them.
//
// Every operation receives the record it was called through, so a wrapper can
// find its own state (context) and the record it wraps.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/file_version.h"
#include "platform/framework.h"
#include "platform/registry_time.h"

namespace orv {

struct FileStream;     // an open file, backend-defined
struct InstanceGuard;  // a held single-instance guard, backend-defined

enum class MessageIcon : std::uint32_t {
  Information = 0x40,  // MB_ICONINFORMATION
  Warning = 0x30,      // MB_ICONWARNING
};

struct Platform {
  // Free for the filler of the record: a wrapper keeps its state here.
  void* context = nullptr;

  // --- File-system operations --------------------------------------------
  // 1 present, 0 absent. A file that exists but cannot be opened counts as
  // present; only "file not found" and "path not found" style errors mean
  // absent.
  int (*FileExists)(const Platform& self, const char16_t* path) = nullptr;
  // 1 when the folder exists and can be entered, else 0.
  int (*FolderExists)(const Platform& self, const char16_t* path) = nullptr;
  // 0 writable, -1 missing or not a folder, -2 no file can be created in it.
  int (*ProbeFolderWritable)(const Platform& self, const char16_t* path) = nullptr;
  // Silent, recursive, final. 1 done, 0 failed (a missing path fails).
  int (*ShellDelete)(const Platform& self, const char16_t* path) = nullptr;
  // Whole-tree copy to a new name, keeping files' modification times.
  // 1 done, 0 failed (possibly after copying part of the tree).
  int (*ShellCopy)(const Platform& self, const char16_t* from, const char16_t* to) = nullptr;
  // 1 when the source name is gone and the new name holds it, else 0.
  int (*ShellRename)(const Platform& self, const char16_t* from, const char16_t* to) = nullptr;

  // --- File version information -------------------------------------------
  // 1 and all four parts filled, or 0 with the record left as it was.
  int (*ReadFileVersion)(const Platform& self, const char16_t* path,
                         FileVersion4& version) = nullptr;

  // --- Registry and local time --------------------------------------------
  // A Win32 status; 0 is the only success.
  std::int32_t (*ReadRegistryValue)(const Platform& self, const char16_t* keyPath,
                                    RegistryValueRequest& request) = nullptr;
  // Day, hour, minute and second of May 2016 as local time; sets and returns
  // value, or returns kTimeStampFailed and leaves value as it was.
  std::int64_t (*MakeLocalTimeStamp)(const Platform& self, std::int32_t day, std::int32_t hour,
                                     std::int32_t minute, std::int32_t second,
                                     std::int64_t& value) = nullptr;

  // --- Files and folders used by staging and the swap ---------------------
  // As GetTempPathW: 0 on failure, the length written (ending in a
  // separator), or the size needed (NUL included) when capacity is too small.
  std::uint32_t (*TempFolder)(const Platform& self, char16_t* buffer,
                              std::uint32_t capacity) = nullptr;
  // One level only. Non-zero when the folder was created.
  int (*MakeFolder)(const Platform& self, const char16_t* path) = nullptr;
  // Create or truncate for binary writing. 0 and a stream, or an error code.
  int (*OpenFileForWrite)(const Platform& self, const char16_t* path,
                          FileStream*& stream) = nullptr;
  // The number of bytes written.
  std::size_t (*WriteToFile)(const Platform& self, FileStream* stream, const void* data,
                             std::size_t size) = nullptr;
  void (*CloseFile)(const Platform& self, FileStream* stream) = nullptr;
  // Non-zero when the file was deleted.
  int (*RemoveFile)(const Platform& self, const char16_t* path) = nullptr;
  // Single-file copy keeping the modification time. Non-zero when copied.
  int (*CopySingleFile)(const Platform& self, const char16_t* from, const char16_t* to,
                        bool failIfExists) = nullptr;
  // Non-zero when the record was filled.
  int (*ReadFileStatus)(const Platform& self, const char16_t* path,
                        FileStatusRecord& status) = nullptr;
  // Sets the file's last-modification time from the record (whole seconds),
  // leaving its other times and attributes as they are. Non-zero when set.
  int (*WriteFileStatus)(const Platform& self, const char16_t* path,
                         const FileStatusRecord& status) = nullptr;

  // --- The program's own payload and strings ----------------------------
  // The bytes of payload resource "BINARY" resourceId, mapped read-only for
  // the life of the process (never copied, never freed). 1, or 0 when the
  // resource is missing, empty or cannot be mapped (data and size untouched).
  int (*FindPayload)(const Platform& self, int resourceId, const std::uint8_t*& data,
                     std::size_t& size) = nullptr;
  // String-table entry id in place of text's content: 1 when found, else 0
  // and text empty.
  int (*LoadTableString)(const Platform& self, int id, String& text) = nullptr;

  // --- User interface and process ------------------------------------------
  // A modal notice with one OK button; returns when it is closed.
  void (*ShowMessage)(const Platform& self, const char16_t* caption, const char16_t* text,
                      MessageIcon icon) = nullptr;
  // Creates or opens the named guard. alreadyExists is set when another
  // holder had it first; the handle may be null when creation failed.
  InstanceGuard* (*CreateInstanceGuard)(const Platform& self, const char16_t* name,
                                        bool& alreadyExists) = nullptr;
  // Lets go of the guard and closes the handle.
  void (*ReleaseInstanceGuard)(const Platform& self, InstanceGuard* guard) = nullptr;
};

// The record of the backend this build was made with (Win32 or POSIX).
const Platform& SystemPlatform();

}  // namespace orv
