#include <algorithm>
#include <vector>

#include "patch/folder_steps.h"
#include "patch/journal.h"
#include "patch/retry.h"
#include "patch/stages.h"

namespace orv {

namespace {

// The first free name of the plain and the numbered copy names, in picked:
// Absent. Present when every name up to the last numbered one is taken (a
// search that could otherwise go on for ever); Unanswered, with picked the
// name in question, when the volume could not tell whether it is free: a
// name that may be taken is never copied onto.
FileProbe PickReplacementDir(const Platform& p, const WorkFolders& folders, String& picked) {
  picked = folders.Copy();
  for (std::int64_t n = 0;; ++n) {
    const FileProbe name = LookAtName(p, picked);
    if (name != FileProbe::Present || n > manifest::kLastReplacementNumber) return name;
    picked = folders.Copy(n);
  }
}

// Removes what a failed copy left under the name; true once nothing bears
// it. One attempt of the copy's own: a removal that fails is the reason the
// copy waits for and tries again.
bool ClearCopyName(const Platform& p, const String& name) {
  p.ShellDelete(p, name.c_str());  // fails when nothing was left: the look decides
  return LookAtName(p, name) == FileProbe::Absent;
}

// Every attempt copies onto a free name: a shell copy onto a name that is
// taken copies into what is there and may report success, and the swap
// would then put an add-in without its files in place. The name was free
// when it was picked; after a failed attempt, what that attempt left (a
// scanner may hold one of its files) must be gone before the next one, or
// that attempt fails without copying.
bool CopyStagingFolder(const Platform& p, const RunContext& context) {
  const String& target = context.copyDir;
  bool attempted = false;
  return Retry(p, [&] {
    if (attempted && !ClearCopyName(p, target)) return false;
    attempted = true;
    return p.ShellCopy(p, context.stagingDir.c_str(), target.c_str());
  });
}

bool CarryOverLibraries(const Platform& p, const RunContext& context) {
  for (int l = 0; l < manifest::kLibraryCount; ++l) {
    String name;
    p.LoadTableString(p, manifest::LibraryStringId(l), name);
    const String source = JoinPath(context.folders.Addin(), name);
    const String target = JoinPath(context.copyDir, name);
    if (!Retry(p, [&] { return p.CopySingleFile(p, source.c_str(), target.c_str(), false); })) {
      return false;
    }
  }
  return true;
}

bool Flush(const Platform& p, const String& path, bool folder) {
  return Retry(
      p, [&] { return folder ? p.FlushFolder(p, path.c_str()) : p.FlushFile(p, path.c_str()); });
}

// Every file of the new folder (the payload's and the libraries'), then the
// folders that hold them, deepest first, then the host folder that holds the
// new one: on stable storage before the old folder is moved aside. File
// systems journal names, not data, so without this a power cut soon after
// the swap could leave the new files at their lengths but full of zeros.
bool FlushNewFolder(const Platform& p, const RunContext& context) {
  std::vector<String> folders;
  const auto flushFile = [&](int stringId) {
    String path;
    if (!p.LoadTableString(p, stringId, path)) return false;
    path = JoinPath(context.copyDir, path);
    if (!Flush(p, path, false)) return false;
    CutAtLastBackslash(path);
    if (std::find(folders.begin(), folders.end(), path) == folders.end()) folders.push_back(path);
    return true;
  };
  for (int k = 0; k < manifest::kPayloadCount; ++k) {
    if (!flushFile(manifest::PayloadStringId(k))) return false;
  }
  for (int l = 0; l < manifest::kLibraryCount; ++l) {
    if (!flushFile(manifest::LibraryStringId(l))) return false;
  }
  // The payload's culture folders come first in its table, the new folder
  // itself after them.
  folders.push_back(context.folders.Host());
  return std::all_of(folders.begin(), folders.end(),
                     [&](const String& folder) { return Flush(p, folder, true); });
}

// A rename that must survive a power cut: the host folder, which holds both
// names, is flushed after it, and that also makes the earlier rename in it
// durable. This is why the move aside needs no flush of its own: alone it
// would only make sure that a power cut right after it leaves no add-in
// folder. The rename has happened when the flush is made, so a flush that
// fails costs only durability: the run goes on as the rename decided, and
// the log says so.
bool DurableRename(const Platform& p, RunContext& context, const String& from, const String& to) {
  if (!RenameFolder(p, from, to)) return false;
  if (!Flush(p, context.folders.Host(), true)) {
    context.log.Line("the host folder could not be flushed: the rename to " + LogText(to) +
                     " may not survive a power cut");
  }
  return true;
}

PatchOutcome FailAndCleanUp(const Platform& p, const RunContext& context) {
  RemoveWorkFolder(p, context.stagingDir);
  RemoveWorkFolder(p, context.copyDir);
  return PatchOutcome::Failed;
}

// Before anything is made beside the add-in folder: only the staging folder
// goes.
PatchOutcome FailBeforeCopy(const Platform& p, RunContext& context, const std::string& why) {
  context.log.Line(why);
  RemoveWorkFolder(p, context.stagingDir);
  return PatchOutcome::Failed;
}

// The new folder made beside the old one and swapped in; the outcome once
// the run's own folders are cleaned up.
PatchOutcome AssembleAndSwap(const Platform& p, RunContext& context) {
  const String& addinDir = context.folders.Addin();
  RunLog& log = context.log;
  if (!CopyStagingFolder(p, context)) {
    log.Line("the staging folder could not be copied beside the add-in folder");
    return FailAndCleanUp(p, context);
  }
  if (!CarryOverLibraries(p, context)) {
    log.Line("the add-in's own libraries could not be carried into the new folder");
    return FailAndCleanUp(p, context);
  }
  // The copy took the access entries of the folder it was made in; the
  // add-in's own (who may run or change it) are the old folder's.
  if (!Retry(p, [&] { return p.CarryOverAccess(p, addinDir.c_str(), context.copyDir.c_str()); })) {
    log.Line("the old add-in folder's access entries could not be given to the new one");
    return FailAndCleanUp(p, context);
  }
  if (!VerifyNewFolder(p, context)) {
    log.Line("the new add-in folder is not as it must be; the add-in is as it was");
    return FailAndCleanUp(p, context);
  }
  if (!FlushNewFolder(p, context)) {
    log.Line("the new add-in folder could not be put on stable storage");
    return FailAndCleanUp(p, context);
  }
  log.Line("the new add-in folder's files and folders are on stable storage");
  if (!RenameFolder(p, addinDir, context.folders.Backup())) {
    log.Line("the old add-in folder could not be moved aside; it is as it was");
    return FailAndCleanUp(p, context);
  }
  if (!DurableRename(p, context, context.copyDir, addinDir)) {
    // The old folder goes back under its name, retried like every rename:
    // one passing failure must not leave the host without its add-in.
    log.Line("the new add-in folder could not take the add-in's name");
    log.Line(DurableRename(p, context, context.folders.Backup(), addinDir)
                 ? "the old add-in folder is back in place"
                 : "the old add-in folder could not be moved back; it is whole under " +
                       LogText(context.folders.Backup()));
    return FailAndCleanUp(p, context);
  }
  log.Line("the new add-in folder is in place");
  RemoveWorkFolder(p, context.stagingDir);
  // The name was free before the copy and a rename never lands on a taken
  // one: what bears it now is the old add-in this run moved there.
  RemoveWorkFolder(p, context.folders.Backup());
  return PatchOutcome::Succeeded;
}

}  // namespace

PatchOutcome BackupAndSwap(const Platform& p, RunContext& context) {
  RunLog& log = context.log;
  String picked;
  switch (PickReplacementDir(p, context.folders, picked)) {
    case FileProbe::Absent:
      break;
    case FileProbe::Present:
      return FailBeforeCopy(p, context,
                            "no free name for the new add-in folder up to " + LogText(picked));
    case FileProbe::Unanswered:
      return FailBeforeCopy(p, context, "whether " + LogText(picked) + " is free cannot be told");
  }
  context.copyDir = picked;
  // The old folder goes aside only under a name that is free: what bears it
  // now (an administrator's own backup) is not this run's to rename into,
  // nor to remove after a success; a name the volume cannot tell about may
  // be such a folder.
  switch (LookAtName(p, context.folders.Backup())) {
    case FileProbe::Absent:
      break;
    case FileProbe::Present:
      return FailBeforeCopy(p, context,
                            LogText(context.folders.Backup()) +
                                " is there already and is not this run's; the add-in is as it was");
    case FileProbe::Unanswered:
      return FailBeforeCopy(
          p, context, "whether " + LogText(context.folders.Backup()) + " is free cannot be told");
  }
  // A new folder whose files' paths would not fit is refused before the
  // add-in folder is touched: the shell passes over such a file and may
  // still report the copy done, and the swap would put an incomplete add-in
  // in place. This also keeps ReplacementDir, and BackupDir that is never
  // longer, well inside the shell's 258 characters, so neither rename can
  // fail for the length of a name.
  if (!AddinFilesFit(context.copyDir)) {
    return FailBeforeCopy(
        p, context,
        "the new folder's files would not fit a 260-character path: " + LogText(context.copyDir));
  }
  // Started from inside the add-in folder, the process would hold it as its
  // current folder, and Windows renames no folder that is one. Every path of
  // the run is absolute by now.
  if (!p.LeaveCurrentFolder(p)) {
    log.Failure("the current folder could not be changed; the run goes on");
  }
  log.Line("new add-in folder: " + LogText(context.copyDir) + "; the old one goes aside as " +
           LogText(context.folders.Backup()));
  // Free when it was looked at: the run stops above when it is not.
  const Journal journal{context.stagingDir, context.copyDir, context.folders.Backup()};
  WriteJournal(p, log, context.folders, journal);
  const PatchOutcome outcome = AssembleAndSwap(p, context);
  EndJournal(p, log, context.folders, journal);
  return outcome;
}

}  // namespace orv
