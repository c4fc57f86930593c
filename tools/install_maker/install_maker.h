// Demonstration and test installations of the host, made from the patch's own
// tables: the launcher, the add-in folder as the patch finds it in the field
// (older files, the libraries it keeps) and the App Paths entry, either in the
// POSIX backend's registry folder or as a registry script that one Wine
// `reg import` loads. The install-maker program is a thin layer over this; the
// native tests' installation fixture writes its pieces with the same calls.
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "patch/manifest.h"
#include "platform/file_version.h"

namespace orv::install {

namespace fs = std::filesystem;

// What an installation in the field holds before the patch.
inline constexpr FileVersion4 kLauncherProductVersion{4, 1, 0, 0};
inline constexpr FileVersion4 kFieldAddinVersion{1, 0, 0, 9};

// One add-in file: at a version, without a version resource, or absent.
struct AddinFile {
  enum class Kind { kVersion, kNoVersion, kMissing };
  Kind kind = Kind::kVersion;
  FileVersion4 version = kFieldAddinVersion;
};

// The launcher's file version; none: no version resource at all.
using LauncherVersion = std::optional<FileVersion4>;

// A whole installation for the native program below one folder DIR.
struct PosixLayout {
  fs::path hklm;  // DIR/hklm, the registry (ORVANTO_HKLM)
  fs::path temp;  // DIR/tmp, a private temporary folder (TMPDIR)
  fs::path host;  // DIR/Program Files/Orvanto, where the App Paths entry points
};
PosixLayout PosixLayoutOf(const fs::path& dir);

// Each writer returns what went wrong, empty when all went well, and makes
// the folders it needs.

// HOST\Quenbrite.exe, an executable image with product version 4.1.0.0.
std::string WriteLauncher(const fs::path& host, const LauncherVersion& version);
// Payload entry k below the add-in folder, dated 2015-03-02 10:00:00 local
// time; a missing one is removed if it is there.
std::string WriteAddinFile(const fs::path& addin, int k, const AddinFile& file);
// Carried-over library l: contents no payload file has ("kept library NAME"
// and random bytes), so that a replaced library shows.
std::string WriteKeptLibrary(const fs::path& addin, int l);

// The file that holds the App Paths "Path" value in the POSIX backend's
// registry folder (what ORVANTO_HKLM names).
fs::path RegistryValueFile(const fs::path& hklm);
// Stores value there as it is: the backend reads UTF-8, no NUL, no newline.
std::string WriteRegistryValue(const fs::path& hklm, std::string_view value);
// A registry script (UTF-16 with a byte order mark, so that any path survives)
// pointing the App Paths entry at HOST as Wine's programs see it (Z:\...).
std::string WriteWineRegistryScript(const fs::path& script, const fs::path& host);

// The command line of install-maker.
struct Request {
  enum class Command { kPosix, kWine, kTable, kHelp };
  Command command = Command::kHelp;
  fs::path target;          // posix: DIR; wine: HOST
  fs::path registryScript;  // wine: --reg FILE
  LauncherVersion launcher = manifest::kHostVersion;
  std::array<AddinFile, manifest::kPayloadCount> addin{};
  bool makeLauncher = true;
  bool makeAddin = true;
  bool makeRegistry = true;
};

extern const char kUsage[];

// Fills request from the arguments after the program name; what is wrong
// with them, empty when nothing is.
std::string ParseArguments(const std::vector<std::string_view>& arguments, Request& request);
// Makes what a posix or wine request asks for; what went wrong, or empty.
std::string Make(const Request& request);
// The payload table as bash assignments for eval: ORV_PAYLOAD_VERSION,
// the arrays ORV_PAYLOAD_PATHS (relative, '/'-separated), ORV_PAYLOAD_TIMES
// (local "YYYY-MM-DD hh:mm:ss"), ORV_PAYLOAD_SIZES, and ORV_LIBRARIES.
std::string ShellTable();

}  // namespace orv::install
