// The PE version reader over generated images, whole and damaged.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/pe_version.h"
#include "tools/pegen/pe_generator.h"

namespace orv {
namespace {

using Image = std::vector<std::uint8_t>;

constexpr FileVersion4 kUntouched{7, 7, 7, 7};

// The generator's .rsrc layout: type directory at 0, name directory at 0x18,
// language directory at 0x30, data entry at 0x48, version block at 0x58.
constexpr std::uint32_t kNameDirectory = 0x18;
constexpr std::uint32_t kLanguageDirectory = 0x30;
constexpr std::uint32_t kDataEntry = 0x48;
constexpr std::uint32_t kBlock = 0x58;

std::uint32_t Get32(const Image& image, std::size_t at) {
  return image[at] | (image[at + 1] << 8) | (image[at + 2] << 16) |
         (static_cast<std::uint32_t>(image[at + 3]) << 24);
}
void Put(Image& image, std::size_t at, std::uint32_t value, int width = 4) {
  for (int i = 0; i < width; ++i) image[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
std::size_t PeHeader(const Image& image) {
  return Get32(image, 0x3C);
}
std::size_t Optional(const Image& image) {
  return PeHeader(image) + 24;
}
// File offset of .rsrc, the last section.
std::size_t Resources(const Image& image) {
  const std::size_t sections =
      Optional(image) + (image[PeHeader(image) + 20] | image[PeHeader(image) + 21] << 8);
  const std::size_t count = image[PeHeader(image) + 6];
  return Get32(image, sections + 40 * (count - 1) + 20);
}

bool Read(const Image& image, FileVersion4& version) {
  const MemoryPeSource source(image.data(), image.size());
  return ReadPeFileVersion(source, version);
}

// The version read, or kUntouched when the reader refused (it must then not
// have written to the record).
FileVersion4 ReadOrUntouched(const Image& image) {
  FileVersion4 version = kUntouched;
  const bool read = Read(image, version);
  if (!read) {
    EXPECT_EQ(version, kUntouched) << "a refused read changed the record";
  }
  return read ? version : kUntouched;
}

Image Make(FileVersion4 file, bool executable = false, bool pe32plus = false) {
  pegen::PeImageSpec spec;
  spec.fileVersion = file;
  spec.productVersion = FileVersion4{9, 8, 7, 6};  // only the file version counts
  spec.executable = executable;
  spec.pe32plus = pe32plus;
  return pegen::MakePeImage(spec);
}

TEST(MemoryPeSource, ReadsOnlyWholeRangesInside) {
  const std::uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const MemoryPeSource source(bytes, sizeof bytes);
  std::uint8_t out[4] = {};
  EXPECT_EQ(source.Size(), 8u);
  ASSERT_TRUE(source.ReadAt(4, out, 4));
  EXPECT_EQ(out[0], 5);
  EXPECT_EQ(out[3], 8);
  EXPECT_TRUE(source.ReadAt(8, out, 0));
  EXPECT_FALSE(source.ReadAt(6, out, 4));  // straddles the end
  EXPECT_FALSE(source.ReadAt(9, out, 0));
  EXPECT_FALSE(source.ReadAt(~std::uint64_t{0} - 1, out, 4));  // offset + count wraps
  EXPECT_EQ(out[0], 5) << "a refused read wrote";
}

TEST(PeVersion, ReadsTheFileVersionOfEveryKindOfImage) {
  const FileVersion4 versions[] = {{4, 1, 52, 1}, {4, 1, 52, 0},    {4, 2, 0, 0},
                                   {0, 0, 0, 0},  {1, 0, 65535, 1}, {65535, 65535, 65535, 65535}};
  for (const FileVersion4& expected : versions) {
    for (const bool executable : {false, true}) {
      for (const bool pe32plus : {false, true}) {
        EXPECT_EQ(ReadOrUntouched(Make(expected, executable, pe32plus)), expected)
            << ToText(expected) << (executable ? " exe" : " dll") << (pe32plus ? " PE32+" : "");
      }
    }
  }
}

TEST(PeVersion, LargePaddedImages) {
  pegen::PeImageSpec spec;
  spec.fileVersion = FileVersion4{4, 1, 52, 2};
  for (const std::uint32_t size : {21504u, 847872u, 847872u + 511u}) {
    spec.size = size;
    EXPECT_EQ(ReadOrUntouched(pegen::MakePeImage(spec)), spec.fileVersion) << size;
  }
}

TEST(PeVersion, OnlyTheVersionResourceNamedOneCounts) {
  pegen::PeImageSpec spec;
  spec.versionResourceId = 2;
  EXPECT_EQ(ReadOrUntouched(pegen::MakePeImage(spec)), kUntouched);
  spec.versionResourceId = 1;
  spec.hasVersion = false;
  EXPECT_EQ(ReadOrUntouched(pegen::MakePeImage(spec)), kUntouched);
}

TEST(PeVersion, RefusesNonImages) {
  EXPECT_EQ(ReadOrUntouched(Image{}), kUntouched);
  EXPECT_EQ(ReadOrUntouched(Image(4096, 0)), kUntouched);
  Image mzOnly(4096, 0);
  mzOnly[0] = 'M';
  mzOnly[1] = 'Z';
  EXPECT_EQ(ReadOrUntouched(mzOnly), kUntouched);
}

// Each damage alone makes the image unreadable; the same image undamaged
// reads fine, so it is the damage that is caught.
TEST(PeVersion, RefusesDamagedHeadersAndDirectories) {
  const Image good = Make(FileVersion4{4, 1, 52, 1});
  ASSERT_EQ(ReadOrUntouched(good), (FileVersion4{4, 1, 52, 1}));
  const std::size_t pe = PeHeader(good);
  const std::size_t optional = Optional(good);
  const std::size_t rsrc = Resources(good);
  struct Damage {
    const char* what;
    std::size_t at;
    std::uint32_t value;
    int width;
  };
  const Damage damages[] = {
      {"DOS signature", 0, 'M' | ('X' << 8), 2},
      {"PE header offset past the end", 0x3C, 0xFFFFFFF0u, 4},
      {"PE signature", pe, 0x00004551, 4},
      {"optional header magic", optional, 0x107, 2},
      {"optional header too small", pe + 20, 96, 2},
      {"no resource directory slot", optional + 92, 2, 4},
      {"resource directory RVA", optional + 96 + 16, 0, 4},
      {"no sections", pe + 6, 0, 2},
      {"version block straddles the end of the section", optional + 224 + 16, kBlock + 4, 4},
      {"type is not RT_VERSION", rsrc + 16, 17, 4},
      {"type entry is a string name", rsrc + 16, 0x80000010u, 4},
      {"type entry counted as named", rsrc + 12, 0x00000001, 4},
      {"name entry is data", rsrc + 16 + 4, kNameDirectory, 4},
      {"language entry is a directory", rsrc + kLanguageDirectory + 20, 0x80000000u | kDataEntry,
       4},
      {"empty language directory", rsrc + kLanguageDirectory + 12, 0, 4},
      {"data RVA outside every section", rsrc + kDataEntry, 0x00100000, 4},
      {"data too short for the fixed info", rsrc + kDataEntry + 4, 91, 4},
      {"key", rsrc + kBlock + 6, 'W', 2},
      {"key's terminating NUL", rsrc + kBlock + 6 + 30, 'X', 2},
      {"no fixed info", rsrc + kBlock + 2, 0, 2},
      {"fixed info cut short", rsrc + kBlock + 2, 51, 2},
      {"block shorter than its fixed info", rsrc + kBlock, 91, 2},
      {"fixed info signature", rsrc + kBlock + 40, 0xFEEF04BE, 4},
      {"huge entry count past the section", rsrc + 12, 0xFFFFFFFFu, 4},
  };
  for (const Damage& d : damages) {
    Image image = good;
    Put(image, d.at, d.value, d.width);
    EXPECT_EQ(ReadOrUntouched(image), kUntouched) << d.what;
  }
}

TEST(PeVersion, DirectoriesPointingBackDoNotLoop) {
  pegen::PeImageSpec spec;
  spec.versionResourceId = 16;  // so that the type directory also matches at the name level
  const Image good = pegen::MakePeImage(spec);
  const std::size_t rsrc = Resources(good);
  for (const std::uint32_t target : {0u, kNameDirectory, kLanguageDirectory}) {
    Image image = good;
    Put(image, rsrc + 20, 0x80000000u | target);  // the type entry
    Put(image, rsrc + kNameDirectory + 20, 0x80000000u | target);
    Put(image, rsrc + kLanguageDirectory + 20, 0x80000000u | target);
    EXPECT_EQ(ReadOrUntouched(image), kUntouched) << target;
  }
}

// A file cut anywhere never reads as a wrong version, and once a prefix is
// long enough to hold everything the reader needs, every longer one reads.
TEST(PeVersion, TruncatedAtEveryLength) {
  for (const bool pe32plus : {false, true}) {
    const FileVersion4 expected{4, 1, 52, 1};
    const Image whole = Make(expected, true, pe32plus);
    bool reading = false;
    for (std::size_t length = 0; length <= whole.size(); ++length) {
      const Image cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
      const FileVersion4 got = ReadOrUntouched(cut);
      if (got == kUntouched) {
        ASSERT_FALSE(reading) << "stopped reading at length " << length;
      } else {
        ASSERT_EQ(got, expected) << "length " << length;
        reading = true;
      }
    }
    EXPECT_TRUE(reading);
  }
}

}  // namespace
}  // namespace orv
