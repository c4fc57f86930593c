// What a run that was cut short leaves behind, and how the next run puts it
// right.
//
// Between the two renames the add-in has no folder of its own name: the old
// one lies under the backup name. The next run moves it back before it
// changes anything else. The work folders of a run are named in a journal
// beside the add-in folder, written before the first of them beside the
// add-in is made: the next run removes those it finds, and no folder that
// the journal does not show to be a run's own is ever removed.
#include "patch/recovery.h"

#include "patch/folder_steps.h"
#include "patch/journal.h"

namespace orv {

void RecoverInterruptedRun(const Platform& p, RunLog& log, const WorkFolders& folders,
                           bool addinAside) {
  const String& addin = folders.Addin();
  if (addinAside) {
    log.Line("the add-in folder is missing and " + LogText(folders.Backup()) +
             " is beside it: an earlier run was cut short between its two renames");
    log.Line(RenameFolder(p, folders.Backup(), addin)
                 ? "the old add-in folder is back in place"
                 : "the old add-in folder could not be moved back");
  }
  const std::optional<Journal> journal = ReadJournal(p, log, folders);
  if (!journal) return;
  Journal ours = OnlyWorkFolders(*journal, folders);
  // The old add-in under the backup name is left over only once the add-in
  // folder is in place again.
  if (!p.FolderExists(p, addin.c_str())) ours.backup.clear();
  // The temporary folder may be open to every account: a staging name there
  // that this account does not own, or that is a link, was never this
  // program's, whatever the journal says.
  if (!ours.staging.empty() && (p.ReadOwner(p, ours.staging.c_str()) != NameOwner::Ours ||
                                p.IsLink(p, ours.staging.c_str()))) {
    ours.staging.clear();
  }
  log.Line("the journal of an earlier run that was cut short: " + LogText(folders.Journal()));
  for (const auto& [key, folder] : EntriesOf(ours)) {
    // A name the volume could not tell about counts as there.
    if (folder.empty() || LookAtName(p, folder) == FileProbe::Absent) continue;
    log.Line("removing the earlier run's " + std::string(key) + " folder " + LogText(folder));
    RemoveWorkFolder(p, folder);
  }
  EndJournal(p, log, folders, ours);
}

}  // namespace orv
