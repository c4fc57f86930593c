// Who owns a name, what a path resolves to, and the access a folder gives.
#include <windows.h>

#include "platform/win32/backend.h"

namespace orv::win32 {

NameOwner ReadOwner(const Platform&, const char16_t*) {
  Fail(ERROR_CALL_NOT_IMPLEMENTED);
  return NameOwner::Unanswered;
}

FileProbe ReadIdentity(const Platform&, const char16_t*, FileIdentity&) {
  Fail(ERROR_CALL_NOT_IMPLEMENTED);
  return FileProbe::Unanswered;
}

FileProbe ReadFolderChain(const Platform&, const char16_t*, std::vector<FileIdentity>& chain) {
  chain.clear();
  Fail(ERROR_CALL_NOT_IMPLEMENTED);
  return FileProbe::Unanswered;
}

bool CarryOverAccess(const Platform&, const char16_t*, const char16_t*) {
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

}  // namespace orv::win32
