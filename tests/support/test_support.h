// Test helpers shared by the native and the Windows test programs: real
// temporary folders, files and PE fixtures, through the standard library (not
// through the seam under test).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_version.h"
#include "platform/paths.h"
#include "platform/seam.h"
#include "tools/pegen/pe_generator.h"

namespace orv::test {

// The platform the contract tests exercise: the build's own backend.
inline const Platform& P() {
  return SystemPlatform();
}

// The milliseconds the backend was asked to wait in this process. The
// native tests never spend them: the POSIX backend's waits are counted here
// instead.
std::uint64_t WaitedMilliseconds();

std::filesystem::path FsPath(StringView path);
String FromFs(const std::filesystem::path& path);

// A fresh folder under the platform's temporary folder, removed with all its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const String& path() const { return path_; }
  // path() joined with a relative name by a backslash.
  String operator/(StringView name) const { return JoinPath(path_, name); }

 private:
  String path_;
};

void WriteBytes(StringView path, std::string_view bytes);
std::string ReadBytes(StringView path);
bool Exists(StringView path);  // without following a final symbolic link
bool IsFolder(StringView path);
void MakeFolders(StringView path);
std::int64_t ModificationTime(StringView path);  // whole seconds since 1970 UTC
void SetModificationTime(StringView path, std::int64_t seconds);
// Names and contents of every file below a folder, for whole-tree comparison,
// leaving out (and not entering) what starts with any of the skipped
// relative paths ("a/b" style).
std::string DescribeTree(StringView folder, const std::vector<std::string>& skipped = {});

// A PE image from the generator, written to path.
void WritePeFixture(StringView path, const pegen::PeImageSpec& spec);
FileVersion4 V(int major, int minor, int build, int privatePart);

}  // namespace orv::test
