// The Win32 version service and the portable PE reader must read the same
// version from the same bytes, and refuse the same files.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/pe_version.h"
#include "platform/seam.h"
#include "tests/support/test_support.h"
#include "tests/win32/win32_test_support.h"
#include "tools/pegen/pe_generator.h"

namespace orv {
namespace {

using Image = std::vector<std::uint8_t>;
using test::TempDir;

constexpr FileVersion4 kUntouched{7, 7, 7, 7};

using test::P;

struct Outcome {
  int read;
  FileVersion4 version;
  bool operator==(const Outcome&) const = default;
};

std::string Describe(const Outcome& outcome) {
  return outcome.read ? ToText(outcome.version) : std::string("refused");
}

Outcome ThroughTheService(const String& path) {
  Outcome outcome{0, kUntouched};
  outcome.read = P().ReadFileVersion(P(), path.c_str(), outcome.version);
  return outcome;
}

Outcome ThroughThePortableReader(const std::string& bytes) {
  Outcome outcome{0, kUntouched};
  const MemoryPeSource source(bytes.data(), bytes.size());
  outcome.read = ReadPeFileVersion(source, outcome.version) ? 1 : 0;
  return outcome;
}

void ExpectAgreement(const TempDir& dir, const Image& image, const std::string& what) {
  const std::string bytes(image.begin(), image.end());
  const String path = dir / u"fixture.dll";
  test::WriteBytes(path, bytes);
  const Outcome service = ThroughTheService(path);
  const Outcome portable = ThroughThePortableReader(bytes);
  EXPECT_EQ(Describe(service), Describe(portable)) << what;
  // A refusal leaves the record as it was, on both sides.
  if (!service.read) {
    EXPECT_EQ(service.version, kUntouched) << what;
  }
}

pegen::PeImageSpec Spec(FileVersion4 version, bool executable, bool pe32plus) {
  pegen::PeImageSpec spec;
  spec.fileVersion = version;
  spec.productVersion = FileVersion4{9, 8, 7, 6};
  spec.executable = executable;
  spec.pe32plus = pe32plus;
  return spec;
}

TEST(VersionService, AgreesOnGeneratedImages) {
  TempDir dir;
  const FileVersion4 versions[] = {
      {4, 1, 52, 1}, {4, 1, 52, 0}, {4, 1, 52, 2},    {4, 2, 0, 0},
      {1, 0, 1, 1},  {0, 0, 0, 0},  {1, 0, 65535, 1}, {65535, 65535, 65535, 65535}};
  for (const FileVersion4& version : versions) {
    for (const bool executable : {false, true}) {
      for (const bool pe32plus : {false, true}) {
        const pegen::PeImageSpec spec = Spec(version, executable, pe32plus);
        const Outcome expected{1, version};
        const Image image = pegen::MakePeImage(spec);
        test::WriteBytes(dir / u"v.dll", std::string(image.begin(), image.end()));
        // Both must read the version the generator wrote, not merely agree.
        EXPECT_EQ(Describe(ThroughTheService(dir / u"v.dll")), Describe(expected))
            << ToText(version) << (executable ? " exe" : " dll") << (pe32plus ? " PE32+" : "");
        ExpectAgreement(dir, image, ToText(version));
      }
    }
  }
}

TEST(VersionService, AgreesOnImagesWithoutAVersionTheServiceSees) {
  TempDir dir;
  pegen::PeImageSpec none = Spec({1, 0, 1, 1}, false, false);
  none.hasVersion = false;
  ExpectAgreement(dir, pegen::MakePeImage(none), "no version resource");
  pegen::PeImageSpec otherId = Spec({1, 0, 1, 1}, false, false);
  otherId.versionResourceId = 2;
  ExpectAgreement(dir, pegen::MakePeImage(otherId), "version resource id 2");
  pegen::PeImageSpec padded = Spec({1, 0, 1, 1}, true, false);
  padded.size = 847872;
  ExpectAgreement(dir, pegen::MakePeImage(padded), "padded to a payload size");
  ExpectAgreement(dir, Image{'M', 'Z'}, "two bytes");
  ExpectAgreement(dir, Image{}, "empty");
}

// Where the version block itself lies in the image: from its length word,
// six bytes before the key "VS_VERSION_INFO", for that many bytes.
std::pair<std::size_t, std::size_t> VersionBlock(const Image& image) {
  const char16_t key[] = u"VS_VERSION_INFO";
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(key);
  const auto found =
      std::search(image.begin(), image.end(), bytes, bytes + sizeof key - sizeof key[0]);
  EXPECT_NE(found, image.end());
  const auto start = static_cast<std::size_t>(found - image.begin()) - 6;
  return {start, start + (image[start] | (image[start + 1] << 8))};
}

// Cut short in the headers, the section table or the resource directory, an
// image is readable to both or to neither. Cut after the resource's data
// entry but before the end of the block it points to, Wine reads the missing
// bytes as zeros (its mapping of the file is zero-filled) and reports a
// version where the portable reader refuses: a difference of Wine's loader,
// left out here, as the program never meets such files.
TEST(VersionService, AgreesOnImagesCutShort) {
  TempDir dir;
  const Image whole = pegen::MakePeImage(Spec({4, 1, 52, 1}, true, false));
  const auto [blockStart, blockEnd] = VersionBlock(whole);
  int cuts = 0;
  for (std::size_t length = 0; length < whole.size(); length += 29) {
    // The data entry (16 bytes) sits right before the block.
    if (length > blockStart - 16 && length < blockEnd) continue;
    ExpectAgreement(dir, Image(whole.begin(), whole.begin() + static_cast<long>(length)),
                    "cut at " + std::to_string(length));
    ++cuts;
  }
  EXPECT_GT(cuts, 20);
}

// Wine's own libraries in the prefix: real images made by another linker.
TEST(VersionService, AgreesOnTheSystemsLibraries) {
  wchar_t system[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW((std::wstring(system) + L"\\*.dll").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  do {
    names.emplace_back(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  if (names.size() > 120) names.resize(120);

  int withVersion = 0;
  for (const std::wstring& name : names) {
    const String path = win32test::Narrow16(std::wstring(system) + L"\\" + name);
    const Outcome service = ThroughTheService(path);
    const Outcome portable = ThroughThePortableReader(test::ReadBytes(path));
    EXPECT_EQ(Describe(service), Describe(portable)) << ToUtf8(path);
    withVersion += service.read;
  }
  // The sample means something only if it holds versioned files.
  EXPECT_GT(withVersion, 10);
}

}  // namespace
}  // namespace orv
