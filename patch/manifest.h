// Everything fixed about this one patch: the host and version it applies to,
// where the add-in lives, the files it carries and their times, the libraries
// it keeps, the work-folder names, the retry limit and the message texts.
#pragma once

#include <array>
#include <cstdint>

#include "platform/file_version.h"

namespace orv::manifest {

inline constexpr char16_t kHostRegistryKey[] =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Quenbrite.exe";
inline constexpr char16_t kHostRegistryValue[] = u"Path";
inline constexpr std::uint32_t kHostRegistryBytes = 520;
inline constexpr char16_t kLauncherName[] = u"\\Quenbrite.exe";
inline constexpr FileVersion4 kHostVersion{4, 1, 52, 1};
inline constexpr char16_t kAddinName[] = u"\\Pellmark";
inline constexpr FileVersion4 kPayloadVersion{1, 0, 1, 1};

inline constexpr int kPayloadCount = 25;
inline constexpr char16_t kPayloadResourceType[] = u"BINARY";
inline constexpr int kFirstPayloadResourceId = 200;
inline constexpr int kFirstPayloadStringId = 300;
inline constexpr int kSubFolderEntries = 22;  // entries 0 to 21 lie in a culture folder
inline constexpr char16_t kStagingName[] = u"PellmarkOV";

inline constexpr int kLibraryCount = 3;
inline constexpr int kFirstLibraryStringId = 400;
inline constexpr char16_t kBackupSuffix[] = u"_BAK";
inline constexpr char16_t kReplacementSuffix[] = u"_CPY";
// Beside the add-in folder while a run's work folders may exist.
inline constexpr char16_t kJournalSuffix[] = u"_JOURNAL";
// The numbered copy names run from _CPY0000 to this one, four digits.
inline constexpr int kLastReplacementNumber = 9999;

inline constexpr int kAttempts = 20;
// The first wait of a retried operation, and each next one that many
// tenths of the one before: 10 ms, 14 ms, 19 ms ... 3.9 s, 13.7 s in all.
inline constexpr std::uint32_t kFirstWaitMilliseconds = 10;
inline constexpr std::uint32_t kWaitGrowth = 14;

inline constexpr char16_t kMutexName[] = u"WinOrvantoPatch1_Main";
// The same guard across sessions: a SYSTEM run in session 0 and a user's run
// must not patch one folder at once.
inline constexpr char16_t kGlobalMutexName[] = u"Global\\WinOrvantoPatch1_Main";
inline constexpr char16_t kCaption[] = u"Patch for Orvanto";

// Local wall-clock time of May 2016.
struct LocalTime {
  std::int32_t day, hour, minute, second;
};

struct PayloadEntry {
  const char16_t* relativePath;  // also string-table entry 300 + k
  LocalTime time;
  std::uint32_t size;  // bytes of resource 200 + k
};

struct CarriedLibrary {
  const char16_t* fileName;  // also string-table entry 400 + l
};

extern const std::array<PayloadEntry, kPayloadCount> kPayload;
extern const std::array<CarriedLibrary, kLibraryCount> kLibraries;

constexpr int PayloadResourceId(int k) {
  return kFirstPayloadResourceId + k;
}
constexpr int PayloadStringId(int k) {
  return kFirstPayloadStringId + k;
}
constexpr int LibraryStringId(int l) {
  return kFirstLibraryStringId + l;
}
constexpr bool InSubFolder(int k) {
  return k < kSubFolderEntries;
}

}  // namespace orv::manifest
