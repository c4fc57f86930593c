// A demonstration installation in real folders for the native program logic:
// a registry folder with the host's App Paths entry, a host folder with its
// launcher, an add-in folder with older files and the carried-over
// libraries, and a private temporary folder.
#pragma once

#include <string>
#include <vector>

#include "patch/manifest.h"
#include "patch/work_folders.h"
#include "tests/support/posix_support.h"
#include "tests/support/test_support.h"
#include "tools/install_maker/install_maker.h"

namespace orv::test {

class Installation {
  TempDir root_;  // first: everything below lives in it
  install::PosixLayout layout_;

 public:
  // An add-in at 1.0.0.9 with all 25 files and the three libraries, and a
  // launcher at 4.1.52.1.
  Installation();

  String host;   // the host's installation folder
  String addin;  // host + "\Pellmark"
  String temp;   // the private temporary folder

  // The folder everything above lives in.
  const String& root() const { return root_.path(); }
  // Moves the host folder, launcher and add-in with it, to another path below
  // root() (its parents are made) and points the registry at it.
  void MoveHost(const String& to);
  void SetRegistryPath(std::string_view value);  // the raw "Path" value
  // The "Path" value's type file ("REG_EXPAND_SZ"); empty: none, REG_SZ.
  void SetRegistryPathType(std::string_view type);
  void RemoveRegistryPath();
  void WriteLauncher(const pegen::PeImageSpec& spec);
  // A launcher that is a program at this version.
  void WriteLauncher(FileVersion4 version);
  void WriteAddinFile(int k, FileVersion4 version);
  String AddinFile(int k) const;
  String Library(int l) const;
  // The names of the run's work folders as the program forms them for this
  // installation, and its staging folder's among them.
  WorkFolders Folders() const { return WorkFolders(host, temp); }
  String Staging() const { return Folders().Staging(); }

  // The whole add-in folder, names, sizes, times and contents.
  std::string Snapshot() const { return DescribeTree(addin); }
  // What the add-in folder must look like after a successful run.
  void ExpectPatched() const;
  // After a success, patched; after anything else, the add-in folder as
  // before (a Snapshot()).
  void ExpectPatchedOrUnchanged(bool patched, const std::string& before) const;
  // The names in the host folder, sorted.
  std::vector<std::string> HostEntries() const;
  // Nothing but the add-in's own folder beside it, and no staging folder.
  void ExpectNoWorkFolders() const;

 private:
  ScopedEnv hklm_;
  ScopedEnv tmpdir_;
  ScopedEnv tz_;
};

}  // namespace orv::test
