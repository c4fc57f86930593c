// A run after one that was cut short: the add-in moved back from its backup,
// the work folders its journal names removed, and nothing else touched.
#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

#include "patch/journal.h"
#include "tests/patch/installation.h"
#include "tests/support/runs.h"

namespace orv {
namespace {

using test::FaultPlatform;
using test::Installation;

TEST(Journal, OnlyAWholeWellFormedJournalIsRead) {
  const WorkFolders folders(u"C:\\O", u"/tmp/");
  const Journal full{folders.Staging(), folders.Copy(3), folders.Backup()};
  const std::string text = JournalText(full);
  const std::optional<Journal> back = ParseJournal(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->staging, full.staging);
  EXPECT_EQ(back->copy, full.copy);
  EXPECT_EQ(back->backup, full.backup);
  EXPECT_TRUE(ParseJournal(JournalText({u"s", u"c", u""})));  // no backup named

  const std::string header = "WinOrvantoPatch1 journal 1\n";
  const struct {
    std::string text;
    const char* why;
  } damaged[] = {
      {"", "empty"},
      {text.substr(0, text.size() - 1), "cut before its last line end"},
      {text.substr(0, text.size() - 4), "no end line"},
      {"WinOrvantoPatch1 journal 2\nend\n", "another format"},
      {header + "copy\tx\ncopy\ty\nend\n", "a name twice"},
      {header + "folder\tx\nend\n", "an unknown key"},
      {header + "copy\t\nend\n", "an empty value"},
      {header + "copy x\nend\n", "no tab"},
      {text + "copy\tx\n", "more after the end"},
  };
  for (const auto& d : damaged) EXPECT_FALSE(ParseJournal(d.text)) << d.why;
}

TEST(Journal, NamesNothingButThisInstallationsWorkFolders) {
  const WorkFolders folders(u"C:\\O", u"C:\\T\\");
  const String& staging = folders.Staging();
  const struct {
    String copy;
    bool kept;
  } copies[] = {
      {folders.Copy(), true},
      {folders.Copy(0), true},
      {folders.Copy(9999), true},
      {folders.Copy() + u"10000", false},
      {folders.Copy() + u"12a4", false},
      {folders.Addin(), false},
      {folders.Copy() + u"\\..\\..", false},
      {u"C:\\Windows", false},
      {WorkFolders(u"D:\\O", u"").Copy(), false},
  };
  for (const auto& c : copies) {
    const Journal ours = OnlyWorkFolders({staging, c.copy, u""}, folders);
    EXPECT_EQ(ours.copy.empty(), !c.kept) << ToUtf8(c.copy);
  }
  const Journal other = OnlyWorkFolders(
      {WorkFolders(u"", u"C:\\Other\\").Staging(), u"", folders.Backup() + u"\\x"}, folders);
  EXPECT_TRUE(other.staging.empty());
  EXPECT_TRUE(other.backup.empty());
  EXPECT_TRUE(OnlyWorkFolders({staging, u"", u""}, WorkFolders(u"C:\\O", u"")).staging.empty());
  EXPECT_EQ(OnlyWorkFolders({u"", u"", folders.Backup()}, folders).backup, folders.Backup());
}

// States a run cut short leaves, each with what the next run must make of
// it: the new add-in in place and no work folder left, unless a folder was
// not shown to be a run's own.
TEST(Recovery, NextRunRepairsWhatACutShortRunLeft) {
  enum Left { kBackupOnly = 1, kCopy = 2, kStaging = 4, kJournal = 8, kAddinToo = 16 };
  const struct {
    int left;
    const char* what;
    PatchOutcome outcome;
  } cases[] = {
      {kBackupOnly, "between the renames, no journal", PatchOutcome::Succeeded},
      {kBackupOnly | kCopy | kStaging | kJournal, "between the renames", PatchOutcome::Succeeded},
      {kAddinToo | kBackupOnly | kStaging | kJournal, "before the old folder was removed",
       PatchOutcome::Succeeded},
      {kAddinToo | kCopy | kJournal, "after the copy", PatchOutcome::Succeeded},
      // Not shown to be a run's own: kept, and in the way as before.
      {kAddinToo | kBackupOnly, "someone's own backup folder", PatchOutcome::Failed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Installation install;
    const String backup = install.Folders().Backup();
    const String copy = install.Folders().Copy();
    if (c.left & kAddinToo) {
      test::MakeFolders(backup);
      test::WriteBytes(backup + u"\\old.dll", "old");
    } else {
      std::filesystem::rename(test::FsPath(install.addin), test::FsPath(backup));
    }
    for (const auto& [flag, folder] : {std::pair{kCopy, copy}, {kStaging, install.Staging()}}) {
      if (!(c.left & flag)) continue;
      test::MakeFolders(folder);
      test::WriteBytes(folder + u"\\part", "p");
    }
    if (c.left & kJournal) {
      test::WriteBytes(install.Folders().Journal(), JournalText({install.Staging(), copy, backup}));
    }
    const std::string old = install.Snapshot();
    FaultPlatform fault(SystemPlatform());
    EXPECT_EQ(test::RunPatchShown(fault.platform()), c.outcome);
    install.ExpectPatchedOrUnchanged(c.outcome == PatchOutcome::Succeeded, old);
    EXPECT_EQ(test::Exists(backup), c.outcome == PatchOutcome::Failed);
    EXPECT_FALSE(test::Exists(copy));
    EXPECT_FALSE(test::Exists(install.Staging()));
    EXPECT_FALSE(test::Exists(install.Folders().Journal()));
  }
}

// A journal that is damaged, or names folders that are not a run's own,
// changes nothing: those folders stay, and the run patches as always.
TEST(Recovery, JournalOfNoUseChangesNothing) {
  for (const bool cutShort : {true, false}) {
    Installation install;
    const String elsewhere = install.root() + u"\\precious";
    const String numbered = install.Folders().Copy(1) + u"x";
    for (const String& folder : {elsewhere, numbered}) {
      test::MakeFolders(folder);
      test::WriteBytes(folder + u"\\keep", "k");
    }
    test::WriteBytes(install.Folders().Journal(),
                     cutShort ? "WinOrvantoPatch1 journal 1\ncopy\t"
                              : JournalText({elsewhere, numbered, elsewhere}));
    FaultPlatform fault(SystemPlatform());
    EXPECT_EQ(test::RunPatchShown(fault.platform()), PatchOutcome::Succeeded);
    install.ExpectPatched();
    EXPECT_EQ(test::ReadBytes(elsewhere + u"\\keep"), "k");
    EXPECT_EQ(test::ReadBytes(numbered + u"\\keep"), "k");
    EXPECT_FALSE(test::Exists(install.Folders().Journal()));
  }
}

// A numbered staging folder that the journal names goes as the plain one
// does, but only while this account owns it: the temporary folder may be
// open to every account.
TEST(Recovery, NumberedStagingFolderGoesOnlyWhenItIsThisAccounts) {
  for (const bool ours : {true, false}) {
    SCOPED_TRACE(ours ? "ours" : "owner unreadable");
    Installation install;
    // Named as the run names it, from the platform's temporary folder.
    PathBuffer temp;
    ASSERT_TRUE(SystemPlatform().TempFolder(SystemPlatform(), temp));
    const String numbered = WorkFolders(u"", temp.view()).Staging(7);
    test::MakeFolders(numbered);
    test::WriteBytes(numbered + u"\\part", "p");
    test::WriteBytes(install.Folders().Journal(), JournalText({numbered, u"", u""}));
    FaultPlatform fault(SystemPlatform());
    if (!ours) fault.Fail(test::Op::ReadOwner, 1);
    EXPECT_EQ(test::RunPatchShown(fault.platform()), PatchOutcome::Succeeded);
    install.ExpectPatched();
    EXPECT_EQ(test::Exists(numbered), !ours);
  }
}

TEST(Recovery, TheLogSaysWhatWasRepaired) {
  Installation install;
  std::filesystem::rename(test::FsPath(install.addin), test::FsPath(install.Folders().Backup()));
  test::TempDir logs;
  FaultPlatform fault(SystemPlatform());
  RunLog log;
  ASSERT_TRUE(log.Open(fault.platform(), (logs / u"run.log").c_str()));
  EXPECT_EQ(test::RunPatchShown(fault.platform(), &log), PatchOutcome::Succeeded);
  log.Close();
  const std::string text = test::ReadBytes(logs / u"run.log");
  EXPECT_NE(text.find("an earlier run was cut short between its two renames"), std::string::npos);
  EXPECT_NE(text.find("the old add-in folder is back in place"), std::string::npos);
}

}  // namespace
}  // namespace orv
