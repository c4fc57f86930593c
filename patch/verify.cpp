#include <algorithm>
#include <map>

#include "patch/retry.h"
#include "patch/stages.h"

namespace orv {

namespace {

// Compared again when it could not be read (a scanner holding the file for
// a moment); a difference is final.
bool Holds(const Platform& p, RunLog& log, const String& file, const auto& compare) {
  FileCompare result = FileCompare::Failed;
  Retry(p, [&] { return (result = compare()) != FileCompare::Failed; });
  if (result == FileCompare::Same) return true;
  log.Line(LogText(file) + (result == FileCompare::Different ? " is not what the patch wrote there"
                                                             : " cannot be read back"));
  return false;
}

// The entries each folder of the new add-in must hold, by folder ("" for
// the top): the payload's files, their culture folders and the libraries.
std::map<String, std::vector<String>> ExpectedEntries(const Platform& p) {
  std::map<String, std::vector<String>> entries;
  const auto add = [&entries](const String& relativePath) {
    const std::size_t cut = relativePath.rfind(u'\\');
    if (cut == String::npos) {
      entries[u""].push_back(relativePath);
      return;
    }
    const String folder = relativePath.substr(0, cut);
    if (!entries.contains(folder)) entries[u""].push_back(folder);
    entries[folder].push_back(relativePath.substr(cut + 1));
  };
  String name;
  for (int k = 0; k < manifest::kPayloadCount; ++k) {
    p.LoadTableString(p, manifest::PayloadStringId(k), name);
    add(name);
  }
  for (int l = 0; l < manifest::kLibraryCount; ++l) {
    p.LoadTableString(p, manifest::LibraryStringId(l), name);
    add(name);
  }
  for (auto& [folder, names] : entries) std::sort(names.begin(), names.end());
  return entries;
}

bool HoldsOnlyWhatItMust(const Platform& p, const RunContext& context) {
  for (const auto& [folder, expected] : ExpectedEntries(p)) {
    const String path = folder.empty() ? context.copyDir : JoinPath(context.copyDir, folder);
    std::vector<String> names;
    if (!Retry(p, [&] { return p.ListFolder(p, path.c_str(), names); })) {
      context.log.Failure(LogText(path) + " cannot be listed");
      return false;
    }
    std::sort(names.begin(), names.end());
    if (names != expected) {
      context.log.Line(LogText(path) + " does not hold exactly the files it must");
      return false;
    }
  }
  return true;
}

}  // namespace

bool VerifyNewFolder(const Platform& p, const RunContext& context) {
  if (!HoldsOnlyWhatItMust(p, context)) return false;
  RunLog& log = context.log;
  String name;
  for (int k = 0; k < manifest::kPayloadCount; ++k) {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    if (!p.FindPayload(p, manifest::PayloadResourceId(k), data, size)) return false;
    p.LoadTableString(p, manifest::PayloadStringId(k), name);
    const String file = JoinPath(context.copyDir, name);
    if (!Holds(p, log, file, [&] { return p.CompareFileWithBytes(p, file.c_str(), data, size); })) {
      return false;
    }
  }
  for (int l = 0; l < manifest::kLibraryCount; ++l) {
    p.LoadTableString(p, manifest::LibraryStringId(l), name);
    const String file = JoinPath(context.copyDir, name);
    const String original = JoinPath(context.folders.Addin(), name);
    if (!Holds(p, log, file, [&] { return p.CompareFiles(p, file.c_str(), original.c_str()); })) {
      return false;
    }
  }
  log.Line("every file of the new add-in folder is what it must be, and nothing else is in it");
  return true;
}

}  // namespace orv
