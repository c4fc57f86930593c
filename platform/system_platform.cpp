// The record of this build's backend: every operation of the list, filled
// with the backend's function of the same name.
#ifdef _WIN32
#include "platform/win32/backend.h"
#else
#include "platform/posix/backend.h"
#endif

namespace orv {

const Platform& SystemPlatform() {
  static constexpr Platform kRecord = [] {
    Platform record;
#define ORV_SEAM_OP(name, result, parameters) record.name = backend::name;
#include "platform/seam_ops.inc"
#undef ORV_SEAM_OP
    return record;
  }();
  return kRecord;
}

const char* NameOf(SeamOp op) {
  static const char* const kNames[] = {
#define ORV_SEAM_OP(name, result, parameters) #name,
#define ORV_SEAM_QUERY(name, result, parameters)
#include "platform/seam_ops.inc"
#undef ORV_SEAM_QUERY
#undef ORV_SEAM_OP
  };
  return kNames[static_cast<int>(op)];
}

}  // namespace orv
