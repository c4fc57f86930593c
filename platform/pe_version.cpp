#include "platform/pe_version.h"

#include <cstring>

namespace orv {

bool MemoryPeSource::ReadAt(std::uint64_t offset, void* out, std::size_t count) const {
  if (offset > size_ || count > size_ - offset) return false;
  if (count != 0) std::memcpy(out, data_ + offset, count);
  return true;
}

namespace {

// Every field is read from bytes, little-endian, so that no structure layout,
// alignment or byte order of the host matters.
std::uint16_t Word(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t Dword(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

constexpr std::uint16_t kMagicPe32 = 0x10b;
constexpr std::uint16_t kMagicPe32Plus = 0x20b;
constexpr std::uint32_t kResourceDirectory = 2;
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000u;
constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kVersionInfoId = 1;  // the only name GetFileVersionInfoW looks up
constexpr std::int64_t kFirstEntry = -1;

// VS_VERSIONINFO: three WORDs, L"VS_VERSION_INFO" with its NUL, padding to
// 32 bits, then VS_FIXEDFILEINFO (signature, struct version, file version).
constexpr char16_t kVersionKey[] = u"VS_VERSION_INFO";
constexpr std::uint32_t kKeyOffset = 6;
constexpr std::uint32_t kFixedInfoOffset = 40;
constexpr std::uint32_t kFixedInfoSize = 52;
constexpr std::uint32_t kBlockHead = kFixedInfoOffset + kFixedInfoSize;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BDu;

class Image {
 public:
  explicit Image(const PeSource& source) : source_(source) {}

  // DOS header -> "PE\0\0" -> optional header -> the resource directory's RVA.
  bool ReadHeaders() {
    unsigned char dos[64];
    if (!source_.ReadAt(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    const std::uint64_t pe = Dword(dos + 0x3C);
    unsigned char head[26];  // signature, file header, optional header magic
    if (!source_.ReadAt(pe, head, sizeof head) || std::memcmp(head, "PE\0\0", 4) != 0) {
      return false;
    }
    const std::uint16_t magic = Word(head + 24);
    if (magic != kMagicPe32 && magic != kMagicPe32Plus) return false;
    // NumberOfRvaAndSizes; the data directories follow it.
    const std::uint32_t countAt = magic == kMagicPe32 ? 92 : 108;
    const std::uint32_t directoryAt = countAt + 4 + 8 * kResourceDirectory;
    const std::uint16_t optionalSize = Word(head + 20);
    if (optionalSize < directoryAt + 8) return false;

    const std::uint64_t optional = pe + 24;
    unsigned char count[4];
    unsigned char directory[8];
    if (!source_.ReadAt(optional + countAt, count, sizeof count) ||
        Dword(count) <= kResourceDirectory ||
        !source_.ReadAt(optional + directoryAt, directory, sizeof directory)) {
      return false;
    }
    resources_ = Dword(directory);
    sectionTable_ = optional + optionalSize;
    sectionCount_ = Word(head + 6);
    return resources_ != 0;
  }

  // The version from the RT_VERSION resource named 1, first language.
  bool ReadVersion(FileVersion4& version) const {
    std::uint32_t names = 0;
    std::uint32_t languages = 0;
    std::uint32_t dataEntry = 0;
    if (!FindEntry(0, kRtVersion, true, names) ||
        !FindEntry(names, kVersionInfoId, true, languages) ||
        !FindEntry(languages, kFirstEntry, false, dataEntry)) {
      return false;
    }
    unsigned char entry[8];  // RVA and size of the data
    if (!ReadRva(std::uint64_t{resources_} + dataEntry, entry, sizeof entry)) return false;
    unsigned char block[kBlockHead];
    if (Dword(entry + 4) < kBlockHead || !ReadRva(Dword(entry), block, sizeof block)) return false;

    for (std::uint32_t i = 0; i < sizeof kVersionKey / 2; ++i) {
      if (Word(block + kKeyOffset + 2 * i) != kVersionKey[i]) return false;
    }
    // GetFileVersionInfoW would hand over any value and VerQueryValueW's "\"
    // only fails when there is none at all; we also insist on a whole
    // VS_FIXEDFILEINFO with its signature, so that a damaged block reads as
    // "no version" rather than as a made-up one. Real files all pass this.
    if (Word(block) < kBlockHead || Word(block + 2) < kFixedInfoSize ||
        Dword(block + kFixedInfoOffset) != kFixedInfoSignature) {
      return false;
    }
    version =
        FromFixedInfo(Dword(block + kFixedInfoOffset + 8), Dword(block + kFixedInfoOffset + 12));
    return true;
  }

 private:
  // Reads [rva, rva + count) when it lies wholly inside one section's raw
  // data, the way RtlImageRvaToVa maps a file loaded as data.
  bool ReadRva(std::uint64_t rva, void* out, std::size_t count) const {
    std::uint64_t offset = 0;
    return MapRva(rva, count, offset) && source_.ReadAt(offset, out, count);
  }

  bool MapRva(std::uint64_t rva, std::uint64_t count, std::uint64_t& offset) const {
    for (std::uint32_t i = 0; i < sectionCount_; ++i) {
      unsigned char header[kSectionHeaderSize];
      if (!source_.ReadAt(sectionTable_ + std::uint64_t{kSectionHeaderSize} * i, header,
                          sizeof header)) {
        return false;
      }
      const std::uint64_t start = Dword(header + 12);
      const std::uint64_t rawSize = Dword(header + 16);
      if (rva >= start && rva - start < rawSize) {
        if (rva - start + count > rawSize) return false;
        offset = Dword(header + 20) + (rva - start);
        return true;
      }
    }
    return false;
  }

  // In the resource directory at `directory` (relative to the resource
  // root), the entry with numeric `id`, or the very first entry for
  // kFirstEntry; its target must be a subdirectory or a data entry as asked.
  // Only three fixed levels are walked, so a directory pointing back at
  // itself cannot loop.
  bool FindEntry(std::uint32_t directory, std::int64_t id, bool wantDirectory,
                 std::uint32_t& target) const {
    const std::uint64_t at = std::uint64_t{resources_} + directory;
    unsigned char head[16];
    if (!ReadRva(at, head, sizeof head)) return false;
    const std::uint32_t named = Word(head + 12);
    const std::uint32_t total = named + Word(head + 14);
    const std::uint32_t first = id == kFirstEntry ? 0 : named;  // ids follow the names
    const std::uint32_t end = id == kFirstEntry ? (total != 0 ? 1 : 0) : total;
    if (first == end) return false;
    std::uint64_t entries = 0;  // the whole array must be in range, however many entries
    if (!MapRva(at + 16, std::uint64_t{8} * total, entries)) return false;

    for (std::uint32_t i = first; i < end; ++i) {
      unsigned char entry[8];
      if (!source_.ReadAt(entries + std::uint64_t{8} * i, entry, sizeof entry)) return false;
      const std::uint32_t name = Dword(entry);
      if (id != kFirstEntry && name != id) continue;  // a string name has the top bit set
      const std::uint32_t offset = Dword(entry + 4);
      if (((offset & kSubdirectoryFlag) != 0) != wantDirectory) return false;
      target = offset & ~kSubdirectoryFlag;
      return true;
    }
    return false;
  }

  const PeSource& source_;
  std::uint32_t resources_ = 0;
  std::uint64_t sectionTable_ = 0;
  std::uint32_t sectionCount_ = 0;
};

}  // namespace

bool ReadPeFileVersion(const PeSource& source, FileVersion4& version) {
  Image image(source);
  return image.ReadHeaders() && image.ReadVersion(version);
}

}  // namespace orv
