// The program's payload and string lookups over the resources it really
// carries: the embedded store on POSIX, the compiled resource script on
// Windows. The same cases run on both backends.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "patch/manifest.h"
#include "platform/pe_version.h"
#include "platform/seam.h"

// The backend's own lookups, as the platform record holds them.
#ifdef _WIN32
#include "platform/win32/backend.h"
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/posix/backend.h"
#endif

namespace orv {
namespace {

using manifest::kPayload;
using manifest::kPayloadCount;

const Platform kNoPlatform{};

struct Found {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

Found Payload(int k) {
  Found found;
  EXPECT_TRUE(
      backend::FindPayload(kNoPlatform, manifest::PayloadResourceId(k), found.data, found.size));
  return found;
}

// IMAGE_FILE_DLL in the COFF header's characteristics.
bool IsDll(const Found& image) {
  std::uint32_t pe = 0;
  std::memcpy(&pe, image.data + 0x3C, 4);
  if (pe + 24 > image.size) return false;
  return (image.data[pe + 23] & 0x20) != 0;
}

TEST(PayloadLookup, EveryEntryCarriesThePayloadVersion) {
  for (int k = 0; k < kPayloadCount; ++k) {
    SCOPED_TRACE(k);
    const Found found = Payload(k);
    ASSERT_NE(found.data, nullptr);
    ASSERT_GT(found.size, 0x40u);
#if ORV_DEFAULT_PAYLOAD
    EXPECT_EQ(found.size, kPayload[k].size);
#endif
    FileVersion4 version;
    ASSERT_TRUE(ReadPeFileVersion(MemoryPeSource(found.data, found.size), version));
    EXPECT_EQ(version, manifest::kPayloadVersion);
    EXPECT_EQ(IsDll(found), k < 22);
  }
}

TEST(PayloadLookup, StringsAreTheTablesPathsAndLibraries) {
  for (int k = 0; k < kPayloadCount; ++k) {
    String text = u"stale";
    EXPECT_TRUE(backend::LoadTableString(kNoPlatform, manifest::PayloadStringId(k), text));
    EXPECT_EQ(text, kPayload[k].relativePath) << k;
  }
  for (int l = 0; l < manifest::kLibraryCount; ++l) {
    String text;
    EXPECT_TRUE(backend::LoadTableString(kNoPlatform, manifest::LibraryStringId(l), text));
    EXPECT_EQ(text, manifest::kLibraries[l].fileName) << l;
  }
}

TEST(PayloadLookup, UnknownIdsFailAndLeaveOutputsAlone) {
  const std::uint8_t marker[1] = {0};
  for (const int id : {199, 225, 300, 0, -1}) {
    const std::uint8_t* data = marker;
    std::size_t size = 12345;
    EXPECT_FALSE(backend::FindPayload(kNoPlatform, id, data, size)) << id;
    EXPECT_EQ(data, marker) << id;
    EXPECT_EQ(size, 12345u) << id;
  }
  for (const int id : {299, 325, 399, 403, 200}) {
    String text = u"stale";
    EXPECT_FALSE(backend::LoadTableString(kNoPlatform, id, text)) << id;
    EXPECT_TRUE(text.empty()) << id;
  }
}

TEST(PayloadLookup, LookingUpTwiceGivesTheSameMappedBytes) {
  // Never copied: the stages may keep the pointer for the whole run.
  const Found first = Payload(23);
  const Found second = Payload(23);
  EXPECT_EQ(first.data, second.data);
  EXPECT_EQ(first.size, second.size);
}

#ifndef _WIN32
std::vector<char> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The build's payload folder holds what the program was built from.
TEST(PayloadLookup, BytesAreTheBuildsPayloadFiles) {
  for (int k = 0; k < kPayloadCount; ++k) {
    std::string relative = ToUtf8(kPayload[k].relativePath);
    for (char& c : relative) c = c == '\\' ? '/' : c;
    const std::vector<char> expected =
        ReadFile(std::string(ORV_PAYLOAD_BUILD_DIR) + "/" + relative);
    const Found found = Payload(k);
    ASSERT_EQ(found.size, expected.size()) << relative;
    EXPECT_EQ(std::memcmp(found.data, expected.data(), found.size), 0) << relative;
  }
}

// The permissions of the mapping that holds address, from /proc/self/maps.
std::string MappingPermissions(const void* address) {
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    unsigned long long from = 0;
    unsigned long long to = 0;
    char permissions[5] = {};
    if (std::sscanf(line.c_str(), "%llx-%llx %4s", &from, &to, permissions) == 3 && at >= from &&
        at < to) {
      return permissions;
    }
  }
  return {};
}

TEST(PayloadLookup, BytesLieInReadOnlyMemory) {
  for (const int k : {0, 22, 24}) {
    const Found found = Payload(k);
    for (const std::uint8_t* byte : {found.data, found.data + found.size - 1}) {
      const std::string permissions = MappingPermissions(byte);
      ASSERT_EQ(permissions.size(), 4u) << k;
      EXPECT_EQ(permissions[0], 'r') << k;
      EXPECT_EQ(permissions[1], '-') << k;
      EXPECT_EQ(permissions[2], '-') << k;
    }
  }
}

// How many of the pages wholly inside [data, data + size) this process has
// mapped in (the "present" bit of /proc/self/pagemap, readable by anyone).
std::size_t PresentPages(const void* data, std::size_t size) {
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (start + page - 1) / page;
  const std::uintptr_t end = (start + size) / page;
  const int pagemap = ::open("/proc/self/pagemap", O_RDONLY | O_CLOEXEC);
  EXPECT_GE(pagemap, 0) << "no /proc/self/pagemap";
  std::size_t present = 0;
  for (std::uintptr_t p = first; pagemap >= 0 && p < end; ++p) {
    std::uint64_t entry = 0;
    const auto at = static_cast<off_t>(p * sizeof entry);
    EXPECT_EQ(::pread(pagemap, &entry, sizeof entry, at), static_cast<ssize_t>(sizeof entry));
    present += (entry >> 63) & 1u;
  }
  if (pagemap >= 0) ::close(pagemap);
  return present;
}

// A payload goes to its file straight from the program file, without
// passing through the process's memory: the process does not grow by the
// payload's size, however large it is.
TEST(PayloadWrite, DoesNotMapThePayloadIn) {
  const Found found = Payload(23);  // the largest file
  // Pages that earlier reads mapped in are let go first (read-only bytes
  // of the program file: a later read maps the same bytes again).
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(found.data);
  const std::uintptr_t first = (start + page - 1) / page * page;
  const std::uintptr_t end = (start + found.size) / page * page;
  ASSERT_EQ(::madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED), 0);
  ASSERT_EQ(PresentPages(found.data, found.size), 0u);

  const std::string path = ::testing::TempDir() + "payload-write-test.bin";
  FileStream* stream = backend::OpenFileForWrite(kNoPlatform, FromUtf8(path).c_str());
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(backend::WriteToFile(kNoPlatform, stream, found.data, found.size));
  backend::CloseFile(kNoPlatform, stream);
  EXPECT_EQ(PresentPages(found.data, found.size), 0u);

  const std::vector<char> written = ReadFile(path);
  std::remove(path.c_str());
  ASSERT_EQ(written.size(), found.size);
  EXPECT_EQ(std::memcmp(written.data(), found.data, found.size), 0);
}

// Part of a payload, from its middle, is written as it stands.
TEST(PayloadWrite, PartOfAPayloadFromItsMiddle) {
  const Found found = Payload(22);
  const std::size_t from = 4097;
  const std::size_t count = found.size - from - 3;
  const std::string path = ::testing::TempDir() + "payload-write-part.bin";
  FileStream* stream = backend::OpenFileForWrite(kNoPlatform, FromUtf8(path).c_str());
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(backend::WriteToFile(kNoPlatform, stream, found.data + from, count));
  backend::CloseFile(kNoPlatform, stream);
  const std::vector<char> written = ReadFile(path);
  std::remove(path.c_str());
  ASSERT_EQ(written.size(), count);
  EXPECT_EQ(std::memcmp(written.data(), found.data + from, count), 0);
}

// Other memory is written as it is and left alone.
TEST(PayloadWrite, OtherBytesAreWrittenAndKept) {
  std::vector<std::uint8_t> bytes(std::size_t{3} << 20);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
  const std::string path = ::testing::TempDir() + "payload-write-other.bin";
  FileStream* stream = backend::OpenFileForWrite(kNoPlatform, FromUtf8(path).c_str());
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(backend::WriteToFile(kNoPlatform, stream, bytes.data(), bytes.size()));
  backend::CloseFile(kNoPlatform, stream);
  const std::vector<char> written = ReadFile(path);
  std::remove(path.c_str());
  ASSERT_EQ(written.size(), bytes.size());
  EXPECT_EQ(std::memcmp(written.data(), bytes.data(), bytes.size()), 0);
  for (std::size_t i = 0; i < bytes.size(); i += 4096) {
    ASSERT_EQ(bytes[i], static_cast<std::uint8_t>(i * 7 + 1)) << i;
  }
}
#endif

}  // namespace
}  // namespace orv
