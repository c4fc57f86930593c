// The message box as a person would see it: a watcher process finds the box,
// reads its caption and text, and presses OK; ShowMessage must then return.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <regex>
#include <string>

#include "platform/seam.h"
#include "tests/support/test_support.h"
#include "tests/win32/win32_test_support.h"

namespace orv {
namespace {

using test::TempDir;
using win32test::ChildProcess;

const Platform& P() {
  return SystemPlatform();
}

constexpr DWORD kProcessTimeoutMs = 120000;

std::wstring W(const String& text) {
  return std::wstring(text.begin(), text.end());
}

// Starts the watcher and waits until it is looking.
void StartWatcher(ChildProcess& watcher, const String& log, int expect) {
  const std::wstring arguments = L"--log " + win32test::Quote(W(log)) + L" --expect " +
                                 std::to_wstring(expect) + L" --timeout 100 --settle 200";
  ASSERT_TRUE(watcher.Start(win32test::SiblingProgram(L"box_watcher.exe"), arguments));
  ASSERT_TRUE(win32test::WaitForLine(W(log), "ready", kProcessTimeoutMs));
}

TEST(ShowMessage, ShowsCaptionAndTextAndReturnsWhenOkIsPressed) {
  TempDir dir;
  const String log = dir / u"boxes.log";
  ChildProcess watcher;
  StartWatcher(watcher, log, 1);

  P().ShowMessage(P(), u"Patch for Orvanto", u"Install Succeeded.\nTab\there, \\ and \u00e9.",
                  MessageIcon::Information);

  ASSERT_EQ(watcher.Wait(kProcessTimeoutMs), 0u);
  EXPECT_EQ(win32test::ReadWholeFile(W(log)),
            "ready\nPatch for Orvanto\tInstall Succeeded.\\nTab\\there, \\\\ and \xc3\xa9.\n");
}

// The watcher cannot see the icon; Wine's relay trace of the call can.
TEST(ShowMessage, PassesOkAndTheIconToMessageBoxW) {
  if (!win32test::IsWine()) GTEST_SKIP() << "the call trace needs Wine";
  HKEY debug = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Debug", 0, nullptr, 0,
                            KEY_SET_VALUE, nullptr, &debug, nullptr),
            ERROR_SUCCESS);
  const wchar_t relay[] = L"user32.MessageBoxW;user32.MessageBoxExW;user32.MessageBoxIndirectW";
  ASSERT_EQ(RegSetValueExW(debug, L"RelayInclude", 0, REG_SZ, reinterpret_cast<const BYTE*>(relay),
                           sizeof relay),
            ERROR_SUCCESS);
  RegCloseKey(debug);

  struct Case {
    const wchar_t* icon;
    const char* flags;
  };
  for (const Case& c : {Case{L"information", "00000040"}, Case{L"warning", "00000030"}}) {
    TempDir dir;
    const String log = dir / u"boxes.log";
    const String trace = dir / u"trace.txt";
    ChildProcess watcher;
    StartWatcher(watcher, log, 1);
    ChildProcess shower;
    ChildProcess::Options options;
    options.stderrFile = W(trace);
    options.environmentEntry = L"WINEDEBUG=-all,+relay";
    ASSERT_TRUE(shower.Start(win32test::SiblingProgram(L"win32_helper.exe"),
                             std::wstring(L"show Caption \"Some text\" ") + c.icon, options));
    ASSERT_EQ(shower.Wait(kProcessTimeoutMs), 0u);
    ASSERT_EQ(watcher.Wait(kProcessTimeoutMs), 0u);
    EXPECT_EQ(win32test::ReadWholeFile(W(log)), "ready\nCaption\tSome text\n");

    const std::string calls = win32test::ReadWholeFile(W(trace));
    std::smatch call;
    ASSERT_TRUE(std::regex_search(
        calls, call, std::regex(R"(Call user32\.MessageBoxW\(([0-9a-f]{8}),.*,([0-9a-f]{8})\))")))
        << calls;
    EXPECT_EQ(call[1].str(), "00000000");  // no owner window
    EXPECT_EQ(call[2].str(), c.flags);     // MB_OK (0) plus the icon
  }
}

}  // namespace
}  // namespace orv
