// Someone else changes the new add-in folder after the program wrote it and
// before the swap: the read-back finds every such change, and the run fails
// with the add-in as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "tests/patch/installation.h"
#include "tests/support/runs.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::FaultPlatform;
using test::Installation;

// Every file the new folder must hold, below it.
std::vector<String> NewFolderFiles() {
  std::vector<String> files;
  for (const manifest::PayloadEntry& entry : manifest::kPayload)
    files.push_back(entry.relativePath);
  for (const manifest::CarriedLibrary& library : manifest::kLibraries) {
    files.push_back(library.fileName);
  }
  return files;
}

void ChangeBytes(const String& path, const std::function<void(std::string&)>& change) {
  std::string bytes = test::ReadBytes(path);
  change(bytes);
  test::WriteBytes(path, bytes);
}

TEST(ReadBack, EveryChangeToTheNewFolderBeforeTheSwapFails) {
  using Tamper = std::function<void(const String& file)>;
  const struct {
    const char* kind;
    Tamper tamper;
  } kinds[] = {
      {"one byte changed",
       [](const String& f) { ChangeBytes(f, [](auto& b) { b[b.size() / 2] ^= 1; }); }},
      {"one byte short", [](const String& f) { ChangeBytes(f, [](auto& b) { b.pop_back(); }); }},
      {"one byte more", [](const String& f) { ChangeBytes(f, [](auto& b) { b += 'x'; }); }},
      {"emptied", [](const String& f) { test::WriteBytes(f, ""); }},
      {"taken away", [](const String& f) { fs::remove(test::FsPath(f)); }},
  };
  std::vector<std::pair<std::string, std::function<void(const String& copy)>>> cases;
  for (const String& file : NewFolderFiles()) {
    for (const auto& k : kinds) {
      cases.emplace_back(ToUtf8(file) + " " + k.kind,
                         [&k, file](const String& copy) { k.tamper(copy + u"\\" + file); });
    }
  }
  cases.emplace_back("a file more",
                     [](const String& copy) { test::WriteBytes(copy + u"\\evil.dll", "MZ"); });
  cases.emplace_back("a file more in a culture folder",
                     [](const String& copy) { test::WriteBytes(copy + u"\\de\\evil.dll", "MZ"); });
  cases.emplace_back("a folder more", [](const String& copy) { test::MakeFolders(copy + u"\\x"); });

  for (const auto& [label, tamper] : cases) {
    SCOPED_TRACE(label);
    Installation install;
    const std::string before = install.Snapshot();
    FaultPlatform fault(SystemPlatform());
    // The read-back begins with the listing of the new folder.
    fault.BeforeCall(test::Op::ListFolder, 1, [&] { tamper(install.Folders().Copy()); });
    EXPECT_EQ(test::RunPatchShown(fault.platform()), PatchOutcome::Failed);
    EXPECT_EQ(fault.Calls(test::Op::ShellRename), 0);
    EXPECT_EQ(install.Snapshot(), before);
    install.ExpectNoWorkFolders();
  }
}

}  // namespace
}  // namespace orv
