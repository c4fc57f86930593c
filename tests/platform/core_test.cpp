// The string, path and application helpers every backend builds on.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/application.h"
#include "platform/file_version.h"
#include "platform/paths.h"

namespace orv {
namespace {

String Repeat(char16_t c, std::size_t n) {
  return String(n, c);
}

TEST(PathBuffer, TakesUpTo259CharactersAndRefusesMoreWithoutChange) {
  PathBuffer buffer;
  ASSERT_TRUE(buffer.Assign(u"keep"));
  EXPECT_FALSE(buffer.Assign(Repeat(u'a', 260)));
  EXPECT_EQ(buffer.view(), u"keep");
  EXPECT_TRUE(buffer.Assign(Repeat(u'a', 259)));
  EXPECT_EQ(buffer.view().size(), 259u);
  EXPECT_EQ(buffer.text[259], u'\0');

  ASSERT_TRUE(buffer.Assign(Repeat(u'b', 250)));
  EXPECT_FALSE(buffer.Append(Repeat(u'c', 10)));
  EXPECT_EQ(buffer.view(), Repeat(u'b', 250));
  EXPECT_TRUE(buffer.Append(Repeat(u'c', 9)));
  EXPECT_EQ(buffer.view().size(), 259u);
}

TEST(PathBuffer, ShorterAssignLeavesNoTailOfTheOldText) {
  PathBuffer buffer;
  ASSERT_TRUE(buffer.Assign(u"C:\\a\\long\\name"));
  ASSERT_TRUE(buffer.Assign(u"C:\\x"));
  EXPECT_EQ(buffer.view(), u"C:\\x");
  for (std::size_t i = 4; i < kMaxPath; ++i) ASSERT_EQ(buffer.text[i], u'\0') << i;
}

TEST(Joins, FormatAsTheProgramsFormatsDo) {
  EXPECT_EQ(JoinPath(u"C:\\Host\\Pellmark", u"de\\x.dll"), u"C:\\Host\\Pellmark\\de\\x.dll");
  EXPECT_EQ(JoinPath(u"C:\\Host\\", u"Pellmark"), u"C:\\Host\\\\Pellmark");
  EXPECT_EQ(Concat(u"C:\\Temp\\", u"Stage"), u"C:\\Temp\\Stage");
  EXPECT_EQ(ConcatNumbered(u"C:\\P", u"_N", 0), u"C:\\P_N0000");
  EXPECT_EQ(ConcatNumbered(u"C:\\P", u"_N", 42), u"C:\\P_N0042");
  EXPECT_EQ(ConcatNumbered(u"C:\\P", u"_N", 9999), u"C:\\P_N9999");
  EXPECT_EQ(ConcatNumbered(u"C:\\P", u"_N", 10000), u"C:\\P_N10000");
  // "%04lld" to the last digit, the sign counted in the width.
  EXPECT_EQ(ConcatNumbered(u"C:\\P", u"_N", 9223372036854775807), u"C:\\P_N9223372036854775807");
  EXPECT_EQ(ConcatNumbered(u"C:\\P", u"_N", -7), u"C:\\P_N-007");
  EXPECT_EQ(ConcatNumbered(u"C:\\P", u"_N", INT64_MIN), u"C:\\P_N-9223372036854775808");
}

TEST(Joins, BoundedFormsRefuseWhatDoesNotFit) {
  PathBuffer buffer;
  ASSERT_TRUE(buffer.Assign(u"old"));
  const String folder = Repeat(u'f', 250);
  EXPECT_TRUE(JoinPath(buffer, folder, Repeat(u'n', 8)));  // 250 + 1 + 8 = 259
  EXPECT_FALSE(JoinPath(buffer, folder, Repeat(u'n', 9)));
  EXPECT_EQ(buffer.view().size(), 259u);
  EXPECT_FALSE(Concat(buffer, folder, Repeat(u'n', 10)));
  EXPECT_TRUE(Concat(buffer, folder, Repeat(u'n', 9)));
}

TEST(Joins, CutAtLastBackslashGivesTheParentFolder) {
  String path = u"C:\\Temp\\Stage\\zh-CHS\\Pellmark35.resources.dll";
  CutAtLastBackslash(path);
  EXPECT_EQ(path, u"C:\\Temp\\Stage\\zh-CHS");
  String bare = u"name";
  CutAtLastBackslash(bare);
  EXPECT_EQ(bare, u"name");
}

TEST(Utf, RoundTripsEveryKindOfUnit) {
  const std::vector<String> samples = {u"plain",
                                       u"Grüße \\ ünïcode",
                                       u"日本語\\フォルダ",
                                       u"emoji \U0001F600 end",
                                       String(1, char16_t(0xD800)),
                                       String(1, char16_t(0xDFFF)) + u"x"};
  for (const String& sample : samples) EXPECT_EQ(FromUtf8(ToUtf8(sample)), sample);
  EXPECT_EQ(ToUtf8(u"日本"), "\xE6\x97\xA5\xE6\x9C\xAC");
  // Exact bytes at each width, with the longest result filling its room.
  EXPECT_EQ(ToUtf8(u"a\u00E9\uFFFF\U0001F600"), "a\xC3\xA9\xEF\xBF\xBF\xF0\x9F\x98\x80");
  EXPECT_EQ(ToUtf8(String(3, char16_t(0xDBFF))), "\xED\xAF\xBF\xED\xAF\xBF\xED\xAF\xBF");
  EXPECT_EQ(ToUtf8(u""), "");
}

TEST(Utf, MalformedBytesBecomeReplacementCharacters) {
  EXPECT_EQ(FromUtf8("a\xFF"
                     "b"),
            u"a\uFFFDb");
  EXPECT_EQ(FromUtf8("\xC0\xAF"), u"\uFFFD");        // overlong "/" is never a separator
  EXPECT_EQ(FromUtf8("\xE6\x97"), u"\uFFFD\uFFFD");  // cut short
}

TEST(ProbePath, TrailingBackslashRule) {
  const auto normalised = [](StringView in) {
    PathBuffer out;
    EXPECT_TRUE(NormaliseProbePath(in, out)) << ToUtf8(in);
    return String(out.view());
  };
  EXPECT_EQ(normalised(u"D:\\data\\"), u"D:\\data");
  EXPECT_EQ(normalised(u"D:\\data\\\\"), u"D:\\data\\");
  EXPECT_EQ(normalised(u"D:\\data"), u"D:\\data");
  EXPECT_EQ(normalised(u"C:\\"), u"C:\\");
  EXPECT_EQ(normalised(u"C:"), u"C:\\");
  EXPECT_EQ(normalised(u"/"), u"/\\");

  PathBuffer out;
  EXPECT_TRUE(NormaliseProbePath(Repeat(u'a', 259), out));
  EXPECT_FALSE(NormaliseProbePath(Repeat(u'a', 260), out));
}

TEST(ShellPath, AtMost258Characters) {
  EXPECT_TRUE(FitsShellPath(Repeat(u'a', 258)));
  EXPECT_FALSE(FitsShellPath(Repeat(u'a', 259)));
}

TEST(CompareFileVersion, FirstDifferingPartDecidesSecondMinusFirst) {
  const FileVersion4 target{1, 0, 1, 1};
  EXPECT_LT(CompareFileVersion(target, {1, 0, 1, 0}), 0);
  EXPECT_EQ(CompareFileVersion(target, {1, 0, 1, 1}), 0);
  EXPECT_GT(CompareFileVersion(target, {1, 0, 2, 0}), 0);
  EXPECT_LT(CompareFileVersion(target, {0, 9, 9, 9}), 0);
  EXPECT_EQ(CompareFileVersion({0, 0, 0, 0}, {0, 0, 65535, 0}), 65535);
  EXPECT_EQ(CompareFileVersion({65535, 0, 0, 0}, {0, 9, 9, 9}), -65535);
  const FileVersion4 pairs[][2] = {{{4, 1, 52, 1}, {4, 1, 52, 0}}, {{4, 1, 52, 1}, {4, 2, 0, 0}}};
  for (const auto& pair : pairs) {
    EXPECT_EQ(CompareFileVersion(pair[0], pair[1]), -CompareFileVersion(pair[1], pair[0]));
  }
  EXPECT_EQ(ToText({4, 1, 52, 1}), "4.1.52.1");
  EXPECT_EQ(FromFixedInfo(0x00040001, 0x0034FFFF), (FileVersion4{4, 1, 52, 65535}));
}

class RecordingApp : public CWinApp {
 public:
  std::vector<std::string>* log;
  explicit RecordingApp(std::vector<std::string>* l) : log(l) {}
  bool StartInstance() override {
    log->push_back("start");
    SetExitCode(1603);
    return false;
  }
  int EndInstance() override {
    log->push_back("end");
    return CWinApp::EndInstance();
  }
};

TEST(Application, EntryRunsStartThenEndAndReturnsTheExitHooksResult) {
  std::vector<std::string> log;
  {
    RecordingApp app(&log);
    EXPECT_EQ(CWinApp::Current(), &app);
    EXPECT_EQ(RunApplication(), 1603);
  }
  EXPECT_EQ(log, (std::vector<std::string>{"start", "end"}));
  EXPECT_EQ(CWinApp::Current(), nullptr);
  EXPECT_EQ(RunApplication(), 1);
}

}  // namespace
}  // namespace orv
