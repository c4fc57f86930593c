// The message box as a person would see it: a watcher process finds the box,
// reads its caption and text, and presses OK; ShowMessage must then return.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/seam.h"
#include "tests/support/test_support.h"
#include "tests/win32/win32_test_support.h"

namespace orv {
namespace {

using test::P;
using test::TempDir;
using win32test::ChildProcess;

constexpr DWORD kProcessTimeoutMs = 120000;

std::wstring W(const String& text) {
  return std::wstring(text.begin(), text.end());
}

// Starts the watcher and waits until it is looking.
void StartWatcher(ChildProcess& watcher, const String& log, int expect) {
  const std::wstring arguments = L"--log " + win32test::Quote(W(log)) + L" --expect " +
                                 std::to_wstring(expect) + L" --timeout 100 --settle 200" +
                                 L" --process win32_tests.exe";
  ASSERT_TRUE(watcher.Start(win32test::SiblingProgram(L"box_watcher.exe"), arguments));
  ASSERT_TRUE(win32test::WaitForLine(W(log), "ready", kProcessTimeoutMs));
}

BOOL CALLBACK AnswerBox(HWND window, LPARAM) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (std::wstring(name) == L"#32770") PostMessageW(window, WM_COMMAND, IDOK, 0);
  return TRUE;
}

// Should the watcher end without pressing OK, this answers our own box, so
// that the test fails instead of waiting for ever.
struct Rescue {
  HANDLE watcher;
  DWORD thread;
};
DWORD WINAPI RescueWhenTheWatcherEnds(void* data) {
  const Rescue& rescue = *static_cast<const Rescue*>(data);
  WaitForSingleObject(rescue.watcher, INFINITE);
  EnumThreadWindows(rescue.thread, AnswerBox, 0);
  return 0;
}

TEST(ShowMessage, ShowsCaptionAndTextAndReturnsWhenOkIsPressed) {
  TempDir dir;
  const String log = dir / u"boxes.log";
  ChildProcess watcher;
  ASSERT_NO_FATAL_FAILURE(StartWatcher(watcher, log, 1));
  Rescue rescue{watcher.handle(), GetCurrentThreadId()};
  const HANDLE rescuer = CreateThread(nullptr, 0, RescueWhenTheWatcherEnds, &rescue, 0, nullptr);
  ASSERT_NE(rescuer, nullptr);

  P().ShowMessage(P(), u"Patch for Orvanto", u"Install Succeeded.\nTab\there, \\ and \u00e9.",
                  MessageIcon::Information);

  WaitForSingleObject(rescuer, INFINITE);
  CloseHandle(rescuer);
  ASSERT_EQ(watcher.Wait(kProcessTimeoutMs), 0u);
  EXPECT_EQ(win32test::ReadWholeFile(W(log)),
            "ready\nPatch for Orvanto\tInstall Succeeded.\\nTab\\there, \\\\ and \xc3\xa9.\n");
}

// The icon is checked by message_box_icons.sh through Wine's relay trace,
// which goes to the process's own standard error.

}  // namespace
}  // namespace orv
