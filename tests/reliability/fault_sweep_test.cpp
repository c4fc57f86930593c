// Every call of a clean run failed in turn: once, twenty times in a row (its
// retries exhausted), and for good from that call on; the shell's copies and
// deletes also with part of their work done. After each run the add-in must
// be whole, the outcome one that a fault at that point may end in, and no
// work folder may be left unless removing it was among the failed calls.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <set>
#include <sstream>

#include "patch/run_log.h"
#include "tests/reliability/judge.h"

namespace orv {
namespace {

using test::Call;
using test::FaultPlatform;
using test::Op;
using test::Scene;

enum class Mode { Once, Twenty, FromHereOn };

const char* Name(Mode mode) {
  switch (mode) {
    case Mode::Once:
      return "once";
    case Mode::Twenty:
      return "20 times";
    case Mode::FromHereOn:
      return "from here on";
  }
  return "?";
}

bool HasPartialForm(Op op) {
  return op == Op::ShellCopy || op == Op::ShellDelete || op == Op::CopySingleFile;
}

// The ordinal (from 1) of call index among the calls of its own operation.
int OrdinalOf(const std::vector<Call>& trace, int index) {
  int ordinal = 0;
  for (int i = 0; i <= index; ++i) ordinal += trace[i].op == trace[index].op;
  return ordinal;
}

// Lines of the log that hold every piece of text.
bool LogSays(const String& log, const std::vector<std::string>& pieces) {
  std::istringstream lines(test::ReadBytes(log));
  for (std::string line; std::getline(lines, line);) {
    if (std::all_of(pieces.begin(), pieces.end(), [&](const std::string& piece) {
          return line.find(piece) != std::string::npos;
        })) {
      return true;
    }
  }
  return false;
}

// Every call of the clean run (with or without a log) failed in turn; a
// single failure never leaves a work folder behind. With a log, also: a failure the run reports
// names the operation and the reason given for it, and a failed write of the log changes nothing.
std::vector<std::string> Sweep(bool logged, bool modelled, int& cases, long long& calls) {
  const test::Baseline& base = test::TheBaseline(logged, modelled);
  const Platform& p = SystemPlatform();
  const auto first =
      std::find_if(base.logCall.begin(), base.logCall.end(), [](bool b) { return b; });
  const int logOpened = static_cast<int>(first - base.logCall.begin());
  std::vector<std::string> breaches;
  for (int index = 0; index < static_cast<int>(base.trace.size()); ++index) {
    const Op op = base.trace[index].op;
    const bool logCall = base.logCall[index];
    // A wait has no failure of its own.
    if (op == Op::Wait) continue;
    for (const bool partial : {false, true}) {
      if (partial && !HasPartialForm(op)) continue;
      for (const Mode mode : {Mode::Once, Mode::Twenty, Mode::FromHereOn}) {
        Scene scene;
        test::TempDir logs;
        const String log = logs / u"run.log";
        test::RunLayers layers(scene, modelled);
        FaultPlatform& fault = layers.fault();
        fault.SetPartialEffects(partial);
        if (mode == Mode::FromHereOn) {
          fault.FailFrom(index);
        } else {
          fault.Fail(op, OrdinalOf(base.trace, index), mode == Mode::Once ? 1 : 20);
        }
        const test::ProgramResult result =
            test::RunProgram(fault, logged ? test::LogArguments(log) : std::vector<String>{});
        ++cases;
        calls += static_cast<long long>(fault.Trace().size());
        std::vector<std::string> found;
        const auto& trace = fault.Trace();
        const bool logRefused =
            logged && std::any_of(trace.begin(), trace.end(), [&](const Call& c) {
              return c.op == Op::OpenFileForWrite && c.failed &&
                     c.path.find(u"run.log") != String::npos;
            });
        // Where the log would lie is looked at before it is opened; a look
        // that gets no answer refuses the command line.
        const bool placeUntold =
            logged && std::any_of(trace.begin(), trace.end(), [](const Call& c) {
              return c.failed && (c.op == Op::ReadFolderChain || c.op == Op::ReadIdentity);
            });
        if (placeUntold) {
          if (result.exitCode != 1639) {
            found.push_back("a log whose place could not be told did not end 1639");
          }
          if (scene.Describe() != "Pellmark old" || scene.Outside() != scene.outside ||
              test::Exists(log)) {
            found.push_back("a log whose place could not be told left " + scene.Describe());
          }
        } else if (logRefused) {
          // A log that cannot be created ends the run before it starts.
          if (result.exitCode != 1622)
            found.push_back("a log that failed to open did not end 1622");
          if (scene.Describe() != "Pellmark old" || scene.Outside() != scene.outside) {
            found.push_back("a log that failed to open left " + scene.Describe());
          }
        } else {
          found = test::Judge(scene, fault, result, index, base);
        }
        // A failure that passes (one failed call, retried) leaves no work
        // folder: removals are retried too.
        if (mode == Mode::Once && !scene.WorkFoldersLeft().empty()) {
          found.push_back("a passing failure left " + scene.Describe());
        }
        if (logCall && mode == Mode::Once && result.outcome != PatchOutcome::Succeeded &&
            index != logOpened) {
          found.push_back("a failed log write changed the outcome");
        }
        const bool reported = logged && !logCall && index > logOpened && op != Op::ShowMessage &&
                              op != Op::CloseFile && op != Op::ReleaseInstanceGuard;
        if (reported && mode == Mode::Once &&
            !LogSays(log, {test::Name(op), DescribeReason(p, test::InjectedError(op))})) {
          found.push_back("the log does not name the failed call and its reason");
        }
        for (const std::string& breach : found) {
          breaches.push_back("call " + std::to_string(index) + " " + test::Name(op) + " failed " +
                             Name(mode) + (partial ? " (partly done)" : "") + ": " + breach);
        }
      }
    }
  }
  return breaches;
}

void SweepAndReport(bool modelled) {
  // Under the model without a log: the log's own checks do not depend on
  // where Windows differs, and the sweep's time is kept modest.
  for (const bool logged : {false, true}) {
    if (modelled && logged) continue;
    int cases = 0;
    long long calls = 0;
    const std::vector<std::string> breaches = Sweep(logged, modelled, cases, calls);
    std::printf("fault sweep%s%s: %d cases, %lld calls, %zu violations\n",
                modelled ? " under the Windows model" : "", logged ? " with a log" : "", cases,
                calls, breaches.size());
    std::string shown;
    for (std::size_t i = 0; i < breaches.size() && i < 30; ++i) shown += breaches[i] + "\n";
    EXPECT_TRUE(breaches.empty()) << shown;
  }
}

TEST(FaultSweep, EveryCallFailedInTurnLeavesTheAddinWhole) {
  SweepAndReport(false);
}

// The same where Windows differs from POSIX: a scanner holding what the run
// writes and reads, renames that merge, the program started from inside the
// add-in folder, a SYSTEM run in session 0.
TEST(FaultSweep, UnderTheWindowsModel) {
  SweepAndReport(true);
}

// The judge itself must see a breach when there is one, or the sweep proves
// nothing.
TEST(FaultSweep, JudgeSeesLostFilesLeftoversAndFalseSuccess) {
  const std::vector<Call>& trace = test::TheBaseline().trace;
  const int lastCall = static_cast<int>(trace.size()) - 1;
  // The first call after the guard: the host's discovery.
  const int check = static_cast<int>(
      std::find_if(trace.begin(), trace.end(),
                   [](const Call& call) { return call.op == Op::ReadRegistryValue; }) -
      trace.begin());
  Scene scene;
  FaultPlatform fault(SystemPlatform());
  test::ProgramResult failed{1603, PatchOutcome::Failed};

  EXPECT_TRUE(test::Judge(scene, fault, failed, check).empty()) << "an untouched failure is fine";

  const String copy = scene.install.Folders().Copy();
  test::MakeFolders(copy);
  test::WriteBytes(copy + u"\\x", "left");
  EXPECT_EQ(test::Judge(scene, fault, failed, check).size(), 1u);
  std::filesystem::remove_all(test::FsPath(copy));

  std::filesystem::remove(test::FsPath(scene.install.AddinFile(3)));
  EXPECT_FALSE(test::Judge(scene, fault, failed, check).empty());

  test::ProgramResult succeeded{0, PatchOutcome::Succeeded};
  EXPECT_FALSE(test::Judge(scene, fault, succeeded, lastCall).empty()) << "old folder in place";

  test::ProgramResult notNeeded{0, PatchOutcome::NotNeeded};
  EXPECT_FALSE(test::Judge(scene, fault, notNeeded, lastCall).empty());

  test::WriteBytes(scene.install.root() + u"\\hklm\\stray", "x");
  EXPECT_FALSE(test::Judge(scene, fault, test::ProgramResult{1603, std::nullopt}, 1).empty());
}

// The log shows a call that went through exactly when its row says it
// changes names: every such operation of a clean run is there as done, and
// no look or write is.
TEST(FaultLayer, LogShowsDoneWhatTheRowsCallAChange) {
  Scene scene;
  test::TempDir logs;
  const String log = logs / u"run.log";
  test::RunLayers layers(scene, false);
  FaultPlatform& fault = layers.fault();
  ASSERT_EQ(test::RunProgram(fault, test::LogArguments(log)).exitCode, 0);
  const auto& trace = fault.Trace();
  const auto opened = std::find_if(trace.begin(), trace.end(), [](const Call& c) {
    return c.op == Op::OpenFileForWrite && c.path.find(u"run.log") != String::npos;
  });
  ASSERT_NE(opened, trace.end());
  std::set<Op> changes;
  for (auto call = opened + 1; call != trace.end(); ++call) {
    const bool change = EffectOf(call->op) == SeamEffect::Change;
    if (change) changes.insert(call->op);
    EXPECT_EQ(LogSays(log, {test::Name(call->op) + std::string(" "), ": done"}), change)
        << test::Name(call->op);
  }
  EXPECT_GE(changes.size(), 4u);  // copies, renames, removals, folders made
}

// An injected failure carries the reason the layer gives it; a call that
// goes through to the real backend leaves the backend's own.
TEST(FaultLayer, InjectedFailuresCarryTheirReason) {
  test::TempDir dir;
  const String missing = dir / u"missing";
  FaultPlatform fault(SystemPlatform());
  const Platform& p = fault.platform();
  for (const Op op : {Op::RemoveFile, Op::MakeFolder, Op::ShellRename}) {
    fault.Fail(op, 1);
  }
  EXPECT_FALSE(p.RemoveFile(p, missing.c_str()));
  EXPECT_EQ(p.LastError(p), test::InjectedError(Op::RemoveFile));
  EXPECT_FALSE(p.RemoveFile(p, missing.c_str()));  // the real one fails too
  EXPECT_EQ(p.LastError(p), (SystemError{ErrorSource::Errno, ENOENT}));
  EXPECT_FALSE(p.MakeFolder(p, (dir / u"new").c_str()));
  EXPECT_FALSE(test::Exists(dir / u"new"));
  EXPECT_EQ(p.LastError(p), test::InjectedError(Op::MakeFolder));
  EXPECT_FALSE(p.ShellRename(p, dir.path().c_str(), (dir / u"x").c_str()));
  EXPECT_EQ(p.LastError(p), test::InjectedError(Op::ShellRename));
  // Each is a realistic reason with the system's own text.
  EXPECT_EQ(p.DescribeError(p, test::InjectedError(Op::RemoveFile)), u"Device or resource busy");
  EXPECT_EQ(p.DescribeError(p, test::InjectedError(Op::WriteToFile)), u"No space left on device");
  EXPECT_EQ(p.DescribeError(p, test::InjectedError(Op::MakeFolder)), u"Permission denied");
}

// A power cut loses the bytes of every file written through the layer and
// not flushed since, wherever a rename has taken it; nothing else.
TEST(FaultLayer, PowerCutLosesWhatWasNotFlushed) {
  test::TempDir dir;
  test::WriteBytes(dir / u"source.dll", "a library");
  test::MakeFolders(dir / u"tree\\de");
  test::WriteBytes(dir / u"tree\\de\\a.dll", "copied, then flushed");
  test::WriteBytes(dir / u"tree\\b.dll", "copied, never flushed");
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    FaultPlatform fault(SystemPlatform());
    fault.SetPowerLoss(true);
    const Platform& p = fault.platform();
    for (const char16_t* name : {u"flushed.exe", u"written.exe"}) {
      FileStream* stream = p.OpenFileForWrite(p, (dir / name).c_str());
      p.WriteToFile(p, stream, "payload", 7);
      p.CloseFile(p, stream);
    }
    p.FlushFile(p, (dir / u"flushed.exe").c_str());
    p.CopySingleFile(p, (dir / u"source.dll").c_str(), (dir / u"copy.dll").c_str(), false);
    p.ShellCopy(p, (dir / u"tree").c_str(), (dir / u"new").c_str());
    p.ShellRename(p, (dir / u"new").c_str(), (dir / u"moved").c_str());
    p.FlushFile(p, (dir / u"moved\\de\\a.dll").c_str());
    fault.CrashBefore(static_cast<int>(fault.Trace().size()));
    p.FolderExists(p, dir.path().c_str());
    std::_Exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), FaultPlatform::kCrashExitCode);
  const struct {
    const char16_t* name;
    std::string bytes;
  } expected[] = {
      {u"flushed.exe", "payload"},
      {u"written.exe", std::string(7, '\0')},
      {u"copy.dll", std::string(9, '\0')},
      {u"moved\\de\\a.dll", "copied, then flushed"},
      {u"moved\\b.dll", std::string(21, '\0')},
      {u"tree\\b.dll", "copied, never flushed"},  // the source was never written
      {u"source.dll", "a library"},
  };
  for (const auto& e : expected) {
    EXPECT_EQ(test::ReadBytes(dir / e.name), e.bytes) << ToUtf8(e.name);
  }
}

}  // namespace
}  // namespace orv
