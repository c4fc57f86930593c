#include "patch/folder_steps.h"
#include "patch/stages.h"

#include <string>

namespace orv {

namespace {

bool StampFile(const Platform& p, const char16_t* target, std::int64_t stamp) {
  FileStatusRecord status;
  if (!p.ReadFileStatus(p, target, status)) return false;
  status.modificationTime = stamp;
  return p.WriteFileStatus(p, target, status);
}

// Entry k: found, written (with its culture folder) and stamped.
bool StageEntry(const Platform& p, RunContext& context, int k) {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  if (!p.FindPayload(p, manifest::PayloadResourceId(k), data, size)) return false;

  String relativePath;
  p.LoadTableString(p, manifest::PayloadStringId(k), relativePath);
  PathBuffer target;
  if (!JoinPath(target, context.stagingDir, relativePath)) return false;

  if (manifest::InSubFolder(k)) {
    String parent(target.view());
    CutAtLastBackslash(parent);
    if (!p.FolderExists(p, parent.c_str()) && !p.MakeFolder(p, parent.c_str())) {
      return false;
    }
  }
  if (!WriteWholeFile(p, target.c_str(), data, size)) return false;
  if (!StampFile(p, target.c_str(), context.timeStamps[k])) return false;
  context.log.Line("wrote " + LogText(target.view()) + ", " + std::to_string(size) +
                   " bytes, modified at " + std::to_string(context.timeStamps[k]) +
                   " (seconds since 1970 UTC)");
  return true;
}

}  // namespace

namespace {

// The staging folder, made new and closed to other accounts from its first
// moment, so that nothing can be planted in it or swapped between the writes
// and the copy. The temporary folder may be one every account can write to
// (a SYSTEM run's, where no newer temporary folder is offered): a name there
// that another account owns, that is a link, or whose owner cannot be read
// is never entered, changed or removed. The run stages under a fresh
// numbered name instead, which it makes itself, exclusively. A stale staging
// folder of this account's own is removed first, and a removal that fails
// ends the run.
std::optional<PatchOutcome> MakeStagingFolder(const Platform& p, RunContext& context) {
  RunLog& log = context.log;
  const String& plain = context.folders.Staging();
  const NameOwner owner = p.ReadOwner(p, plain.c_str());
  bool fresh = owner == NameOwner::Others || owner == NameOwner::Unanswered;
  if (owner == NameOwner::Ours) {
    if (p.IsLink(p, plain.c_str()) || !p.FolderExists(p, plain.c_str())) {
      fresh = true;
    } else if (!p.ShellDelete(p, plain.c_str())) {
      log.Failure("the stale staging folder could not be removed");
      return PatchOutcome::Failed;
    }
  }
  if (!fresh) {
    if (p.MakePrivateFolder(p, plain.c_str())) {
      context.stagingDir = plain;
      return std::nullopt;
    }
    // Made by someone else since the look: not ours either.
    if (LookAtName(p, plain) == FileProbe::Absent) return PatchOutcome::Failed;
  }
  log.Line("the staging name " + LogText(plain) +
           " is a link, another account's, or cannot be examined; it is left as it is");
  for (std::int64_t n = 0; n <= manifest::kLastReplacementNumber; ++n) {
    const String name = context.folders.Staging(n);
    if (!FitsShellPath(name)) break;
    if (p.MakePrivateFolder(p, name.c_str())) {
      context.stagingDir = name;
      log.Line("staging folder: " + LogText(name));
      return std::nullopt;
    }
    // Only a name that is taken is passed over.
    if (LookAtName(p, name) != FileProbe::Present) break;
  }
  log.Line("no staging folder of the run's own could be made");
  return PatchOutcome::Failed;
}

}  // namespace

std::optional<PatchOutcome> StagePayload(const Platform& p, RunContext& context) {
  const String& stagingName = context.folders.Staging();
  if (stagingName.empty()) {
    context.log.Line("there is no temporary folder to stage the payload in");
    return PatchOutcome::Failed;
  }
  // Refused before anything is made: a staging folder the shell could not
  // copy or remove would be left behind. The numbered names are four
  // characters longer, and are checked as they are made.
  if (!FitsShellPath(stagingName)) {
    context.log.Line("the staging folder's path is too long: " + LogText(stagingName));
    return PatchOutcome::Failed;
  }
  context.log.Line("staging folder: " + LogText(stagingName));
  if (auto failed = MakeStagingFolder(p, context)) return failed;

  for (int k = 0; k < manifest::kPayloadCount; ++k) {
    if (!StageEntry(p, context, k)) {
      context.log.Line("payload file " + std::to_string(k) + " could not be staged");
      RemoveWorkFolder(p, context.stagingDir);
      return PatchOutcome::Failed;
    }
  }
  return std::nullopt;
}

}  // namespace orv
