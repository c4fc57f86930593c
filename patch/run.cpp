// The calling sequence of a run, and who removes what, when.
//
// A run first looks, then changes, and never looks again at what it has
// decided on:
//
//  1. AssessInstallation (patch/assessment.h) writes nothing. It finds the
//     host's folder and the temporary folder and forms every work folder's
//     name from them (WorkFolders), reads the launcher's version, and scans
//     the installed add-in (under the backup name when a run was cut short
//     between its renames) for a file the payload is newer than. It stops
//     at the first thing that ends the run, but the run still makes the
//     changes that come before that point.
//  2. RecoverInterruptedRun (patch/recovery.h) is the first change, made
//     whenever the host is found, whatever its version: it moves the old
//     add-in back from the backup name, then removes the work folders that
//     an earlier run's journal names, and the journal once they are gone.
//  3. ProbeAddinFolder makes a probe file in the add-in folder and removes
//     it; a probe file it could not remove is removed again at the run's
//     end, while the add-in folder is still the old one.
//  4. StagePayload makes the staging folder (a fresh numbered one when the
//     plain name is not this account's) and writes the payload into it. A
//     failure removes the staging folder.
//  5. BackupAndSwap picks a free copy name and checks that the backup name
//     is free, writes the journal, copies the staging folder beside the
//     add-in, carries over the libraries and the access entries, verifies
//     and flushes the copy, and swaps it in by two renames, moving the old
//     folder back when the second fails. Every outcome removes the staging
//     folder and the copy; a success removes the old add-in under the backup
//     name, which this run moved there. The journal goes once none of the
//     folders it names is left, and stays for the next run otherwise.
//
// Recovery and the stages share only the retried steps (folder_steps.h),
// the journal (journal.h) and the names (work_folders.h); neither calls the
// other. The outcome goes back to the caller, which shows its message.
#include "patch/run.h"

#include <algorithm>
#include <vector>

#include "patch/assessment.h"
#include "patch/logging_platform.h"
#include "patch/recovery.h"
#include "patch/stages.h"

namespace orv {

namespace {

PatchOutcome ChangeInTurn(const Platform& p, RunContext& context, const Assessment& a) {
  if (auto failed = ProbeAddinFolder(p, context)) return *failed;
  if (a.afterProbe) return *a.afterProbe;
  if (auto failed = StagePayload(p, context)) return *failed;
  return BackupAndSwap(p, context);
}

PatchOutcome LookThenChange(const Platform& p, RunLog& log) {
  const Assessment a = AssessInstallation(p, log);
  // Whatever the host's version: a run cut short must not leave the host
  // without its add-in.
  if (a.recoverable) {
    RecoverInterruptedRun(p, log, a.folders, a.addinAside);
  }
  if (a.beforeProbe) return *a.beforeProbe;
  RunContext context(log, a);
  const PatchOutcome outcome = ChangeInTurn(p, context, a);
  // After a success the probe file went aside with the old folder, and its
  // path is the new folder's: nothing of ours there to remove.
  if (outcome != PatchOutcome::Succeeded) RemoveProbeFile(p, context);
  return outcome;
}

}  // namespace

PatchOutcome RunPatch(const Platform& p, RunLog& log) {
  PatchOutcome outcome;
  if (log.Active()) {
    const LoggingPlatform logged(p, log);
    outcome = LookThenChange(logged.platform(), log);
  } else {
    outcome = LookThenChange(p, log);
  }
  log.Line(std::string("outcome: ") + NameOf(outcome));
  return outcome;
}

PatchOutcome RunPatch(const Platform& p) {
  RunLog none;
  return RunPatch(p, none);
}

LogPlace LogPathIsClear(const Platform& p, StringView fullPath) {
  // The log's folder with its separator, so that a root stays a root.
  const std::size_t cut = fullPath.find_last_of(u"\\/");
  if (cut == StringView::npos) return LogPlace::Undecided;
  const String folder(fullPath.substr(0, cut + 1));
  // The log's folder and every folder above it: a log lies in a folder at
  // any depth exactly when that folder is among them.
  std::vector<FileIdentity> chain;
  switch (p.ReadFolderChain(p, folder.c_str(), chain)) {
    case FileProbe::Absent:
      // No folder to make the log in: opening it fails, touching nothing.
      return LogPlace::Clear;
    case FileProbe::Unanswered:
      return LogPlace::Undecided;
    case FileProbe::Present:
      break;
  }
  // The host's folder, the add-in folder (a link there leads elsewhere, and
  // the run copies from what it leads to) and the staging folder; a folder
  // that is not there, or whose name would not fit a path, holds nothing.
  const WorkFolders folders = FindWorkFolders(p);
  for (const String* guarded : {&folders.Host(), &folders.Addin(), &folders.Staging()}) {
    if (guarded->empty() || guarded->size() >= kMaxPath) continue;
    FileIdentity identity;
    switch (p.ReadIdentity(p, guarded->c_str(), identity)) {
      case FileProbe::Absent:
        continue;
      case FileProbe::Unanswered:
        return LogPlace::Undecided;
      case FileProbe::Present:
        if (std::find(chain.begin(), chain.end(), identity) != chain.end()) {
          return LogPlace::Refused;
        }
    }
  }
  return LogPlace::Clear;
}

}  // namespace orv
