#include "patch/recovery.h"
#include "patch/retry.h"
#include "patch/stages.h"

#include <string>

namespace orv {

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

bool BuildTimeStamps(const Platform& p, RunContext& context) {
  for (int k = 0; k < manifest::kPayloadCount; ++k) {
    const manifest::LocalTime& t = manifest::kPayload[k].time;
    const std::optional<std::int64_t> stamp =
        p.MakeLocalTimeStamp(p, t.day, t.hour, t.minute, t.second);
    if (!stamp) return false;
    context.timeStamps[k] = *stamp;
  }
  return true;
}

// Goes on (no outcome) at the first installed file that is missing or older
// than the payload; NotNeeded when all are at the payload's version or newer.
std::optional<PatchOutcome> ScanInstalledFiles(const Platform& p, const RunContext& context) {
  const FileVersion4 target = manifest::kPayloadVersion;
  for (int k = 0; k < manifest::kPayloadCount; ++k) {
    String relativePath;
    p.LoadTableString(p, manifest::PayloadStringId(k), relativePath);
    PathBuffer scanPath;
    if (!JoinPath(scanPath, context.addinDir.view(), relativePath)) {
      context.log.Line("an add-in file's path is too long: " + LogText(relativePath));
      return PatchOutcome::Failed;
    }
    const std::string file = "add-in file " + LogText(relativePath);
    switch (p.FileExists(p, scanPath.c_str())) {
      case FileProbe::Present:
        break;
      case FileProbe::Absent:
        context.log.Line(file + " is missing: the patch is needed");
        return std::nullopt;
      case FileProbe::Unanswered:
        // No answer is not "missing": the volume may be gone as well.
        context.log.Line(file + ": whether it exists cannot be told");
        return PatchOutcome::Failed;
    }
    FileVersion4 installed;
    if (!p.ReadFileVersion(p, scanPath.c_str(), installed)) {
      context.log.Line(file + ": its version cannot be read");
      return PatchOutcome::Failed;
    }
    if (CompareFileVersion(target, installed) < 0) {
      context.log.Line(file + " is at " + ToText(installed) + ", older than " + ToText(target) +
                       ": the patch is needed");
      return std::nullopt;
    }
    context.log.Line(file + " is at " + ToText(installed));
  }
  context.log.Line("every add-in file is at " + ToText(target) +
                   " or newer: the patch is not needed");
  return PatchOutcome::NotNeeded;
}

}  // namespace

void RemoveProbeFile(const Platform& p, RunContext& context) {
  if (context.probeFile.view().empty()) return;
  const char16_t* probe = context.probeFile.c_str();
  if (Retry(p, [&] {
        return p.RemoveFile(p, probe) || p.FileExists(p, probe) == FileProbe::Absent;
      })) {
    context.probeFile.Clear();
  } else {
    context.log.Line("the probe file could not be removed: " + LogText(context.probeFile.view()));
  }
}

std::optional<PatchOutcome> CheckEligibility(const Platform& p, RunContext& context) {
  RunLog& log = context.log;
  // A machine without the host does not need the patch: that is no error.
  if (!DiscoverHost(p, context.hostInstallDir, log)) return PatchOutcome::NotNeeded;
  // Whatever the host's version: a run cut short must not leave the host
  // without its add-in.
  if (Concat(context.addinDir, context.hostInstallDir.view(), manifest::kAddinName)) {
    RecoverInterruptedRun(p, context);
  }
  if (auto outcome = CheckHostVersion(p, context.hostInstallDir, log)) return outcome;
  // Every file's path must fit, not only those the scan reaches first:
  // otherwise a run could install files that no later run can check, and
  // each of those runs would report a failure.
  if (!Concat(context.addinDir, context.hostInstallDir.view(), manifest::kAddinName) ||
      !AddinFilesFit(context.addinDir.view())) {
    log.Line("the add-in folder's files would not fit a 260-character path");
    return PatchOutcome::Failed;
  }
  log.Line("add-in folder: " + LogText(context.addinDir.view()));
  switch (p.ProbeFolderWritable(p, context.addinDir.c_str(), context.probeFile)) {
    case FolderProbe::Writable:
      log.Line("the add-in folder is writable");
      RemoveProbeFile(p, context);
      break;
    case FolderProbe::Missing:
      log.Line("the add-in folder is missing or not a folder");
      return PatchOutcome::Failed;
    case FolderProbe::NotWritable:
      log.Line("no file can be created in the add-in folder");
      return PatchOutcome::Failed;
  }
  if (!BuildTimeStamps(p, context)) {
    log.Line("the payload's time stamps cannot be built");
    return PatchOutcome::Failed;
  }
  return ScanInstalledFiles(p, context);
}

}  // namespace orv
