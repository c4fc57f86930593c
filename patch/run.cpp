#include "patch/run.h"

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

// Paths compared as the file system compares them on Windows: either
// separator, and letters of either case.
String Comparable(StringView path) {
  String out(path);
  for (char16_t& c : out) {
    if (c == u'/') c = u'\\';
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return out;
}

bool IsWithin(const String& path, StringView folder) {
  const String prefix = Comparable(folder);
  return path == prefix || path.starts_with(prefix + u'\\');
}

}  // namespace

bool LogPathIsClear(const Platform& p, StringView fullPath) {
  const String path = Comparable(fullPath);
  RunLog none;
  PathBuffer host;
  PathBuffer addin;
  if (DiscoverHost(p, host, none) && Concat(addin, host.view(), manifest::kAddinName)) {
    // The copy's numbered names all begin with its plain one.
    const String addinDir(addin.view());
    if (IsWithin(path, addinDir) || IsWithin(path, Concat(addinDir, manifest::kBackupSuffix)) ||
        path.starts_with(Comparable(Concat(addinDir, manifest::kReplacementSuffix))) ||
        path == Comparable(JournalPath(addinDir))) {
      return false;
    }
  }
  PathBuffer temp;
  return !p.TempFolder(p, temp) || !IsWithin(path, Concat(temp.view(), manifest::kStagingName));
}

PatchOutcome RunPatch(const Platform& p) {
  RunLog none;
  return RunPatch(p, none);
}

}  // namespace orv
