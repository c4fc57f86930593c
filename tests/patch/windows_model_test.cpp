// The Windows model's own behaviours, then the program under it: what a
// Windows machine does to a run where Wine and POSIX show nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <numeric>

#include "patch/manifest.h"
#include "tests/patch/installation.h"
#include "tests/support/runs.h"
#include "tests/support/windows_model.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::ModelledRun;
using test::ModelOptions;
using test::Op;
using test::Reason;

SystemError Sharing(Op op) {
  return test::ErrorFor(op, Reason::SharingViolation);
}

TEST(WindowsModel, GuardNamesResolveByTheSession) {
  const struct {
    std::uint32_t session;
    const char16_t* name;
    const char16_t* resolved;
  } cases[] = {{1, u"N", u"Session\\1\\N"},
               {2, u"Local\\N", u"Session\\2\\N"},
               {1, u"Global\\N", u"Global\\N"},
               {0, u"N", u"Global\\N"}};
  for (const auto& c : cases) {
    ModelledRun run(ModelOptions().InSession(c.session));
    const Platform& p = run.fault.platform();
    EXPECT_EQ(run.model.ResolveGuardName(c.name), c.resolved);
    EXPECT_EQ(p.InSessionZero(p), c.session == 0);
    // The process's own handle counts: in session 0 the second name is the
    // first one's object.
    bool first = true;
    bool second = false;
    InstanceGuard* a = p.CreateInstanceGuard(p, c.name, first);
    InstanceGuard* b = p.CreateInstanceGuard(p, u"Global\\N", second);
    EXPECT_FALSE(first);
    EXPECT_EQ(second, String(c.resolved) == u"Global\\N");
    p.ReleaseInstanceGuard(p, b);
    p.ReleaseInstanceGuard(p, a);
    InstanceGuard* again = p.CreateInstanceGuard(p, c.name, first);
    EXPECT_FALSE(first) << "let go of";
    p.ReleaseInstanceGuard(p, again);
  }
}

// Each file below folder as "name=content ", in name order.
std::string Listing(const String& folder) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(test::FsPath(folder))) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  std::string out;
  for (const fs::path& file : files) {
    out += file.lexically_relative(test::FsPath(folder)).generic_string() + "=" +
           test::ReadBytes(test::FromFs(file)) + " ";
  }
  return out;
}

TEST(WindowsModel, RenameOntoATakenNameMergesOrReplaces) {
  const struct {
    bool merging;
    const char16_t* from;
    const char16_t* to;
    bool held;  // the source's file n is held open
    std::optional<Reason> refused;
    const char* left;  // what "to" holds after
  } cases[] = {
      {false, u"from", u"to", false, std::nullopt, "a=o b/c=o x=o "},
      {true, u"from", u"to", false, std::nullopt, "a=o b/c=o b/d=f n=n x=f "},
      {true, u"from\\n", u"to\\x", false, std::nullopt, "a=o b/c=o x=n "},
      {true, u"from\\n", u"to", false, Reason::Exists, "a=o b/c=o x=o "},
      {true, u"from", u"to", true, Reason::SharingViolation, "a=o b/c=o b/d=f x=f "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.left);
    test::TempDir dir;
    ModelOptions options;
    if (c.merging) options.MergingRenames();
    ModelledRun run(options);
    const Platform& p = run.fault.platform();
    test::MakeFolders(dir / u"to\\b");
    test::MakeFolders(dir / u"from\\b");
    for (const char16_t* file : {u"to\\a", u"to\\x", u"to\\b\\c"})
      test::WriteBytes(dir / file, "o");
    for (const char16_t* file : {u"from\\x", u"from\\b\\d"}) test::WriteBytes(dir / file, "f");
    test::WriteBytes(dir / u"from\\n", "n");
    if (c.held) run.model.HoldFile(dir / u"from\\n");
    const bool succeeds = c.merging && !c.refused;
    EXPECT_EQ(p.ShellRename(p, (dir / c.from).c_str(), (dir / c.to).c_str()), succeeds);
    EXPECT_EQ(Listing(dir / u"to"), c.left);
    EXPECT_EQ(test::Exists(dir / c.from), !succeeds);
    if (c.refused) {
      EXPECT_EQ(p.LastError(p), test::ErrorFor(Op::ShellRename, *c.refused));
    }
  }
}

// A folder holding the current folder or an open file, and a file the
// scanner holds: refused, with a sharing violation, until let go of.
TEST(WindowsModel, FilesInUsePinFoldersUntilLetGo) {
  test::TempDir dir;
  test::MakeFolders(dir / u"cwd\\de");
  test::WriteBytes(dir / u"cwd\\a", "a");
  ModelledRun run(ModelOptions().PinningFolders().Scanner(300).StartedIn(dir / u"cwd\\de"));
  const Platform& p = run.fault.platform();
  EXPECT_FALSE(p.ShellRename(p, (dir / u"cwd").c_str(), (dir / u"moved").c_str()));
  EXPECT_EQ(p.LastError(p), Sharing(Op::ShellRename));
  EXPECT_FALSE(p.ShellDelete(p, (dir / u"cwd").c_str()));
  EXPECT_FALSE(test::Exists(dir / u"cwd\\a")) << "what is free goes";
  EXPECT_TRUE(test::IsFolder(dir / u"cwd\\de"));
  EXPECT_TRUE(p.LeaveCurrentFolder(p));

  FileStream* stream = p.OpenFileForWrite(p, (dir / u"cwd\\de\\w").c_str());
  ASSERT_NE(stream, nullptr);
  EXPECT_FALSE(p.ShellRename(p, (dir / u"cwd").c_str(), (dir / u"moved").c_str()));
  p.CloseFile(p, stream);  // now the scanner has it
  const String w = dir / u"cwd\\de\\w";
  const String copy = dir / u"copy";
  const std::function<bool()> needsTheFile[] = {
      [&] { return p.RemoveFile(p, w.c_str()); },
      [&] { return p.CopySingleFile(p, w.c_str(), copy.c_str(), false); },
      [&] { return p.CompareFiles(p, w.c_str(), w.c_str()) != FileCompare::Failed; },
      [&] { return p.FlushFile(p, w.c_str()); },
      [&] { return p.ShellRename(p, (dir / u"cwd").c_str(), (dir / u"moved").c_str()); },
  };
  for (int attempt = 0; attempt < 20; ++attempt) {
    for (const auto& use : needsTheFile) EXPECT_FALSE(use());
  }
  EXPECT_EQ(p.LastError(p), Sharing(Op::ShellRename));
  p.Wait(p, 200);
  EXPECT_TRUE(p.ShellRename(p, (dir / u"cwd").c_str(), (dir / u"moved").c_str()));
  EXPECT_EQ(run.fault.Waits(), std::vector<std::uint32_t>{200});
}

TEST(WindowsModel, DanglingLinkIsATakenName) {
  test::TempDir dir;
  fs::create_symlink(test::FsPath(dir / u"gone"), test::FsPath(dir / u"link"));
  ModelledRun run(ModelOptions().MergingRenames().PinningFolders().Scanner(300));
  const Platform& p = run.fault.platform();
  const String link = dir / u"link";
  EXPECT_EQ(p.FileExists(p, link.c_str()), FileProbe::Present);
  EXPECT_TRUE(p.IsLink(p, link.c_str()));
  EXPECT_EQ(p.ReadOwner(p, link.c_str()), NameOwner::Ours);
}

// --- The program under the model ----------------------------------------

TEST(UnderWindows, SessionZeroPatchesAndRunsExcludeEachOther) {
  const struct {
    std::uint32_t first;
    std::optional<std::uint32_t> second;  // started while the first runs
  } cases[] = {{0, std::nullopt}, {0, 1}, {1, 0}, {1, 1}, {0, 0}, {1, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first * 10 + c.second.value_or(9));
    test::Installation install;
    test::GuardNamespace machine;
    ModelledRun first(ModelOptions().InSession(c.first), &machine);
    int secondExit = -1;
    if (c.second) {
      first.fault.BeforeCall(Op::ReadRegistryValue, 1, [&] {
        ModelledRun second(ModelOptions().InSession(*c.second), &machine);
        secondExit = test::RunApp(second.fault).exitCode;
        EXPECT_TRUE(second.fault.Notices().empty());
      });
    }
    const int exitCode = test::RunApp(first.fault).exitCode;
    EXPECT_EQ(exitCode, 0);
    if (exitCode == 0) install.ExpectPatched();
    if (c.second) {
      EXPECT_EQ(secondExit, 1618);
    }
    EXPECT_TRUE(machine.handles.empty()) << "every handle let go of";
  }
}

// Merged into whole, the backup would then be removed with the run's own;
// merged into in part (a file in use), the add-in would be half moved.
TEST(UnderWindows, AnAdministratorsBackupIsNeverMergedInto) {
  for (const bool fileInUse : {false, true}) {
    SCOPED_TRACE(fileInUse);
    test::Installation install;
    const String backup = install.Folders().Backup();
    test::MakeFolders(backup + u"\\de");
    test::WriteBytes(backup + u"\\de\\notes.txt", "the administrator's own");
    test::WriteBytes(backup + u"\\Pellmark.dll", "an older add-in, kept by hand");
    const std::string before = test::DescribeTree(backup);
    const std::string addin = install.Snapshot();
    ModelledRun run(ModelOptions().MergingRenames());
    if (fileInUse) {
      run.fault.BeforeCall(Op::ShellRename, 1,
                           [&] { run.model.HoldFile(install.addin + u"\\settings.ini"); });
    }
    EXPECT_EQ(test::RunApp(run.fault).exitCode, 1603);
    EXPECT_EQ(test::DescribeTree(backup), before);
    EXPECT_TRUE(install.Snapshot() == addin) << "the add-in is not as it was";
  }
}

// The waits of each retried operation: a run of waits after calls of one
// operation on one path.
std::vector<std::vector<std::uint32_t>> WaitsByOperation(const test::FaultPlatform& fault) {
  std::vector<std::vector<std::uint32_t>> groups;
  String last;
  const auto& trace = fault.Trace();
  for (std::size_t i = 1, wait = 0; i < trace.size(); ++i) {
    if (trace[i].op != Op::Wait) continue;
    const String key = FromUtf8(test::Name(trace[i - 1].op)) + trace[i - 1].path;
    if (groups.empty() || key != last) groups.emplace_back();
    groups.back().push_back(fault.Waits()[wait++]);
    last = key;
  }
  return groups;
}

TEST(UnderWindows, BackOffOutlastsAScannerAndEndsInBoundedTime) {
  const struct {
    bool heldForGood;  // the host holds a library of the add-in open
    int exitCode;
  } cases[] = {{false, 0}, {true, 1603}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.heldForGood);
    test::Installation install;
    const std::string before = install.Snapshot();
    ModelledRun run(ModelOptions().Scanner(400));
    if (c.heldForGood) run.model.HoldFile(install.Library(0));
    const auto start = std::chrono::steady_clock::now();
    const int exitCode = test::RunApp(run.fault).exitCode;
    EXPECT_EQ(exitCode, c.exitCode);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(5)) << "waits are counted, not spent";
    install.ExpectPatchedOrUnchanged(!c.heldForGood, before);
    const auto groups = WaitsByOperation(run.fault);
    EXPECT_FALSE(groups.empty());
    std::uint64_t longest = 0;
    for (const auto& waits : groups) {
      for (std::size_t i = 1; i < waits.size(); ++i) EXPECT_GT(waits[i], waits[i - 1]);
      longest = std::max<std::uint64_t>(longest, std::accumulate(waits.begin(), waits.end(), 0ull));
    }
    if (c.heldForGood) {
      EXPECT_GE(longest, 10'000u);
      EXPECT_LE(longest, 60'000u);
    }
  }
}

TEST(UnderWindows, ACurrentFolderInsideTheAddinDoesNotBlockTheSwap) {
  test::Installation install;
  ModelledRun run(ModelOptions().PinningFolders().StartedIn(install.addin + u"\\de"));
  ASSERT_EQ(test::RunApp(run.fault).exitCode, 0);
  install.ExpectPatched();
}

TEST(UnderWindows, ADanglingLinkAtTheCopyNameIsLeftAndTheNextNameUsed) {
  test::Installation install;
  const String taken = install.Folders().Copy();
  fs::create_symlink(test::FsPath(install.root() + u"\\gone"), test::FsPath(taken));
  ModelledRun run(ModelOptions().MergingRenames().PinningFolders());
  ASSERT_EQ(test::RunApp(run.fault).exitCode, 0);
  install.ExpectPatched();
  EXPECT_TRUE(fs::is_symlink(test::FsPath(taken)));
  const String numbered = install.Folders().Copy(0);
  EXPECT_TRUE(std::any_of(run.fault.Trace().begin(), run.fault.Trace().end(), [&](auto& call) {
    return call.op == Op::ShellCopy && call.path.ends_with(u" -> " + numbered);
  }));
}

}  // namespace
}  // namespace orv
