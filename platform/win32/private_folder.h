// The security descriptor of the staging folder, apart from the folder, so
// that what it says can be read back where the file system (Wine's) keeps
// only part of it.
#pragma once

#include <windows.h>

#include <memory>

namespace orv::win32 {

// Full control for the process's own account, SYSTEM and Administrators,
// handed down to every file and folder below; protected, so that nothing is
// inherited from the folder it is made in.
class PrivateDescriptor {
 public:
  // False, with the reason recorded, when it cannot be built.
  bool Build();
  SECURITY_DESCRIPTOR* get() { return &descriptor_; }

 private:
  struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
  };
  std::unique_ptr<void, LocalFreer> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
};

}  // namespace orv::win32
