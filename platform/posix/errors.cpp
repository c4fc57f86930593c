// The reason of the last failure, and its text from the C library.
#include <cstring>

#include "platform/posix/backend.h"

namespace orv::posix {

SystemError LastError(const Platform&) {
  return LastSystemError();
}

String DescribeError(const Platform&, SystemError error) {
  if (error.source == ErrorSource::None) return u"no error";
  char text[256] = {};
  // The GNU form: the text may be a static string rather than the buffer.
  const char* message = ::strerror_r(static_cast<int>(error.code), text, sizeof text);
  return FromUtf8(message != nullptr ? message : "unknown error");
}

}  // namespace orv::posix
