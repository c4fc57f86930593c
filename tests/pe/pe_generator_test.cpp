// The generator's promises: exact sizes, the loader's layout rules,
// reproducible bytes, and the version strings beside the fixed info.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/pe_version.h"
#include "tools/pegen/pe_generator.h"

namespace orv::pegen {
namespace {

using Image = std::vector<std::uint8_t>;

std::uint32_t Get(const Image& image, std::size_t at, int width = 4) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | image[at + i];
  return value;
}

bool Contains(const Image& image, std::u16string_view text) {
  Image pattern;
  for (const char16_t c : text) {
    pattern.push_back(static_cast<std::uint8_t>(c));
    pattern.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return std::search(image.begin(), image.end(), pattern.begin(), pattern.end()) != image.end();
}

// What the Windows loader needs to map the whole file: sections follow each
// other in file and memory, the image size covers the last one, and less than
// one file alignment trails it.
void ExpectLoaderLayout(const Image& image, const std::string& what) {
  const std::size_t pe = Get(image, 0x3C);
  const std::size_t optional = pe + 24;
  const std::uint32_t count = Get(image, pe + 6, 2);
  const std::size_t table = optional + Get(image, pe + 20, 2);
  const std::uint32_t headers = Get(image, optional + 60);
  ASSERT_LE(table + 40 * count, headers) << what;
  std::uint32_t nextRaw = headers;
  std::uint32_t nextVirtual = 0x1000;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t s = table + 40 * i;
    EXPECT_EQ(Get(image, s + 12), nextVirtual) << what << " section " << i;
    EXPECT_EQ(Get(image, s + 20), nextRaw) << what << " section " << i;
    EXPECT_EQ(Get(image, s + 16) % 0x200, 0u) << what << " section " << i;
    nextRaw += Get(image, s + 16);
    nextVirtual += (Get(image, s + 8) + 0xFFF) / 0x1000 * 0x1000;
  }
  EXPECT_EQ(Get(image, optional + 56), nextVirtual) << what << " SizeOfImage";
  ASSERT_LE(nextRaw, image.size()) << what;
  EXPECT_LT(image.size() - nextRaw, 0x200u) << what << " trailing bytes";
}

TEST(PeGenerator, ExactSizesWithTheLoaderLayout) {
  for (const int kind : {0, 1, 2, 3}) {
    PeImageSpec spec;
    spec.executable = (kind & 1) != 0;
    spec.pe32plus = (kind & 2) != 0;
    const std::size_t smallest = MakePeImage(spec).size();
    ExpectLoaderLayout(MakePeImage(spec), "smallest");
    for (const std::uint32_t size :
         {static_cast<std::uint32_t>(smallest), static_cast<std::uint32_t>(smallest + 1),
          static_cast<std::uint32_t>(smallest + 511), 21504u, 300001u, 847872u}) {
      spec.size = size;
      const Image image = MakePeImage(spec);
      const std::string what = std::to_string(size) + (spec.executable ? " exe" : " dll") +
                               (spec.pe32plus ? " PE32+" : "");
      ASSERT_EQ(image.size(), size) << what;
      ExpectLoaderLayout(image, what);
      FileVersion4 version;
      EXPECT_TRUE(ReadPeFileVersion(MemoryPeSource(image.data(), image.size()), version)) << what;
    }
  }
}

TEST(PeGenerator, RefusesSizesBelowTheSmallestImage) {
  for (const bool executable : {false, true}) {
    PeImageSpec spec;
    spec.executable = executable;
    const std::uint32_t smallest = static_cast<std::uint32_t>(MakePeImage(spec).size());
    ASSERT_GT(smallest, 0u);
    for (const std::uint32_t size : {1u, 512u, smallest - 1}) {
      spec.size = size;
      EXPECT_TRUE(MakePeImage(spec).empty()) << size;
    }
  }
}

TEST(PeGenerator, SameSpecSameBytes) {
  PeImageSpec spec;
  spec.fileVersion = FileVersion4{4, 1, 52, 1};
  spec.executable = true;
  spec.size = 21504;
  const Image first = MakePeImage(spec);
  EXPECT_EQ(MakePeImage(spec), first);
  spec.fileVersion.privatePart = 2;
  EXPECT_NE(MakePeImage(spec), first);
}

TEST(PeGenerator, KindAndVersionTexts) {
  PeImageSpec spec;
  spec.fileVersion = FileVersion4{4, 1, 52, 1};
  spec.productVersion = FileVersion4{65535, 0, 9, 1};
  for (const bool executable : {false, true}) {
    spec.executable = executable;
    const Image image = MakePeImage(spec);
    const std::size_t pe = Get(image, 0x3C);
    const std::uint32_t characteristics = Get(image, pe + 22, 2);
    EXPECT_EQ((characteristics & 0x2000) != 0, !executable) << "IMAGE_FILE_DLL";
    const std::uint32_t entry = Get(image, pe + 24 + 16);
    if (executable) {
      // The entry point's RVA maps into .text at the file's first section.
      ASSERT_EQ(entry, 0x1000u);
      EXPECT_EQ(Get(image, 0x200, 3), 0xC3C031u) << "xor eax,eax; ret";
    } else {
      EXPECT_EQ(entry, 0u) << "a DLL without code has no entry point";
    }
    EXPECT_TRUE(Contains(image, u"FileVersion")) << executable;
    EXPECT_TRUE(Contains(image, u"4.1.52.1")) << executable;
    EXPECT_TRUE(Contains(image, u"ProductVersion")) << executable;
    EXPECT_TRUE(Contains(image, u"65535.0.9.1")) << executable;
    EXPECT_TRUE(Contains(image, u"Translation")) << executable;
  }
}

}  // namespace
}  // namespace orv::pegen
