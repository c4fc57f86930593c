// The POSIX backend's operations, one unit per concern; system_platform.cpp
// gathers them into the platform record.
#pragma once

#include <cerrno>
#include <string>

#include "platform/seam.h"

namespace orv::posix {

// UTF-16 path to the file system's UTF-8, with both separators accepted.
std::string NativePath(const char16_t* path);

// The temporary folder: $TMPDIR when set and not empty, else /tmp, always
// ending in one separator.
String TempFolderText();

// Whether [data, data + size) lies inside one payload of the program's own
// embedded store: read-only bytes of the program file, never written.
bool IsEmbeddedPayload(const void* data, std::size_t size);

// What a failed look at a name (lstat) with this error says about it: only
// "no such file or path" is an answer; any other error (EIO, EACCES on the
// way there) leaves it untold.
FileProbe FileProbeFromError(int error);

// Records errno (or the given error) as the reason of a failure; false, so
// that a failing operation can return it.
inline bool Fail(int error = errno) {
  RecordSystemError({ErrorSource::Errno, static_cast<std::uint32_t>(error)});
  return false;
}

#define ORV_SEAM_OP ORV_SEAM_DECLARE
#include "platform/seam_ops.inc"
#undef ORV_SEAM_OP

}  // namespace orv::posix

namespace orv {
namespace backend = posix;
}
