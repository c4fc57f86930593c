// A layer over a platform record (normally the POSIX backend) that behaves
// as Windows does where neither Wine nor POSIX shows it. Each behaviour is
// an option, off by default; with every option off the layer changes
// nothing. What each one models, and where Windows' behaviour is written
// down:
//
// - session: the run's session, for InSessionZero and the guard's names.
//   "Global\NAME" is the global object, "Local\NAME" and a plain "NAME" the
//   session's own, except in session 0, whose session namespace is the
//   global one (services use the global namespace by default: Microsoft,
//   "Kernel object namespaces"). CreateMutexW on a name whose object already
//   has a handle (the caller's own included) answers ERROR_ALREADY_EXISTS
//   (Microsoft, CreateMutexW). Wine gives every process session 1.
// - mergingRename: SHFileOperationW(FO_RENAME) with FOF_NOCONFIRMATION onto
//   a taken name. A file onto a file replaces it and succeeds on Vista and
//   later, where Wine fails with 183 (Wine, dlls/shell32/tests/shlfileop.c,
//   test_rename, "pTo already exist"); a file onto a folder fails on both
//   (same test, its first case). A folder onto a folder is tested nowhere;
//   the shell offers a merge there, which "no confirmation" answers "Yes to
//   All" (Microsoft, SHFILEOPSTRUCTW, FOF_NOCONFIRMATION): the content moves
//   in, files replaced and folders merged, and the source goes.
// - pinFolders: a folder that holds a file open (the run's own open files,
//   a HoldFile) or the process's current folder cannot be renamed or
//   removed. Removing the current folder fails with ERROR_SHARING_VIOLATION
//   (Wine, dlls/kernel32/tests/directory.c, test_RemoveDirectoryW); NTFS
//   refuses to rename a folder with a handle open below it, which Wine
//   allows (shared/wine-notes.md, "Files in use"). LeaveCurrentFolder moves
//   the current folder to a system folder that no run touches.
// - scannerHold: a real-time scanner opens each file the run writes (when
//   it is closed, the target of a file copy, every file of a tree copy) or
//   opens (a version read, a comparison, a copy's source) with no sharing,
//   for that long after. A file opened with share mode 0 cannot be opened
//   again for reading, writing or deleting until it is closed, a sharing
//   violation (Microsoft, CreateFileW, dwShareMode; measured under Wine for
//   CopyFileW, shared/wine-notes.md). Attribute and time reads and writes
//   need no such access and pass. A held file also pins its folders.
//
// Time is a virtual clock: each call advances it by callStep, each Wait by
// its milliseconds, and nothing is spent. A dangling link is a taken name on
// Windows (the link itself is there); the POSIX backend already answers so
// (FileExists Present, IsLink true, ReadOwner of the link), so it is not
// modelled here. The notice is left to the backend, so that a test can read
// a session-0 run's outcome.
#pragma once

#include <cstdint>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <optional>

#include "tests/support/fault_platform.h"

namespace orv::test {

// The named objects of one machine, shared by the runs (model processes)
// made on it: how many handles each resolved name has.
struct GuardNamespace {
  std::map<String, int> handles;
};

struct ModelOptions {
  std::optional<std::uint32_t> session;
  bool mergingRename = false;
  bool pinFolders = false;
  std::uint32_t scannerHold = 0;  // milliseconds; 0: no scanner
  std::uint32_t callStep = 1;     // milliseconds each call takes
  // The process's current folder when it starts (pinned with pinFolders).
  String currentFolder;

  ModelOptions& InSession(std::uint32_t n) { return session = n, *this; }
  ModelOptions& MergingRenames() { return mergingRename = true, *this; }
  ModelOptions& PinningFolders() { return pinFolders = true, *this; }
  ModelOptions& Scanner(std::uint32_t hold) { return scannerHold = hold, *this; }
  ModelOptions& StartedIn(String folder) { return currentFolder = std::move(folder), *this; }
};

class WindowsModel : public SeamLayer {
 public:
  static constexpr std::uint64_t kForever = std::numeric_limits<std::uint64_t>::max();

  // names: the machine's named objects; the model's own when null.
  WindowsModel(const Platform& inner, ModelOptions options, GuardNamespace* names = nullptr);
  ~WindowsModel();
  WindowsModel(const WindowsModel&) = delete;
  WindowsModel& operator=(const WindowsModel&) = delete;

  const Platform& platform() const { return record_; }
  const ModelOptions& options() const { return options_; }

  // Another process opens path with no sharing for that long from now.
  void HoldFile(StringView path, std::uint64_t milliseconds = kForever);
  std::uint64_t Now() const { return now_; }
  // The name a guard name resolves to in this run's session.
  String ResolveGuardName(StringView name) const;
  // Empty once the run left it.
  const std::optional<std::filesystem::path>& CurrentFolder() const { return currentFolder_; }

  // For the record's functions.
  void Tick(std::uint64_t milliseconds) { now_ += milliseconds; }
  bool Refuse(Op op, Reason reason);
  bool FileInUse(const std::filesystem::path& file) const;
  bool FolderInUse(const std::filesystem::path& folder) const;
  void Scanned(const std::filesystem::path& file);
  void ScannedTree(const std::filesystem::path& folder);
  void NoteOpen(const FileStream* stream, const char16_t* path);
  // The path the stream was opened for, forgotten; empty when unknown.
  std::filesystem::path NoteClosed(const FileStream* stream);
  InstanceGuard* TakeGuard(const char16_t* name, bool& alreadyExists);
  void DropGuard(InstanceGuard* guard);
  void LeaveCurrentFolder() { currentFolder_.reset(); }

 private:
  Platform record_;
  ModelOptions options_;
  GuardNamespace ownNames_;
  GuardNamespace* names_;
  std::uint64_t now_ = 0;
  std::map<std::filesystem::path, std::uint64_t> heldUntil_;  // lexically normal
  std::map<const FileStream*, std::filesystem::path> open_;
  std::map<const InstanceGuard*, std::unique_ptr<String>> guards_;
  std::optional<std::filesystem::path> currentFolder_;
};

// A run's layers as the tests stack them: the fault layer (counting calls,
// keeping the notices and the waits, failing chosen calls) over the model
// over the system's backend; each wait reaches the model's clock.
struct ModelledRun {
  explicit ModelledRun(ModelOptions options, GuardNamespace* names = nullptr)
      : model(SystemPlatform(), std::move(options), names), fault(model.platform()) {
    fault.ForwardWaits();
  }
  WindowsModel model;
  FaultPlatform fault;
};

}  // namespace orv::test
