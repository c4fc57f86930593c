// The swap where only the real platform shows what a copy onto a taken name
// does: the whole run in this process on the Win32 backend, under Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

#include "patch/manifest.h"
#include "patch/work_folders.h"
#include "tests/support/runs.h"
#include "tests/support/test_support.h"
#include "tests/win32/win32_test_support.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::FaultPlatform;
using test::Op;
using win32test::ChildProcess;
using win32test::Wide;

// Points the host's App Paths entry at a folder for the object's life, and
// puts back what was there.
class AppPathsEntry {
 public:
  explicit AppPathsEntry(const String& folder) {
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(manifest::kHostRegistryKey), 0, nullptr, 0,
                              KEY_READ | KEY_WRITE, nullptr, &key_, nullptr),
              ERROR_SUCCESS);
    DWORD type = 0;
    DWORD size = sizeof old_;
    had_ = RegQueryValueExW(key_, Wide(manifest::kHostRegistryValue), nullptr, &type,
                            reinterpret_cast<BYTE*>(old_), &size) == ERROR_SUCCESS;
    oldType_ = type;
    oldSize_ = size;
    Set(REG_SZ, folder.c_str(), static_cast<DWORD>((folder.size() + 1) * 2));
  }
  ~AppPathsEntry() {
    if (had_) {
      Set(oldType_, old_, oldSize_);
    } else {
      RegDeleteValueW(key_, Wide(manifest::kHostRegistryValue));
    }
    RegCloseKey(key_);
  }
  AppPathsEntry(const AppPathsEntry&) = delete;
  AppPathsEntry& operator=(const AppPathsEntry&) = delete;

 private:
  void Set(DWORD type, const void* data, DWORD bytes) {
    EXPECT_EQ(RegSetValueExW(key_, Wide(manifest::kHostRegistryValue), 0, type,
                             static_cast<const BYTE*>(data), bytes),
              ERROR_SUCCESS);
  }
  HKEY key_ = nullptr;
  bool had_ = false;
  DWORD oldType_ = 0;
  DWORD oldSize_ = 0;
  char16_t old_[1024] = {};
};

// Another process that takes hold of a file of the half-made copy the
// moment the run first tries to remove it, as a scanner does with a file
// just written, and holds it until told.
struct Scanner {
  String copyName;
  const Platform* inner = nullptr;
  ChildProcess child;
  bool holding = false;
};
Scanner* gScanner = nullptr;

bool DeleteMeetingTheScanner(const Platform& self, const char16_t* path) {
  Scanner& s = *gScanner;
  if (!s.holding && path == s.copyName) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(test::FsPath(path), ec), end; !ec && it != end;
         it.increment(ec)) {
      if (!it->is_regular_file(ec)) continue;
      ChildProcess::Options options;
      options.pipes = true;
      std::string line;
      s.holding = s.child.Start(win32test::SiblingProgram(L"win32_helper.exe"),
                                L"hold-file " + win32test::Quote(it->path().wstring()), options) &&
                  s.child.ReadLine(line) && line == "held";
      break;
    }
  }
  return s.inner->ShellDelete(self, path);
}

// The first copy fails with part of the tree copied, and the half-made copy
// cannot be removed while another process holds a file of it without
// delete sharing. The run must then fail with the old add-in in place (or,
// had the holder let go, succeed with the new one complete), and never copy
// the staging folder into the half-made copy: the shell would report that
// done, and the swap would put an add-in without its files in place.
TEST(Swap, HalfMadeCopyHeldByAnotherProcessIsNeverCopiedInto) {
  test::TempDir root;
  const String host = root / u"Orvanto";
  const WorkFolders folders(host, u"");
  const String addin = folders.Addin();
  const String copyName = folders.Copy();
  test::MakeFolders(addin);
  pegen::PeImageSpec launcher;
  launcher.executable = true;
  launcher.fileVersion = manifest::kHostVersion;
  test::WritePeFixture(host + manifest::kLauncherName, launcher);
  for (const manifest::CarriedLibrary& library : manifest::kLibraries) {
    test::WriteBytes(JoinPath(addin, library.fileName), "library");
  }
  const std::string before = test::DescribeTree(addin);
  const AppPathsEntry entry(host);

  FaultPlatform fault(SystemPlatform());
  fault.SetPartialEffects(true);
  fault.Fail(Op::ShellCopy, 1);
  Scanner scanner;
  scanner.copyName = copyName;
  scanner.inner = &fault.platform();
  gScanner = &scanner;
  Platform record = fault.platform();
  record.ShellDelete = DeleteMeetingTheScanner;
  const PatchOutcome outcome = test::RunPatchShown(record);
  gScanner = nullptr;

  EXPECT_TRUE(scanner.holding) << "the half-made copy was never met";
  // No staging folder was copied along into either.
  EXPECT_FALSE(test::Exists(WorkFolders(u"", copyName + u"\\").Staging()));
  EXPECT_FALSE(test::Exists(WorkFolders(u"", addin + u"\\").Staging()));
  if (outcome == PatchOutcome::Succeeded) {
    for (const manifest::PayloadEntry& e : manifest::kPayload) {
      EXPECT_EQ(test::ReadBytes(JoinPath(addin, e.relativePath)).size(), e.size)
          << ToUtf8(e.relativePath);
    }
  } else {
    EXPECT_EQ(outcome, PatchOutcome::Failed);
    EXPECT_EQ(test::DescribeTree(addin), before);
  }
  scanner.child.CloseInput();
  EXPECT_EQ(scanner.child.Wait(60000), 0u);
}

}  // namespace
}  // namespace orv
