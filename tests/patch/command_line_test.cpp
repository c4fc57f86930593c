// The switches and the log: what each command line shows, ends with and
// leaves, and what the log of a run says.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "patch/run_log.h"
#include "tests/patch/installation.h"
#include "tests/support/runs.h"

namespace orv {
namespace {

using test::FaultPlatform;
using test::Installation;
using test::Op;

TEST(CommandLine, SwitchesInEitherFormAndCase) {
  const struct {
    std::vector<String> arguments;
    bool quiet, help;
    const char16_t* log;      // null: none
    const char16_t* refused;  // null: accepted
  } cases[] = {
      {{}, false, false, nullptr, nullptr},
      {{u"/quiet"}, true, false, nullptr, nullptr},
      {{u"-QN"}, true, false, nullptr, nullptr},
      {{u"/Log", u"C:\\logs\\run 1.log", u"/qn"}, true, false, u"C:\\logs\\run 1.log", nullptr},
      {{u"/?"}, false, true, nullptr, nullptr},
      {{u"-HELP"}, false, true, nullptr, nullptr},
      {{u"/log"}, false, false, nullptr, u"/log"},
      {{u"/log", u""}, false, false, nullptr, u"/log"},
      {{u"/log", u"/quiet"}, false, false, nullptr, u"/log"},  // a forgotten file name
      {{u"/log", u"a.log", u"-LOG", u"b.log"},
       false,
       false,
       u"a.log",
       u"-LOG b.log (a run writes one log)"},
      {{u"/quiet", u"/passive"}, true, false, nullptr, u"/passive"},
      {{u"file.txt"}, false, false, nullptr, u"file.txt"},
      {{u"/"}, false, false, nullptr, u"/"},
  };
  for (const auto& c : cases) {
    const CommandLine line = ParseCommandLine(c.arguments);
    SCOPED_TRACE(ToUtf8(JoinArguments(c.arguments)));
    EXPECT_EQ(line.quiet, c.quiet);
    EXPECT_EQ(line.help, c.help);
    EXPECT_EQ(line.logPath.value_or(u"(none)"), c.log ? c.log : u"(none)");
    EXPECT_EQ(line.refused.value_or(u"(none)"), c.refused ? c.refused : u"(none)");
  }
}

// A run of the whole program with these arguments.
test::AppRun RunWith(std::vector<String> arguments, bool boxVisible = true) {
  FaultPlatform fault(SystemPlatform());
  Platform record = fault.platform();
  if (!boxVisible) record.CanShowMessages = [](const Platform&) { return false; };
  return test::RunApp(fault, record, std::move(arguments));
}

TEST(CommandLine, EachOutcomeOfTheSwitches) {
  const struct {
    const char* what;
    std::vector<String> arguments;
    bool boxVisible;
    int exitCode;
    const char16_t* shown;  // a text the one notice holds; null: no notice
    bool patched;           // otherwise nothing is touched
  } cases[] = {
      {"quiet", {u"/quiet"}, true, 0, nullptr, true},
      {"nobody to see a box", {}, false, 0, nullptr, true},
      {"help", {u"/?"}, true, 0, u"Usage:", false},
      {"help, quiet", {u"/?", u"/qn"}, true, 0, nullptr, false},
      {"bad switch", {u"/passive"}, true, 1639, u"/passive", false},
      {"bad switch, quiet", {u"/quiet", u"/passive"}, true, 1639, nullptr, false},
      {"bad switch, nobody to see", {u"/passive"}, false, 1639, nullptr, false},
      {"log without a file", {u"/log"}, true, 1639, u"/log", false},
      // In a folder that is not there, so that a log that won would leave
      // nothing behind either.
      {"a second log",
       {u"/log", u"none/a.log", u"/log", u"none/b.log"},
       true,
       1639,
       u"one log",
       false},
      {"a second log, quiet",
       {u"/qn", u"/log", u"none/a.log", u"/log", u"none/b.log"},
       true,
       1639,
       nullptr,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Installation install;
    const std::string before = install.Snapshot();
    const test::AppRun run = RunWith(c.arguments, c.boxVisible);
    EXPECT_EQ(run.exitCode, c.exitCode);
    ASSERT_EQ(run.notices.size(), c.shown ? 1u : 0u);
    if (c.shown) {
      EXPECT_NE(run.notices[0].text.find(c.shown), String::npos);
    }
    install.ExpectPatchedOrUnchanged(c.patched, before);
  }
}

// Every line begins with the local time to the millisecond.
std::vector<std::string> LogLines(const String& path) {
  std::vector<std::string> lines;
  const std::string text = test::ReadBytes(path);
  const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} .+)");
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    EXPECT_NE(end, std::string::npos) << "the last line is cut short";
    lines.push_back(text.substr(at, end - at));
    EXPECT_TRUE(std::regex_match(lines.back(), stamped)) << lines.back();
    at = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

bool Says(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& line : lines) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

TEST(Log, SaysWhatTheRunFoundDidAndEndedWith) {
  Installation install;
  test::TempDir logs;
  const String path = logs / u"run.log";
  test::WriteBytes(path, "an old log, emptied by the run\n");
  EXPECT_EQ(RunWith({u"/log", path, u"/quiet"}).exitCode, 0);
  install.ExpectPatched();
  const std::vector<std::string> lines = LogLines(path);
  for (const char* expected : {
           "WinOrvantoPatch1.exe 1.0.0.1, command line: /log ",
           "quiet: no message box",
           "host folder from App Paths: ",
           "is at 4.1.52.1, the patch is made for 4.1.52.1: the host matches",
           "the add-in folder is writable",
           "is at 1.0.0.9, older than 1.0.1.1: the patch is needed",
           "staging folder: ",
           "wrote ",
           "ShellCopy ",
           "CopySingleFile ",
           "ShellRename ",
           "the new add-in folder's files and folders are on stable storage",
           ", attempt 1: done",
           "the new add-in folder is in place",
           "outcome: Succeeded",
           "exit code 0",
       }) {
    EXPECT_TRUE(Says(lines, expected)) << expected;
  }
  EXPECT_FALSE(Says(lines, "an old log"));
}

TEST(Log, NamesTheFailingCallWithItsAttemptsWaitsAndReason) {
  Installation install;
  test::TempDir logs;
  const String path = logs / u"run.log";
  FaultPlatform fault(SystemPlatform());
  fault.Fail(Op::ShellRename, 1, 20);  // the move aside, held by a scanner throughout
  EXPECT_EQ(test::RunApp(fault, {u"/log", path, u"/quiet"}).exitCode, 1603);
  const std::vector<std::string> lines = LogLines(path);
  const std::string rename = "ShellRename " + ToUtf8(install.addin) + " -> " +
                             ToUtf8(install.Folders().Backup()) + ", attempt ";
  EXPECT_TRUE(Says(lines, rename + "1: failed: errno 16: Device or resource busy"));
  EXPECT_TRUE(Says(lines, rename + "20: failed: errno 16"));
  EXPECT_FALSE(Says(lines, rename + "21"));
  // Every wait named, with the attempt it comes before.
  EXPECT_TRUE(Says(lines, "waiting 10 ms before attempt 2 of ShellRename"));
  EXPECT_TRUE(Says(lines, "waiting 3922 ms before attempt 20 of ShellRename"));
  EXPECT_EQ(fault.Waits().size(), 19u);
  EXPECT_TRUE(Says(lines, "the old add-in folder could not be moved aside; it is as it was"));
  EXPECT_TRUE(Says(lines, "outcome: Failed"));
  EXPECT_TRUE(Says(lines, "exit code 1603"));
}

TEST(Log, NamesABackupFolderThatIsThereAlready) {
  Installation install;
  const String backup = install.Folders().Backup();
  test::MakeFolders(backup);
  test::TempDir logs;
  const String path = logs / u"run.log";
  EXPECT_EQ(RunWith({u"/log", path}).exitCode, 1603);
  const std::vector<std::string> lines = LogLines(path);
  EXPECT_TRUE(Says(lines, ToUtf8(backup) + " is there already and is not this run's"));
  EXPECT_FALSE(Says(lines, "ShellRename"));
}

// Quoted text keeps to its line: a line end in the log's own name (in the
// command line) or in the host's path from the registry is written as its
// code, and so is every other control character, so no line can be forged.
TEST(Log, ControlCharactersInQuotedTextAreWrittenAsTheirCodes) {
  Installation install;
  install.MoveHost(install.root() + u"\\Program Files\\Or\tvan\x1Bto\u2028<");
  test::TempDir logs;
  const String forged = u"2016-05-01 00:00:00.000 outcome: Failed";
  const String path = logs / (u"run\r\n" + forged + u"\x7F.log");
  EXPECT_EQ(RunWith({u"/log", path, u"/quiet"}).exitCode, 0);
  install.ExpectPatched();
  const std::vector<std::string> lines = LogLines(path);
  EXPECT_FALSE(Says(lines, "\t"));
  EXPECT_FALSE(Says(lines, "\x1B"));
  EXPECT_FALSE(Says(lines, "\u2028"));
  EXPECT_FALSE(Says(lines, "\r"));
  for (const std::string& line : lines) EXPECT_FALSE(line.starts_with(ToUtf8(forged))) << line;
  EXPECT_TRUE(Says(lines, "run<U+000D><U+000A>" + ToUtf8(forged) + "<U+007F>.log\" /quiet"));
  EXPECT_TRUE(Says(lines, "host folder from App Paths: " + ToUtf8(install.root()) +
                              "\\Program Files\\Or<U+0009>van<U+001B>to<U+2028><U+003C>"));
  EXPECT_TRUE(Says(lines, "outcome: Succeeded"));
}

TEST(Log, QuotedTextEscapesExactlyWhatCouldBreakOrHideALine) {
  const struct {
    String text;
    const char* logged;
  } cases[] = {
      {u"C:\\new\\run.log", "C:\\new\\run.log"},  // backslashes as they are
      {u"", ""},
      {u"\n", "<U+000A>"},
      {String(1, u'\0') + u"a", "<U+0000>a"},
      {u"a\u0085b\u009Fc", "a<U+0085>b<U+009F>c"},  // C1, NEL among them
      {u"\u2029 <x>", "<U+2029> <U+003C>x>"},
      {u"\u00E9\U0001D11E", "\u00E9\U0001D11E"},          // letters and a pair, as UTF-8
      {String(1, char16_t{0xD834}) + u"x", "<U+D834>x"},  // a lone high surrogate
      {u"x" + String(1, char16_t{0xDD1E}), "x<U+DD1E>"},  // a lone low one
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LogText(c.text), c.logged);
  }
}

// A log that stops being written never changes the run: its first line is
// the first write of the run, and once a write failed no more are tried.
TEST(Log, FailedLogWriteLeavesTheOutcomeAlone) {
  Installation install;
  test::TempDir logs;
  const String path = logs / u"run.log";
  FaultPlatform fault(SystemPlatform());
  fault.Fail(Op::WriteToFile, 1);
  EXPECT_EQ(test::RunApp(fault, {u"/log", path, u"/quiet"}).exitCode, 0);
  install.ExpectPatched();
  // The failed log write, the payload and the journal.
  EXPECT_EQ(fault.Calls(Op::WriteToFile), 1 + manifest::kPayloadCount + 1);
  EXPECT_LT(test::ReadBytes(path).size(), 80u);  // half of the first line at most
}

}  // namespace
}  // namespace orv
