#include "patch/assessment.h"

#include <string>

namespace orv {

HostVersionClass ClassifyHostVersion(const FileVersion4& version) {
  const std::int32_t difference = CompareFileVersion(manifest::kHostVersion, version);
  if (difference == 0) return HostVersionClass::Matches;
  return difference < 0 ? HostVersionClass::Older : HostVersionClass::Newer;
}

namespace {

StringView WithoutQuotes(StringView text) {
  if (text.size() >= 2 && text.front() == u'"' && text.back() == u'"') {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

// A Path value written as a search list ("C:\Orvanto;", "\"C:\Orvanto\"" or
// "C:\Orvanto;C:\Shared"), as installers and people write it: the folder
// without the trailing separators and quotes, or else the first entry.
// False, with hostDir as it was, when neither names a folder.
bool UseFolderOfSearchList(const Platform& p, PathBuffer& hostDir, RunLog& log) {
  StringView value = hostDir.view();
  while (!value.empty() && value.back() == u';') value.remove_suffix(1);
  const StringView whole = WithoutQuotes(value);
  const StringView first = WithoutQuotes(value.substr(0, value.find(u';')));
  for (const StringView candidate : {whole, first}) {
    const String folder(candidate);
    if (folder.empty() || folder == hostDir.view() || !p.FolderExists(p, folder.c_str())) continue;
    log.Line("the value names no folder as it stands; as a search list it names " +
             LogText(folder));
    hostDir.Assign(folder);  // never longer than the value it came from
    return true;
  }
  return false;
}

}  // namespace

bool DiscoverHost(const Platform& p, PathBuffer& hostDir, RunLog& log) {
  hostDir.Clear();
  RegistryValueRequest request;
  request.valueName = manifest::kHostRegistryValue;
  request.type = kRegSz;
  request.data = reinterpret_cast<std::uint8_t*>(hostDir.text);
  request.size = manifest::kHostRegistryBytes;
  if (p.ReadRegistryValue(p, manifest::kHostRegistryKey, request) != RegistryRead::Read) {
    log.Line("the host's App Paths value could not be read: the host is not installed");
    return false;
  }
  // A value that fills the whole buffer without a NUL is cut short: a path
  // we cannot trust is no path.
  if (hostDir.text[kMaxPath - 1] != u'\0') {
    hostDir.Clear();
    log.Line("the host's App Paths value is too long to be a folder: the host is not installed");
    return false;
  }
  // An expandable value names its folder through environment variables
  // (%ProgramFiles%\Orvanto); as read, it names no folder at all.
  if (request.type == kRegExpandSz) {
    PathBuffer expanded;
    if (!p.ExpandEnvironmentText(p, hostDir.c_str(), expanded)) {
      log.Line("the host's App Paths value " + LogText(hostDir.view()) +
               " does not fit a 260-character path once expanded: the host is not installed");
      hostDir.Clear();
      return false;
    }
    hostDir = expanded;
  }
  log.Line("host folder from App Paths: " + LogText(hostDir.view()));
  if (!p.FolderExists(p, hostDir.c_str()) && !UseFolderOfSearchList(p, hostDir, log)) {
    log.Line("the host folder does not exist: the host is not installed");
    return false;
  }
  // A relative value names a folder from the current one, which the run
  // leaves before the swap: from here on the folder is named absolutely.
  if (String full; p.FullPath(p, hostDir.c_str(), full) && full != hostDir.view()) {
    if (!hostDir.Assign(full)) {
      log.Line("the host folder's full path is too long: " + LogText(full));
      return false;
    }
    log.Line("host folder in full: " + LogText(full));
  }
  return true;
}

namespace {

std::optional<PatchOutcome> CheckHostVersion(const Platform& p, const PathBuffer& hostDir,
                                             RunLog& log) {
  PathBuffer launcher;
  if (!Concat(launcher, hostDir.view(), manifest::kLauncherName)) {
    log.Line("the launcher's path is too long");
    return PatchOutcome::Failed;
  }
  FileVersion4 hostVersion;
  if (!p.ReadFileVersion(p, launcher.c_str(), hostVersion)) {
    log.Line("the launcher's version cannot be read: " + LogText(launcher.view()));
    return PatchOutcome::Failed;
  }
  const std::string versions = "launcher " + LogText(launcher.view()) + " is at " +
                               ToText(hostVersion) + ", the patch is made for " +
                               ToText(manifest::kHostVersion);
  switch (ClassifyHostVersion(hostVersion)) {
    case HostVersionClass::Older:
      log.Line(versions + ": the host is too old");
      return PatchOutcome::HostTooOld;
    case HostVersionClass::Newer:
      log.Line(versions + ": the host is newer, the patch is not needed");
      return PatchOutcome::NotNeeded;
    case HostVersionClass::Matches:
      break;
  }
  log.Line(versions + ": the host matches");
  return std::nullopt;
}

bool BuildTimeStamps(const Platform& p, TimeStamps& stamps) {
  for (int k = 0; k < manifest::kPayloadCount; ++k) {
    const manifest::LocalTime& t = manifest::kPayload[k].time;
    const std::optional<std::int64_t> stamp =
        p.MakeLocalTimeStamp(p, t.day, t.hour, t.minute, t.second);
    if (!stamp) return false;
    stamps[k] = *stamp;
  }
  return true;
}

// Goes on (no outcome) at the first installed file that is missing or older
// than the payload; NotNeeded when all are at the payload's version or newer.
std::optional<PatchOutcome> ScanInstalledFiles(const Platform& p, RunLog& log,
                                               const String& addin) {
  const FileVersion4 target = manifest::kPayloadVersion;
  for (int k = 0; k < manifest::kPayloadCount; ++k) {
    String relativePath;
    p.LoadTableString(p, manifest::PayloadStringId(k), relativePath);
    PathBuffer scanPath;
    if (!JoinPath(scanPath, addin, relativePath)) {
      log.Line("an add-in file's path is too long: " + LogText(relativePath));
      return PatchOutcome::Failed;
    }
    const std::string file = "add-in file " + LogText(relativePath);
    switch (p.FileExists(p, scanPath.c_str())) {
      case FileProbe::Present:
        break;
      case FileProbe::Absent:
        log.Line(file + " is missing: the patch is needed");
        return std::nullopt;
      case FileProbe::Unanswered:
        // No answer is not "missing": the volume may be gone as well.
        log.Line(file + ": whether it exists cannot be told");
        return PatchOutcome::Failed;
    }
    FileVersion4 installed;
    if (!p.ReadFileVersion(p, scanPath.c_str(), installed)) {
      log.Line(file + ": its version cannot be read");
      return PatchOutcome::Failed;
    }
    if (CompareFileVersion(target, installed) < 0) {
      log.Line(file + " is at " + ToText(installed) + ", older than " + ToText(target) +
               ": the patch is needed");
      return std::nullopt;
    }
    log.Line(file + " is at " + ToText(installed));
  }
  log.Line("every add-in file is at " + ToText(target) + " or newer: the patch is not needed");
  return PatchOutcome::NotNeeded;
}

// The folder the installed add-in lies in now: its own, or the backup name
// when a run was cut short between its two renames and recovery is about to
// move it back.
void LookForAddin(const Platform& p, RunLog& log, Assessment& a) {
  const String& addin = a.folders.Addin();
  a.recoverable = addin.size() < kMaxPath;
  if (!a.recoverable) return;
  a.addinAside = !p.FolderExists(p, addin.c_str()) && p.FolderExists(p, a.folders.Backup().c_str());
  if (a.addinAside) {
    log.Line("the add-in lies under " + LogText(a.folders.Backup()) + " until it is moved back");
  }
}

}  // namespace

Assessment AssessInstallation(const Platform& p, RunLog& log) {
  Assessment a;
  PathBuffer host;
  // A machine without the host does not need the patch: that is no error.
  if (!DiscoverHost(p, host, log)) {
    a.beforeProbe = PatchOutcome::NotNeeded;
    return a;
  }
  PathBuffer temp;
  if (p.TempFolder(p, temp)) {
    log.Line("temporary folder from " + std::string(p.TempFolderSource(p)) + ": " +
             LogText(temp.view()));
  }
  a.folders = WorkFolders(host.view(), temp.view());
  LookForAddin(p, log, a);
  if ((a.beforeProbe = CheckHostVersion(p, host, log))) return a;
  // Every file's path must fit, not only those the scan reaches first:
  // otherwise a run could install files that no later run can check, and
  // each of those runs would report a failure.
  if (!a.recoverable || !AddinFilesFit(a.folders.Addin())) {
    log.Line("the add-in folder's files would not fit a 260-character path");
    a.beforeProbe = PatchOutcome::Failed;
    return a;
  }
  log.Line("add-in folder: " + LogText(a.folders.Addin()));
  if (!BuildTimeStamps(p, a.timeStamps)) {
    log.Line("the payload's time stamps cannot be built");
    a.afterProbe = PatchOutcome::Failed;
    return a;
  }
  a.afterProbe = ScanInstalledFiles(p, log, a.addinAside ? a.folders.Backup() : a.folders.Addin());
  return a;
}

WorkFolders FindWorkFolders(const Platform& p) {
  RunLog none;
  PathBuffer host;
  if (!DiscoverHost(p, host, none)) host.Clear();
  PathBuffer temp;
  if (!p.TempFolder(p, temp)) temp.Clear();
  return WorkFolders(host.view(), temp.view());
}

}  // namespace orv
