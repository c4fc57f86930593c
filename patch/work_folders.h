// The folders and the file a run works with, every one named here from two
// places: the host's folder and the temporary folder. The stages, recovery,
// the journal and the log's place all take their names from this one value,
// so that a name and its recognition can never disagree.
#pragma once

#include <cstdint>

#include "platform/text.h"

namespace orv {

// True when the paths of all 25 payload files and the three libraries fit
// the platform's 260-character buffers below folder.
bool AddinFilesFit(StringView folder);

class WorkFolders {
 public:
  WorkFolders() = default;
  // hostDir as found (empty when the host is not installed); tempDir ending
  // in a separator (empty when there is none).
  WorkFolders(StringView hostDir, StringView tempDir);

  const String& Host() const { return host_; }
  // The add-in folder the patch replaces: "<host>\Pellmark".
  const String& Addin() const { return addin_; }
  // Where the old add-in lies between the two renames: "<add-in>_BAK".
  const String& Backup() const { return backup_; }
  // Names the run's work folders while they may exist: "<add-in>_JOURNAL".
  const String& Journal() const { return journal_; }
  // The new add-in folder's plain name, "<add-in>_CPY", and its numbered
  // names "_CPY0000" to "_CPY9999" for when the plain one is taken.
  const String& Copy() const { return copy_; }
  String Copy(std::int64_t number) const;
  // The staging folder in the temporary folder, "PellmarkOV", and the
  // numbered names "PellmarkOV0000" onwards for when the plain one is not
  // this account's to use.
  const String& Staging() const { return staging_; }
  String Staging(std::int64_t number) const;

  // Whether path is one of the copy names, or one of the staging names:
  // the only names besides the backup that a journal may give for removal.
  bool IsCopy(StringView path) const;
  bool IsStaging(StringView path) const;

 private:
  String host_, addin_, backup_, journal_, copy_, staging_;
};

}  // namespace orv
