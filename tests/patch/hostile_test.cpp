// Hostile and odd input for the whole run against real folders: registry
// values, paths at every length limit, symbolic links, permissions, and files
// that are no programs. Every case ends with its notice and exit code, the old
// add-in whole or the new one complete, and nothing outside it touched.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>

#include "tests/patch/installation.h"
#include "tests/support/runs.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::FaultPlatform;
using test::Installation;
using test::Op;
using test::V;
using Names = std::vector<std::string>;

constexpr auto kSucceeded = PatchOutcome::Succeeded;
constexpr auto kNotNeeded = PatchOutcome::NotNeeded;
constexpr auto kFailed = PatchOutcome::Failed;
constexpr auto kTooOld = PatchOutcome::HostTooOld;

// One run through the application object: the exit code and the one notice
// must both be the outcome's.
void ExpectRun(FaultPlatform& fault, PatchOutcome outcome) {
  const test::AppRun run = test::RunApp(fault);
  EXPECT_EQ(run.exitCode, ExitCodeFor(outcome));
  test::ExpectShown(run.notices, outcome);
}

// After a success the new add-in is complete and a second run finds it so;
// after anything else the old add-in is as it was and nothing lies beside it.
void ExpectAftermath(const Installation& install, PatchOutcome outcome, const std::string& before) {
  install.ExpectPatchedOrUnchanged(outcome == kSucceeded, before);
  if (outcome == kSucceeded) {
    FaultPlatform second(SystemPlatform());
    ExpectRun(second, kNotNeeded);
  }
  install.ExpectNoWorkFolders();
}

// A path of exactly length UTF-16 units: base and ASCII components short
// enough for any file system.
String PathOfLength(String path, std::size_t length) {
  EXPECT_LE(path.size() + 2, length);
  while (path.size() < length) {
    const std::size_t rest = length - path.size();
    path += u"\\" + String(rest > 200 ? 150 : rest - 1, u'd');
  }
  return path;
}

class ScopedDirectory {
 public:
  explicit ScopedDirectory(const String& to) : old_(fs::current_path()) {
    fs::current_path(test::FsPath(to));
  }
  ~ScopedDirectory() { fs::current_path(old_); }
  ScopedDirectory(const ScopedDirectory&) = delete;
  ScopedDirectory& operator=(const ScopedDirectory&) = delete;

 private:
  fs::path old_;
};

// Files in a program's place that carry no readable version.
enum class Odd { Folder, Empty, Truncated, HeaderOnly, Fifo, DanglingLink, Missing };

void MakeOdd(const String& path, Odd kind) {
  const fs::path native = test::FsPath(path);
  if (kind == Odd::Truncated || kind == Odd::HeaderOnly) {
    fs::resize_file(native, kind == Odd::Truncated ? fs::file_size(native) / 2 : 64);
    return;
  }
  fs::remove(native);
  if (kind == Odd::Folder) fs::create_directory(native);
  if (kind == Odd::Empty) test::WriteBytes(path, "");
  if (kind == Odd::Fifo) {
    ASSERT_EQ(::mkfifo(native.c_str(), 0644), 0);
  }
  if (kind == Odd::DanglingLink) fs::create_symlink(native.string() + ".gone", native);
}

const char* Name(Odd kind) {
  static const char* const names[] = {"folder", "empty",         "truncated", "header only",
                                      "FIFO",   "dangling link", "missing"};
  return names[static_cast<int>(kind)];
}

TEST(Hostile, RegistryPathValues) {
  using Value = std::function<std::string(Installation&)>;
  const Value relative = [](Installation&) { return std::string("Program Files\\Orvanto"); };
  const struct {
    const char* label;
    Value value;
    bool fromRoot;  // run with the installation's root as the current directory
    PatchOutcome outcome;
  } cases[] = {
      {"relative, from the folder it is relative to", relative, true, kSucceeded},
      {"relative, from elsewhere", relative, false, kNotNeeded},
      {"two trailing backslashes", [](Installation& i) { return ToUtf8(i.host) + "\\\\"; }, false,
       kSucceeded},
      {"dot segments", [](Installation& i) { return ToUtf8(i.host) + "\\..\\Orvanto"; }, false,
       kSucceeded},
      {"spaces and non-ASCII",
       [](Installation& i) {
         i.MoveHost(i.root() + u"\\Pr\u00F6gram F\u00EFles\\\u00D8rvanto \u6771\u4EAC \U0001D11E");
         return ToUtf8(i.host);
       },
       false, kSucceeded},
      // Written as a search list: the folder it names is the host's.
      {"quoted", [](Installation& i) { return "\"" + ToUtf8(i.host) + "\""; }, false, kSucceeded},
      {"a trailing semicolon", [](Installation& i) { return ToUtf8(i.host) + ";"; }, false,
       kSucceeded},
      {"quoted, with a trailing semicolon",
       [](Installation& i) { return "\"" + ToUtf8(i.host) + "\";"; }, false, kSucceeded},
      {"a list of folders", [](Installation& i) { return ToUtf8(i.host + u";" + i.temp); }, false,
       kSucceeded},
      {"a list whose first entry is no folder",
       [](Installation& i) { return ToUtf8(i.temp + u"\\gone;" + i.host); }, false, kNotNeeded},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Installation install;
    install.SetRegistryPath(c.value(install));
    const std::string before = install.Snapshot();
    const ScopedDirectory cwd(c.fromRoot ? install.root() : install.temp);
    FaultPlatform fault(SystemPlatform());
    ExpectRun(fault, c.outcome);
    ExpectAftermath(install, c.outcome, before);
  }
}

TEST(Hostile, HostPathLengthLimits) {
  // H is the host folder's length in UTF-16 units, the add-in folder's is
  // H + 9. The deepest file of the new folder (the copy folder's name and
  // "\zh-CHS\Pellmark35.resources.dll", 45 more) fits 259 up to H = 214
  // (add-in 223); with the copy folder's plain name already taken the new
  // folder takes a numbered name four units longer, up to H = 210 (add-in
  // 219). In the old folder (41 more) it fits up to 218; the launcher path
  // (14 more) up to 245; the registry's 520 bytes hold 259 units and the NUL.
  const struct {
    std::size_t length;
    const char16_t* base;  // below the installation's root
    FileVersion4 launcher;
    bool copyNameTaken;  // someone else's file bears the copy folder's name
    PatchOutcome outcome;
  } cases[] = {
      {214, u"\\host", V(4, 1, 52, 1), false, kSucceeded},
      {214, u"\\h\u00F6st \U0001D11E\u6771", V(4, 1, 52, 1), false, kSucceeded},  // units
      {215, u"\\host", V(4, 1, 52, 1), false, kFailed},  // refused before the copy
      {210, u"\\host", V(4, 1, 52, 1), true, kSucceeded},
      {211, u"\\host", V(4, 1, 52, 1), true, kFailed},
      {214, u"\\host", V(4, 1, 52, 1), true, kFailed},
      {218, u"\\host", V(4, 1, 52, 1), false, kFailed},
      {219, u"\\host", V(4, 1, 52, 1), false, kFailed},  // refused before anything is made
      {245, u"\\host", V(4, 1, 52, 0), false, kTooOld},  // the launcher is read
      {246, u"\\host", V(4, 1, 52, 0), false, kFailed},  // it cannot be named
      {259, u"\\host", V(4, 1, 52, 1), false, kFailed},
      {260, u"\\host", V(4, 1, 52, 1), false, kNotNeeded},  // the value does not fit: no host
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "host of " << c.length << " units under " << ToUtf8(c.base)
                                    << (c.copyNameTaken ? ", copy name taken" : ""));
    Installation install;
    install.MoveHost(PathOfLength(install.root() + c.base, c.length));
    ASSERT_EQ(install.host.size(), c.length);
    install.WriteLauncher(c.launcher);
    const String taken = install.Folders().Copy();
    if (c.copyNameTaken) test::WriteBytes(taken, "someone else's");
    const std::string before = install.Snapshot();
    FaultPlatform fault(SystemPlatform());
    ExpectRun(fault, c.outcome);
    EXPECT_EQ(fault.Calls(Op::ReadFileVersion) > 0, c.length <= 245);
    if (c.copyNameTaken) {
      EXPECT_EQ(test::ReadBytes(taken), "someone else's");
      fs::remove(test::FsPath(taken));
    }
    ExpectAftermath(install, c.outcome, before);
  }
}

TEST(Hostile, TemporaryFolderLengthLimits) {
  // T is the temporary folder's length with its separator. Every staged
  // file's path fits 259 up to T = 217 (the deepest is 42 more); the staging
  // name (10 more) fits the shell's 258 up to T = 248.
  const struct {
    std::size_t length;
    PatchOutcome outcome;
    int foldersMade;  // 1 staging + 11 culture folders when all is written
    int filesOpened;  // the 25 payload files, and the journal once they are staged
  } cases[] = {
      {217, kSucceeded, 12, 26},
      {218, kFailed, 10, 18},  // entry 18 is the first under "zh-CHS"
      {248, kFailed, 1, 0},    // made, then no entry fits under it
      {249, kFailed, 0, 0},    // refused before anything is made
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "temporary folder of " << c.length << " units");
    Installation install;
    const String temp = PathOfLength(install.root() + u"\\t", c.length - 1);
    test::MakeFolders(temp);
    test::ScopedEnv tmpdir("TMPDIR", test::FsPath(temp).string());
    const std::string before = install.Snapshot();
    FaultPlatform fault(SystemPlatform());
    ExpectRun(fault, c.outcome);
    EXPECT_EQ(fault.Calls(Op::MakePrivateFolder) + fault.Calls(Op::MakeFolder), c.foldersMade);
    EXPECT_EQ(fault.Calls(Op::OpenFileForWrite), c.filesOpened);
    EXPECT_FALSE(test::Exists(WorkFolders(install.host, temp + u"\\").Staging()));
    ExpectAftermath(install, c.outcome, before);
  }
}

TEST(Hostile, SymbolicLinks) {
  using Setup = std::function<void(Installation&, const String& outside)>;
  const auto linkTo = [](const String& target, const String& link) {
    fs::create_symlink(test::FsPath(target), test::FsPath(link));
  };
  const auto moveOut = [linkTo](const String& from, const String& to) {
    fs::rename(test::FsPath(from), test::FsPath(to));
    linkTo(to, from);
  };
  const struct {
    const char* label;
    PatchOutcome outcome;  // the run's own outcome; a failed move-in always fails
    bool besideStays;      // a foreign link bearing a work folder's name, which stays
    bool stagingNameStays;
    Setup setup;
  } cases[] = {
      {"the add-in folder is a link", kSucceeded, false, false,
       [&](Installation& i, const String& o) { moveOut(i.addin, o + u"\\real"); }},
      {"links inside the add-in point outside", kSucceeded, false, false,
       [&](Installation& i, const String& o) {
         linkTo(o + u"\\data", i.addin + u"\\shared");
         linkTo(o + u"\\data\\keep.txt", i.addin + u"\\notes.txt");
       }},
      {"a culture folder is a link", kSucceeded, false, false,
       [&](Installation& i, const String& o) { moveOut(i.addin + u"\\de", o + u"\\de"); }},
      {"a library is a link", kSucceeded, false, false,
       [&](Installation& i, const String& o) { moveOut(i.Library(0), o + u"\\lib.dll"); }},
      // Never followed nor removed: the run stages under a fresh name.
      {"the staging name is a link to a folder", kSucceeded, false, true,
       [&](Installation& i, const String& o) { linkTo(o + u"\\data", i.Staging()); }},
      {"the staging name is a dangling link", kSucceeded, false, true,
       [&](Installation& i, const String& o) { linkTo(o + u"\\gone", i.Staging()); }},
      {"the replacement name is a link to a folder", kSucceeded, true, false,
       [&](Installation& i, const String& o) { linkTo(o + u"\\data", i.Folders().Copy()); }},
      {"the replacement name is a dangling link", kSucceeded, true, false,
       [&](Installation& i, const String& o) { linkTo(o + u"\\gone", i.Folders().Copy()); }},
      {"the backup name is a link to a folder", kFailed, true, false,
       [&](Installation& i, const String& o) { linkTo(o + u"\\data", i.Folders().Backup()); }},
  };
  for (const auto& c : cases) {
    for (const bool moveInFails : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.label << (moveInFails ? ", move-in failing" : ""));
      Installation install;
      test::TempDir outsideDir;
      const String outside = outsideDir.path();
      test::MakeFolders(outside + u"\\data");
      test::WriteBytes(outside + u"\\data\\keep.txt", "someone else's");
      c.setup(install, outside);
      const std::string before = install.Snapshot();
      const Names beside = install.HostEntries();
      const bool addinIsLink = fs::is_symlink(test::FsPath(install.addin));
      const std::string outsideBefore = test::DescribeTree(outside);
      FaultPlatform fault(SystemPlatform());
      if (moveInFails) fault.Fail(Op::ShellRename, 2, manifest::kAttempts);
      const PatchOutcome outcome = moveInFails ? kFailed : c.outcome;
      ExpectRun(fault, outcome);
      install.ExpectPatchedOrUnchanged(outcome == kSucceeded, before);
      EXPECT_EQ(fs::is_symlink(test::FsPath(install.addin)), outcome != kSucceeded && addinIsLink);
      EXPECT_EQ(test::DescribeTree(outside), outsideBefore);
      EXPECT_EQ(install.HostEntries(), beside);
      EXPECT_EQ(beside.size(), c.besideStays ? 3u : 2u);
      EXPECT_EQ(fs::is_symlink(test::FsPath(install.Staging())), c.stagingNameStays);
      EXPECT_FALSE(test::Exists(install.Folders().Staging(0)));
    }
  }
}

// Another account on the machine, racing the run: from before it starts
// until it ends, it tries to create or replace each payload file (and the
// culture folders) in the staging and copy folders, through a world-writable
// temporary folder and with a umask that takes nothing away. Every name it
// got is counted.
class RacingUser {
 public:
  RacingUser(std::vector<std::string> targets, std::string spare)
      : targets_(std::move(targets)), spare_(std::move(spare)) {}

  void Start() {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(stop_), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(stop_[1]);
      if (!test::DropToOrdinaryUser()) _exit(255);
      _exit(::write(ready[1], "r", 1) == 1 ? Race() : 255);
    }
    ::close(ready[1]);
    ::close(stop_[0]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
  }

  // The number of names it got into the run's folders.
  int Stop() {
    ::close(stop_[1]);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
  }

 private:
  bool Stopped() const {
    char byte;
    return ::read(stop_[0], &byte, 1) == 0;
  }

  int Race() const {
    ::fcntl(stop_[0], F_SETFL, O_NONBLOCK);
    ::umask(0);
    int got = 0;
    while (!Stopped() && got < 200) {
      for (const std::string& target : targets_) {
        const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW, 0666);
        if (fd >= 0) {
          ++got;
          [[maybe_unused]] const ssize_t wrote = ::write(fd, "planted", 7);
          ::close(fd);
        }
        if (::mkdir(target.c_str(), 0777) == 0) ++got;
        // A file of its own put in place by a rename.
        const int spare = ::open(spare_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (spare >= 0) ::close(spare);
        if (::rename(spare_.c_str(), target.c_str()) == 0) ++got;
      }
    }
    return got;
  }

  std::vector<std::string> targets_;
  std::string spare_;
  int stop_[2] = {-1, -1};
  pid_t pid_ = -1;
};

TEST(Hostile, AnotherAccountRacingTheRunGetsNothingIn) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another account";
  Installation install;
  // The temporary folder as /tmp is: every account may create in it.
  for (fs::path p = test::FsPath(install.temp); p != fs::path(test::FsPath(install.root()));
       p = p.parent_path()) {
    fs::permissions(p, fs::perms::others_exec, fs::perm_options::add);
  }
  fs::permissions(test::FsPath(install.root()), fs::perms::others_exec, fs::perm_options::add);
  fs::permissions(test::FsPath(install.temp), fs::perms::all | fs::perms::sticky_bit,
                  fs::perm_options::replace);

  std::vector<std::string> targets;
  for (const String& folder : {install.Staging(), install.Folders().Copy()}) {
    for (const auto& e : fs::recursive_directory_iterator(test::FsPath(install.addin))) {
      const fs::path relative = fs::relative(e.path(), test::FsPath(install.addin));
      targets.push_back((test::FsPath(folder) / relative).string());
    }
  }
  RacingUser user(targets, test::FsPath(install.temp + u"spare").string());
  const mode_t oldMask = ::umask(0);
  user.Start();
  FaultPlatform fault(SystemPlatform());
  ExpectRun(fault, kSucceeded);
  const int got = user.Stop();
  ::umask(oldMask);
  EXPECT_EQ(got, 0);
  install.ExpectPatched();
  install.ExpectNoWorkFolders();
  // Nor can it change the add-in afterwards.
  for (const auto& e : fs::recursive_directory_iterator(test::FsPath(install.addin))) {
    EXPECT_EQ(e.symlink_status().permissions() & fs::perms::others_write, fs::perms::none)
        << e.path();
  }
}

void SetMode(const String& path, fs::perms mode) {
  fs::permissions(test::FsPath(path), mode, fs::perm_options::replace);
}

TEST(Hostile, PermissionsOfAnOrdinaryUser) {
  constexpr fs::perms kReadOnlyFile = fs::perms::owner_read | fs::perms::group_read;
  constexpr fs::perms kClosedFolder = fs::perms::owner_read | fs::perms::owner_exec;
  const struct {
    const char* label;
    std::function<void(Installation&)> setup;
    PatchOutcome outcome;
    bool backupStays;  // its removal fails, which changes no outcome
  } cases[] = {
      {"read-only files in the add-in",
       [&](Installation& i) {
         for (const auto& e : fs::recursive_directory_iterator(test::FsPath(i.addin))) {
           if (e.is_regular_file()) SetMode(test::FromFs(e.path()), kReadOnlyFile);
         }
       },
       kSucceeded, false},
      {"an add-in folder that cannot be written",
       [&](Installation& i) { SetMode(i.addin, kClosedFolder); }, kFailed, false},
      {"a host folder that cannot be written",
       [&](Installation& i) { SetMode(i.host, kClosedFolder); }, kFailed, false},
      {"an installed file that cannot be read",
       [&](Installation& i) { SetMode(i.AddinFile(0), fs::perms::none); }, kFailed, false},
      {"a culture folder that cannot be written",
       [&](Installation& i) { SetMode(i.addin + u"\\de", kClosedFolder); }, kSucceeded, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Installation install;
    c.setup(install);
    const std::string before = install.Snapshot();
    test::GiveToOrdinaryUser(install.root());
    const test::ProcessRun run =
        test::RunProcess(ORVANTO_PROGRAM, {.loader = "", .ordinaryUser = true});
    EXPECT_EQ(run.output, test::Printed(c.outcome));
    EXPECT_EQ(run.exitCode, ExitCodeFor(c.outcome) & 0xFF);
    install.ExpectPatchedOrUnchanged(c.outcome == kSucceeded, before);
    EXPECT_EQ(test::Exists(install.Folders().Backup()), c.backupStays);
    EXPECT_FALSE(test::Exists(install.Folders().Copy()));
    EXPECT_FALSE(test::Exists(install.Staging()));
  }
}

TEST(Hostile, LauncherThatIsNoProgram) {
  for (const Odd kind : {Odd::Folder, Odd::Empty, Odd::Truncated, Odd::HeaderOnly, Odd::Fifo,
                         Odd::DanglingLink, Odd::Missing}) {
    SCOPED_TRACE(Name(kind));
    Installation install;
    MakeOdd(install.host + manifest::kLauncherName, kind);
    const std::string before = install.Snapshot();
    FaultPlatform fault(SystemPlatform());
    ExpectRun(fault, kFailed);
    EXPECT_EQ(fault.Calls(Op::ProbeFolderWritable), 0);
    EXPECT_EQ(install.Snapshot(), before);
    EXPECT_EQ(install.HostEntries(),
              (kind == Odd::Missing ? Names{"Pellmark"} : Names{"Pellmark", "Quenbrite.exe"}));
    EXPECT_FALSE(test::Exists(install.Staging()));
  }
}

TEST(Hostile, InstalledFileThatIsNoProgram) {
  // At entry 0 the scan meets it first; at entry 24 only after 24 current
  // files. Either way it has no version to compare: the run fails.
  for (const Odd kind :
       {Odd::Folder, Odd::Empty, Odd::Truncated, Odd::HeaderOnly, Odd::Fifo, Odd::DanglingLink}) {
    for (const int k : {0, manifest::kPayloadCount - 1}) {
      SCOPED_TRACE(testing::Message() << Name(kind) << " at entry " << k);
      Installation install;
      for (int j = 0; j < k; ++j) install.WriteAddinFile(j, V(1, 0, 1, 1));
      MakeOdd(install.AddinFile(k), kind);
      const std::string before = install.Snapshot();
      FaultPlatform fault(SystemPlatform());
      ExpectRun(fault, kFailed);
      EXPECT_EQ(fault.Calls(Op::ReadFileVersion), 1 + k + 1);
      EXPECT_EQ(fault.Calls(Op::MakePrivateFolder), 0);
      EXPECT_EQ(install.Snapshot(), before);
      install.ExpectNoWorkFolders();
    }
  }
}

}  // namespace
}  // namespace orv
