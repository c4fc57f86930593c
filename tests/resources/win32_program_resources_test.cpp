// What only the compiled resource script shows: the version block as
// Windows reads it back, the languages of the resources and the side-by-side
// manifest. This test program links the same resources as the patch.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
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

// The value of each `name="..."` attribute of every `<element` in the text,
// in order.
std::vector<std::string> AttributeValues(const std::string& text, const std::string& element,
                                         const std::string& name) {
  std::vector<std::string> values;
  const std::string open = "<" + element;
  for (std::size_t at = text.find(open); at != std::string::npos; at = text.find(open, at + 1)) {
    const std::size_t close = text.find('>', at);
    const std::string tag = text.substr(at, close == std::string::npos ? close : close - at);
    const std::size_t attribute = tag.find(" " + name + "=\"");
    if (attribute == std::string::npos) {
      values.emplace_back();
      continue;
    }
    const std::size_t from = attribute + name.size() + 3;
    values.push_back(tag.substr(from, tag.find('"', from) - from));
  }
  return values;
}

std::string OwnManifest() {
  HRSRC found = FindResourceExW(nullptr, MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), kUsEnglish);
  if (found == nullptr) return {};
  const DWORD size = SizeofResource(nullptr, found);
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(nullptr, found)));
  return bytes == nullptr ? std::string() : std::string(bytes, size);
}

TEST(ProgramResources, ManifestNamesCommonControlsOnly) {
  const std::string manifest = OwnManifest();
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" "
                          "processorArchitecture=\"x86\" publicKeyToken=\"6595b64144ccf1df\" "
                          "language=\"*\""),
            std::string::npos);
  // One dependency: no C runtime or framework assembly.
  EXPECT_EQ(manifest.find("<dependency>"), manifest.rfind("<dependency>"));
}

// A requested level keeps the installer heuristic and virtualization out of
// the decision: highest available elevates an administrator, runs a standard
// user as invoker, and never asks a user for someone else's password.
TEST(ProgramResources, ManifestRequestsHighestAvailableWithoutUiAccess) {
  const std::string manifest = OwnManifest();
  ASSERT_FALSE(manifest.empty());
  using Values = std::vector<std::string>;
  EXPECT_EQ(AttributeValues(manifest, "trustInfo", "xmlns"),
            Values{"urn:schemas-microsoft-com:asm.v3"});
  EXPECT_EQ(AttributeValues(manifest, "requestedExecutionLevel", "level"),
            Values{"highestAvailable"});
  EXPECT_EQ(AttributeValues(manifest, "requestedExecutionLevel", "uiAccess"), Values{"false"});
  // The level is read inside trustInfo, security, requestedPrivileges only.
  const std::size_t level = manifest.find("<requestedExecutionLevel");
  EXPECT_LT(manifest.find("<trustInfo"), manifest.find("<security>"));
  EXPECT_LT(manifest.find("<security>"), manifest.find("<requestedPrivileges>"));
  EXPECT_LT(manifest.find("<requestedPrivileges>"), level);
  EXPECT_LT(level, manifest.find("</requestedPrivileges>"));
  EXPECT_LT(manifest.find("</security>"), manifest.find("</trustInfo>"));
}

TEST(ProgramResources, ManifestDeclaresWindows7To11) {
  const std::string manifest = OwnManifest();
  ASSERT_FALSE(manifest.empty());
  EXPECT_EQ(AttributeValues(manifest, "compatibility", "xmlns"),
            std::vector<std::string>{"urn:schemas-microsoft-com:compatibility.v1"});
  const std::vector<std::string> ids = AttributeValues(manifest, "supportedOS", "Id");
  const std::set<std::string> declared(ids.begin(), ids.end());
  EXPECT_EQ(ids.size(), declared.size());
  EXPECT_EQ(declared, (std::set<std::string>{
                          "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // Windows 7
                          "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // Windows 8
                          "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // Windows 8.1
                          "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // Windows 10 and 11
                      }));
  // Each inside compatibility, application.
  const std::size_t first = manifest.find("<supportedOS");
  const std::size_t last = manifest.rfind("<supportedOS");
  EXPECT_LT(manifest.find("<compatibility"), manifest.find("<application>"));
  EXPECT_LT(manifest.find("<application>"), first);
  EXPECT_LT(last, manifest.find("</application>"));
}

}  // namespace
