// Where a /log file may lie, decided by what the file system resolves: every
// name of the host's folder, of a folder below it and of the staging folder
// is refused, whatever its text; a log whose place cannot be told is refused
// too; a log file that is a link is never written through.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "app/command_line.h"
#include "tests/patch/installation.h"
#include "tests/support/runs.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::FaultPlatform;
using test::Installation;
using test::Op;

// The host's folder as the installation has it, with its last name in
// capitals: on a file system that tells letter cases apart, another folder.
String InCapitals(String path) {
  for (std::size_t at = path.find_last_of(u"\\/") + 1; at < path.size(); ++at) {
    if (path[at] >= u'a' && path[at] <= u'z') path[at] = static_cast<char16_t>(path[at] - 32);
  }
  return path;
}

void Link(const String& target, const String& link) {
  fs::create_symlink(test::FsPath(target), test::FsPath(link));
}

TEST(LogPlace, RefusedInTheHostOrStagingFolderByAnyNameAndWrittenElsewhere) {
  constexpr int kRefused = kExitInvalidCommandLine;
  constexpr int kNoLog = kExitLogFailure;
  const char16_t* const lies = u"a log cannot lie in";
  const char16_t* const untold = u"cannot be told";
  const char16_t* const unmade = u"The log file cannot be created";
  const char16_t* const patched = test::Pinned(PatchOutcome::Succeeded).text;
  using Setup = std::function<String(Installation&, const String& outside)>;
  const struct {
    const char* label;
    Setup setup;  // makes what the case needs; the log's path
    std::function<void(FaultPlatform&)> fault;
    int exitCode;
    const char16_t* says;  // in the one notice
  } cases[] = {
      {"the host folder", [](Installation& i, const String&) { return i.host + u"\\run.log"; },
       nullptr, kRefused, lies},
      {"the add-in folder", [](Installation& i, const String&) { return i.addin + u"\\run.log"; },
       nullptr, kRefused, lies},
      {"a culture folder",
       [](Installation& i, const String&) { return i.addin + u"\\de\\run.log"; }, nullptr, kRefused,
       lies},
      {"a backup folder",
       [](Installation& i, const String&) {
         test::MakeFolders(i.Folders().Backup());
         return i.Folders().Backup() + u"\\run.log";
       },
       nullptr, kRefused, lies},
      {"a numbered copy folder",
       [](Installation& i, const String&) {
         test::MakeFolders(i.Folders().Copy(1));
         return i.Folders().Copy(1) + u"\\run.log";
       },
       nullptr, kRefused, lies},
      {"the journal's name", [](Installation& i, const String&) { return i.Folders().Journal(); },
       nullptr, kRefused, lies},
      {"the launcher's name",
       [](Installation& i, const String&) { return i.host + manifest::kLauncherName; }, nullptr,
       kRefused, lies},
      {"the staging folder",
       [](Installation& i, const String&) {
         test::MakeFolders(i.Staging());
         return i.Staging() + u"\\run.log";
       },
       nullptr, kRefused, lies},
      {"a link to the add-in folder",
       [](Installation& i, const String& o) {
         Link(i.addin, o + u"\\addin");
         return o + u"\\addin\\run.log";
       },
       nullptr, kRefused, lies},
      {"a link to the host folder, then a culture folder",
       [](Installation& i, const String& o) {
         Link(i.host, o + u"\\host");
         return o + u"\\host\\Pellmark\\de\\run.log";
       },
       nullptr, kRefused, lies},
      {"the add-in folder, the registry value ending in a separator",
       [](Installation& i, const String&) {
         i.SetRegistryPath(ToUtf8(i.host) + "\\");
         return i.addin + u"\\run.log";
       },
       nullptr, kRefused, lies},
      {"an add-in folder that is a link, in what it leads to",
       [](Installation& i, const String& o) {
         fs::rename(test::FsPath(i.addin), test::FsPath(o + u"\\real"));
         Link(o + u"\\real", i.addin);
         return o + u"\\real\\run.log";
       },
       nullptr, kRefused, lies},
      {"the chain of folders cannot be read",
       [](Installation&, const String& o) { return o + u"\\run.log"; },
       [](FaultPlatform& f) { f.Fail(Op::ReadFolderChain, 1); }, kRefused, untold},
      {"the host folder's identity cannot be read",
       [](Installation&, const String& o) { return o + u"\\run.log"; },
       [](FaultPlatform& f) { f.Fail(Op::ReadIdentity, 1); }, kRefused, untold},
      {"the staging folder's identity cannot be read",
       [](Installation& i, const String& o) {
         test::MakeFolders(i.Staging());
         return o + u"\\run.log";
       },
       [](FaultPlatform& f) { f.Fail(Op::ReadIdentity, 3); }, kRefused, untold},
      {"no folder to make it in",
       [](Installation& i, const String&) { return i.root() + u"\\no\\run.log"; }, nullptr, kNoLog,
       unmade},
      {"a backup folder that is not there",
       [](Installation& i, const String&) { return i.Folders().Backup() + u"\\run.log"; }, nullptr,
       kNoLog, unmade},
      {"a link to a file elsewhere",
       [](Installation&, const String& o) {
         test::WriteBytes(o + u"\\victim.txt", "untouched");
         Link(o + u"\\victim.txt", o + u"\\run.log");
         return o + u"\\run.log";
       },
       nullptr, kNoLog, unmade},
      {"a second name of a file elsewhere",
       [](Installation&, const String& o) {
         test::WriteBytes(o + u"\\victim.txt", "untouched");
         fs::create_hard_link(test::FsPath(o + u"\\victim.txt"), test::FsPath(o + u"\\run.log"));
         return o + u"\\run.log";
       },
       nullptr, kNoLog, unmade},
      // Written: an ordinary folder; a folder beside the host's whose name
      // differs only in letter case, which on this file system is another
      // folder; the host's folder when no host is installed.
      {"an ordinary folder", [](Installation&, const String& o) { return o + u"\\run.log"; },
       nullptr, 0, patched},
      {"the host folder's name in capitals, another folder here",
       [](Installation& i, const String&) {
         const String other = InCapitals(i.host) + manifest::kAddinName;
         test::MakeFolders(other);
         return other + u"\\run.log";
       },
       nullptr, 0, patched},
      {"the host folder, no host installed",
       [](Installation& i, const String&) {
         i.RemoveRegistryPath();
         return i.addin + u"\\run.log";
       },
       nullptr, 0, test::Pinned(PatchOutcome::NotNeeded).text},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Installation install;
    test::TempDir outside;
    const String log = c.setup(install, outside.path());
    const std::string before = install.Snapshot();
    const std::vector<std::string> hostBefore = install.HostEntries();
    const std::string launcher = test::ReadBytes(install.host + manifest::kLauncherName);
    const bool logWasThere = test::Exists(log);
    const std::string logBefore = logWasThere ? test::ReadBytes(log) : "";
    // A refused log refuses the same with /quiet, without the notice.
    for (const bool quiet : {false, true}) {
      if (quiet && c.exitCode == 0) break;
      SCOPED_TRACE(quiet ? "quiet" : "with the notice");
      FaultPlatform fault(SystemPlatform());
      if (c.fault) c.fault(fault);
      const test::AppRun run = test::RunApp(fault, quiet ? std::vector<String>{u"/log", log, u"/qn"}
                                                         : std::vector<String>{u"/log", log});
      EXPECT_EQ(run.exitCode, c.exitCode);
      ASSERT_EQ(run.notices.size(), quiet ? 0u : 1u);
      if (!quiet) {
        EXPECT_NE(run.notices[0].text.find(c.says), String::npos) << ToUtf8(run.notices[0].text);
      }
      if (c.exitCode != 0) {
        EXPECT_EQ(install.Snapshot(), before);
        EXPECT_EQ(install.HostEntries(), hostBefore);
        EXPECT_EQ(test::ReadBytes(install.host + manifest::kLauncherName), launcher);
        EXPECT_EQ(fault.Calls(Op::OpenFileForWrite), c.exitCode == kNoLog ? 1 : 0);
        EXPECT_EQ(test::Exists(log), logWasThere);
        if (logWasThere) {
          EXPECT_EQ(test::ReadBytes(log), logBefore);
        }
      } else {
        if (c.says == patched) install.ExpectPatched();
        EXPECT_NE(test::ReadBytes(log).find("exit code 0"), std::string::npos);
      }
    }
  }
}

// A current folder too deep for its full path to be formed: a relative log
// in it has no place that can be told, and the run is refused rather than
// letting the log lie wherever that is.
TEST(LogPlace, RefusedWhenTheCurrentFolderIsTooDeepToName) {
  Installation install;
  const std::string before = install.Snapshot();
  const fs::path start = fs::current_path();
  const std::string level(200, 'd');
  ASSERT_EQ(::chdir(test::FsPath(install.root()).c_str()), 0);
  int depth = 0;
  for (; depth < 25; ++depth) {
    if (::mkdir(level.c_str(), 0700) != 0 || ::chdir(level.c_str()) != 0) break;
  }
  ASSERT_EQ(depth, 25);  // some 5000 characters, past the 4096 the full path may have
  FaultPlatform fault(SystemPlatform());
  const test::AppRun run = test::RunApp(fault, {u"/log", u"run.log"});
  const bool logMade = ::access("run.log", F_OK) == 0;
  ::unlink("run.log");
  for (; depth > 0; --depth) {
    EXPECT_EQ(::chdir(".."), 0);
    EXPECT_EQ(::rmdir(level.c_str()), 0);
  }
  fs::current_path(start);
  EXPECT_EQ(run.exitCode, kExitInvalidCommandLine);
  EXPECT_FALSE(logMade);
  ASSERT_EQ(run.notices.size(), 1u);
  EXPECT_NE(run.notices[0].text.find(u"cannot be told"), String::npos);
  EXPECT_EQ(install.Snapshot(), before);
  install.ExpectNoWorkFolders();
}

}  // namespace
}  // namespace orv
