#include "patch/stages.h"

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

// The host's folder from its launcher's App Paths entry. False for anything
// that is not a usable folder path, which means the host is not installed.
bool DiscoverHost(const Platform& p, PathBuffer& hostDir) {
  hostDir.Clear();
  RegistryValueRequest request;
  request.valueName = manifest::kHostRegistryValue;
  request.type = kRegSz;
  request.data = reinterpret_cast<std::uint8_t*>(hostDir.text);
  request.size = manifest::kHostRegistryBytes;
  if (p.ReadRegistryValue(p, manifest::kHostRegistryKey, request) != RegistryRead::Read) {
    return false;
  }
  // A value that fills the whole buffer without a NUL is cut short: a path
  // we cannot trust is no path.
  if (hostDir.text[kMaxPath - 1] != u'\0') {
    hostDir.Clear();
    return false;
  }
  return p.FolderExists(p, hostDir.c_str());
}

std::optional<PatchOutcome> CheckHostVersion(const Platform& p, const PathBuffer& hostDir) {
  PathBuffer launcher;
  if (!Concat(launcher, hostDir.view(), manifest::kLauncherName)) return PatchOutcome::Failed;
  FileVersion4 hostVersion;
  if (!p.ReadFileVersion(p, launcher.c_str(), hostVersion)) return PatchOutcome::Failed;
  switch (ClassifyHostVersion(hostVersion)) {
    case HostVersionClass::Older:
      return PatchOutcome::HostTooOld;
    case HostVersionClass::Newer:
      return PatchOutcome::NotNeeded;
    case HostVersionClass::Matches:
      break;
  }
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
    if (!JoinPath(scanPath, context.addinDir.view(), relativePath)) return PatchOutcome::Failed;
    if (!p.FileExists(p, scanPath.c_str())) return std::nullopt;
    FileVersion4 installed;
    if (!p.ReadFileVersion(p, scanPath.c_str(), installed)) return PatchOutcome::Failed;
    if (CompareFileVersion(target, installed) < 0) return std::nullopt;
  }
  return PatchOutcome::NotNeeded;
}

}  // namespace

std::optional<PatchOutcome> CheckEligibility(const Platform& p, RunContext& context) {
  // A machine without the host does not need the patch: that is no error.
  if (!DiscoverHost(p, context.hostInstallDir)) return PatchOutcome::NotNeeded;
  if (auto outcome = CheckHostVersion(p, context.hostInstallDir)) return outcome;
  if (!Concat(context.addinDir, context.hostInstallDir.view(), manifest::kAddinName)) {
    return PatchOutcome::Failed;
  }
  // Every file's path must fit, not only those the scan reaches first:
  // otherwise a run could install files that no later run can check, and
  // each of those runs would report a failure.
  if (!AddinFilesFit(context.addinDir.view())) return PatchOutcome::Failed;
  if (p.ProbeFolderWritable(p, context.addinDir.c_str()) != FolderProbe::Writable) {
    return PatchOutcome::Failed;
  }
  if (!BuildTimeStamps(p, context)) return PatchOutcome::Failed;
  return ScanInstalledFiles(p, context);
}

}  // namespace orv
