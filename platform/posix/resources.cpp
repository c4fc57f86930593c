// The program's payload and string table over the embedded store, with the
// contract of the Win32 resource lookups.
#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "platform/posix/backend.h"
#include "platform/posix/embedded_store.h"

namespace orv::posix {

// Weak: a test program without the store links, and finds nothing.
extern const EmbeddedStore kEmbeddedStore __attribute__((weak));

namespace {

const EmbeddedStore* Store() {
  return &kEmbeddedStore;
}

}  // namespace

bool FindPayload(const Platform&, int resourceId, const std::uint8_t*& data, std::size_t& size) {
  const EmbeddedStore* store = Store();
  if (store == nullptr) return Fail(ENOENT);
  for (std::size_t i = 0; i < store->payloadCount; ++i) {
    const EmbeddedPayload& entry = store->payload[i];
    if (entry.resourceId != resourceId) continue;
    if (*entry.size == 0) return Fail(ENOENT);  // an empty resource is missing, as on Windows
    data = entry.data;
    size = *entry.size;
    return true;
  }
  return Fail(ENOENT);
}

bool IsEmbeddedPayload(const void* data, std::size_t size) {
  const EmbeddedStore* store = Store();
  if (store == nullptr || data == nullptr) return false;
  const auto at = reinterpret_cast<std::uintptr_t>(data);
  for (std::size_t i = 0; i < store->payloadCount; ++i) {
    const EmbeddedPayload& entry = store->payload[i];
    const auto start = reinterpret_cast<std::uintptr_t>(entry.data);
    if (at >= start && at - start <= *entry.size && size <= *entry.size - (at - start)) return true;
  }
  return false;
}

bool LoadTableString(const Platform&, int id, String& text) {
  text.clear();
  const EmbeddedStore* store = Store();
  if (store == nullptr) return Fail(ENOENT);
  for (std::size_t i = 0; i < store->stringCount; ++i) {
    const EmbeddedString& entry = store->strings[i];
    // An empty string-table entry is not stored on Windows either.
    if (entry.id == id && entry.text[0] != u'\0') {
      text = entry.text;
      return true;
    }
  }
  return Fail(ENOENT);
}

}  // namespace orv::posix
