// The payload table and the carried-over libraries, from the build's one
// source for them (patch/payload.tsv, turned into patch/payload_table.inc).
// The resource script and the native payload store come from the same file,
// so the ids checked here are the ids the program carries.
#include "patch/manifest.h"

namespace orv::manifest {
namespace {

#define ORV_PAYLOAD_VERSION(major, minor, build, privatePart)                      \
  static_assert(kPayloadVersion == FileVersion4{major, minor, build, privatePart}, \
                "payload.tsv and manifest.h disagree on the payload version");
#define ORV_PAYLOAD(k, resourceId, stringId, path, day, hour, minute, second, size)   \
  static_assert(resourceId == PayloadResourceId(k) && stringId == PayloadStringId(k), \
                "payload.tsv and manifest.h disagree on payload ids");
#define ORV_LIBRARY(l, stringId, name)          \
  static_assert(stringId == LibraryStringId(l), \
                "payload.tsv and manifest.h disagree on library ids");
#include "patch/payload_table.inc"
#undef ORV_PAYLOAD_VERSION
#undef ORV_PAYLOAD
#undef ORV_LIBRARY

#define ORV_PAYLOAD_VERSION(major, minor, build, privatePart)
#define ORV_LIBRARY(l, stringId, name)
#define ORV_PAYLOAD(k, resourceId, stringId, path, day, hour, minute, second, size) \
  PayloadEntry{path, LocalTime{day, hour, minute, second}, size},
constexpr PayloadEntry kPayloadRows[] = {
#include "patch/payload_table.inc"
};
#undef ORV_PAYLOAD
#undef ORV_LIBRARY

#define ORV_PAYLOAD(k, resourceId, stringId, path, day, hour, minute, second, size)
#define ORV_LIBRARY(l, stringId, name) CarriedLibrary{name},
constexpr CarriedLibrary kLibraryRows[] = {
#include "patch/payload_table.inc"
};
#undef ORV_PAYLOAD_VERSION
#undef ORV_PAYLOAD
#undef ORV_LIBRARY

}  // namespace

// std::to_array keeps the row count, so a table with a row too many or too
// few does not compile.
constinit const std::array<PayloadEntry, kPayloadCount> kPayload = std::to_array(kPayloadRows);
constinit const std::array<CarriedLibrary, kLibraryCount> kLibraries = std::to_array(kLibraryRows);

}  // namespace orv::manifest
