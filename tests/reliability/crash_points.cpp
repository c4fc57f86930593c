// Ends the program abruptly just before each call of a clean run, checks
// that the old add-in's data survived (under its own name or its backup's) unless
// the new add-in was already in place, then runs the program again on what
// was left, twice, and records what happened. Each point is also cut as by
// a power cut, which loses the data of every file not yet flushed: once the
// new add-in is in place, every file of it must still hold its bytes.
//
//   crash_points                 run every crash point and check
//   crash_points --write FILE    also write the table (docs/crash-points.md)
//   crash_points --check FILE    also fail when FILE's figures are not this run's
//   crash_points --model         every run under the Windows model, no table
//                                and no power cuts
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "tests/reliability/judge.h"

namespace orv::test {
namespace {

struct Row {
  int index = 0;
  std::string call;
  std::string left;
  std::string powerCut;  // what a power cut there left, when it differs
  std::string next;
  std::string afterNext;
  bool recovers = false;
  std::string afterRepair;  // the next run's outcome once the add-in is renamed back by hand
};

// "3, 5-9, 12" from ascending numbers.
std::string Ranges(const std::vector<int>& numbers) {
  std::string text;
  for (std::size_t i = 0; i < numbers.size();) {
    std::size_t j = i;
    while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) ++j;
    text += (text.empty() ? "" : ", ") + std::to_string(numbers[i]);
    if (j > i) text += "-" + std::to_string(numbers[j]);
    i = j + 1;
  }
  return text;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

// A call as the table shows it: the operation and its paths, below the
// installation's own folder.
std::string ShowCall(const Baseline& base, const Call& call) {
  std::string paths = ToUtf8(call.path);
  paths = ReplaceAll(paths, ToUtf8(base.root) + "\\", "");
  paths = ReplaceAll(paths, ToUtf8(base.root) + "/", "");
  paths = ReplaceAll(paths, "\\", "/");
  paths = ReplaceAll(paths, "\n", " ");
  if (call.op == Op::ReadRegistryValue) paths = "App Paths";
  return std::string(Name(call.op)) + (paths.empty() ? "" : " " + paths);
}

// Every run under the Windows model (SweepModel) rather than plainly.
bool g_modelled = false;

std::string RunAgain(const Scene& scene, std::string& left) {
  RunLayers layers(scene, g_modelled);
  const ProgramResult result = RunProgram(layers.fault());
  left = scene.Describe();
  return result.outcome ? Name(*result.outcome) : "no single notice";
}

// Crashes a child before call index, as a power cut when powerLoss; empty
// when that went as planned.
std::string CrashBefore(const Scene& scene, int index, bool powerLoss) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    RunLayers layers(scene, g_modelled);
    FaultPlatform& fault = layers.fault();
    fault.CrashBefore(index);
    fault.SetPowerLoss(powerLoss);
    RunProgram(fault);
    std::_Exit(0);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return "could not run the child";
  if (!WIFEXITED(status) || WEXITSTATUS(status) != FaultPlatform::kCrashExitCode) {
    return "the child did not stop at the crash point";
  }
  return "";
}

bool OldDataLost(const Scene& scene) {
  const std::string addin = scene.Classify(scene.install.addin);
  return addin != "old" && addin != "new" && scene.Classify(scene.Backup()) != "old";
}

// The files of the add-in folder that do not hold what the new add-in must:
// the payload's bytes, and the old add-in's libraries as they were.
std::vector<std::string> LostData(const Scene& scene, const std::vector<std::string>& libraries) {
  const Platform& p = SystemPlatform();
  std::vector<std::string> lost;
  const auto check = [&](const char16_t* name, const std::string& expected) {
    const std::string bytes = ReadBytes(JoinPath(scene.install.addin, name));
    if (bytes == expected) return;
    const bool zeros = bytes.find_first_not_of('\0') == std::string::npos;
    lost.push_back(ToUtf8(name) + " (" + std::to_string(bytes.size()) + " bytes" +
                   (zeros ? ", all zeros" : "") + ")");
  };
  for (int k = 0; k < manifest::kPayloadCount; ++k) {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    p.FindPayload(p, manifest::PayloadResourceId(k), data, size);
    check(manifest::kPayload[k].relativePath,
          std::string(reinterpret_cast<const char*>(data), size));
  }
  for (int l = 0; l < manifest::kLibraryCount; ++l) {
    check(manifest::kLibraries[l].fileName, libraries[l]);
  }
  return lost;
}

// The crash before call index as a power cut, on an installation of its
// own: what it left, and its breaches. From a point after the swap the run
// goes on to say "Install Succeeded.", so there every file of the add-in
// folder must hold its bytes.
std::string PowerCut(const Baseline& base, int index, std::vector<std::string>& breaches,
                     int& losses) {
  Scene cut;
  std::vector<std::string> libraries;
  for (int l = 0; l < manifest::kLibraryCount; ++l) {
    libraries.push_back(ReadBytes(cut.install.Library(l)));
  }
  if (const std::string problem = CrashBefore(cut, index, true); !problem.empty()) {
    breaches.push_back(std::to_string(index) + " (power cut): " + problem);
    return problem;
  }
  const std::string left = cut.Describe();
  if (OldDataLost(cut)) {
    breaches.push_back(std::to_string(index) + ": a power cut lost the old add-in: " + left);
  }
  if (base.StageOf(index) == Stage::AfterSwap) {
    for (const std::string& file : LostData(cut, libraries)) {
      ++losses;
      breaches.push_back(std::to_string(index) + ": after a power cut the add-in's " + file +
                         " does not hold its bytes");
    }
  }
  return left;
}

// What the table sums up, in the line it begins with.
struct Figures {
  int points = 0;
  int notRecovered = 0;
  int leavingAWorkFolder = 0;
  int powerCutLosses = 0;
  int violations = 0;
  bool operator==(const Figures&) const = default;
};

constexpr char kFiguresLine[] = "Figures: ";

std::string FiguresText(const Figures& f) {
  return std::string(kFiguresLine) + std::to_string(f.points) + " crash points, " +
         std::to_string(f.notRecovered) + " not recovered by a later run, " +
         std::to_string(f.leavingAWorkFolder) + " after which a work folder stays, " +
         std::to_string(f.powerCutLosses) + " files whose data a power cut lost after the swap, " +
         std::to_string(f.violations) + " violations.";
}

// The figures a table written earlier states, its rows counted as points;
// none when it has no figures line or the rows do not agree with it.
std::optional<Figures> FiguresOf(const std::string& table) {
  std::istringstream in(table);
  std::optional<Figures> stated;
  int rows = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(kFiguresLine)) {
      Figures f;
      if (std::sscanf(line.c_str() + std::strlen(kFiguresLine),
                      "%d crash points, %d not recovered by a later run, %d after which a work "
                      "folder stays, %d files whose data a power cut lost after the swap, %d "
                      "violations.",
                      &f.points, &f.notRecovered, &f.leavingAWorkFolder, &f.powerCutLosses,
                      &f.violations) == 5 &&
          line == FiguresText(f)) {
        stated = f;
      }
    }
    if (line.size() > 2 && line[0] == '|' && line[1] == ' ' && std::isdigit(line[2])) ++rows;
  }
  if (!stated || stated->points != rows) return std::nullopt;
  return stated;
}

// The last name of a path.
std::string LastName(const String& path) {
  return ToUtf8(StringView(path).substr(path.find_last_of(u'\\') + 1));
}

std::string Table(const std::vector<Row>& rows, const Figures& figures) {
  const WorkFolders names(u"Orvanto", u"");
  std::ostringstream out;
  out << "# Crash points\n\n"
         "Generated by `cmake --build --preset native --target crash-points-doc`; `ctest --preset "
         "native -R crash_points`\n"
         "fails when its figures are not what a run finds.\n\n"
         "For each call that a clean run of the patch makes (native build, POSIX backend,\n"
         "real folders), the process was ended abruptly just before that call. The table\n"
         "shows what was left, then what the next run of the program ended with and left.\n"
         "`old`: the old add-in exactly as it was; `new`: the patched add-in complete;\n"
         "`payload`: the 25 new files without the carried-over libraries; `partial`: part of\n"
         "a tree; `absent`: no such folder. Paths are below the demonstration installation\n"
         "(`Program Files/Orvanto` holds the add-in, `tmp` is the temporary folder).\n"
         "`after a power cut`: what the same crash left when it also lost the data of every\n"
         "file not yet flushed to disk (the file keeps its name and length, its bytes read\n"
         "as zeros); `same` where that is what the crash alone left.\n\n"
      << FiguresText(figures) << "\n\n";
  std::vector<int> stuck;
  std::vector<int> litter;
  std::string repaired;
  for (const Row& row : rows) {
    if (!row.recovers) {
      stuck.push_back(row.index);
      repaired = row.afterRepair;
    }
    if (row.recovers && row.afterNext.find(',') != std::string::npos) litter.push_back(row.index);
  }
  if (stuck.empty()) {
    out << "Every crash point is recovered from: the next run leaves the new add-in in place.\n\n";
  } else {
    out << "**No later run recovers from crash point " << Ranges(stuck)
        << ".** Nothing is lost: the old add-in\n"
           "is whole under `"
        << LastName(names.Backup()) << "` and the new one complete under `"
        << LastName(names.Copy())
        << "`. But with\n"
           "no `Pellmark` folder every later run ends \"Install Failed.\" and changes nothing, as\n"
           "the last columns show. Once `"
        << LastName(names.Backup()) << "` is renamed back to `" << LastName(names.Addin())
        << "` by hand, the\n"
           "next run ends "
        << repaired << ".\n\n";
  }
  if (!litter.empty()) {
    out << "After the crash points " << Ranges(litter)
        << " the next run succeeds or finds nothing\nto do, but a work folder of the crashed "
           "run stays behind (last column but one):\nno run reuses or removes a work folder "
           "that it did not make itself. The add-in\nitself is whole.\n\n";
  }
  out << "| # | crash just before | left on disk | after a power cut | next run | left after it | "
         "run after that |\n|---|---|---|---|---|---|---|\n";
  for (const Row& row : rows) {
    out << "| " << row.index << " | " << row.call << " | " << row.left << " | " << row.powerCut
        << " | " << row.next << " | " << row.afterNext << " | "
        << (row.recovers ? "new add-in" : "**no add-in**") << " |\n";
  }
  return out.str();
}

// Calls that read, look, flush or wait, as their rows say: without a power
// cut, the disk is after them as it was before.
bool ChangesNothing(Op op) {
  return EffectOf(op) == SeamEffect::Look;
}

int Main(int argc, char** argv) {
  const char* write = nullptr;
  const char* check = nullptr;
  if (argc == 3 && std::strcmp(argv[1], "--write") == 0) {
    write = argv[2];
  } else if (argc == 3 && std::strcmp(argv[1], "--check") == 0) {
    check = argv[2];
  } else if (argc == 2 && std::strcmp(argv[1], "--model") == 0) {
    g_modelled = true;
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: crash_points [--write FILE | --check FILE | --model]\n");
    return 2;
  }

  const Baseline& base = TheBaseline(false, g_modelled);
  std::vector<Row> rows;
  std::vector<std::string> breaches;
  int powerCutLosses = 0;
  int skipped = 0;
  for (int index = 0; index < static_cast<int>(base.trace.size()); ++index) {
    // Under the model, to keep the test's time modest: the crash alone (what
    // a power cut loses does not depend on where Windows differs), and only
    // after a call that may change the disk (a crash after one that cannot
    // leaves what the crash before it left).
    if (g_modelled && index > 0 && ChangesNothing(base.trace[index - 1].op)) {
      ++skipped;
      continue;
    }
    // Each installation points the environment at itself: one at a time.
    const std::string cutLeft =
        g_modelled ? std::string() : PowerCut(base, index, breaches, powerCutLosses);
    Scene scene;
    Row row;
    row.index = index;
    row.call = ShowCall(base, base.trace[index]);
    if (const std::string problem = CrashBefore(scene, index, false); !problem.empty()) {
      breaches.push_back(std::to_string(index) + ": " + problem);
      continue;
    }
    row.left = scene.Describe();
    if (OldDataLost(scene)) {
      breaches.push_back(std::to_string(index) + ": the old add-in is lost: " + row.left);
    }
    row.powerCut = cutLeft == row.left ? "same" : cutLeft;
    row.next = RunAgain(scene, row.afterNext);
    // A run that leaves the new add-in in place is final; otherwise see
    // whether the run after it does better.
    if (scene.Classify(scene.install.addin) != "new") {
      std::string third;
      RunAgain(scene, third);
    }
    row.recovers = scene.Classify(scene.install.addin) == "new";
    if (!row.recovers) {
      std::filesystem::rename(FsPath(scene.Backup()), FsPath(scene.install.addin));
      std::string repairedLeft;
      row.afterRepair = RunAgain(scene, repairedLeft) + " (leaving " + repairedLeft + ")";
    }
    rows.push_back(row);
  }

  int stuck = 0;
  int litter = 0;
  for (const Row& row : rows) {
    stuck += row.recovers ? 0 : 1;
    litter += row.recovers && row.afterNext.find(',') != std::string::npos ? 1 : 0;
  }
  const Figures figures{static_cast<int>(base.trace.size()), stuck, litter, powerCutLosses,
                        static_cast<int>(breaches.size())};
  const std::string table = Table(rows, figures);
  if (write != nullptr) std::ofstream(write, std::ios::binary) << table;
  bool stale = false;
  if (check != nullptr) {
    std::ifstream in(check, std::ios::binary);
    std::stringstream current;
    current << in.rdbuf();
    const std::optional<Figures> stated = FiguresOf(current.str());
    // The figures this run would write must read back as they are.
    const bool readsBack = FiguresOf(table) == figures;
    if (!readsBack) std::fprintf(stderr, "the table's own figures do not read back\n");
    stale = !readsBack || stated != figures;
    if (stale) {
      std::fprintf(stderr,
                   "%s states %s\nthis run found %s\nrun cmake --build --preset native --target "
                   "crash-points-doc\n",
                   check,
                   stated ? FiguresText(*stated).c_str() : "no figures (or rows that disagree)",
                   FiguresText(figures).c_str());
    }
  }
  for (const std::string& breach : breaches) std::fprintf(stderr, "%s\n", breach.c_str());
  if (g_modelled) {
    std::printf(
        "crash points under the Windows model: %zu points (%d after a call that changes nothing "
        "skipped), %d not recovered by a later run, %zu violations\n",
        base.trace.size(), skipped, stuck, breaches.size());
  } else {
    std::printf(
        "crash points: %zu points, %d not recovered by a later run, %d files whose data a power "
        "cut lost after the swap, %zu violations\n",
        base.trace.size(), stuck, powerCutLosses, breaches.size());
  }
  return breaches.empty() && !stale ? 0 : 1;
}

}  // namespace
}  // namespace orv::test

int main(int argc, char** argv) {
  return orv::test::Main(argc, argv);
}
