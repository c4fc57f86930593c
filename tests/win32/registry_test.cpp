// Registry reads against a real registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/seam.h"
#include "tests/support/test_support.h"
#include "tests/win32/win32_test_support.h"

namespace orv {
namespace {

using test::P;

// A key of our own under HKEY_LOCAL_MACHINE, removed afterwards. Wine lets
// any user write there; on Windows these tests need an elevated run.
class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    keyPath_ = L"SOFTWARE\\OrvantoPatchTests\\Key" + std::to_wstring(GetCurrentProcessId());
    const LSTATUS created = RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, nullptr, 0,
                                            KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    if (created == ERROR_ACCESS_DENIED) GTEST_SKIP() << "HKLM is not writable for this user";
    ASSERT_EQ(created, ERROR_SUCCESS);
  }
  void TearDown() override {
    if (key_ != nullptr) RegCloseKey(key_);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, keyPath_.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\OrvantoPatchTests");
  }

  void Set(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    ASSERT_EQ(RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data), bytes),
              ERROR_SUCCESS);
  }
  void SetString(const wchar_t* name, const std::wstring& text) {
    Set(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }

  String KeyPath() const { return win32test::Narrow16(keyPath_); }

  RegistryRead Read(const char16_t* name, std::vector<std::uint8_t>& buffer,
                    RegistryValueRequest& request) {
    request.valueName = name;
    request.type = kRegSz;
    request.data = buffer.data();
    request.size = static_cast<std::uint32_t>(buffer.size());
    return P().ReadRegistryValue(P(), KeyPath().c_str(), request);
  }

  std::wstring keyPath_;
  HKEY key_ = nullptr;
};

// What a failed read left as its reason: a Windows error code.
SystemError Win32Error(DWORD code) {
  return {ErrorSource::Win32, static_cast<std::uint32_t>(code)};
}

// The handle value the next open of the key gets. Both Windows and Wine hand
// out the slot freed last (or the lowest free one), so a key left open by a
// read shows as a different value here.
HKEY NextKeyHandle(const std::wstring& path) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  return key;
}

TEST_F(Registry, ReadsTheValueWithItsTypeAndSize) {
  const std::wstring path = L"C:\\Program Files\\Orvanto 4.1";
  SetString(L"Path", path);
  const DWORD number = 7;
  Set(L"Number", REG_DWORD, &number, sizeof number);

  std::vector<std::uint8_t> buffer(520, 0);
  RegistryValueRequest request;
  ASSERT_EQ(Read(u"Path", buffer, request), RegistryRead::Read);
  EXPECT_EQ(request.type, kRegSz);
  EXPECT_EQ(request.size, (path.size() + 1) * 2);
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(buffer.data())), path);

  // The stored type comes back, whatever the caller preset.
  std::vector<std::uint8_t> small(520, 0);
  ASSERT_EQ(Read(u"Number", small, request), RegistryRead::Read);
  EXPECT_EQ(request.type, static_cast<std::uint32_t>(REG_DWORD));
  EXPECT_EQ(request.size, 4u);
  EXPECT_EQ(small[0], 7);
}

TEST_F(Registry, MissingKeyOrValueIsFileNotFoundAndLeavesNoKeyOpen) {
  std::vector<std::uint8_t> buffer(520, 0);
  RegistryValueRequest request;
  request.valueName = u"Path";
  request.data = buffer.data();
  request.size = 520;
  EXPECT_EQ(P().ReadRegistryValue(P(), (KeyPath() + u"\\Missing").c_str(), request),
            RegistryRead::Failed);
  EXPECT_EQ(P().LastError(P()), Win32Error(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Read(u"Missing", buffer, request), RegistryRead::Failed);
  EXPECT_EQ(P().LastError(P()), Win32Error(ERROR_FILE_NOT_FOUND));

  // First make sure that a key left open would show.
  const HKEY slot = NextKeyHandle(keyPath_);
  HKEY leaked = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, KEY_READ, &leaked),
            ERROR_SUCCESS);
  ASSERT_NE(NextKeyHandle(keyPath_), slot);
  RegCloseKey(leaked);
  ASSERT_EQ(NextKeyHandle(keyPath_), slot);

  SetString(L"Path", L"C:\\Orvanto");
  EXPECT_EQ(Read(u"Missing", buffer, request), RegistryRead::Failed);
  EXPECT_EQ(NextKeyHandle(keyPath_), slot);
  EXPECT_EQ(Read(u"Path", buffer, request), RegistryRead::Read);
  EXPECT_EQ(NextKeyHandle(keyPath_), slot);
}

TEST_F(Registry, ValueLargerThanTheBufferAsksForMore) {
  const std::wstring long299(299, L'x');  // 600 bytes with its NUL
  SetString(L"Path", long299);
  std::vector<std::uint8_t> buffer(520, 0);
  RegistryValueRequest request;
  EXPECT_EQ(Read(u"Path", buffer, request), RegistryRead::MoreData);
  EXPECT_EQ(P().LastError(P()), Win32Error(ERROR_MORE_DATA));
  EXPECT_EQ(request.size, 600u);
}

TEST_F(Registry, StringStoredWithoutItsNulComesBackAsStored) {
  // RegSetValueExW counts a NUL that follows the data as the string's own,
  // so the stored bytes are followed by another character here.
  const std::wstring stored = L"D:\\Apps\\Orvanto";
  const std::wstring source = stored + L"X";
  Set(L"Path", REG_SZ, source.c_str(), static_cast<DWORD>(stored.size() * sizeof(wchar_t)));
  std::vector<std::uint8_t> buffer(520, 0);
  RegistryValueRequest request;
  ASSERT_EQ(Read(u"Path", buffer, request), RegistryRead::Read);
  ASSERT_EQ(request.size, stored.size() * 2);
  EXPECT_EQ(std::memcmp(buffer.data(), stored.c_str(), request.size), 0);
  // Whatever follows, the caller's zero-filled buffer ends the string.
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(buffer.data())), stored);
}

}  // namespace
}  // namespace orv
