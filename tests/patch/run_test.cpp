// The whole run against real folders through the POSIX backend, with faults
// injected where the real world would have to misbehave.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <iostream>

#include "patch/assessment.h"
#include "patch/run.h"
#include "tests/patch/installation.h"
#include "tests/support/runs.h"

namespace orv {
namespace {

using test::FaultPlatform;
using test::Installation;
using test::Op;
using test::V;

class Run : public ::testing::Test {
 protected:
  PatchOutcome RunOnce() {
    const PatchOutcome outcome = RunPatch(fault.platform());
    // The run itself shows nothing: the application shows its outcome.
    EXPECT_TRUE(fault.Notices().empty());
    return outcome;
  }
  // The calls of the run so far, for failure messages.
  std::string Calls() const {
    std::string out;
    for (const test::Call& call : fault.Trace()) out += std::string(test::Name(call.op)) + " ";
    return out;
  }
  // The run ended as expected with the add-in folder as it was.
  void ExpectUntouched(PatchOutcome outcome, const std::string& before) {
    EXPECT_EQ(RunOnce(), outcome);
    EXPECT_EQ(install.Snapshot(), before);
    install.ExpectNoWorkFolders();
  }

  Installation install;
  FaultPlatform fault{SystemPlatform()};
};

TEST_F(Run, PatchesThenFindsNothingToDo) {
  EXPECT_EQ(RunOnce(), PatchOutcome::Succeeded) << Calls();
  install.ExpectPatched();
  install.ExpectNoWorkFolders();

  FaultPlatform second(SystemPlatform());
  EXPECT_EQ(test::RunPatchShown(second.platform()), PatchOutcome::NotNeeded);
  test::ExpectShown(second.Notices(), PatchOutcome::NotNeeded);
  install.ExpectPatched();
}

// The program's texts, icons and exit codes against the ones the tests hold
// it to: every other test compares with those.
TEST(Outcome, MessagesIconsAndExitCodesAreThePinnedOnes) {
  EXPECT_EQ(String(manifest::kCaption), test::kPinnedCaption);
  const struct {
    PatchOutcome outcome;
    int exitCode;
  } cases[] = {{PatchOutcome::AlreadyRunning, 1618},
               {PatchOutcome::NotNeeded, 0},
               {PatchOutcome::HostTooOld, 1642},
               {PatchOutcome::Failed, 1603},
               {PatchOutcome::Succeeded, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(NameOf(c.outcome));
    const OutcomeMessage m = MessageFor(c.outcome);
    const test::PinnedMessage pinned = test::Pinned(c.outcome);
    EXPECT_EQ(m.text == nullptr, pinned.text == nullptr);
    if (m.text != nullptr && pinned.text != nullptr) {
      EXPECT_EQ(String(m.text), pinned.text);
      EXPECT_EQ(m.icon, pinned.icon);
    }
    EXPECT_EQ(ExitCodeFor(c.outcome), c.exitCode);
    FaultPlatform shown(SystemPlatform());
    ShowOutcome(shown.platform(), c.outcome);
    test::ExpectShown(shown.Notices(), c.outcome);
  }
}

// --- Eligibility ------------------------------------------------------------

TEST_F(Run, NoHostIsNotAnError) {
  const std::string before = install.Snapshot();
  install.RemoveRegistryPath();
  ExpectUntouched(PatchOutcome::NotNeeded, before);
}

TEST_F(Run, RegistryPathThatIsNoFolderMeansNoHost) {
  const std::string before = install.Snapshot();
  for (const std::string& path : {ToUtf8(install.host) + "/missing", std::string(),
                                  ToUtf8(install.host) + "/Quenbrite.exe"}) {
    install.SetRegistryPath(path);
    FaultPlatform run(SystemPlatform());
    EXPECT_EQ(test::RunPatchShown(run.platform()), PatchOutcome::NotNeeded) << path;
  }
  EXPECT_EQ(install.Snapshot(), before);
}

TEST_F(Run, RegistryPathWithTrailingBackslashesStillWorks) {
  install.SetRegistryPath(ToUtf8(install.host) + "\\");
  EXPECT_EQ(RunOnce(), PatchOutcome::Succeeded);
  install.ExpectPatched();
}

TEST_F(Run, RegistryValueFillingTheBufferWithoutNulIsNoHost) {
  // The POSIX registry always stores a NUL, so this one value is made up.
  Platform record = fault.platform();
  record.ReadRegistryValue = [](const Platform&, const char16_t*, RegistryValueRequest& request) {
    for (std::uint32_t i = 0; i < request.size; ++i) request.data[i] = 'a';
    return RegistryRead::Read;
  };
  const std::string before = install.Snapshot();
  EXPECT_EQ(test::RunPatchShown(record), PatchOutcome::NotNeeded);
  EXPECT_EQ(fault.Calls(Op::FolderExists), 0);
  EXPECT_EQ(install.Snapshot(), before);
}

// An expandable App Paths value names the host's folder once its variables
// are expanded; a plain one is taken as it stands. An expansion that does not
// fit a 260-character path means no host, and nothing is touched.
TEST_F(Run, ExpandableRegistryPathIsExpanded) {
  const String root = install.root();
  ASSERT_EQ(install.host.compare(0, root.size(), root), 0);
  const std::string below = ToUtf8(install.host.substr(root.size()));
  test::ScopedEnv longVariable("ORV_TEST_LONG", std::string(250, 'x'));
  const struct {
    std::string value;
    const char* type;  // the type file's content, or none
    PatchOutcome outcome;
  } cases[] = {
      {"%ORV_TEST_ROOT%" + below, "REG_EXPAND_SZ", PatchOutcome::Succeeded},
      {"%ORV_TEST_ROOT%" + below, "", PatchOutcome::NotNeeded},  // REG_SZ: no such folder
      {"%ORV_TEST_ROOT%" + below, "REG_SZ", PatchOutcome::NotNeeded},
      {"%ORV_TEST_LONG%" + below, "REG_EXPAND_SZ", PatchOutcome::NotNeeded},  // too long
      {ToUtf8(install.host), "REG_BINARY", PatchOutcome::NotNeeded},          // no type this holds
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value + " " + c.type);
    Installation fresh;
    test::ScopedEnv freshRoot("ORV_TEST_ROOT", ToUtf8(fresh.root()));
    fresh.SetRegistryPath(c.value);
    fresh.SetRegistryPathType(c.type);
    const std::string before = fresh.Snapshot();
    FaultPlatform run(SystemPlatform());
    EXPECT_EQ(test::RunPatchShown(run.platform()), c.outcome);
    fresh.ExpectPatchedOrUnchanged(c.outcome == PatchOutcome::Succeeded, before);
  }
}

TEST_F(Run, HostPathTooLongForTheJoinsFails) {
  // A real host folder whose launcher and add-in paths cannot fit 260
  // characters: refused, never cut short.
  String deep = install.temp + u"host";
  while (deep.size() < 250)
    deep += u"\\" + String(std::min<std::size_t>(40, 249 - deep.size()), u'd');
  test::MakeFolders(deep);
  ASSERT_TRUE(test::IsFolder(deep));
  install.SetRegistryPath(test::FsPath(deep).string());
  const std::string before = install.Snapshot();
  ExpectUntouched(PatchOutcome::Failed, before);
  EXPECT_EQ(fault.Calls(Op::ReadFileVersion), 0);
}

TEST_F(Run, HostVersionDecides) {
  const std::string before = install.Snapshot();
  const struct {
    FileVersion4 version;
    PatchOutcome outcome;
  } cases[] = {{V(4, 1, 52, 0), PatchOutcome::HostTooOld},
               {V(3, 9, 99, 99), PatchOutcome::HostTooOld},
               {V(4, 1, 52, 2), PatchOutcome::NotNeeded},
               {V(4, 2, 0, 0), PatchOutcome::NotNeeded}};
  for (const auto& c : cases) {
    install.WriteLauncher(c.version);
    FaultPlatform run(SystemPlatform());
    EXPECT_EQ(test::RunPatchShown(run.platform()), c.outcome) << ToText(c.version);
  }
  EXPECT_EQ(install.Snapshot(), before);
  EXPECT_EQ(ClassifyHostVersion(V(4, 1, 52, 1)), HostVersionClass::Matches);
}

TEST_F(Run, LauncherWithoutVersionFails) {
  const std::string before = install.Snapshot();
  pegen::PeImageSpec spec;
  spec.hasVersion = false;
  install.WriteLauncher(spec);
  ExpectUntouched(PatchOutcome::Failed, before);
  test::WriteBytes(install.host + manifest::kLauncherName, "MZ garbage");
  FaultPlatform again(SystemPlatform());
  EXPECT_EQ(test::RunPatchShown(again.platform()), PatchOutcome::Failed);
}

TEST_F(Run, AddinFolderMissingOrAFileFails) {
  std::filesystem::remove_all(test::FsPath(install.addin));
  FaultPlatform missing(SystemPlatform());
  EXPECT_EQ(test::RunPatchShown(missing.platform()), PatchOutcome::Failed);
  test::WriteBytes(install.addin, "a file in the folder's place");
  EXPECT_EQ(RunOnce(), PatchOutcome::Failed);
  EXPECT_EQ(test::ReadBytes(install.addin), "a file in the folder's place");
}

TEST_F(Run, UpToDateAddinIsLeftAlone) {
  for (int k = 0; k < manifest::kPayloadCount; ++k) {
    install.WriteAddinFile(k, k == 7 ? V(1, 0, 2, 0) : V(1, 0, 1, 1));  // newer counts too
  }
  const std::string before = install.Snapshot();
  ExpectUntouched(PatchOutcome::NotNeeded, before);
  EXPECT_EQ(fault.Calls(Op::ReadFileVersion), 1 + manifest::kPayloadCount);
}

TEST_F(Run, ScanStopsAtTheFirstMissingOrOlderFile) {
  for (int k = 0; k < manifest::kPayloadCount; ++k) install.WriteAddinFile(k, V(1, 0, 1, 1));
  std::filesystem::remove(test::FsPath(install.AddinFile(3)));
  test::WriteBytes(install.AddinFile(4), "no version here, but never looked at");
  EXPECT_EQ(RunOnce(), PatchOutcome::Succeeded);
  EXPECT_EQ(fault.Calls(Op::ReadFileVersion), 1 + 3);  // launcher and entries 0-2

  Installation older;
  for (int k = 0; k < manifest::kPayloadCount; ++k) older.WriteAddinFile(k, V(1, 0, 1, 1));
  older.WriteAddinFile(24, V(0, 9, 9, 9));
  FaultPlatform run(SystemPlatform());
  EXPECT_EQ(test::RunPatchShown(run.platform()), PatchOutcome::Succeeded);
  older.ExpectPatched();
}

// An existence check the volume does not answer (device not ready, network
// gone) is no "missing" and no "taken": the run fails where it asked, with
// nothing made beside the add-in and the staging folder gone.
TEST_F(Run, UnansweredExistenceCheckFails) {
  const struct {
    const char* where;
    int call;  // of FileExists: the scan's first file, the look for a
               // journal, then the copy name
    int foldersMade;
  } cases[] = {
      {"the scan of installed files", 1, 0},
      {"the copy name's check", 3, 12},  // after staging: 1 + 11 culture folders
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.where);
    Installation fresh;
    const std::string before = fresh.Snapshot();
    FaultPlatform run(SystemPlatform());
    run.Fail(Op::FileExists, c.call);
    EXPECT_EQ(test::RunPatchShown(run.platform()), PatchOutcome::Failed);
    EXPECT_EQ(run.Calls(Op::MakePrivateFolder) + run.Calls(Op::MakeFolder), c.foldersMade);
    EXPECT_EQ(run.Calls(Op::ShellCopy), 0);
    EXPECT_EQ(fresh.Snapshot(), before);
    fresh.ExpectNoWorkFolders();
  }
}

TEST_F(Run, InstalledFileWithoutVersionFails) {
  test::WriteBytes(install.AddinFile(0), "truncated");
  const std::string before = install.Snapshot();
  ExpectUntouched(PatchOutcome::Failed, before);
}

TEST_F(Run, TimeStampThatCannotBeBuiltFailsWithNothingChanged) {
  const std::string before = install.Snapshot();
  fault.Fail(Op::MakeLocalTimeStamp, 25);
  ExpectUntouched(PatchOutcome::Failed, before);
  EXPECT_EQ(fault.Calls(Op::MakePrivateFolder), 0);
}

// --- Staging ----------------------------------------------------------------

TEST_F(Run, StaleStagingFolderIsReplaced) {
  test::MakeFolders(install.Staging() + u"\\old\\deep");
  test::WriteBytes(install.Staging() + u"\\old\\deep\\left.txt", "left over");
  EXPECT_EQ(RunOnce(), PatchOutcome::Succeeded);
  install.ExpectPatched();
  install.ExpectNoWorkFolders();
}

TEST_F(Run, StaleStagingFolderThatCannotBeRemovedFails) {
  test::MakeFolders(install.Staging());
  const std::string before = install.Snapshot();
  fault.Fail(Op::ShellDelete, 1);
  EXPECT_EQ(RunOnce(), PatchOutcome::Failed);
  EXPECT_EQ(install.Snapshot(), before);
  EXPECT_TRUE(test::IsFolder(install.Staging()));
  EXPECT_EQ(fault.Calls(Op::MakeFolder), 0);
}

// A staging name this account cannot show to be its own is never entered,
// changed or removed: the run stages under a fresh name it makes itself.
TEST_F(Run, StagingNameOfAnotherAccountIsLeftAlone) {
  const struct {
    const char* label;
    bool otherOwner;  // owned by nobody, else the owner cannot be read
  } cases[] = {{"another account's", true}, {"owner unreadable", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    if (c.otherOwner && ::geteuid() != 0) {
      std::cout << "skipped: giving a folder to another account needs root\n";
      continue;
    }
    Installation fresh;
    test::MakeFolders(fresh.Staging() + u"\\planted");
    test::WriteBytes(fresh.Staging() + u"\\planted\\x.dll", "someone's");
    if (c.otherOwner) {
      ASSERT_EQ(::chown(test::FsPath(fresh.Staging()).c_str(), test::kNobody, test::kNobody), 0);
    }
    const std::string planted = test::DescribeTree(fresh.Staging());
    FaultPlatform run(SystemPlatform());
    if (!c.otherOwner) run.Fail(Op::ReadOwner, 1);
    EXPECT_EQ(test::RunPatchShown(run.platform()), PatchOutcome::Succeeded);
    fresh.ExpectPatched();
    EXPECT_EQ(test::DescribeTree(fresh.Staging()), planted);
    // The fresh staging folder and the backup are gone.
    EXPECT_FALSE(test::Exists(fresh.Folders().Staging(0)));
    EXPECT_FALSE(test::Exists(fresh.Folders().Backup()));
  }
}

// Not a folder of the run's own: left as it is, and the run stages under
// the first free numbered name, which goes with the clean-up.
TEST_F(Run, FileInTheStagingFoldersPlaceStaysAndAFreshNameIsUsed) {
  test::WriteBytes(install.Staging(), "someone's file");
  test::MakeFolders(install.Folders().Staging(0));
  EXPECT_EQ(RunOnce(), PatchOutcome::Succeeded);
  install.ExpectPatched();
  EXPECT_EQ(test::ReadBytes(install.Staging()), "someone's file");
  EXPECT_TRUE(test::Exists(install.Folders().Staging(0)));
  EXPECT_FALSE(test::Exists(install.Folders().Staging(1)));
  EXPECT_EQ(fault.Calls(Op::MakePrivateFolder), 2);
}

TEST_F(Run, TemporaryFolderMissingOrTooLongFails) {
  const std::string before = install.Snapshot();
  fault.Fail(Op::TempFolder, 1);
  ExpectUntouched(PatchOutcome::Failed, before);

  Installation other;
  test::ScopedEnv longTemp("TMPDIR", "/tmp/" + std::string(250, 't'));
  FaultPlatform run(SystemPlatform());
  EXPECT_EQ(test::RunPatchShown(run.platform()), PatchOutcome::Failed);
  EXPECT_EQ(run.Calls(Op::MakeFolder), 0);
}

// A failure anywhere before the new folder is in place (a rollback that
// succeeds in time included) ends the run with the add-in folder as it was
// and every work folder gone.
TEST_F(Run, FailuresBeforeTheMoveInRemoveTheWorkFoldersAndLeaveTheAddin) {
  const struct {
    Op op;
    int first;
    int count;
    bool partial = false;  // each failed attempt leaves part of its work
  } faults[] = {
      // Staging.
      {Op::FindPayload, 1, 1},        // entry 0's resource
      {Op::FindPayload, 25, 1},       // the last entry, after 24 written
      {Op::MakeFolder, 2, 1},         // the first culture folder
      {Op::OpenFileForWrite, 5, 20},  // every attempt for one entry
      {Op::WriteToFile, 1, 20},       // short writes every time
      {Op::ReadFileStatus, 3, 1},
      {Op::WriteFileStatus, 25, 1},  // the time of the last entry cannot be set
      // The copy beside the add-in and the move aside.
      {Op::ShellCopy, 1, 20},
      {Op::ShellCopy, 1, 20, true},  // the last attempt's half-made copy goes too
      {Op::CopySingleFile, 2, 20},   // the second library
      {Op::ShellRename, 1, 20},      // moving the old folder aside
      // The move in fails throughout; the rollback succeeds on its 20th
      // attempt.
      {Op::ShellRename, 2, 20 + 19},
  };
  for (const auto& f : faults) {
    SCOPED_TRACE(std::string(test::Name(f.op)) + " " + std::to_string(f.first));
    Installation fresh;
    const std::string before = fresh.Snapshot();
    FaultPlatform run(SystemPlatform());
    run.SetPartialEffects(f.partial);
    run.Fail(f.op, f.first, f.count);
    EXPECT_EQ(test::RunPatchShown(run.platform()), PatchOutcome::Failed);
    test::ExpectShown(run.Notices(), PatchOutcome::Failed);
    EXPECT_EQ(fresh.Snapshot(), before);
    fresh.ExpectNoWorkFolders();
  }
}

TEST_F(Run, WriteThatSucceedsOnTheTwentiethAttemptCounts) {
  fault.Fail(Op::WriteToFile, 1, 19);
  EXPECT_EQ(RunOnce(), PatchOutcome::Succeeded);
  // Each short file deleted, and the journal once the run is done.
  EXPECT_EQ(fault.Calls(Op::RemoveFile), 19 + 1);
  install.ExpectPatched();

  Installation opens;
  FaultPlatform run(SystemPlatform());
  run.Fail(Op::OpenFileForWrite, 2, 19);  // entry 1 opens on its 20th attempt
  EXPECT_EQ(test::RunPatchShown(run.platform()), PatchOutcome::Succeeded);
  EXPECT_EQ(run.Calls(Op::RemoveFile), 1);  // only the journal: nothing after a failed open
  opens.ExpectPatched();
}

// The probe file could not be removed when the writable check made it, nor
// in the twenty attempts right after (a scanner held it). The run's clean-up
// removes it: an unneeded or failed run leaves the add-in folder as it was,
// and a success leaves no probe file in the new folder.
TEST_F(Run, ProbeFileThatStaysAtFirstGoesWithTheCleanUp) {
  const struct {
    const char* what;
    bool current;   // every installed file already at the payload version
    Op laterFault;  // fails for good after the check, or ShowMessage for none
    PatchOutcome outcome;
  } cases[] = {
      {"not needed", true, Op::ShowMessage, PatchOutcome::NotNeeded},
      {"a later failure", false, Op::ShellRename, PatchOutcome::Failed},
      {"a success", false, Op::ShowMessage, PatchOutcome::Succeeded},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Installation fresh;
    if (c.current) {
      for (int k = 0; k < manifest::kPayloadCount; ++k) fresh.WriteAddinFile(k, V(1, 0, 1, 1));
    }
    const std::string before = fresh.Snapshot();
    FaultPlatform run(SystemPlatform());
    run.LeaveProbeFile();
    run.Fail(Op::RemoveFile, 1, manifest::kAttempts);
    if (c.laterFault != Op::ShowMessage) run.FailAlways(c.laterFault);
    EXPECT_EQ(test::RunPatchShown(run.platform()), c.outcome);
    fresh.ExpectPatchedOrUnchanged(c.outcome == PatchOutcome::Succeeded, before);
    EXPECT_FALSE(test::Exists(fresh.addin + u"\\~sh4F2A.TMP"));
  }
}

// --- Backup and swap --------------------------------------------------------

TEST_F(Run, TakenReplacementNamesAreSkippedAndKept) {
  const WorkFolders folders = install.Folders();
  test::MakeFolders(folders.Copy());
  test::WriteBytes(folders.Copy() + u"\\mine.txt", "1");
  test::MakeFolders(folders.Copy(0));
  test::WriteBytes(folders.Copy(1), "a file bearing a candidate name");
  EXPECT_EQ(RunOnce(), PatchOutcome::Succeeded);
  install.ExpectPatched();
  EXPECT_EQ(test::ReadBytes(folders.Copy() + u"\\mine.txt"), "1");
  EXPECT_TRUE(test::IsFolder(folders.Copy(0)));
  EXPECT_EQ(test::ReadBytes(folders.Copy(1)), "a file bearing a candidate name");
  EXPECT_FALSE(test::Exists(folders.Copy(2)));
}

TEST_F(Run, CopyThatSucceedsOnTheTwentiethAttemptCounts) {
  fault.Fail(Op::ShellCopy, 1, 19);
  EXPECT_EQ(RunOnce(), PatchOutcome::Succeeded);
  install.ExpectPatched();
  install.ExpectNoWorkFolders();
}

// A failed copy leaves part of the new folder, and its removal fails too (a
// scanner holds a file just copied). No later attempt copies onto that name:
// the shell would copy into it. The next attempt waits until the name is
// free again, or the run fails with the old folder in place.
TEST_F(Run, NoCopyOntoAHalfMadeCopyThatCannotBeRemoved) {
  const struct {
    int deleteFailures;
    PatchOutcome outcome;
    int copies;
  } cases[] = {
      {18, PatchOutcome::Succeeded, 2},  // the 19th delete frees the name for the last attempt
      {1 << 30, PatchOutcome::Failed, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.deleteFailures);
    Installation fresh;
    const std::string before = fresh.Snapshot();
    FaultPlatform run(SystemPlatform());
    run.SetPartialEffects(true);
    run.Fail(Op::ShellCopy, 1);
    run.Fail(Op::ShellDelete, 1, c.deleteFailures);
    EXPECT_EQ(test::RunPatchShown(run.platform()), c.outcome);
    EXPECT_EQ(run.CopiesOntoTakenNames(), 0);
    EXPECT_EQ(run.Calls(Op::ShellCopy), c.copies);
    fresh.ExpectPatchedOrUnchanged(c.outcome == PatchOutcome::Succeeded, before);
  }
}

// A library that is not there is not waited for: no moment cures it.
TEST_F(Run, MissingLibraryFailsAtOnce) {
  std::filesystem::remove(test::FsPath(install.Library(1)));
  const std::string before = install.Snapshot();
  ExpectUntouched(PatchOutcome::Failed, before);
  EXPECT_EQ(fault.Calls(Op::CopySingleFile), 1 + 1);
  EXPECT_TRUE(fault.Waits().empty());
}

TEST_F(Run, ExistingBackupFolderBlocksTheMoveAndIsKept) {
  const String backup = install.Folders().Backup();
  test::MakeFolders(backup);
  test::WriteBytes(backup + u"\\old.txt", "older backup");
  const std::string before = install.Snapshot();
  EXPECT_EQ(RunOnce(), PatchOutcome::Failed);
  EXPECT_EQ(install.Snapshot(), before);
  EXPECT_EQ(test::ReadBytes(backup + u"\\old.txt"), "older backup");
  // Refused before anything is made beside it.
  EXPECT_EQ(fault.Calls(Op::ShellCopy), 0);
  EXPECT_EQ(fault.Calls(Op::ShellRename), 0);
}

TEST_F(Run, FailedMoveInPutsTheOldFolderBack) {
  const std::string before = install.Snapshot();
  fault.Fail(Op::ShellRename, 2, 20);
  ExpectUntouched(PatchOutcome::Failed, before);
  EXPECT_EQ(fault.Calls(Op::ShellRename), 1 + 20 + 1);
}

TEST_F(Run, RollbackThatNeverSucceedsLeavesTheOldFolderAsBackup) {
  const std::string before = install.Snapshot();
  fault.Fail(Op::ShellRename, 2, 40);
  EXPECT_EQ(RunOnce(), PatchOutcome::Failed);
  EXPECT_FALSE(test::Exists(install.addin));
  EXPECT_EQ(test::DescribeTree(install.Folders().Backup()), before);
  EXPECT_FALSE(test::Exists(install.Staging()));
}

// The new folder is flushed before the old one is moved aside; a flush that
// fails all its attempts there ends the run with nothing touched. A flush
// after a rename that happened costs only durability: the move in stands
// and the run succeeds, the rollback stands and the run fails as it would.
TEST_F(Run, FlushFailuresBeforeTheSwapFailAndAfterARenameChangeNothing) {
  // The folders flushed before the swap: each culture folder, the new
  // folder and the host folder.
  std::vector<String> cultures;
  for (int k = 0; k < manifest::kSubFolderEntries; ++k) {
    const StringView path = manifest::kPayload[k].relativePath;
    const String culture(path.substr(0, path.find(u'\\')));
    if (std::find(cultures.begin(), cultures.end(), culture) == cultures.end()) {
      cultures.push_back(culture);
    }
  }
  const int folderFlushes = static_cast<int>(cultures.size()) + 2;
  const struct {
    Op op;
    int first;
    int renameFailures;  // of the move in, from its first attempt
    PatchOutcome outcome;
    int renames;
  } cases[] = {
      // The journal's own flushes come first; without them the run goes on.
      {Op::FlushFile, 1, 0, PatchOutcome::Succeeded, 2},
      {Op::FlushFolder, 1, 0, PatchOutcome::Succeeded, 2},
      {Op::FlushFile, 1 + 1, 0, PatchOutcome::Failed, 0},
      {Op::FlushFile, 1 + manifest::kPayloadCount + manifest::kLibraryCount, 0,
       PatchOutcome::Failed, 0},
      {Op::FlushFolder, 1 + 1, 0, PatchOutcome::Failed, 0},
      {Op::FlushFolder, 1 + folderFlushes, 0, PatchOutcome::Failed, 0},
      {Op::FlushFolder, 1 + folderFlushes + 1, 0, PatchOutcome::Succeeded, 2},
      {Op::FlushFolder, 1 + folderFlushes + 1, 20, PatchOutcome::Failed, 1 + 20 + 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(test::Name(c.op)) + " " + std::to_string(c.first));
    Installation fresh;
    const std::string before = fresh.Snapshot();
    FaultPlatform run(SystemPlatform());
    run.Fail(c.op, c.first, 20);
    if (c.renameFailures != 0) run.Fail(Op::ShellRename, 2, c.renameFailures);
    EXPECT_EQ(test::RunPatchShown(run.platform()), c.outcome);
    EXPECT_EQ(run.Calls(Op::ShellRename), c.renames);
    fresh.ExpectPatchedOrUnchanged(c.outcome == PatchOutcome::Succeeded, before);
    fresh.ExpectNoWorkFolders();
  }
}

// A copy of the installation's host folder at a path that makes the add-in
// folder's path exactly `length` characters long; `name` tells copies apart.
String HostWithAddinPathOf(const Installation& install, std::size_t length, StringView name) {
  String host = install.temp + String(name);
  const std::size_t hostLength = length - StringView(manifest::kAddinName).size();
  while (host.size() < hostLength) {
    std::size_t part = std::min<std::size_t>(hostLength - host.size() - 1, 100);
    if (hostLength - host.size() - 1 - part == 1) --part;  // no room for a last "\x"
    host += u"\\" + String(part, u'd');
  }
  test::MakeFolders(host);
  std::filesystem::copy(test::FsPath(install.host), test::FsPath(host),
                        std::filesystem::copy_options::recursive);
  return host;
}

TEST_F(Run, NewFolderWithPathsTooLongForThePlatformIsRefusedBeforeTheCopy) {
  // The shell skips a file whose path does not fit 260 characters and may
  // still report the copy done: every file of ReplacementDir must fit, so the
  // longest payload path bounds the add-in folder's path.
  std::size_t longest = 0;
  for (const manifest::PayloadEntry& e : manifest::kPayload) {
    longest = std::max(longest, StringView(e.relativePath).size());
  }
  const WorkFolders any(u"H", u"");
  const std::size_t copyNameMore = any.Copy().size() - any.Addin().size();
  const std::size_t limit = kMaxPath - 1 - longest - 1 - copyNameMore;

  const String fits = HostWithAddinPathOf(install, limit, u"fits");
  const WorkFolders fitting(fits, u"");
  ASSERT_EQ(fitting.Addin().size(), limit);
  install.SetRegistryPath(ToUtf8(fits));
  EXPECT_EQ(RunOnce(), PatchOutcome::Succeeded) << Calls();
  for (const manifest::PayloadEntry& e : manifest::kPayload) {
    EXPECT_EQ(test::ReadBytes(JoinPath(fitting.Addin(), e.relativePath)).size(), e.size);
  }
  EXPECT_FALSE(test::Exists(fitting.Backup()));

  // One character more, or the same folder with the copy's plain name taken
  // so that the numbered name is used: refused with the add-in folder as it
  // was.
  const String tooLong = HostWithAddinPathOf(install, limit + 1, u"long");
  const String numbered = HostWithAddinPathOf(install, limit, u"numbered");
  test::MakeFolders(WorkFolders(numbered, u"").Copy());
  for (const String& host : {tooLong, numbered}) {
    const String addin = WorkFolders(host, u"").Addin();
    const std::string before = test::DescribeTree(host);
    install.SetRegistryPath(ToUtf8(host));
    FaultPlatform run(SystemPlatform());
    EXPECT_EQ(test::RunPatchShown(run.platform()), PatchOutcome::Failed) << addin.size();
    EXPECT_EQ(run.Calls(Op::ShellCopy), 0);
    EXPECT_EQ(run.Calls(Op::ShellRename), 0);
    EXPECT_EQ(test::DescribeTree(host), before);
    EXPECT_FALSE(test::Exists(install.Staging()));
  }
}

TEST_F(Run, FailedCleanUpAfterSuccessStillSucceeds) {
  fault.FailAlways(Op::ShellDelete);
  EXPECT_EQ(RunOnce(), PatchOutcome::Succeeded);
  EXPECT_TRUE(test::IsFolder(install.Folders().Backup()));
  EXPECT_TRUE(test::IsFolder(install.Staging()));
}

// A volume that answers every existence check with an error makes every
// copy name look taken: the search ends after the last numbered name, and
// the run fails with the add-in untouched and its staging folder gone.
TEST_F(Run, CopyNameSearchEndsWhenEveryNameLooksTaken) {
  Platform record = fault.platform();
  record.FileExists = [](const Platform&, const char16_t*) { return FileProbe::Present; };
  const std::string before = install.Snapshot();
  EXPECT_EQ(test::RunPatchShown(record), PatchOutcome::Failed);
  EXPECT_EQ(install.Snapshot(), before);
  install.ExpectNoWorkFolders();
  // The plain name and the 10000 numbered ones, looked at once each.
  EXPECT_EQ(fault.Calls(Op::ShellCopy), 0);
  EXPECT_LE(fault.Calls(Op::FolderExists), 10001 + 30);
}

}  // namespace
}  // namespace orv
