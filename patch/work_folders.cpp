#include "patch/work_folders.h"

#include "patch/manifest.h"
#include "platform/paths.h"

namespace orv {

namespace {

bool IsDigits(StringView text) {
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') return false;
  }
  return true;
}

// The plain name, or the plain name and four digits after it.
bool IsPlainOrNumbered(StringView name, StringView plain) {
  if (plain.empty() || name.substr(0, plain.size()) != plain) return false;
  const StringView number = name.substr(plain.size());
  return number.empty() || (number.size() == 4 && IsDigits(number));
}

}  // namespace

bool AddinFilesFit(StringView folder) {
  PathBuffer path;
  for (const manifest::PayloadEntry& entry : manifest::kPayload) {
    if (!JoinPath(path, folder, entry.relativePath)) return false;
  }
  for (const manifest::CarriedLibrary& library : manifest::kLibraries) {
    if (!JoinPath(path, folder, library.fileName)) return false;
  }
  return true;
}

WorkFolders::WorkFolders(StringView hostDir, StringView tempDir) : host_(hostDir) {
  if (!host_.empty()) {
    addin_ = Concat(host_, manifest::kAddinName);
    backup_ = Concat(addin_, manifest::kBackupSuffix);
    journal_ = Concat(addin_, manifest::kJournalSuffix);
    copy_ = Concat(addin_, manifest::kReplacementSuffix);
  }
  if (!tempDir.empty()) staging_ = Concat(tempDir, manifest::kStagingName);
}

String WorkFolders::Copy(std::int64_t number) const {
  return ConcatNumbered(addin_, manifest::kReplacementSuffix, number);
}

String WorkFolders::Staging(std::int64_t number) const {
  return ConcatNumbered(staging_, u"", number);
}

bool WorkFolders::IsCopy(StringView path) const {
  return IsPlainOrNumbered(path, copy_);
}

bool WorkFolders::IsStaging(StringView path) const {
  return IsPlainOrNumbered(path, staging_);
}

}  // namespace orv
