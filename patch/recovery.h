// Recovery from a run that was cut short, and the journal that makes it
// possible: the work folders of a run, named beside the add-in folder while
// they may exist.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "patch/run_context.h"
#include "platform/seam.h"

namespace orv {

// The work folders a run names; an empty field names nothing.
struct Journal {
  String staging;
  String copy;
  String backup;
};

std::string JournalText(const Journal& journal);
// The journal that text holds; none when it is not one, or not whole.
std::optional<Journal> ParseJournal(std::string_view text);
// Only the names that are this installation's work folders: the staging
// folder as this run would name it, a copy name ("_CPY", "_CPY0000" to
// "_CPY9999") or the backup name beside addinDir. Nothing else is ever
// removed on a journal's word.
Journal OnlyWorkFolders(const Journal& journal, StringView addinDir, StringView stagingDir);
String JournalPath(StringView addinDir);

// A folder rename, retried like every other.
bool RenameFolder(const Platform& platform, const String& from, const String& to);

// Names the run's work folders before the first of them is made beside the
// add-in folder. A journal that cannot be written does not stop the run.
Journal WriteJournal(const Platform& platform, const RunContext& context);
// Removes the journal once none of the folders it names is left; otherwise
// keeps it for the next run.
void EndJournal(const Platform& platform, const RunContext& context, const Journal& journal);

// Before the add-in is looked at: moves the old add-in back from "_BAK"
// when the add-in folder is missing, and removes the work folders that the
// journal of a run cut short names. Never changes the run's outcome.
void RecoverInterruptedRun(const Platform& platform, RunContext& context);

}  // namespace orv
