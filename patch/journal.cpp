#include "patch/journal.h"

#include "patch/folder_steps.h"
#include "patch/retry.h"

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

}  // namespace

std::array<JournalEntry, 3> EntriesOf(const Journal& journal) {
  return {{{kJournalKeys[0].name, journal.*kJournalKeys[0].field},
           {kJournalKeys[1].name, journal.*kJournalKeys[1].field},
           {kJournalKeys[2].name, journal.*kJournalKeys[2].field}}};
}

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

Journal OnlyWorkFolders(const Journal& journal, const WorkFolders& folders) {
  Journal ours;
  if (folders.IsStaging(journal.staging)) ours.staging = journal.staging;
  if (folders.IsCopy(journal.copy)) ours.copy = journal.copy;
  if (!journal.backup.empty() && journal.backup == folders.Backup()) ours.backup = journal.backup;
  return ours;
}

std::optional<Journal> ReadJournal(const Platform& p, RunLog& log, const WorkFolders& folders) {
  const String& path = folders.Journal();
  if (p.FileExists(p, path.c_str()) == FileProbe::Absent) return std::nullopt;
  std::string text;
  std::optional<Journal> journal;
  if (p.ReadSmallFile(p, path.c_str(), text, kJournalLimit)) journal = ParseJournal(text);
  if (!journal) {
    // Never a reason to stop or to change the run: the run writes a new one.
    log.Line("the journal " + LogText(path) + " cannot be read or is damaged; it is ignored");
  }
  return journal;
}

void WriteJournal(const Platform& p, RunLog& log, const WorkFolders& folders,
                  const Journal& journal) {
  const std::string text = JournalText(journal);
  const String& path = folders.Journal();
  // On disk before the first folder it names is made beside the add-in, so
  // that a power cut cannot leave the folders without their journal.
  if (!WriteWholeFile(p, path.c_str(), text.data(), text.size()) ||
      !Retry(p, [&] { return p.FlushFile(p, path.c_str()); }) ||
      !Retry(p, [&] { return p.FlushFolder(p, folders.Host().c_str()); })) {
    log.Failure("the journal could not be written; the run goes on without it");
  }
}

void EndJournal(const Platform& p, RunLog& log, const WorkFolders& folders,
                const Journal& journal) {
  for (const auto& [key, folder] : EntriesOf(journal)) {
    // Kept for the next run, which removes what is still there.
    if (!folder.empty() && StillThere(p, folder)) {
      log.Line("the journal is kept: " + LogText(folder) + " is still there");
      return;
    }
  }
  RemoveWorkFile(p, folders.Journal().c_str());
}

}  // namespace orv
