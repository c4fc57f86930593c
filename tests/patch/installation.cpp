#include "tests/patch/installation.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

namespace orv::test {

namespace fs = std::filesystem;

Installation::Installation()
    : layout_(install::PosixLayoutOf(FsPath(root_.path()))),
      host(FromFs(layout_.host)),
      addin(WorkFolders(host, u"").Addin()),
      temp(FromFs(layout_.temp) + u"\\"),
      hklm_("ORVANTO_HKLM", layout_.hklm.string()),
      tmpdir_("TMPDIR", layout_.temp.string()),
      tz_("TZ", "UTC0") {
  MakeFolders(addin);
  MakeFolders(temp);
  SetRegistryPath(ToUtf8(host));
  EXPECT_EQ(install::WriteLauncher(FsPath(host), manifest::kHostVersion), "");
  for (int k = 0; k < manifest::kPayloadCount; ++k) WriteAddinFile(k, V(1, 0, 0, 9));
  for (int l = 0; l < manifest::kLibraryCount; ++l) {
    WriteBytes(Library(l), "library " + std::to_string(l));
    SetModificationTime(Library(l), 1400000000 + l);
  }
  WriteBytes(addin + u"\\settings.ini", "an extra file of the old folder");
}

void Installation::SetRegistryPath(std::string_view value) {
  ASSERT_EQ(install::WriteRegistryValue(layout_.hklm, value), "");
}

void Installation::SetRegistryPathType(std::string_view type) {
  const fs::path typeFile = install::RegistryValueFile(layout_.hklm).string() + ".type";
  if (type.empty()) {
    fs::remove(typeFile);
  } else {
    WriteBytes(FromFs(typeFile), type);
  }
}

void Installation::MoveHost(const String& to) {
  String parent = to;
  CutAtLastBackslash(parent);
  MakeFolders(parent);
  fs::rename(FsPath(host), FsPath(to));
  host = to;
  addin = WorkFolders(host, u"").Addin();
  SetRegistryPath(ToUtf8(host));
}

void Installation::RemoveRegistryPath() {
  fs::remove(install::RegistryValueFile(layout_.hklm));
}

void Installation::WriteLauncher(const pegen::PeImageSpec& spec) {
  WritePeFixture(host + manifest::kLauncherName, spec);
}

void Installation::WriteLauncher(FileVersion4 version) {
  pegen::PeImageSpec spec;
  spec.executable = true;
  spec.fileVersion = version;
  WriteLauncher(spec);
}

String Installation::AddinFile(int k) const {
  return JoinPath(addin, manifest::kPayload[k].relativePath);
}

String Installation::Library(int l) const {
  return JoinPath(addin, manifest::kLibraries[l].fileName);
}

void Installation::WriteAddinFile(int k, FileVersion4 version) {
  ASSERT_EQ(install::WriteAddinFile(FsPath(addin), k, install::AddinFile{.version = version}), "");
}

void Installation::ExpectPatched() const {
  // Exactly the payload and the libraries, nothing else.
  std::size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(FsPath(addin))) {
    if (entry.is_regular_file()) ++files;
  }
  EXPECT_EQ(files, manifest::kPayloadCount + manifest::kLibraryCount);
  for (int k = 0; k < manifest::kPayloadCount; ++k) {
    const manifest::PayloadEntry& e = manifest::kPayload[k];
    std::tm utc{};
    utc.tm_year = 116;
    utc.tm_mon = 4;
    utc.tm_mday = e.time.day;
    utc.tm_hour = e.time.hour;
    utc.tm_min = e.time.minute;
    utc.tm_sec = e.time.second;
    EXPECT_EQ(ModificationTime(AddinFile(k)), ::timegm(&utc)) << k;
    EXPECT_EQ(ReadBytes(AddinFile(k)).size(), e.size) << k;
  }
  for (int l = 0; l < manifest::kLibraryCount; ++l) {
    EXPECT_EQ(ReadBytes(Library(l)), "library " + std::to_string(l));
    EXPECT_EQ(ModificationTime(Library(l)), 1400000000 + l);
  }
}

void Installation::ExpectPatchedOrUnchanged(bool patched, const std::string& before) const {
  if (patched) {
    ExpectPatched();
  } else {
    EXPECT_EQ(Snapshot(), before);
  }
}

std::vector<std::string> Installation::HostEntries() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(FsPath(host))) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void Installation::ExpectNoWorkFolders() const {
  EXPECT_EQ(HostEntries(), (std::vector<std::string>{"Pellmark", "Quenbrite.exe"}));
  EXPECT_FALSE(Exists(Staging()));
}

}  // namespace orv::test
