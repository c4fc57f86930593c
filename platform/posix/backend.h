// The POSIX backend's operations, one unit per concern; system_platform.cpp
// gathers them into the platform record.
#pragma once

#include <sys/types.h>

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

// The file that the read-only mapping holding [data, data + size) was mapped
// from, opened for reading and checked to be that file by identity, not by
// name alone, with where data lies in it; -1 when the bytes are not mapped
// from a file. Reading the bytes from there leaves the mapping's pages
// alone, so the process does not grow by their size.
int OpenMappedFile(const void* data, std::size_t size, off_t& offset);

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

// What Wait does instead of sleeping, for the in-process tests, which count
// the back-off's waits and pass no real time in them; null sleeps.
using WaitHook = void (*)(std::uint32_t milliseconds);
void SetWaitHook(WaitHook hook);

#define ORV_SEAM_OP ORV_SEAM_DECLARE
#include "platform/seam_ops.inc"
#undef ORV_SEAM_OP

}  // namespace orv::posix

namespace orv {
namespace backend = posix;
}
