// What only the compiled resource script shows: the version block as
// Windows reads it back, the languages of the resources and the side-by-side
// manifest. This test program links the same resources as the patch.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "patch/manifest.h"

namespace {

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
const WORD kUsEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

std::wstring OwnPath() {
  std::wstring path(MAX_PATH, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), MAX_PATH);
  path.resize(length);
  return path;
}

std::wstring QueryText(const std::vector<BYTE>& block, const wchar_t* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || length == 0) return {};
  return static_cast<const wchar_t*>(value);
}

TEST(ProgramResources, VersionBlockReadsBackAsWritten) {
  const std::wstring path = OwnPath();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedLength = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedLength));
  ASSERT_GE(fixedLength, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  EXPECT_EQ(QueryText(block, L"FileDescription"), L"Patch for Orvanto");
  EXPECT_EQ(QueryText(block, L"ProductName"), L"Orvanto");
  EXPECT_EQ(QueryText(block, L"OriginalFilename"), L"WinOrvantoPatch1.exe");
  EXPECT_EQ(QueryText(block, L"InternalName"), L"WinOrvantoPatch1.exe");
  EXPECT_EQ(QueryText(block, L"FileVersion"), L"1.0.0.1");
  EXPECT_EQ(QueryText(block, L"ProductVersion"), L"1.0.0.1");

  WORD* translation = nullptr;
  UINT translationLength = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &translationLength));
  ASSERT_EQ(translationLength, 4u);
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 1200);
}

TEST(ProgramResources, PayloadStringsAndVersionAreJapanese) {
  for (int k = 0; k < orv::manifest::kPayloadCount; ++k) {
    const int id = orv::manifest::PayloadResourceId(k);
    EXPECT_NE(FindResourceExW(nullptr, L"BINARY", MAKEINTRESOURCEW(id), kJapanese), nullptr) << id;
    EXPECT_EQ(FindResourceExW(nullptr, L"BINARY", MAKEINTRESOURCEW(id), kUsEnglish), nullptr) << id;
  }
  // String n lives in block n / 16 + 1: 300-324 in blocks 19 to 21, 400-402 in 26.
  for (const int block : {19, 20, 21, 26}) {
    EXPECT_NE(FindResourceExW(nullptr, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(block), kJapanese),
              nullptr)
        << block;
  }
  EXPECT_NE(FindResourceExW(nullptr, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), kJapanese),
            nullptr);
  EXPECT_EQ(FindResourceExW(nullptr, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), kUsEnglish),
            nullptr);
}

TEST(ProgramResources, ManifestNamesCommonControlsOnly) {
  HRSRC found = FindResourceExW(nullptr, MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), kUsEnglish);
  ASSERT_NE(found, nullptr);
  const DWORD size = SizeofResource(nullptr, found);
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(nullptr, found)));
  ASSERT_NE(bytes, nullptr);
  const std::string manifest(bytes, size);
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" "
                          "processorArchitecture=\"x86\" publicKeyToken=\"6595b64144ccf1df\" "
                          "language=\"*\""),
            std::string::npos);
  // One dependency, and no execution level or trust information.
  EXPECT_EQ(manifest.find("<dependency>"), manifest.rfind("<dependency>"));
  EXPECT_EQ(manifest.find("requestedExecutionLevel"), std::string::npos);
  EXPECT_EQ(manifest.find("trustInfo"), std::string::npos);
}

}  // namespace
