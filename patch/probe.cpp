#include "patch/folder_steps.h"
#include "patch/stages.h"

namespace orv {

std::optional<PatchOutcome> ProbeAddinFolder(const Platform& p, RunContext& context) {
  RunLog& log = context.log;
  switch (p.ProbeFolderWritable(p, context.folders.Addin().c_str(), context.probeFile)) {
    case FolderProbe::Writable:
      log.Line("the add-in folder is writable");
      RemoveProbeFile(p, context);
      return std::nullopt;
    case FolderProbe::Missing:
      log.Line("the add-in folder is missing or not a folder");
      return PatchOutcome::Failed;
    case FolderProbe::NotWritable:
      log.Line("no file can be created in the add-in folder");
      return PatchOutcome::Failed;
  }
  return PatchOutcome::Failed;
}

void RemoveProbeFile(const Platform& p, RunContext& context) {
  if (context.probeFile.view().empty()) return;
  if (RemoveWorkFile(p, context.probeFile.c_str())) {
    context.probeFile.Clear();
  } else {
    context.log.Line("the probe file could not be removed: " + LogText(context.probeFile.view()));
  }
}

}  // namespace orv
