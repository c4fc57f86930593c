// The journal: the work folders of a run, named beside the add-in folder
// while they may exist, so that the next run can remove what a run cut short
// left behind.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "patch/run_log.h"
#include "patch/work_folders.h"
#include "platform/seam.h"

namespace orv {

// The work folders a run names; an empty field names nothing.
struct Journal {
  String staging;
  String copy;
  String backup;
};

// The folders a journal names, each with the key it is written under, in
// the journal's order.
struct JournalEntry {
  std::string_view key;
  const String& folder;
};
std::array<JournalEntry, 3> EntriesOf(const Journal& journal);

std::string JournalText(const Journal& journal);
// The journal that text holds; none when it is not one, or not whole.
std::optional<Journal> ParseJournal(std::string_view text);
// Only the names that are this installation's work folders: a staging name,
// a copy name or the backup name, as folders forms them. Nothing else is
// ever removed on a journal's word.
Journal OnlyWorkFolders(const Journal& journal, const WorkFolders& folders);

// The journal at folders' journal path: none, with a log line, when it is
// there but cannot be read or is damaged, or when no file bears the name.
std::optional<Journal> ReadJournal(const Platform& platform, RunLog& log,
                                   const WorkFolders& folders);
// Names the run's work folders before the first of them is made beside the
// add-in folder. A journal that cannot be written does not stop the run.
void WriteJournal(const Platform& platform, RunLog& log, const WorkFolders& folders,
                  const Journal& journal);
// Removes the journal once none of the folders it names is left; otherwise
// keeps it for the next run.
void EndJournal(const Platform& platform, RunLog& log, const WorkFolders& folders,
                const Journal& journal);

}  // namespace orv
