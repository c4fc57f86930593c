#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <vector>

#include "platform/paths.h"
#include "platform/pe_version.h"
#include "platform/posix/backend.h"
#include "platform/seam.h"
#include "tests/support/posix_support.h"
#include "tests/support/test_support.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::AsOrdinaryUser;
using test::P;
using test::ScopedEnv;
using test::TempDir;

// A temporary folder an ordinary user can reach.
void OpenToEveryone(const String& path) {
  fs::permissions(test::FsPath(path), fs::perms::all, fs::perm_options::replace);
}

// The read's answer, and the errno it left when it failed.
struct Answer {
  RegistryRead result;
  std::uint32_t error = 0;
  bool operator==(const Answer&) const = default;
};
constexpr Answer kRead{RegistryRead::Read};
constexpr Answer kNotFound{RegistryRead::Failed, ENOENT};
constexpr Answer kTooLarge{RegistryRead::MoreData, EOVERFLOW};

Answer ReadValue(const char16_t* key, const char16_t* name, std::vector<std::uint8_t>& data,
                 std::uint32_t& size) {
  RegistryValueRequest request;
  request.valueName = name;
  request.data = data.data();
  request.size = static_cast<std::uint32_t>(data.size());
  const RegistryRead result = P().ReadRegistryValue(P(), key, request);
  size = request.size;
  if (result == RegistryRead::Read) return {result};
  EXPECT_EQ(P().LastError(P()).source, ErrorSource::Errno);
  return {result, P().LastError(P()).code};
}

constexpr char16_t kAppPaths[] =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Quenbrite.exe";

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    keyFolder = dir / u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Quenbrite.exe";
    test::MakeFolders(keyFolder);
  }
  TempDir dir;
  String keyFolder;
  ScopedEnv root{"ORVANTO_HKLM", ToUtf8(dir.path()).c_str()};
};

TEST_F(Registry, ReadsTheStringAsUtf16WithItsNul) {
  test::WriteBytes(keyFolder + u"\\Path", "/opt/Orvanto Host/日本");
  std::vector<std::uint8_t> data(520, 0xEE);
  std::uint32_t size = 0;
  ASSERT_EQ(ReadValue(kAppPaths, u"Path", data, size), kRead);
  const String expected = u"/opt/Orvanto Host/日本";
  EXPECT_EQ(size, (expected.size() + 1) * 2);
  EXPECT_EQ(String(reinterpret_cast<const char16_t*>(data.data())), expected);
  EXPECT_EQ(data[size - 1], 0);
  EXPECT_EQ(data[size], 0xEE);  // nothing past what was stored
}

TEST_F(Registry, MissingRootKeyOrValueIsNotFound) {
  std::vector<std::uint8_t> data(520);
  std::uint32_t size = 0;
  EXPECT_EQ(ReadValue(kAppPaths, u"Path", data, size), kNotFound);  // no value
  EXPECT_EQ(ReadValue(u"SOFTWARE\\Nothing", u"Path", data, size), kNotFound);
  test::MakeFolders(keyFolder + u"\\Path");  // a key, not a value
  EXPECT_EQ(ReadValue(kAppPaths, u"Path", data, size), kNotFound);
  EXPECT_EQ(ReadValue(u"SOFTWARE\\..\\..", u"Path", data, size), kNotFound);
  ScopedEnv unset("ORVANTO_HKLM", nullptr);
  EXPECT_EQ(ReadValue(kAppPaths, u"Path", data, size), kNotFound);
}

TEST_F(Registry, TooLargeReportsTheSizeNeededAndExactFitSucceeds) {
  test::WriteBytes(keyFolder + u"\\Path", std::string(299, 'p'));  // 600 bytes with the NUL
  std::vector<std::uint8_t> data(520);
  std::uint32_t size = 0;
  EXPECT_EQ(ReadValue(kAppPaths, u"Path", data, size), kTooLarge);
  EXPECT_EQ(size, 600u);
  data.resize(600);
  EXPECT_EQ(ReadValue(kAppPaths, u"Path", data, size), kRead);
  data.resize(599);
  EXPECT_EQ(ReadValue(kAppPaths, u"Path", data, size), kTooLarge);
}

TEST_F(Registry, UnreadableValueIsAccessDenied) {
  test::WriteBytes(keyFolder + u"\\Path", "/opt/host");
  ::chmod(test::FsPath(keyFolder + u"\\Path").c_str(), 0);
  // Every folder from the temporary one down to the key, open to all.
  for (String folder = keyFolder;; CutAtLastBackslash(folder)) {
    OpenToEveryone(folder);
    if (folder.size() <= dir.path().size() || folder.find(u'\\') == String::npos) break;
  }
  EXPECT_EQ(AsOrdinaryUser([] {
              std::vector<std::uint8_t> data(520);
              std::uint32_t size = 0;
              const Answer answer = ReadValue(kAppPaths, u"Path", data, size);
              return answer.result == RegistryRead::Failed ? static_cast<int>(answer.error) : -1;
            }),
            EACCES);
}

TEST(LocalTime, FollowsTheZoneAndItsDaylightSaving) {
  {
    ScopedEnv zone("TZ", "UTC0");
    EXPECT_EQ(P().MakeLocalTimeStamp(P(), 20, 15, 3, 34), 1463756614);
    EXPECT_EQ(P().MakeLocalTimeStamp(P(), 32, 0, 0, 0), 1464739200);  // 2016-06-01
  }
  {
    ScopedEnv zone("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");  // two hours ahead in May
    EXPECT_EQ(P().MakeLocalTimeStamp(P(), 20, 15, 3, 34), 1463756614 - 7200);
  }
}

// A wall-clock reading as seconds, taken as if it were UTC.
std::int64_t WallSeconds(const LocalClock& c) {
  const std::chrono::sys_days date{std::chrono::year{c.year} / c.month / c.day};
  return date.time_since_epoch().count() * 86400LL + c.hour * 3600 + c.minute * 60 + c.second;
}

TEST(LocalTime, ClockNowFollowsTheZone) {
  const struct {
    const char* zone;
    std::int64_t aheadOfUtc;
  } cases[] = {{"UTC0", 0}, {"XYZ-5:30", 5 * 3600 + 1800}, {"XYZ+10", -10 * 3600}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.zone);
    const ScopedEnv zone("TZ", c.zone);
    const std::time_t before = std::time(nullptr);
    const LocalClock now = P().LocalTimeNow(P());
    const std::time_t after = std::time(nullptr);
    EXPECT_GE(WallSeconds(now) - c.aheadOfUtc, before);
    EXPECT_LE(WallSeconds(now) - c.aheadOfUtc, after);
  }
}

// The version read from a file is the version read from the same bytes in
// memory, wherever the structures lie: the backend reads the file in blocks,
// and headers, directory entries or the version block may straddle a block's
// end, or be cut off by the file's end.
std::uint32_t Get32(const std::vector<std::uint8_t>& image, std::size_t at) {
  return image[at] | (image[at + 1] << 8) | (image[at + 2] << 16) |
         (static_cast<std::uint32_t>(image[at + 3]) << 24);
}

void Put32(std::vector<std::uint8_t>& image, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The image with its resource section (the generator's last) moved `by`
// bytes further into the file, the file's size unchanged.
std::vector<std::uint8_t> WithResourcesMoved(std::vector<std::uint8_t> image, std::uint32_t by) {
  const std::size_t pe = Get32(image, 0x3C);
  const std::size_t sections = pe + 24 + (image[pe + 20] | image[pe + 21] << 8);
  const std::size_t header = sections + 40 * (image[pe + 6] - 1u);
  const std::uint32_t raw = Get32(image, header + 20);
  const std::uint32_t rawSize = Get32(image, header + 16);
  std::copy_backward(image.begin() + raw, image.begin() + raw + rawSize - by,
                     image.begin() + raw + rawSize);
  Put32(image, header + 20, raw + by);
  Put32(image, header + 16, rawSize - by);
  return image;
}

FileVersion4 ReadThroughFile(const String& path, const std::vector<std::uint8_t>& bytes) {
  test::WriteBytes(path,
                   std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  FileVersion4 version{7, 7, 7, 7};
  P().ReadFileVersion(P(), path.c_str(), version);
  return version;
}

FileVersion4 ReadInMemory(const std::vector<std::uint8_t>& bytes) {
  FileVersion4 version{7, 7, 7, 7};
  ReadPeFileVersion(MemoryPeSource(bytes.data(), bytes.size()), version);
  return version;
}

TEST(FileVersion, FileReadsAgreeWithMemoryAcrossBlockEnds) {
  TempDir dir;
  const String path = dir / u"image.dll";
  for (const bool pe32plus : {false, true}) {
    pegen::PeImageSpec spec;
    spec.fileVersion = test::V(4, 1, 52, 1);
    spec.pe32plus = pe32plus;
    spec.size = 3 * 4096 + 512;
    const std::vector<std::uint8_t> image = pegen::MakePeImage(spec);
    ASSERT_EQ(image.size(), spec.size);
    // Every structure of the resource tree crosses the 4 KiB and 8 KiB marks
    // on the way.
    for (std::uint32_t by = 0; by <= 2 * 4096; by += 4) {
      const std::vector<std::uint8_t> moved = WithResourcesMoved(image, by);
      ASSERT_EQ(ReadInMemory(moved), test::V(4, 1, 52, 1)) << by;
      ASSERT_EQ(ReadThroughFile(path, moved), test::V(4, 1, 52, 1)) << by;
    }
    // Cut short at every length around a block's end and near the file's.
    const std::vector<std::uint8_t> moved = WithResourcesMoved(image, 4096 - 0x58 - 40);
    for (std::size_t length = 0; length <= moved.size(); ++length) {
      if (length > 1024 && (length % 4096 > 256 && length % 4096 < 3840)) continue;
      const std::vector<std::uint8_t> cut(moved.begin(), moved.begin() + length);
      ASSERT_EQ(ReadThroughFile(path, cut), ReadInMemory(cut)) << length;
    }
  }
}

TEST(Probe, FolderWithoutWriteRightIsNotWritable) {
  TempDir dir;
  OpenToEveryone(dir.path());
  test::MakeFolders(dir / u"locked");
  ::chmod(test::FsPath(dir / u"locked").c_str(), 0555);
  const String path = dir / u"locked";
  EXPECT_EQ(AsOrdinaryUser([&] {
              PathBuffer left;
              return static_cast<int>(P().ProbeFolderWritable(P(), path.c_str(), left));
            }),
            static_cast<int>(FolderProbe::NotWritable));
  EXPECT_EQ(AsOrdinaryUser(
                [&] { return static_cast<int>(P().FileExists(P(), (path + u"\\x").c_str())); }),
            static_cast<int>(FileProbe::Absent));
}

// Only "no such file or path" is an answer; whatever else keeps the look
// from the name leaves it untold.
TEST(Probe, FileExistsAnswersForErrors) {
  const struct {
    int error;
    FileProbe answer;
  } cases[] = {
      {ENOENT, FileProbe::Absent},       {ENOTDIR, FileProbe::Absent},
      {ENAMETOOLONG, FileProbe::Absent}, {EIO, FileProbe::Unanswered},
      {EACCES, FileProbe::Unanswered},   {ELOOP, FileProbe::Unanswered},
      {ENOMEM, FileProbe::Unanswered},   {ESTALE, FileProbe::Unanswered},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(posix::FileProbeFromError(c.error), c.answer) << c.error;
  }
  // For real: a folder that may not be searched hides whether x is in it.
  TempDir dir;
  OpenToEveryone(dir.path());
  test::MakeFolders(dir / u"hidden");
  ::chmod(test::FsPath(dir / u"hidden").c_str(), 0600);
  const String path = dir / u"hidden\\x";
  EXPECT_EQ(AsOrdinaryUser([&] { return static_cast<int>(P().FileExists(P(), path.c_str())); }),
            static_cast<int>(FileProbe::Unanswered));
}

TEST(Probe, FileThatCannotBeOpenedStillExists) {
  TempDir dir;
  OpenToEveryone(dir.path());
  test::WriteBytes(dir / u"secret.dll", "x");
  ::chmod(test::FsPath(dir / u"secret.dll").c_str(), 0);
  const String path = dir / u"secret.dll";
  EXPECT_EQ(AsOrdinaryUser([&] { return static_cast<int>(P().FileExists(P(), path.c_str())); }),
            static_cast<int>(FileProbe::Present));
}

TEST(Links, DeleteRemovesTheLinkNeverItsTarget) {
  TempDir dir;
  test::MakeFolders(dir / u"outside");
  test::WriteBytes(dir / u"outside\\keep.txt", "keep");
  test::MakeFolders(dir / u"tree");
  fs::create_directory_symlink(test::FsPath(dir / u"outside"), test::FsPath(dir / u"tree\\link"));
  EXPECT_TRUE(P().ShellDelete(P(), (dir / u"tree").c_str()));
  EXPECT_EQ(test::ReadBytes(dir / u"outside\\keep.txt"), "keep");

  // The staging name taken by a link: the link goes, the folder stays.
  fs::create_directory_symlink(test::FsPath(dir / u"outside"), test::FsPath(dir / u"staging"));
  EXPECT_TRUE(P().ShellDelete(P(), (dir / u"staging").c_str()));
  EXPECT_FALSE(test::Exists(dir / u"staging"));
  EXPECT_EQ(test::ReadBytes(dir / u"outside\\keep.txt"), "keep");
}

TEST(Links, CopyKeepsLinksAsLinks) {
  TempDir dir;
  test::MakeFolders(dir / u"src");
  test::WriteBytes(dir / u"target.txt", "t");
  fs::create_symlink(test::FsPath(dir / u"target.txt"), test::FsPath(dir / u"src\\link"));
  ASSERT_TRUE(P().ShellCopy(P(), (dir / u"src").c_str(), (dir / u"dst").c_str()));
  EXPECT_TRUE(fs::is_symlink(test::FsPath(dir / u"dst\\link")));
}

TEST(Links, WriteDoesNotFollowALinkInTheTargetsPlace) {
  TempDir dir;
  test::WriteBytes(dir / u"victim.txt", "untouched");
  fs::create_symlink(test::FsPath(dir / u"victim.txt"), test::FsPath(dir / u"out.dll"));
  EXPECT_EQ(P().OpenFileForWrite(P(), (dir / u"out.dll").c_str()), nullptr);
  EXPECT_EQ(P().LastError(P()), (SystemError{ErrorSource::Errno, ELOOP}));
  EXPECT_EQ(test::ReadBytes(dir / u"victim.txt"), "untouched");
}

TEST(Links, IsLinkLooksAtTheNameItself) {
  TempDir dir;
  test::MakeFolders(dir / u"folder");
  test::WriteBytes(dir / u"file", "f");
  fs::create_directory_symlink(test::FsPath(dir / u"folder"), test::FsPath(dir / u"to-folder"));
  fs::create_symlink(test::FsPath(dir / u"file"), test::FsPath(dir / u"to-file"));
  fs::create_symlink(test::FsPath(dir / u"gone"), test::FsPath(dir / u"dangling"));
  const struct {
    const char16_t* name;
    bool link;
  } cases[] = {{u"folder", false},   {u"file", false},   {u"missing", false}, {u"file\\x", false},
               {u"to-folder", true}, {u"to-file", true}, {u"dangling", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.name));
    EXPECT_EQ(P().IsLink(P(), (dir / c.name).c_str()), c.link);
  }
}

// A file that is not ours alone is never written into: another account's
// keeps its owner and could be changed again after our write, and a hard
// link would carry the write to another name.
TEST(Links, WriteRefusesAFileThatIsNotOursAlone) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a file to another account";
  TempDir dir;
  test::WriteBytes(dir / u"foreign.dll", "theirs");
  ASSERT_EQ(::chown(test::FsPath(dir / u"foreign.dll").c_str(), test::kNobody, test::kNobody), 0);
  test::WriteBytes(dir / u"victim.txt", "untouched");
  fs::create_hard_link(test::FsPath(dir / u"victim.txt"), test::FsPath(dir / u"hard.dll"));
  test::WriteBytes(dir / u"own.dll", "old content");
  for (const char16_t* name : {u"foreign.dll", u"hard.dll"}) {
    SCOPED_TRACE(ToUtf8(name));
    EXPECT_EQ(P().OpenFileForWrite(P(), (dir / name).c_str()), nullptr);
    EXPECT_EQ(P().LastError(P()), (SystemError{ErrorSource::Errno, EEXIST}));
  }
  EXPECT_EQ(test::ReadBytes(dir / u"foreign.dll"), "theirs");
  EXPECT_EQ(test::ReadBytes(dir / u"victim.txt"), "untouched");
  // Our own file is emptied and written, as before.
  FileStream* stream = P().OpenFileForWrite(P(), (dir / u"own.dll").c_str());
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(P().WriteToFile(P(), stream, "new", 3));
  P().CloseFile(P(), stream);
  EXPECT_EQ(test::ReadBytes(dir / u"own.dll"), "new");
}

TEST(PrivateFolder, OwnerOnlyWhateverTheUmaskAndNeverAnExistingName) {
  TempDir dir;
  const mode_t oldMask = ::umask(0);
  const bool made = P().MakePrivateFolder(P(), (dir / u"staging").c_str());
  ::umask(oldMask);
  ASSERT_TRUE(made);
  struct stat st;
  ASSERT_EQ(::lstat(test::FsPath(dir / u"staging").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_EQ(st.st_uid, ::geteuid());

  fs::create_directory_symlink(test::FsPath(dir / u"staging"), test::FsPath(dir / u"link"));
  for (const char16_t* taken : {u"staging", u"link"}) {
    SCOPED_TRACE(ToUtf8(taken));
    EXPECT_FALSE(P().MakePrivateFolder(P(), (dir / taken).c_str()));
    EXPECT_EQ(P().LastError(P()), (SystemError{ErrorSource::Errno, EEXIST}));
  }
}

TEST(ShellOps, CopyAndRenameRefuseATakenName) {
  TempDir dir;
  test::MakeFolders(dir / u"src");
  test::WriteBytes(dir / u"src\\a", "a");
  test::MakeFolders(dir / u"taken");
  test::WriteBytes(dir / u"file", "f");
  EXPECT_FALSE(P().ShellCopy(P(), (dir / u"src").c_str(), (dir / u"taken").c_str()));
  EXPECT_FALSE(test::Exists(dir / u"taken\\a"));
  EXPECT_FALSE(test::Exists(dir / u"taken\\src"));
  EXPECT_FALSE(P().ShellCopy(P(), (dir / u"src").c_str(), (dir / u"file").c_str()));
  EXPECT_FALSE(P().ShellRename(P(), (dir / u"src").c_str(), (dir / u"file").c_str()));
  EXPECT_EQ(test::ReadBytes(dir / u"file"), "f");
  EXPECT_EQ(test::ReadBytes(dir / u"src\\a"), "a");
}

TEST(ShellOps, PathsOfExactly258CharactersWork) {
  TempDir dir;
  OpenToEveryone(dir.path());
  const String base = dir / u"p";
  const String source = base + String(258 - base.size(), u's');
  const String target = base + String(258 - base.size(), u't');
  ASSERT_EQ(source.size(), 258u);
  test::MakeFolders(source);
  EXPECT_TRUE(P().ShellCopy(P(), source.c_str(), target.c_str()));
  EXPECT_TRUE(P().ShellDelete(P(), target.c_str()));
  EXPECT_TRUE(P().ShellRename(P(), source.c_str(), target.c_str()));
  EXPECT_TRUE(test::IsFolder(target));
}

TEST(Guard, ScopedToTheTemporaryFolder) {
  TempDir one;
  TempDir two;
  bool exists = false;
  ScopedEnv first("TMPDIR", ToUtf8(one.path()).c_str());
  InstanceGuard* a = P().CreateInstanceGuard(P(), u"WinOrvantoPatch1_Main", exists);
  EXPECT_FALSE(exists);
  {
    ScopedEnv second("TMPDIR", ToUtf8(two.path()).c_str());
    InstanceGuard* b = P().CreateInstanceGuard(P(), u"WinOrvantoPatch1_Main", exists);
    EXPECT_FALSE(exists);
    P().ReleaseInstanceGuard(P(), b);
  }
  InstanceGuard* c = P().CreateInstanceGuard(P(), u"WinOrvantoPatch1_Main", exists);
  EXPECT_TRUE(exists);
  P().ReleaseInstanceGuard(P(), c);
  P().ReleaseInstanceGuard(P(), a);
}

// A child process that holds the guard name until it is killed; its pid,
// or -1 when it could not take the name as the first holder.
pid_t HoldGuardInChild(const char16_t* name) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t holder = ::fork();
  if (holder == 0) {
    bool exists = true;
    const bool held = P().CreateInstanceGuard(P(), name, exists) != nullptr;
    const char byte = held && !exists ? 'y' : 'n';
    if (::write(ready[1], &byte, 1) != 1) _exit(2);
    ::pause();
    _exit(0);
  }
  char byte = 0;
  const bool held = ::read(ready[0], &byte, 1) == 1 && byte == 'y';
  ::close(ready[0]);
  ::close(ready[1]);
  if (!held) {
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    return -1;
  }
  return holder;
}

void EndChild(pid_t child) {
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

TEST(Guard, GoneWhenItsHolderIsKilled) {
  TempDir dir;
  ScopedEnv tmp("TMPDIR", ToUtf8(dir.path()).c_str());
  const pid_t holder = HoldGuardInChild(u"WinOrvantoPatch1_Main");
  ASSERT_GT(holder, 0);
  bool exists = false;
  InstanceGuard* blocked = P().CreateInstanceGuard(P(), u"WinOrvantoPatch1_Main", exists);
  EXPECT_TRUE(exists);
  P().ReleaseInstanceGuard(P(), blocked);

  EndChild(holder);
  InstanceGuard* mine = P().CreateInstanceGuard(P(), u"WinOrvantoPatch1_Main", exists);
  EXPECT_FALSE(exists);
  P().ReleaseInstanceGuard(P(), mine);
}

// The global name and the plain one are two lock files side by side: a
// process holding one leaves the other free.
TEST(Guard, GlobalNameIsALockFileOfItsOwn) {
  const char16_t* plain = u"WinOrvantoPatch1_Main";
  const char16_t* global = u"Global\\WinOrvantoPatch1_Main";
  for (const bool holdGlobal : {true, false}) {
    SCOPED_TRACE(holdGlobal ? "global held" : "plain held");
    TempDir dir;
    ScopedEnv tmp("TMPDIR", ToUtf8(dir.path()).c_str());
    const pid_t holder = HoldGuardInChild(holdGlobal ? global : plain);
    ASSERT_GT(holder, 0);
    EXPECT_TRUE(test::Exists(
        dir / (holdGlobal ? u"Global.WinOrvantoPatch1_Main.lock" : u"WinOrvantoPatch1_Main.lock")));
    for (const char16_t* name : {plain, global}) {
      bool exists = false;
      InstanceGuard* guard = P().CreateInstanceGuard(P(), name, exists);
      EXPECT_NE(guard, nullptr);
      EXPECT_EQ(exists, (name == global) == holdGlobal) << ToUtf8(name);
      P().ReleaseInstanceGuard(P(), guard);
    }
    EXPECT_TRUE(test::Exists(dir / u"Global.WinOrvantoPatch1_Main.lock"));
    EXPECT_TRUE(test::Exists(dir / u"WinOrvantoPatch1_Main.lock"));
    EndChild(holder);
  }
}

TEST(Notice, CaptionIconAndTextExactlyOnStandardOutput) {
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    const int none = ::open("/dev/null", O_RDONLY);
    ::dup2(none, STDIN_FILENO);  // not a terminal: no wait for Enter
    P().ShowMessage(P(), u"Patch for Orvanto", u"Install Failed.\nQuit and retry.",
                    MessageIcon::Warning);
    P().ShowMessage(P(), u"Patch for Orvanto", u"Install Succeeded.", MessageIcon::Information);
    _exit(0);
  }
  ::close(out[1]);
  std::string text;
  char chunk[256];
  for (ssize_t got; (got = ::read(out[0], chunk, sizeof chunk)) > 0;) text.append(chunk, got);
  ::close(out[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(text,
            "Patch for Orvanto\n[warning] Install Failed.\nQuit and retry.\n"
            "Patch for Orvanto\n[information] Install Succeeded.\n");
}

}  // namespace
}  // namespace orv
