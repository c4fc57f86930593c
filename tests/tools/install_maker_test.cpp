// install-maker: its command line, what it writes, and its table as bash
// reads it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "platform/pe_version.h"
#include "tests/support/test_support.h"
#include "tools/install_maker/install_maker.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using install::AddinFile;
using install::Request;
using Kind = AddinFile::Kind;

std::optional<FileVersion4> VersionOf(const fs::path& file) {
  const std::string bytes = test::ReadBytes(test::FromFs(file));
  FileVersion4 version;
  if (!ReadPeFileVersion(MemoryPeSource(bytes.data(), bytes.size()), version)) return {};
  return version;
}

TEST(InstallMakerArguments, AreReadOrRefusedWithTheReason) {
  struct Case {
    std::vector<std::string_view> arguments;
    std::string error;  // empty: accepted
  };
  const Case cases[] = {
      {{}, "no command given"},
      {{"setup", "d"}, "unknown command 'setup'"},
      {{"posix"}, "no folder given"},
      {{"posix", "d", "e"}, "more than one folder given"},
      {{"posix", "d", "--addin-version"}, "--addin-version needs a value"},
      {{"posix", "d", "--addin-version", "1.0"}, "bad add-in version '1.0'"},
      {{"posix", "d", "--launcher-version", "4.1.52"}, "bad launcher version '4.1.52'"},
      {{"posix", "d", "--file", "Pellmark.exe"}, "bad --file (want PATH=STATE) 'Pellmark.exe'"},
      {{"posix", "d", "--file", "Pellmark.exe=old"},
       "bad file state (want A.B.C.D, none or missing) 'old'"},
      {{"posix", "d", "--file", "xx/Pellmark35.resources.dll=missing"},
       "no payload file 'xx/Pellmark35.resources.dll' in the table"},
      {{"posix", "d", "--only", "launcher,,addin"},
       "bad part (want launcher, addin or registry) ''"},
      {{"posix", "d", "--reg", "r.reg"}, "unknown option '--reg'"},
      {{"wine", "h", "--only", "registry"}, "--only registry needs --reg FILE"},
      {{"table", "x"}, "table takes no arguments"},
      {{"posix", "d"}, ""},
      {{"wine", "h", "--reg", "r.reg", "--only", "registry"}, ""},
  };
  for (const Case& c : cases) {
    Request request;
    std::string joined;
    for (std::string_view a : c.arguments) joined += std::string(a) + " ";
    EXPECT_EQ(install::ParseArguments(c.arguments, request), c.error) << joined;
  }
}

TEST(InstallMakerArguments, NamedFilesWinOverTheAddinVersionWhereverItStands) {
  Request request;
  ASSERT_EQ(install::ParseArguments({"wine", "h", "--file", "de\\Pellmark45.resources.dll=none",
                                     "--file", "Pellmark.exe=1.0.2.0", "--addin-version", "1.0.1.1",
                                     "--launcher-version", "none", "--only", "addin"},
                                    request),
            "");
  EXPECT_EQ(request.command, Request::Command::kWine);
  EXPECT_FALSE(request.launcher.has_value());
  EXPECT_EQ(request.addin[1].kind, Kind::kNoVersion);
  EXPECT_EQ(request.addin[22].version, (FileVersion4{1, 0, 2, 0}));
  EXPECT_EQ(request.addin[0].version, (FileVersion4{1, 0, 1, 1}));
  EXPECT_FALSE(request.makeLauncher);
  EXPECT_TRUE(request.makeAddin);
  EXPECT_FALSE(request.makeRegistry);
}

TEST(InstallMaker, PosixInstallationHoldsWhatWasAskedFor) {
  test::TempDir root;
  const fs::path dir = test::FsPath(root.path()) / "demo";
  Request request;
  ASSERT_EQ(install::ParseArguments(
                {"posix", dir.string(), "--file", "ja/Pellmark45.resources.dll=missing", "--file",
                 "Pellmark35.exe=none", "--file", "de/Pellmark35.resources.dll=1.0.1.1"},
                request),
            "");
  ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  ::tzset();
  ASSERT_EQ(install::Make(request), "");

  const fs::path host = dir / "Program Files" / "Orvanto";
  EXPECT_EQ(test::ReadBytes(test::FromFs(install::RegistryValueFile(dir / "hklm"))), host.string());
  EXPECT_TRUE(fs::is_directory(dir / "tmp"));
  EXPECT_EQ(VersionOf(host / "Quenbrite.exe"), manifest::kHostVersion);

  const fs::path addin = host / "Pellmark";
  EXPECT_EQ(VersionOf(addin / "de/Pellmark35.resources.dll"), (FileVersion4{1, 0, 1, 1}));
  EXPECT_EQ(VersionOf(addin / "Pellmark35.exe"), std::nullopt);
  EXPECT_TRUE(fs::exists(addin / "Pellmark35.exe"));
  EXPECT_FALSE(fs::exists(addin / "ja/Pellmark45.resources.dll"));
  EXPECT_EQ(VersionOf(addin / "zh-CHT/Pellmark45.resources.dll"), install::kFieldAddinVersion);
  // 10:00 on 2 March 2015 in Central European (winter) time.
  EXPECT_EQ(test::ModificationTime(test::FromFs(addin / "Pellmark.exe")), 1425286800);
  ::unsetenv("TZ");
  ::tzset();

  std::vector<std::string> libraries;
  for (const manifest::CarriedLibrary& library : manifest::kLibraries) {
    const std::string name = ToUtf8(library.fileName);
    libraries.push_back(test::ReadBytes(test::FromFs(addin / name)));
    EXPECT_EQ(libraries.back().rfind("kept library " + name + "\n", 0), 0u) << name;
  }
  EXPECT_NE(libraries[0].substr(30), libraries[1].substr(30));  // random, not a copy

  // A second run over it with --only touches nothing else.
  ASSERT_EQ(
      install::ParseArguments(
          {"posix", dir.string(), "--only", "launcher", "--launcher-version", "4.1.52.0"}, request),
      "");
  ASSERT_EQ(install::Make(request), "");
  EXPECT_EQ(VersionOf(host / "Quenbrite.exe"), (FileVersion4{4, 1, 52, 0}));
  EXPECT_EQ(test::ReadBytes(test::FromFs(addin / "Brisquel.dll")), libraries[0]);
}

TEST(InstallMaker, WineRegistryScriptPointsAtTheHostAsWineSeesIt) {
  test::TempDir root;
  const fs::path host = test::FsPath(root.path()) / "Orvanto \"\xC3\x9C\xF0\x9D\x84\x9E\"";
  const fs::path script = test::FsPath(root.path()) / "settings.reg";
  ASSERT_EQ(install::WriteWineRegistryScript(script, host), "");
  const std::string bytes = test::ReadBytes(test::FromFs(script));
  ASSERT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  String text;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                  static_cast<unsigned char>(bytes[i + 1]) << 8);
  }
  String root16 = FromUtf8(test::FsPath(root.path()).string());
  String escaped;
  for (char16_t c : root16) escaped += c == u'/' ? String(u"\\\\") : String(1, c);
  EXPECT_EQ(ToUtf8(text), ToUtf8(u"Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\" +
                                 String(manifest::kHostRegistryKey) + u"]\n\"Path\"=\"Z:" +
                                 escaped + u"\\\\Orvanto \\\"\u00DC\U0001D11E\\\"\"\n"));
}

// bash reads the table back as the payload the program carries.
TEST(InstallMaker, TableEvaluatesInBash) {
  test::TempDir root;
  const fs::path table = test::FsPath(root.path()) / "table";
  const fs::path script = test::FsPath(root.path()) / "read.sh";
  test::WriteBytes(test::FromFs(table), install::ShellTable());
  test::WriteBytes(test::FromFs(script), R"sh(eval "$(cat "$1")" || exit 1
printf '%s|%s|%s\n' "$ORV_PAYLOAD_VERSION" "${#ORV_PAYLOAD_PATHS[@]}" "${ORV_LIBRARIES[*]}"
for i in "${!ORV_PAYLOAD_PATHS[@]}"; do
  printf '%s|%s|%s\n' "${ORV_PAYLOAD_PATHS[i]}" "${ORV_PAYLOAD_TIMES[i]}" "${ORV_PAYLOAD_SIZES[i]}"
done
)sh");
  const std::string command = "bash '" + script.string() + "' '" + table.string() + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char chunk[512];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
    output.append(chunk, got);
  EXPECT_EQ(::pclose(pipe), 0);

  std::string expected = "1.0.1.1|25|Brisquel.dll Tarnivo.dll Fendraw.dll\n";
  for (const manifest::PayloadEntry& e : manifest::kPayload) {
    std::string path = ToUtf8(e.relativePath);
    for (char& c : path) c = c == '\\' ? '/' : c;
    char line[160];
    std::snprintf(line, sizeof line, "%s|2016-05-%02d %02d:%02d:%02d|%u\n", path.c_str(),
                  e.time.day, e.time.hour, e.time.minute, e.time.second,
                  static_cast<unsigned>(e.size));
    expected += line;
  }
  EXPECT_EQ(output, expected);
}

}  // namespace
}  // namespace orv
