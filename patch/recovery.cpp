// What a run that was cut short (a crash, a power cut, a forced shutdown)
// leaves behind, and how the next run puts it right.
//
// Between the two renames the add-in has no folder of its own name: the old
// one lies under "_BAK". The next run moves it back before it looks at the
// add-in. The work folders of a run are named in a journal beside the add-in
// folder, written before the first of them beside the add-in is made: the
// next run removes those it finds, and no folder that the journal does not
// show to be a run's own is ever removed.
#include "patch/recovery.h"

#include "patch/retry.h"
#include "patch/stages.h"

namespace orv {

namespace {

constexpr std::string_view kJournalHeader = "WinOrvantoPatch1 journal 1";
constexpr std::string_view kJournalEnd = "end";
// The journal names three paths of at most 260 characters each.
constexpr std::size_t kJournalLimit = 4096;

struct JournalKey {
  std::string_view name;
  String Journal::*field;
};
constexpr JournalKey kJournalKeys[] = {
    {"staging", &Journal::staging},
    {"copy", &Journal::copy},
    {"backup", &Journal::backup},
};

bool IsDigits(StringView text) {
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') return false;
  }
  return true;
}

// A work folder's names: the plain one and the numbered ones, four digits
// after it, as the copy and the staging folder are named when the plain
// name is taken.
bool IsWorkName(StringView name, StringView plain) {
  if (plain.empty() || name.substr(0, plain.size()) != plain) return false;
  const StringView number = name.substr(plain.size());
  return number.empty() || (number.size() == 4 && IsDigits(number));
}

// A name the volume could not tell about counts as there: nothing is
// journaled for removal, or taken for gone, on no answer.
bool Exists(const Platform& p, const String& path) {
  return LookAtName(p, path) != FileProbe::Absent;
}

}  // namespace

std::string JournalText(const Journal& journal) {
  std::string text(kJournalHeader);
  text += '\n';
  for (const JournalKey& key : kJournalKeys) {
    const String& value = journal.*key.field;
    if (!value.empty()) text.append(key.name).append("\t").append(ToUtf8(value)).append("\n");
  }
  text.append(kJournalEnd).append("\n");
  return text;
}

std::optional<Journal> ParseJournal(std::string_view text) {
  Journal journal;
  bool headerSeen = false;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    // Every line ends with its line end: a journal cut short is no journal.
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    if (!headerSeen) {
      if (line != kJournalHeader) return std::nullopt;
      headerSeen = true;
      continue;
    }
    if (line == kJournalEnd) return text.empty() ? std::optional<Journal>(journal) : std::nullopt;
    const std::size_t tab = line.find('\t');
    const JournalKey* key = nullptr;
    for (const JournalKey& candidate : kJournalKeys) {
      if (tab != std::string_view::npos && line.substr(0, tab) == candidate.name) key = &candidate;
    }
    if (key == nullptr || !(journal.*key->field).empty() || tab + 1 == line.size()) {
      return std::nullopt;
    }
    journal.*key->field = FromUtf8(line.substr(tab + 1));
  }
  return std::nullopt;
}

Journal OnlyWorkFolders(const Journal& journal, StringView addinDir, StringView stagingDir) {
  Journal ours;
  if (IsWorkName(journal.staging, stagingDir)) ours.staging = journal.staging;
  if (IsWorkName(journal.copy, Concat(addinDir, manifest::kReplacementSuffix))) {
    ours.copy = journal.copy;
  }
  if (journal.backup == Concat(addinDir, manifest::kBackupSuffix)) ours.backup = journal.backup;
  return ours;
}

String JournalPath(StringView addinDir) {
  return Concat(addinDir, manifest::kJournalSuffix);
}

bool RenameFolder(const Platform& p, const String& from, const String& to) {
  return Retry(p, [&] { return p.ShellRename(p, from.c_str(), to.c_str()); });
}

Journal WriteJournal(const Platform& p, const RunContext& context) {
  Journal journal;
  journal.staging = String(context.stagingDir.view());
  journal.copy = context.replacementDir;
  // Free when it was looked at before the copy: the run stops when it is not.
  journal.backup = context.backupDir;
  const std::string text = JournalText(journal);
  const String path = JournalPath(context.addinDir.view());
  // On disk before the first folder it names is made beside the add-in, so
  // that a power cut cannot leave the folders without their journal.
  if (!WriteWholeFile(p, path.c_str(), text.data(), text.size()) ||
      !Retry(p, [&] { return p.FlushFile(p, path.c_str()); }) ||
      !Retry(p, [&] { return p.FlushFolder(p, context.hostInstallDir.c_str()); })) {
    context.log.Failure("the journal could not be written; the run goes on without it");
  }
  return journal;
}

// Whether a folder the journal names is still there. A look the volume does
// not answer is made again; one that never answers counts as there, and the
// journal is kept for the next run to look again.
bool StillThere(const Platform& p, const String& folder) {
  bool there = true;
  Retry(p, [&] {
    const FileProbe name = LookAtName(p, folder);
    there = name != FileProbe::Absent;
    return name != FileProbe::Unanswered;
  });
  return there;
}

void EndJournal(const Platform& p, const RunContext& context, const Journal& journal) {
  for (const JournalKey& key : kJournalKeys) {
    const String& folder = journal.*key.field;
    // Kept for the next run, which removes what is still there.
    if (!folder.empty() && StillThere(p, folder)) {
      context.log.Line("the journal is kept: " + LogText(folder) + " is still there");
      return;
    }
  }
  const String path = JournalPath(context.addinDir.view());
  Retry(p, [&] {
    return p.RemoveFile(p, path.c_str()) || p.FileExists(p, path.c_str()) == FileProbe::Absent;
  });
}

void RecoverInterruptedRun(const Platform& p, RunContext& context) {
  const String addinDir(context.addinDir.view());
  const String backupDir = Concat(addinDir, manifest::kBackupSuffix);
  RunLog& log = context.log;
  if (!p.FolderExists(p, addinDir.c_str()) && p.FolderExists(p, backupDir.c_str())) {
    log.Line("the add-in folder is missing and " + LogText(backupDir) +
             " is beside it: an earlier run was cut short between its two renames");
    log.Line(RenameFolder(p, backupDir, addinDir)
                 ? "the old add-in folder is back in place"
                 : "the old add-in folder could not be moved back");
  }

  const String path = JournalPath(addinDir);
  if (p.FileExists(p, path.c_str()) == FileProbe::Absent) return;
  std::string text;
  std::optional<Journal> journal;
  if (p.ReadSmallFile(p, path.c_str(), text, kJournalLimit)) journal = ParseJournal(text);
  if (!journal) {
    // Never a reason to stop or to change the run: the run writes a new one.
    log.Line("the journal " + LogText(path) + " cannot be read or is damaged; it is ignored");
    return;
  }
  PathBuffer temp;
  const String stagingDir =
      p.TempFolder(p, temp) ? Concat(temp.view(), manifest::kStagingName) : String();
  Journal ours = OnlyWorkFolders(*journal, addinDir, stagingDir);
  // The old add-in under "_BAK" is left over only once the add-in folder
  // is in place again.
  if (!p.FolderExists(p, addinDir.c_str())) ours.backup.clear();
  // The temporary folder may be open to every account: a staging name there
  // that this account does not own, or that is a link, was never this
  // program's, whatever the journal says.
  if (!ours.staging.empty() && (p.ReadOwner(p, ours.staging.c_str()) != NameOwner::Ours ||
                                p.IsLink(p, ours.staging.c_str()))) {
    ours.staging.clear();
  }
  log.Line("the journal of an earlier run that was cut short: " + LogText(path));
  for (const JournalKey& key : kJournalKeys) {
    const String& folder = ours.*key.field;
    if (folder.empty() || !Exists(p, folder)) continue;
    log.Line("removing the earlier run's " + std::string(key.name) + " folder " + LogText(folder));
    RemoveWorkFolder(p, folder.c_str());
  }
  EndJournal(p, context, ours);
}

}  // namespace orv
