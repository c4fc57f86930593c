#include "patch/run.h"

#include <algorithm>
#include <vector>

#include "patch/logging_platform.h"
#include "patch/recovery.h"
#include "patch/stages.h"

namespace orv {

namespace {

PatchOutcome RunStagesInTurn(const Platform& p, RunContext& context) {
  if (auto ended = CheckEligibility(p, context)) return *ended;
  if (auto failed = StagePayload(p, context)) return *failed;
  return BackupAndSwap(p, context);
}

PatchOutcome RunStages(const Platform& p, RunContext& context) {
  const PatchOutcome outcome = RunStagesInTurn(p, context);
  // After a success the probe file went aside with the old folder, and its
  // path is the new folder's: nothing of ours there to remove.
  if (outcome != PatchOutcome::Succeeded) RemoveProbeFile(p, context);
  return outcome;
}

}  // namespace

PatchOutcome RunPatch(const Platform& p, RunLog& log, bool showMessage) {
  RunContext context{log};
  PatchOutcome outcome;
  if (log.Active()) {
    const LoggingPlatform logged(p, log);
    outcome = RunStages(logged.platform(), context);
  } else {
    outcome = RunStages(p, context);
  }
  log.Line(std::string("outcome: ") + NameOf(outcome));
  if (showMessage) ShowOutcome(p, outcome);
  return outcome;
}

namespace {

// Whether the folder at path, links followed, is one of chain's: Refused, or
// Clear when it is not or nothing is there; Undecided when it cannot be told.
LogPlace Among(const Platform& p, const char16_t* path, const std::vector<FileIdentity>& chain) {
  FileIdentity identity;
  switch (p.ReadIdentity(p, path, identity)) {
    case FileProbe::Absent:
      return LogPlace::Clear;
    case FileProbe::Unanswered:
      return LogPlace::Undecided;
    case FileProbe::Present:
      break;
  }
  return std::find(chain.begin(), chain.end(), identity) != chain.end() ? LogPlace::Refused
                                                                        : LogPlace::Clear;
}

}  // namespace

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
  RunLog none;
  PathBuffer host;
  if (DiscoverHost(p, host, none)) {
    if (const LogPlace place = Among(p, host.c_str(), chain); place != LogPlace::Clear) {
      return place;
    }
    // An add-in folder that is a link leads elsewhere: the run copies from
    // what it leads to.
    PathBuffer addin;
    if (Concat(addin, host.view(), manifest::kAddinName)) {
      if (const LogPlace place = Among(p, addin.c_str(), chain); place != LogPlace::Clear) {
        return place;
      }
    }
  }
  PathBuffer temp;
  PathBuffer staging;
  if (p.TempFolder(p, temp) && Concat(staging, temp.view(), manifest::kStagingName)) {
    return Among(p, staging.c_str(), chain);
  }
  return LogPlace::Clear;
}

PatchOutcome RunPatch(const Platform& p) {
  RunLog none;
  return RunPatch(p, none);
}

}  // namespace orv
