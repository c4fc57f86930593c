// The file version of a Windows PE image, read the way GetFileVersionInfoW
// finds it, without the Win32 version service: the POSIX backend and the
// tools use it, and it must never trust a byte of the file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/file_version.h"

namespace orv {

// Random-access bytes of an image. Reads are at offsets so that a large file
// is never loaded whole.
class PeSource {
 public:
  virtual ~PeSource() = default;
  virtual std::uint64_t Size() const = 0;
  // False when any byte of [offset, offset + count) is out of range.
  virtual bool ReadAt(std::uint64_t offset, void* out, std::size_t count) const = 0;
};

// An image already in memory; the bytes must outlive the source.
class MemoryPeSource final : public PeSource {
 public:
  MemoryPeSource(const void* data, std::size_t size)
      : data_(static_cast<const unsigned char*>(data)), size_(size) {}

  std::uint64_t Size() const override { return size_; }
  bool ReadAt(std::uint64_t offset, void* out, std::size_t count) const override;

 private:
  const unsigned char* data_;
  std::size_t size_;
};

// PE32 and PE32+. True and all four parts filled, or false with `version`
// untouched.
bool ReadPeFileVersion(const PeSource& source, FileVersion4& version);

}  // namespace orv
