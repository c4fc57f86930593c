// The access list a folder hands on to its successor, apart from the calls
// that read and set it, so that what it keeps can be read back where the file
// system (Wine's) keeps no descriptor of its own.
#pragma once

#include <windows.h>

#include <memory>
#include <string_view>

namespace orv::win32 {

// The entries set on an object itself, in their order, without the ones it
// inherits, and whether it refuses its parent's entries.
class ExplicitAccess {
 public:
  // From a descriptor holding a DACL; false, with the reason recorded, when
  // it cannot be read or copied.
  bool Take(PSECURITY_DESCRIPTOR descriptor);
  // Null when the descriptor had no DACL at all (every access granted).
  PACL list() const { return static_cast<PACL>(list_.get()); }
  bool hadList() const { return hadList_; }
  bool isProtected() const { return protected_; }

 private:
  struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
  };
  std::unique_ptr<void, LocalFreer> list_;
  bool hadList_ = false;
  bool protected_ = false;
};

// The length of the root folder's part of a final path as
// GetFinalPathNameByHandleW gives it ("\\?\C:\", "\\?\UNC\server\share\",
// "\\?\Volume{...}\"), its last backslash included; 0 for any other form.
std::size_t FinalPathRootLength(std::wstring_view path);

}  // namespace orv::win32
