#include "platform/system_error.h"

namespace orv {

namespace {
SystemError g_lastError;
}

void RecordSystemError(SystemError error) {
  g_lastError = error;
}

SystemError LastSystemError() {
  return g_lastError;
}

}  // namespace orv
